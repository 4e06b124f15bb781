// SPDX-License-Identifier: MIT
#include "engine/model/enclosures.h"

#include "engine/model/model_support.h"
#include "engine/tidewell_msg.h"
#include "engine/tidewell_utilities.h"

namespace tidewell {
namespace {

constexpr const char* kColumns = "enclosure_id,url_,size_,type_,filelocation,download_status";

}  // namespace

TEnclosures::TEnclosures(TParentClass* parent, int32_t articleId) : TBaseClass(parent) { Id = articleId; }

TEnclosures::TEnclosures(TDbConnWrapper* database, int32_t articleId) : TBaseClass(database) { Id = articleId; }

TEnclosuresProperty* TEnclosures::GetItem(int32_t index) const {
  return static_cast<TEnclosuresProperty*>(ItemAt(index, kEnclosureIndexOutOfBounds));
}

void TEnclosures::LoadById(int32_t articleId, const std::string& extra, int32_t skip, int32_t count) {
  std::vector<std::string> lines = {"select " + model::PagingClause(skip, count) + kColumns, "from enclosures"};
  if (articleId >= 0) lines.push_back("where article_id=" + std::to_string(articleId));
  if (!extra.empty()) lines.push_back(extra);
  RunEnclosureLoad(std::move(lines));
}

void TEnclosures::LoadByIds(const TDynIntArray& ids, const std::string& order, int32_t skip, int32_t count) {
  Clear();
  if (ids.empty()) return;
  std::vector<std::string> lines = {"select " + model::PagingClause(skip, count) + kColumns, "from enclosures",
                                    "where " + model::InListCondition("enclosure_id", ids)};
  if (!order.empty()) lines.push_back("order by " + order);
  RunEnclosureLoad(std::move(lines));
}

void TEnclosures::LoadByEnclosureId(int32_t enclosureId, const std::string& order, int32_t /*skip*/, int32_t count) {
  LoadByIds({enclosureId}, order, 0, count);
}

void TEnclosures::RunEnclosureLoad(std::vector<std::string> lines) {
  LoadRequest request;
  request.lines = std::move(lines);
  RunLoad(request, [this](TQueryWrapper& q) {
    auto row = std::make_unique<TEnclosuresProperty>(this);
    row->EnclosureId = q.Fields(0).AsInteger();
    row->Url = q.Fields(1).AsString();
    DecodeHtmlEntities(row->Url);
    row->Size = q.Fields(2).AsInteger();
    row->MimeType = q.Fields(3).AsString();
    row->FileLocation = q.Fields(4).AsString();
    row->DownloadStatus = q.Fields(5).AsInteger();
    Items.push_back(std::move(row));
  });
}

}  // namespace tidewell
