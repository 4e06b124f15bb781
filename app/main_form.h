// SPDX-License-Identifier: MIT
// The application window: on start it opens or creates the database beside
// the program, subscribes the feeds named in the configuration when the
// database has none, lets the engine's update timer refresh the feeds, and
// downloads every new enclosure into "downloads", showing up to two
// downloads at a time. Lives on the GUI thread, which is also the engine's
// main thread.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "app/dusk_gradient_panel.h"
#include "app/larkspur_button.h"
#include "engine/tidewell.h"

namespace larkspur {

struct TForm1Options {
  // The folder of the database and of "downloads"; empty: the program's.
  std::string programFolder;
  // Shows a start-up message; empty: a message box.
  std::function<void(const QString&)> showMessage;
  // Ends the application; empty: the Qt application quits.
  std::function<void()> terminate;
  // The enclosure pass's period while something waits for the database to
  // answer again (see TForm1::trigger_enclosure_downloads).
  int retryPassMs = 15000;
  // Called by ShutDown when a worker of the engine could not be stopped,
  // before anything it may use is freed; empty: the process ends at once
  // (its output flushed), as a close must end and must not free under a
  // running thread.
  std::function<void()> workerLeftRunning;
};

class TForm1 : public QWidget {
 public:
  static constexpr int kEnclosurePassMs = 300000;
  static constexpr int kArticleLimit = 1000;
  // How long a close waits for the engine's workers in all; the engine cuts
  // their server waits before.
  static constexpr int kCloseStopTimeoutMs = 3500;
  // How long a close waits for a pass before it cuts the pass's database
  // calls.
  static constexpr int kPassCutMs = 1000;

  explicit TForm1(TForm1Options options = {}, QWidget* parent = nullptr);
  ~TForm1() override;

  // Stops the enclosure timer and shuts the engine down: its workers are
  // stopped and their unfinished downloads removed. The window stays; the
  // engine is gone afterwards. Safe to call more than once. A worker that
  // does not stop ends the process (see workerLeftRunning).
  void ShutDown();

  // The enclosure pass: hands every enclosure not yet downloaded, and not
  // yet handed over in this run, to the engine; also one handed over whose
  // job ended without a download (the database away before the transfer),
  // and one whose download's end the database missed (put back to new
  // first). While the database is away, or something waits for it (a
  // download whose end it missed, an engine error), the pass comes again
  // after retryPassMs instead of kEnclosurePassMs. The pass runs on a
  // thread of its own: a slow or hanging database server never holds the
  // window. Its end comes back through the engine's main loop; a pass asked
  // for while one runs comes right after it.
  void trigger_enclosure_downloads();
  // Whether a pass was started and its end has not come back yet.
  bool PassRunning() const { return passRunning_; }

  tidewell::Ttidewell& Engine() { return *frssengine; }
  // Any thread: a copy, as a pass may add to it meanwhile.
  std::set<std::string> QueuedUrls() const;
  QProgressBar& Bar(int index) { return index == 0 ? *ProgressBar1 : *ProgressBar2; }
  QLabel& BarLabel(int index) { return index == 0 ? *Label2 : *Label3; }
  bool EnclosureTimerActive() const { return Timer1.isActive(); }
  // True when the database could not be opened: the application must end.
  bool StartFailed() const { return startFailed_; }

 private:
  void BuildWidgets();
  void FormCreate();
  void OpenDatabase();
  void SubscribeConfiguredFeeds();
  void SubscribeConfiguredFeed(const std::string& name, const std::string& url);
  std::string DownloadFolder() const;
  void PrepareDownloadFolder() const;
  void ReportFailedStart(const QString& reason);
  void ReportFailedPass(std::exception_ptr error);
  void AwaitDatabase();
  void BindEngineEvents();
  bool DatabaseHasFeeds();
  // On the pass's thread.
  void RunPass();
  void CollectNewEnclosures(tidewell::TDynIntArray& ids);
  // Whether the URL was not handed over before in this run.
  bool QueueUrl(const std::string& url);
  // On the GUI thread, when the pass ended.
  void EndPass(std::exception_ptr failure);
  // Waits for the pass's thread; a pass that waits on a server is cut.
  void JoinPass();
  void frssengineDownloading(uint32_t threadId, int32_t bytesDownloaded, int32_t bytesTotal, const std::string& url,
                             tidewell::TQueueJobTypes jobType);
  void frssengineEnclosureDownloaded(uint32_t threadId);
  void frssengineFeedProcessed(int32_t items);
  bool ClaimOrUpdateBar(QProgressBar& bar, QLabel& label, uint32_t threadId, int32_t done, int32_t total,
                        const std::string& url, bool claim);
  void BindListEvents();
  void ReportListChange(int32_t threadId);

  TForm1Options options_;
  std::string programFolder_;
  bool startFailed_ = false;
  // Every enclosure URL handed to the engine in this run, and the ids of the
  // enclosures handed over; used by the pass's thread, one pass at a time.
  mutable std::mutex queuedUrlsMutex_;
  std::set<std::string> queuedUrls_;  // guarded by queuedUrlsMutex_
  std::set<int32_t> handedOver_;
  std::thread passThread_;
  std::atomic<bool> passThreadEnded_{true};
  bool passRunning_ = false;
  bool passAgain_ = false;
  // The posted end of a pass finds the form gone once this is.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  // Something waits for the database to answer again: the pass comes soon.
  bool databaseAwaited_ = false;
  // The last pass failed on a lost connection and said so.
  bool passLossReported_ = false;
  // A list's change under way on a worker thread: the list, and how many
  // of its shows it unsubscribed so far.
  struct ListChange {
    std::string url;
    int unsubscribed = 0;
  };
  std::map<int32_t, ListChange> listChanges_;

  TduskgradientPanel* panel_information = nullptr;
  QLabel* TntLabel1 = nullptr;
  QLabel* TntLabel2 = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QProgressBar* ProgressBar2 = nullptr;
  TLarkspurButton* LarkspurButton1 = nullptr;
  QTimer Timer1;
  std::unique_ptr<tidewell::Ttidewell> frssengine;
};

}  // namespace larkspur
