// SPDX-License-Identifier: MIT
#include "engine/feeds/tidewell_feed_processor.h"

#include <algorithm>

#include <pugixml.hpp>

#include "engine/feeds/tidewell_article_keys.h"
#include "engine/feeds/tidewell_atom_processor.h"
#include "engine/feeds/tidewell_feed_document.h"
#include "engine/feeds/tidewell_feed_store.h"
#include "engine/feeds/tidewell_feed_xml.h"
#include "engine/feeds/tidewell_rss_processor.h"
#include "engine/model/feed_property.h"
#include "engine/net/tidewell_trd_job_prop_class.h"
#include "engine/settings/configuration.h"
#include "engine/tidewell_charset_helper.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"
#include "toolkit/exception.h"
#include "toolkit/stream.h"

namespace tidewell {

namespace {

constexpr char kAtom10Namespace[] = "http://www.w3.org/2005/Atom";
constexpr char kAtom03Namespace[] = "http://purl.org/atom/ns";
constexpr char kRdfNamespace[] = "http://www.w3.org/1999/02/22-rdf-syntax-ns";

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

std::string ReadBody(TtidewellTrdJobPropClass& job) {
  kt::TStream* stream = job.Stream();
  if (stream == nullptr) return {};
  stream->SetPosition(0);
  std::string body(static_cast<size_t>(stream->Size()), '\0');
  const int64_t read = body.empty() ? 0 : stream->Read(body.data(), static_cast<int64_t>(body.size()));
  body.resize(static_cast<size_t>(read));
  stream->SetPosition(0);
  return body;
}

void ReadWhitespaceSetting(TtidewellFeedContext& context) {
  if (*context.whitespaceSetting != 0 || context.settings == nullptr) return;
  std::string value;
  context.settings->ReadMiscString("usexmlwhitespacehandling", "0", value, true);
  *context.whitespaceSetting = value == "1" ? 1 : -1;
}

// One document of one job: from the answer's code to the stored rows.
class TDocumentRun {
 public:
  TDocumentRun(TtidewellFeedContext& context, TtidewellTrdJobPropClass& job, const TFeedProperty* record)
      : context_(context), job_(job), record_(record), store_(context, job) {}

  void Run();

 private:
  bool Stored() const { return *context_.itemId >= 1; }
  bool Stopping() const { return store_.StopRequested(); }
  bool HandleAnswerCode();
  void RecordAnswerCode();
  void RecordAnswerCodeQuietly();
  bool ParseDocument();
  void ParseWithRepairs(std::string& body);
  void ReadLegacyDocument(const std::string& raw, const std::string& prepared);
  void ReportParseFailure(const std::string& message);
  void ReportUnknownNamespace(const std::string& message);
  void Dispatch();
  void ProcessAtom(const pugi::xml_node& root);
  bool ReadXmlBase(const pugi::xml_node& root);
  TArticleKeyView KeyView(const pugi::xml_node& root) const;

