// SPDX-License-Identifier: MIT
#include "app/main_form.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QStyle>
#include <QWindow>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <utility>

#include "app/failure_report.h"
#include "engine/db/firebird_error.h"
#include "engine/db/server_waits.h"
#include "engine/model/enclosures.h"
#include "engine/tidewell_utilities.h"
#include "engine/addresses/url_parts.h"
#include "platform/main_loop.h"
#include "platform/system.h"

namespace larkspur {
namespace {

using tidewell::TDynIntArray;
using tidewell::TQueueJobTypes;

constexpr const char* kUserKey = "HKCU=\\SOFTWARE\\Policies\\Pinwheel[RWC]";
constexpr const char* kMachineKey = "HKLM=\\SOFTWARE\\Pinwheel[R]";
constexpr const char* kLoginName = "sysdba";
constexpr const char* kPassword = "plumtrove";
constexpr const char* kTagProperty = "tag";
constexpr int kMaxSubscribedFeed = 10;

std::string ProgramFolder(const std::string& given) {
  std::string folder = given.empty() ? platform::ExecutableFolder() : given;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string MessageOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

// Qt's platforms that show nothing: a box there would wait for an answer
// nobody can give.
bool HasDisplay() {
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

// Also on the standard error stream: without a display nobody sees the box.
void ReportStartFailure(QString text) {
  text.replace('\r', '\n');
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
}

// An address of any length would make the line unreadable; a password in it
// is never shown.
std::string Shortened(const std::string& address) {
  constexpr size_t kShown = 200;
  const std::string text = tidewell::UrlWithoutCredentials(address);
  return text.size() <= kShown ? text : text.substr(0, kShown) + "... (" + std::to_string(text.size()) + " characters)";
}

void ReportFailedFeed(int32_t feedId, const kt::WideString& title, const std::string& url, const std::string& error) {
  ReportFailureLine("Feed " + std::to_string(feedId) + " \"" + kt::WideToUtf8(title) + "\" (" +
                    tidewell::UrlWithoutCredentials(url) + ") failed: " + error);
}

void ReportFailedDownload(uint32_t enclosureId, const std::string& url, const std::string& error) {
  ReportFailureLine("Download of episode " + std::to_string(enclosureId) + " (" + tidewell::UrlWithoutCredentials(url) +
                    ") failed: " + error);
}

int64_t BarTag(const QProgressBar& bar) { return bar.property(kTagProperty).toLongLong(); }

QLabel* MakeLabel(QWidget* parent, const QString& text, int left, int top) {
  auto* label = new QLabel(text, parent);
  // Labels show what servers named (addresses): never as markup.
  label->setTextFormat(Qt::PlainText);
  label->move(left, top);
  label->setAttribute(Qt::WA_TranslucentBackground);
  return label;
}

QProgressBar* MakeBar(QWidget* parent, int top) {
  auto* bar = new QProgressBar(parent);
  bar->setGeometry(16, top, 528, 16);
  bar->setTextVisible(false);
  bar->setProperty(kTagProperty, 0);
  return bar;
}

struct DatabaseLocation {
  std::string path;
  std::string user;
  std::string password;
};

// The settings may name the database ("dblocation", a file or folder, or a
// server's "host/port:path") and its login ("dbusername", "dbpassword");
// without them the database lives beside the program.
DatabaseLocation ReadDatabaseLocation(tidewell::TConfiguration& settings, const std::string& programFolder) {
  DatabaseLocation location;
  settings.ReadMiscString("dblocation", programFolder + "/", location.path, true);
  settings.ReadMiscString("dbusername", kLoginName, location.user, true);
  settings.ReadMiscString("dbpassword", kPassword, location.password, true);
  return location;
}

tidewell::TtidewellOptions EngineOptions() {
  tidewell::TtidewellOptions options;
  options.stopTimeoutMs = TForm1::kCloseStopTimeoutMs;
  return options;
}

// What a stuck worker uses stays; the process ends without freeing it.
[[noreturn]] void EndWithWorkerRunning() {
  ReportFailureLine("A worker of the engine did not stop in time (a database server that does not answer); "
                    "the application ends without waiting for it");
  std::fflush(nullptr);
  std::_Exit(0);
}

}  // namespace

TForm1::TForm1(TForm1Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), frssengine(std::make_unique<tidewell::Ttidewell>(EngineOptions())) {
  BuildWidgets();
  Timer1.setInterval(kEnclosurePassMs);
  QObject::connect(&Timer1, &QTimer::timeout, [this] { trigger_enclosure_downloads(); });
  BindEngineEvents();
  FormCreate();
}

TForm1::~TForm1() { ShutDown(); }

void TForm1::ShutDown() {
  Timer1.stop();
  alive_.reset();
  if (!frssengine) return;
  JoinPass();
  // The engine stops its workers before the widgets its events update go.
  frssengine->StopThreads(true);
  if (frssengine->WorkerLeftRunning()) {
    if (!options_.workerLeftRunning) EndWithWorkerRunning();
    options_.workerLeftRunning();
  }
  frssengine.reset();
}

void TForm1::BindEngineEvents() {
  frssengine->SetOnDownloading([this](uint32_t threadId, int32_t done, int32_t total, const std::string& url, int32_t,
                                      int32_t, TQueueJobTypes jobType,
                                      bool&) { frssengineDownloading(threadId, done, total, url, jobType); });
  frssengine->SetOnEnclosureDownloaded([this](uint32_t threadId, uint32_t enclosureId, const std::string& url, int32_t,
                                              const std::string&, const kt::WideString&,
                                              tidewell::TErrorCategory category, const std::string& error) {
    if (category != tidewell::TErrorCategory::noErrors) ReportFailedDownload(enclosureId, url, error);
    // The end of the download did not reach the database.
    if (category == tidewell::TErrorCategory::ErrDatabaseOp) AwaitDatabase();
    frssengineEnclosureDownloaded(threadId);
  });
  frssengine->SetOnFeedProcessed([this](uint32_t, int32_t, const std::string& url, int32_t feedId,
                                        const kt::WideString& title, int32_t items, tidewell::TFeedOpType, void*,
                                        int32_t, int32_t, tidewell::TErrorCategory category, const std::string& error,
                                        const TDynIntArray&) {
    if (category != tidewell::TErrorCategory::noErrors) ReportFailedFeed(feedId, title, url, error);
    frssengineFeedProcessed(items);
  });
  frssengine->SetOnFatalError(
      [this](uint32_t, const std::string& error, const std::string&, int32_t, TQueueJobTypes jobType) {
        // A failed download is reported with its episode above.
        if (jobType == TQueueJobTypes::CgetEnclosure) return;
        ReportFailureLine("Engine error: " + error);
        // The database gone, say, which failed a download before its transfer.
        AwaitDatabase();
      });
  BindListEvents();
}

// A list that drops shows unsubscribes those it subscribed; a list served
// empty by mistake would otherwise take them all without a word.
void TForm1::BindListEvents() {
  frssengine->SetOnFeedsDeleteFromOpml([this](int32_t threadId, int32_t, const std::string& url, const kt::WideString&,
                                              const tidewell::TStrings&) { listChanges_[threadId] = {url, 0}; });
  frssengine->SetOnDeleteFeed([this](int32_t threadId, int32_t, bool) {
    ++listChanges_[threadId].unsubscribed;
    return true;
  });
  frssengine->SetOnStopWorking([this](uint32_t threadId, int32_t, const std::string&, int32_t, TQueueJobTypes) {
    ReportListChange(static_cast<int32_t>(threadId));
  });
}

void TForm1::ReportListChange(int32_t threadId) {
  const auto change = listChanges_.find(threadId);
  if (change == listChanges_.end()) return;
  if (change->second.unsubscribed > 0)
    ReportFailureLine("The list " + tidewell::UrlWithoutCredentials(change->second.url) +
                      " no longer names shows it subscribed; unsubscribed until it names them again: " +
                      std::to_string(change->second.unsubscribed));
  listChanges_.erase(change);
}

void TForm1::BuildWidgets() {
  setWindowTitle("Podcast Downloader");
  setFont(QFont("Tahoma", 8));
  resize(560, 189);
  if (QScreen* screen = QApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());

  panel_information = new TduskgradientPanel(this);
  panel_information->setGeometry(rect());
  panel_information->SetBeginColor(QColor(0xA0, 0xA0, 0xA4));
  panel_information->SetEndColor(QColor(0xC0, 0xC0, 0xC0));
  panel_information->OnMouseDown = [this](QMouseEvent* event) {
    // The borderless window is dragged by its panel.
    if (event->button() == Qt::LeftButton && windowHandle() != nullptr) windowHandle()->startSystemMove();
  };

  QFont title("Trebuchet MS");
  title.setBold(true);
  title.setPixelSize(15);
  TntLabel2 = MakeLabel(panel_information, "Larkspur Podcast Downloader", 17, 7);
  TntLabel2->setFont(title);
  TntLabel2->setStyleSheet("color: white");
  TntLabel1 = MakeLabel(panel_information, "Larkspur Podcast Downloader", 16, 6);
  TntLabel1->setFont(title);
  Image1 = new QLabel(panel_information);
  Image1->setGeometry(512, 8, 32, 32);
  Image1->setPixmap(style()->standardIcon(QStyle::SP_DriveNetIcon).pixmap(32, 32));
  Label2 = MakeLabel(panel_information, "", 16, 56);
  Label2->setFixedWidth(528);
  ProgressBar1 = MakeBar(panel_information, 72);
  Label3 = MakeLabel(panel_information, "", 16, 96);
  Label3->setFixedWidth(528);
  ProgressBar2 = MakeBar(panel_information, 112);
  Label4 = MakeLabel(panel_information, "Podcasts are downloaded to \"downloads\" subfolder", 16, 136);
  Label1 = MakeLabel(panel_information, "Example of custom programmed application based on Larkspur platform", 16, 160);
  LarkspurButton1 = new TLarkspurButton(panel_information);
  LarkspurButton1->SetCaption("Close");
  LarkspurButton1->SetBackColor(QColor(0xA0, 0xA0, 0xA4));
  LarkspurButton1->move(width() - LarkspurButton1->PreferredWidth() - 12, height() - 28);
  LarkspurButton1->OnClick = [this] {
    if (options_.terminate) return options_.terminate();
    QApplication::quit();
  };
}

void TForm1::FormCreate() {
  Label2->clear();
  Label3->clear();
  try {
    frssengine->Configuration()->LoadFromKeys({kUserKey, kMachineKey});
    programFolder_ = ProgramFolder(options_.programFolder);
    try {
      OpenDatabase();
      PrepareDownloadFolder();
    } catch (...) {
      return ReportFailedStart(QString::fromStdString(MessageOf(std::current_exception())));
    }
    SubscribeConfiguredFeeds();
    frssengine->SetSmartUpdateActive(true);
    setWindowFlags(Qt::FramelessWindowHint);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()), 7.5, 7.5);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));
    frssengine->ResetEnclosureDownloads();
    trigger_enclosure_downloads();
  } catch (...) {
    const QString text = "Could not start application correctly";
    ReportFailureLine(text.toStdString() + ": " + MessageOf(std::current_exception()));
    if (options_.showMessage) return options_.showMessage(text);
    if (HasDisplay()) QMessageBox::warning(this, windowTitle(), text);
  }
}

