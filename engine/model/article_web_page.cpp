// SPDX-License-Identifier: MIT
#include "engine/model/article_web_page.h"

#include "engine/tidewell_msg.h"

namespace tidewell {

TArticleWebPage::TArticleWebPage(TParentClass* parent, int32_t articleId) : TBaseClass(parent) { Id = articleId; }

TArticleWebPage::TArticleWebPage(TDbConnWrapper* database, int32_t articleId) : TBaseClass(database) {
  Id = articleId;
}

void TArticleWebPage::LoadById(int32_t articleId, const std::string& /*order*/, int32_t /*skip*/,
                               int32_t /*count*/) {
  LoadRequest request;
  request.lines = {"select id,content", "from webpages", "where article_id=" + std::to_string(articleId)};
  RunLoad(request, [this](TQueryWrapper& q) {
    auto row = std::make_unique<TArticleWebPageProperty>();
    row->PageId = q.Fields(0).AsInteger();
    q.Fields(1).SaveToStream(*row->Content);
    row->Content->SetPosition(0);
    Items.push_back(std::move(row));
  });
}

TArticleWebPageProperty* TArticleWebPage::GetItem(int32_t index) const {
  return static_cast<TArticleWebPageProperty*>(ItemAt(index, kInvalidItemIndex));
}

}  // namespace tidewell
