// SPDX-License-Identifier: MIT
#include "engine/model/custom_tag_attributes.h"

#include "engine/model/model_support.h"
#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

TParentClass* TagCollectionParent(TParentClass* parent) {
  if (dynamic_cast<TCustomTagBase*>(parent) == nullptr) RaiseMessage(kParentClassInvalid);
  return parent;
}

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

TCustomTagAttributes::TCustomTagAttributes(TParentClass* parent, int32_t rowId, const std::string& attrTable)
    : TCustomTagBase(TagCollectionParent(parent), rowId), AttrTable(attrTable) {}

void TCustomTagAttributes::LoadById(int32_t rowId, const std::string& order, int32_t skip, int32_t count) {
  Clear();
  const std::string table = LowerAscii(AttrTable);
  std::string valuesTable;
  std::string join;
  if (table == "articles_customfields_attr") {
    valuesTable = " articles_customfields ";
    join = " b.id=" + std::to_string(rowId) + " and b.id=a.articles_customfield_id ";
  } else if (table == "feeds_customfields_attr") {
    valuesTable = " feeds_customfields ";
    join = " b.id=" + std::to_string(rowId) + " and b.id=a.feed_customfield_id ";
  } else {
    RaiseMessage(kParentClassInvalid);
  }
  LoadRequest request;
  request.lines = {"select " + model::PagingClause(skip, count) + "c.id,c.attr_name,a.attr_value",
                   "from " + AttrTable + " a," + valuesTable + " b" + ",customfield_attributes c", "where", join,
                   " and c.id=a.attrb_id"};
  if (!order.empty()) request.lines.push_back("order by " + order);
  RunLoad(request, [&](TQueryWrapper& query) {
    auto row = std::make_unique<TCustomTagBaseProperty>(this);
    row->RowId = query.Fields(0).AsInteger();
    row->Name = query.Fields(1).AsString();
    row->Value = query.Fields(2).AsWideString();
    Items.push_back(std::move(row));
  });
}

TCustomTagBaseProperty* TCustomTagAttributes::GetItem(int32_t index) const {
  return static_cast<TCustomTagBaseProperty*>(ItemAt(index, kFeedIndexOutOfBounds));
}

}  // namespace tidewell