void TForm1::ReportFailedStart(const QString& reason) {
  const QString text =
      "Application cannot start. Detailed error message is following:\r" + QString(64, '-') + "\r" + reason;
  startFailed_ = true;
  ReportStartFailure(text);
  if (options_.showMessage) {
    options_.showMessage(text);
  } else if (HasDisplay()) {
    QMessageBox::critical(this, windowTitle(), text);
  }
  // The event loop has not run yet, so a quit request would be lost: main
  // ends the application when it sees StartFailed.
  if (options_.terminate) options_.terminate();
}

std::string TForm1::DownloadFolder() const { return programFolder_ + "/downloads/"; }

// Without a folder to write to, every download would fail on every pass:
// better say so at once.
void TForm1::PrepareDownloadFolder() const {
  const std::string folder = DownloadFolder();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!error && !std::filesystem::is_directory(folder, error)) error = std::make_error_code(std::errc::not_a_directory);
  if (!error && ::access(folder.c_str(), W_OK | X_OK) != 0) error = std::error_code(errno, std::generic_category());
  if (error) throw kt::Exception("The folder for downloads cannot be used: " + folder + ": " + error.message());
}

void TForm1::OpenDatabase() {
  const DatabaseLocation location = ReadDatabaseLocation(*frssengine->Configuration(), programFolder_);
  frssengine->SetDbLoginname(location.user);
  frssengine->SetDbPassword(location.password);
  std::string fileName;
  std::string errorText;
  frssengine->CreateDatabase(location.path, location.user, location.password, fileName, errorText);
  if (!errorText.empty()) throw kt::Exception(errorText);
  frssengine->SetConnected(true);
  std::string text;
  frssengine->CreateTables(text);
}

