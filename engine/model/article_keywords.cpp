// SPDX-License-Identifier: MIT
#include "engine/model/article_keywords.h"

#include "engine/model/article_property.h"
#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

TArticleProperty* ArticleRow(TParentClass* parent) {
  auto* row = dynamic_cast<TArticleProperty*>(parent);
  if (row == nullptr) RaiseMessage(kParentClassInvalid);
  return row;
}

}  // namespace

TArticleKeyWords::TArticleKeyWords(TParentClass* parent) : TBaseClass(ArticleRow(parent)) {
  Id = ArticleRow(parent)->ArticleId;
}

TArticleKeyWords::TArticleKeyWords(TDbConnWrapper* database, int32_t articleId) : TBaseClass(database) {
  Id = articleId;
}

void TArticleKeyWords::Load(const std::string& /*order*/, int32_t /*count*/) {
  LoadRequest request;
  request.lines = {"select  id,value_,isuserdefined",
                   "from article_keywords k" + std::string(",keywords x"),
                   "where",
                   "(k.article_id=" + std::to_string(Id) + ")",
                   " and (x.id=k.keyword_id)",
                   "order by x.isuserdefined desc,x.value_  collate UTF8 "};
  RunLoad(request, [this](TQueryWrapper& q) {
    auto row = std::make_unique<TArticleKeyWordProperty>(this);
    row->KeywordId = q.Fields(0).AsInteger();
    row->Value = q.Fields(1).AsWideString();
    row->IsUserDefined = q.Fields(2).AsInteger() == 1;
    Items.push_back(std::move(row));
  });
}

void TArticleKeyWords::LoadById(int32_t articleId, const std::string& order, int32_t /*skip*/, int32_t count) {
  Id = articleId;
  Load(order, count);
}

TArticleKeyWordProperty* TArticleKeyWords::GetItem(int32_t index) const {
  return static_cast<TArticleKeyWordProperty*>(ItemAt(index, kInvalidItemIndex));
}

}  // namespace tidewell
