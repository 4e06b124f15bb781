// SPDX-License-Identifier: MIT
#include "engine/model/custom_tag_base.h"

#include "engine/model/article_property.h"
#include "engine/model/custom_tag_property.h"
#include "engine/model/feed_property.h"
#include "engine/model/model_support.h"
#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

TParentClass* AcceptedTagParent(TParentClass* parent) {
  const bool accepted = dynamic_cast<TArticleCustomTags*>(parent) || dynamic_cast<TFeedCustomTags*>(parent) ||
                        dynamic_cast<TArticleProperty*>(parent) || dynamic_cast<TFeedProperty*>(parent);
  if (!accepted) RaiseMessage(kParentClassInvalid);
  return parent;
}

}  // namespace

TCustomTagBase::TCustomTagBase(TParentClass* parent, int32_t key) : TBaseClass(AcceptedTagParent(parent)) { Id = key; }

void TCustomTagBase::Load(const std::string& order, int32_t count, int32_t skip) { LoadById(Id, order, skip, count); }

void TCustomTagBase::LoadById(int32_t key, const std::string& order, int32_t skip, int32_t count) {
  if (ValuesTable().empty()) RaiseMessage(kParentClassInvalid);
  LoadRequest request;
  request.lines = {"select " + model::PagingClause(skip, count) + " a.id,b.customfield_tag,a.value_",
                   "from " + ValuesTable() + " a " + ",customfield_definitions b ",
                   "where  a." + KeyColumn() + "=" + std::to_string(key), "  and  b.customfield_id=a.customfield_id"};
  if (!order.empty()) request.lines.push_back("order by " + order);
  const std::string attributeTable = AttributeTable();
  RunLoad(request, [&](TQueryWrapper& query) {
    const int32_t rowId = query.Fields(0).AsInteger();
    auto row = std::make_unique<TCustomTagProperty>(this, rowId, attributeTable);
    row->RowId = rowId;
    row->Name = query.Fields(1).AsString();
    row->Value = query.Fields(2).AsWideString();
    Items.push_back(std::move(row));
  });
}

TCustomTagBaseProperty* TCustomTagBase::GetItem(int32_t index) const {
  return static_cast<TCustomTagBaseProperty*>(ItemAt(index, kFeedIndexOutOfBounds));
}

}  // namespace tidewell