bool TForm1::DatabaseHasFeeds() {
  tidewell::TTranWrapper* transaction = tidewell::NewTransaction(true);
  tidewell::TQueryWrapper* query = tidewell::NewQuery(true);
  bool any = false;
  try {
    frssengine->BindTransaction(transaction, false);
    query->SetTransaction(transaction);
    query->SQL.Add("select first 1 feed_id from feeds where link not like 'DELMARKED:%'");
    tidewell::ExecQueryTimed(query, true);
    any = !query->Eof();
    tidewell::SafeCloseQuery(query);
    transaction->Commit();
  } catch (...) {
    tidewell::SafeCloseQuery(query);
    if (transaction->InTransaction()) transaction->Rollback();
    tidewell::ReleaseQuery(query);
    tidewell::ReleaseTransaction(transaction);
    throw;
  }
  tidewell::ReleaseQuery(query);
  tidewell::ReleaseTransaction(transaction);
  return any;
}

void TForm1::SubscribeConfiguredFeeds() {
  if (DatabaseHasFeeds()) return;
  tidewell::TConfiguration& settings = *frssengine->Configuration();
  for (int i = 0; i <= kMaxSubscribedFeed; ++i) {
    const std::string name = "subscribefeed" + std::to_string(i);
    std::string url;
    settings.ReadMiscString(name, "", url, true);
    if (url.empty()) continue;
    // One feed that cannot be subscribed keeps none of the others away.
    try {
      SubscribeConfiguredFeed(name, url);
    } catch (...) {
      ReportFailureLine("The feed \"" + name + "\" of the settings is not subscribed (" + Shortened(url) +
                        "): " + MessageOf(std::current_exception()));
    }
  }
}

