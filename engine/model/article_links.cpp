// SPDX-License-Identifier: MIT
#include "engine/model/article_links.h"

#include "engine/model/model_support.h"
#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

TParentClass* ArticleRowParent(TParentClass* parent) {
  if (dynamic_cast<TArticleProperty*>(parent) == nullptr) RaiseMessage(kParentClassInvalid);
  return parent;
}

TBaseClass* LinksOwner(TBaseClass* owner) {
  if (dynamic_cast<TArticleLinks*>(owner) == nullptr) RaiseMessage(kParentClassInvalid);
  return owner;
}

}  // namespace

TArticleLinksProperty::TArticleLinksProperty(TBaseClass* owner, int32_t linkId)
    : TBaseProperty(LinksOwner(owner)), LinkId(linkId) {}

TArticleLinks::TArticleLinks(TParentClass* parent, int32_t articleId)
    : TArticles(ArticleRowParent(parent), articleId, ParentChecked{}) {}

int32_t TArticleLinks::CountLinks(int32_t articleId) {
  int32_t count = 0;
  LoadRequest request;
  request.lines = {"select count(*) as bfsize from articles_links where article_id=" + std::to_string(articleId)};
  RunLoad(request, [&count](TQueryWrapper& q) { count = q.FieldByName("bfsize").AsInteger(); });
  return count;
}

void TArticleLinks::LoadById(int32_t articleId, const std::string& order, int32_t skip, int32_t count) {
  const int32_t links = CountLinks(articleId);
  if (links <= 0) return;
  LoadRequest request;
  request.lines = {"select " + model::PagingClause(skip, count) + "b.link_id,b.link",
                   "from articles_links a " + std::string(",links b"),
                   "where a.article_id=" + std::to_string(articleId) + " and b.link_Id=a.link_Id"};
  if (!order.empty()) request.lines.push_back("order by " + order);
  Clear();
  Items.reserve(static_cast<size_t>(links));
  RunLoad(request, [this](TQueryWrapper& q) {
    auto row = std::make_unique<TArticleLinksProperty>(this, q.Fields(0).AsInteger());
    row->Link = q.Fields(1).AsString();
    Items.push_back(std::move(row));
  });
}

TArticleLinksProperty* TArticleLinks::GetItem(int32_t index) const {
  return static_cast<TArticleLinksProperty*>(ItemAt(index, kLinkIndexOutOfBound));
}

}  // namespace tidewell