  TtidewellFeedContext& context_;
  TtidewellTrdJobPropClass& job_;
  const TFeedProperty* record_;
  TtidewellFeedStore store_;
  pugi::xml_document document_;
  pugi::xml_document legacyDocument_;
  std::string md5_;
  bool codeToRecord_ = false;
};

void TDocumentRun::Run() {
  *context_.reencode = false;
  ReadWhitespaceSetting(context_);
  context_.xmlBase->clear();
  try {
    if (context_.Terminated && context_.Terminated()) return;
    *context_.items = 0;
    if (HandleAnswerCode() && ParseDocument()) Dispatch();
  } catch (...) {
    context_.xmlBase->clear();
    store_.RollbackQuietly();
    RecordAnswerCodeQuietly();
    throw;
  }
  context_.xmlBase->clear();
  store_.RollbackQuietly();
  RecordAnswerCode();
}

// A stored document wrote the code with the feed row in its own commit;
// every other end of the job writes it here.
void TDocumentRun::RecordAnswerCode() {
  if (codeToRecord_ && !store_.DocumentCommitted()) store_.SetLastHTTPCode(*context_.itemId, job_.httpCode);
  codeToRecord_ = false;
}

void TDocumentRun::RecordAnswerCodeQuietly() {
  try {
    RecordAnswerCode();
  } catch (const std::exception&) {
    // The job's own failure is what it reports.
  }
}

// False when the job ends with the answer's code.
bool TDocumentRun::HandleAnswerCode() {
  const int32_t code = job_.httpCode;
  const int32_t feedId = *context_.itemId;
  if (!Stored()) return code == 200;
  // A code the row holds already costs no write and no commit.
  const bool codeKnown = record_ != nullptr && record_->LastStatusCode == code;
  if (code == 200) {
    codeToRecord_ = !codeKnown;
    return true;
  }
  if (context_.ScheduleNextUpdate) context_.ScheduleNextUpdate(feedId, true, code);
  if (!codeKnown) store_.SetLastHTTPCode(feedId, code);
  if (code == 304) {
    job_.error = false;
    if (!Stopping() && context_.SyncNoNeedForUpdate) context_.SyncNoNeedForUpdate();
  } else if (code != 302) {
    if (!Stopping() && context_.SyncFeedProcessed) context_.SyncFeedProcessed();
  }
  return false;
}

// False when the job ends here: the body is unchanged or cannot be parsed.
bool TDocumentRun::ParseDocument() {
  try {
    const std::string raw = ReadBody(job_);
    std::string body = PrepareXmlBody(raw, *context_.contentType);
    ParseWithRepairs(body);
    md5_ = BytesMD5Hex(body);
    if (Stored() && record_ != nullptr && record_->FeedMD5 == md5_) {
      job_.error = false;
      if (context_.ScheduleNextUpdate) context_.ScheduleNextUpdate(*context_.itemId, true, job_.httpCode);
      if (!Stopping() && context_.SyncNoNeedForUpdate) context_.SyncNoNeedForUpdate();
      return false;
    }
    ReadLegacyDocument(raw, body);
    return true;
  } catch (const std::exception& e) {
    ReportParseFailure(e.what());
    return false;
  }
}

void TDocumentRun::ParseWithRepairs(std::string& body) { ParseXmlWithRepairs(body, document_, *context_.reencode); }

// Keys of stored articles were made of the document as earlier versions
// decoded it. Where that decoding differs (an answer's charset, Windows-1252
// for ISO-8859-1, UTF-16 and UTF-32 read first), the document is read that
// way too, for the keys only.
void TDocumentRun::ReadLegacyDocument(const std::string& raw, const std::string& prepared) {
  const std::string declared = DeclaredXmlEncoding(raw);
  bool decodesAlike = FixXmlProlog(raw) == prepared;
  if (decodesAlike && IsLatin1Name(declared))
    decodesAlike = std::none_of(raw.begin(), raw.end(), [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return byte > 0x80 && byte < 0xA0;
    });
  if (decodesAlike) return;
  std::string body = FixXmlProlog(raw);
  bool refused = false;
  try {
    ParseXmlBody(body, legacyDocument_, refused, false);
    return;
  } catch (const kt::Exception&) {
  }
  try {
    FixBareCarriageReturns(body);
    ParseXmlBody(body, legacyDocument_, refused, false);
  } catch (const kt::Exception&) {
    legacyDocument_.reset();
  }
}

TArticleKeyView TDocumentRun::KeyView(const pugi::xml_node& root) const {
  return TArticleKeyView(root, legacyDocument_.document_element());
}

void TDocumentRun::ReportParseFailure(const std::string& message) {
  *context_.errorText = message + " : " + *context_.errorText;
  *context_.errorCategory = TErrorCategory::ErrXMLparse;
  if (Stored()) {
    try {
      if (context_.ScheduleNextUpdate) context_.ScheduleNextUpdate(*context_.itemId, true, job_.httpCode);
    } catch (const std::exception&) {
      // The parse failure is what the job reports.
    }
    return;
  }
  *context_.itemId = -1;
  if (!Stopping() && context_.SyncFeedProcessed) context_.SyncFeedProcessed();
}

// A root in no namespace the engine reads is an error of the feed: it is
// reported and the feed waits the error interval before the next try.
void TDocumentRun::ReportUnknownNamespace(const std::string& message) {
  *context_.errorText = message;
  *context_.errorCategory = TErrorCategory::ErrXMLparse;
  if (Stored()) {
    if (context_.ScheduleNextUpdate) context_.ScheduleNextUpdate(*context_.itemId, true, 999);
  } else {
    *context_.itemId = -1;
  }
  if (!Stopping() && context_.SyncFeedProcessed) context_.SyncFeedProcessed();
}

// False (with the error recorded) when the root has no attributes. The
// document's base is its xml:base resolved against the feed's address.
bool TDocumentRun::ReadXmlBase(const pugi::xml_node& root) {
  if (!root.first_attribute()) return false;
  const std::string base = AttributeText(root, "xml:base");
  if (!base.empty()) *context_.xmlBase = AbsoluteXmlBase(FeedAddress(job_.finalUrl, *context_.url), base);
  return true;
}

void TDocumentRun::ProcessAtom(const pugi::xml_node& root) {
  ReadXmlBase(root);
  const std::string xmlns = AttributeText(root, "xmlns");
  if (!Contains(xmlns, kAtom10Namespace) && !Contains(xmlns, kAtom03Namespace))
    return ReportUnknownNamespace(FormatText(MessageText(kIncorrectNamespace), xmlns));
  TtidewellAtomProcessor(store_, KeyView(root))
      .ProcessAtomFeed(md5_, *context_.itemId, record_, Contains(xmlns, kAtom10Namespace), root);
}

void TDocumentRun::Dispatch() {
  const pugi::xml_node root = document_.document_element();
  if (!root) throw kt::Exception(std::string(MessageText(kCantAddUpdateFeed)) + " " + *context_.url);
  const std::string name = UpperAscii(root.name());
  if (name == "FEED") return ProcessAtom(root);
  const bool isRdf = Contains(name, "RDF");
  if (isRdf) {
    if (!ReadXmlBase(root)) return ReportUnknownNamespace(MessageText(kNamespaceMissing));
    const std::string xmlnsRdf = AttributeText(root, "xmlns:rdf");
    if (!Contains(xmlnsRdf, kRdfNamespace))
      return ReportUnknownNamespace(FormatText(MessageText(kIncorrectNamespace), xmlnsRdf));
    DropRss10Prefixes(root, store_.Stopping());
  } else if (name == "RSS") {
    ReadXmlBase(root);
  } else {
    if (Stored() && context_.ScheduleNextUpdate) context_.ScheduleNextUpdate(*context_.itemId, true, 999);
    RaiseMessage(kUnsupportedFeedFormat, *context_.url, *context_.contentType);
  }
  TtidewellRssProcessor(store_, KeyView(root)).ProcessRssChannel(md5_, isRdf, record_, root, *context_.itemId);
}

}  // namespace

void TtidewellFeedProcessor::ParseFeedForUpdate(TtidewellFeedContext& context, const TFeedProperty& feedRecord,
                                                TtidewellTrdJobPropClass& jobProps) {
  *context.items = 0;
  TDocumentRun(context, jobProps, &feedRecord).Run();
}

void TtidewellFeedProcessor::ParseFeedForInsert(TtidewellFeedContext& context, TtidewellTrdJobPropClass& jobProps) {
  TDocumentRun(context, jobProps, nullptr).Run();
}

}  // namespace tidewell