void TForm1::SubscribeConfiguredFeed(const std::string& name, const std::string& url) {
  const int32_t feedId = frssengine->AddFeed(u"Feed", url, u"");
  if (feedId <= 0) throw kt::Exception("the engine did not add it");
  tidewell::TFeeds* feeds = frssengine->GetFeeds();
  feeds->LoadById(feedId, "", 0, 0);
  if (feeds->GetCount() == 0) throw kt::Exception("the feed added as " + std::to_string(feedId) + " is not found");
  try {
    const int32_t interval = frssengine->Configuration()->ReadMiscInteger("defaultupdateinterval", 10);
    feeds->GetItem(0)->SetUpdateInterval(interval);
  } catch (const std::exception& e) {
    // A feed without its interval still updates at the default one.
    ReportFailureLine("The feed \"" + name + "\" keeps the default update interval: " + e.what());
  }
  frssengine->UpdateFeed(feedId);
}

std::set<std::string> TForm1::QueuedUrls() const {
  std::lock_guard<std::mutex> lock(queuedUrlsMutex_);
  return queuedUrls_;
}

bool TForm1::QueueUrl(const std::string& url) {
  std::lock_guard<std::mutex> lock(queuedUrlsMutex_);
  return queuedUrls_.insert(url).second;
}

void TForm1::CollectNewEnclosures(TDynIntArray& ids) {
  std::unique_ptr<tidewell::TFilter> filter = frssengine->NewFilter();
  filter->SetField(u"enclosures");
  auto* status = new tidewell::TFilter(nullptr, true, false);
  status->OperType = 13;
  status->SetField(u"enclosures.download_status");
  status->SetDataType(2);
  status->AddValue(u"0");
  status->Parent = filter.get();
  filter->Conditions->Add(status);
  std::unique_ptr<tidewell::TArticlesByFilter> articles;
  tidewell::TFilterLoadRequest request;
  request.rowCount = kArticleLimit;
  frssengine->GetArticlesByFilter(articles, filter.get(), request, frssengine->OwnerId());
  for (int32_t i = 0; articles && i < articles->GetCount(); ++i) {
    tidewell::TEnclosures& enclosures = *articles->GetItem(i)->Enclosures;
    enclosures.Load("", 0);
    for (int32_t e = 0; e < enclosures.GetCount(); ++e) {
      const tidewell::TEnclosuresProperty& enclosure = *enclosures.GetItem(e);
      if (enclosure.DownloadStatus != 0) continue;
      // Handed over, new, and no job for it: its job ended without the
      // download (the database away) and it is handed over again.
      const bool again =
          handedOver_.count(enclosure.EnclosureId) > 0 && !frssengine->IsEnclosureQueued(enclosure.EnclosureId);
      if (!QueueUrl(enclosure.Url) && !again) continue;
      handedOver_.insert(enclosure.EnclosureId);
      ids.push_back(enclosure.EnclosureId);
    }
  }
}

void TForm1::trigger_enclosure_downloads() {
  if (!frssengine) return Timer1.stop();
  if (passRunning_) {
    passAgain_ = true;
    return;
  }
  passRunning_ = true;
  // Armed meanwhile too: the pass's end re-arms it.
  Timer1.start(databaseAwaited_ ? options_.retryPassMs : kEnclosurePassMs);
  if (passThread_.joinable()) passThread_.join();  // its end came back already
  passThreadEnded_ = false;
  const std::weak_ptr<bool> alive = alive_;
  passThread_ = std::thread([this, alive] {
    std::exception_ptr failure;
    try {
      RunPass();
    } catch (...) {
      failure = std::current_exception();
    }
    passThreadEnded_ = true;
    platform::MainThread().Post([this, alive, failure] {
      if (alive.lock()) EndPass(failure);
    });
  });
}

void TForm1::RunPass() {
  // Checked first: an enclosure collected is not handed over again in this run.
  PrepareDownloadFolder();
  // Downloads whose end the database missed are new again, and collected.
  frssengine->ResetDownloadsLeftWithoutJob();
  TDynIntArray ids;
  CollectNewEnclosures(ids);
  if (!ids.empty()) frssengine->DownloadEnclosures(ids, kt::Utf8ToWide(DownloadFolder()));
}

void TForm1::EndPass(std::exception_ptr failure) {
  passRunning_ = false;
  if (!frssengine) return;
  if (failure) {
    // A failed pass is tried again at the next period: the timer is re-armed
    // below, so downloads never stop until a feed happens to bring news.
    ReportFailedPass(failure);
  } else {
    databaseAwaited_ = false;
    passLossReported_ = false;
  }
  Timer1.start(databaseAwaited_ ? options_.retryPassMs : kEnclosurePassMs);
  if (std::exchange(passAgain_, false)) trigger_enclosure_downloads();
}

void TForm1::JoinPass() {
  if (!passThread_.joinable()) return;
  const auto cutAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPassCutMs);
  while (!passThreadEnded_ && std::chrono::steady_clock::now() < cutAt) platform::SleepMs(10);
  // Its database calls end as lost connections.
  if (!passThreadEnded_) tidewell::db::EndEveryServerWait();
  passThread_.join();
}

// A pass that found the database away comes again soon, and says so once
// until one succeeds; one that failed otherwise comes at the usual period.
void TForm1::ReportFailedPass(std::exception_ptr error) {
  bool lost = false;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    lost = tidewell::db::IsConnectionLost(e);
  } catch (...) {
  }
  databaseAwaited_ = lost;
  if (lost && passLossReported_) return;
  passLossReported_ = lost;
  ReportFailureLine("The pass over new episodes failed: " + MessageOf(error));
}

void TForm1::AwaitDatabase() {
  databaseAwaited_ = true;
  if (Timer1.isActive() && Timer1.remainingTime() > options_.retryPassMs) Timer1.start(options_.retryPassMs);
}

void TForm1::frssengineFeedProcessed(int32_t items) {
  if (items > 0) trigger_enclosure_downloads();
}

bool TForm1::ClaimOrUpdateBar(QProgressBar& bar, QLabel& label, uint32_t threadId, int32_t done, int32_t total,
                              const std::string& url, bool claim) {
  const int64_t tag = BarTag(bar);
  if (claim ? tag != 0 : (tag < 0 || tag != threadId)) return false;
  if (claim) {
    bar.setProperty(kTagProperty, static_cast<qlonglong>(threadId));
    label.setText(QString::fromStdString("Downloading " + url));
  }
  bar.setMaximum(std::max(total, 0));
  bar.setValue(std::min(std::max(done, 0), std::max(total, 0)));
  return true;
}

void TForm1::frssengineDownloading(uint32_t threadId, int32_t bytesDownloaded, int32_t bytesTotal,
                                   const std::string& url, TQueueJobTypes jobType) {
  if (jobType != TQueueJobTypes::CgetEnclosure) return;
  for (bool claim : {false, true}) {
    if (ClaimOrUpdateBar(*ProgressBar1, *Label2, threadId, bytesDownloaded, bytesTotal, url, claim)) return;
    if (ClaimOrUpdateBar(*ProgressBar2, *Label3, threadId, bytesDownloaded, bytesTotal, url, claim)) return;
  }
}

void TForm1::frssengineEnclosureDownloaded(uint32_t threadId) {
  for (int index : {0, 1}) {
    QProgressBar& bar = Bar(index);
    const int64_t tag = BarTag(bar);
    if (tag < 0 || tag != threadId) continue;
    bar.setProperty(kTagProperty, 0);
    bar.setValue(0);
    BarLabel(index).clear();
  }
}

}  // namespace larkspur
