// SPDX-License-Identifier: MIT
// Reading the folder tree back from the database, so that what the OPML
// lists built in one run is there in the next.
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/model/model_support.h"
#include "engine/model/tidewell_folders.h"

namespace tidewell {
namespace {

constexpr char kRootName[] = "*";

}  // namespace

struct TFolderManagement::LoadedRows {
  struct FolderRow {
    int32_t id;
    int32_t parent;
    int16_t weight;
    WideString name;
  };
  struct FilterRow {
    int32_t id;
    int32_t folderId;
    int32_t parent;
    int16_t weight;
    WideString field;
    uint8_t operType;
    uint8_t dataType;
  };

  std::vector<FolderRow> folders;
  std::map<int32_t, int32_t> access;  // folder id -> the list's feed id
  std::vector<FilterRow> filters;
  std::multimap<int32_t, WideString> values;  // node id -> value
};

void TFolderManagement::LoadFromDatabase() {
  std::lock_guard lock(lock_);
  LoadedRows rows;
  TTranWrapper* transaction = NewTransaction(true);
  transaction->SetDatabase(Database);
  TQueryWrapper* query = NewQuery(true);
  query->SetTransaction(transaction);
  TQueryWrapper* const saved = Query;
  // The readers below use Query; it is the pooled one for this load.
  Query = query;
  try {
    transaction->StartTransaction();
    ReadFolderRows(rows);
    ReadFilterRows(rows);
    SafeCloseQuery(query);
    transaction->Commit();
  } catch (...) {
    Query = saved;
    SafeCloseQuery(query);
    try {
      if (transaction->InTransaction()) transaction->Rollback();
    } catch (...) {
    }
    ReleaseQuery(query);
    ReleaseTransaction(transaction);
    throw;
  }
  Query = saved;
  ReleaseQuery(query);
  ReleaseTransaction(transaction);
  AdoptLoadedTree(rows);
}

void TFolderManagement::ReadFolderRows(LoadedRows& rows) {
  model::SetSqlLines(Query, {"select id,parentFolder,foldername,weight", "from folders",
                             "where userid=" + std::to_string(UserId), "order by id"});
  ExecQueryTimed(Query, true);
  for (; !Query->Eof(); Query->Next()) {
    rows.folders.push_back({Query->FieldByName("ID").AsInteger(), Query->FieldByName("PARENTFOLDER").AsInteger(),
                            static_cast<int16_t>(Query->FieldByName("WEIGHT").AsInteger()),
                            Query->FieldByName("FOLDERNAME").AsWideString()});
  }
  SafeCloseQuery(Query);
  model::SetSqlLines(Query, {"select itemid,value_", "from variables",
                             "where type_='folder' and variablename_='opmlfolder'"});
  ExecQueryTimed(Query, true);
  for (; !Query->Eof(); Query->Next()) {
    const std::string value = Query->FieldByName("VALUE_").AsString();
    try {
      rows.access[Query->FieldByName("ITEMID").AsInteger()] = std::stoi(value);
    } catch (const std::exception&) {
      // A row that names no feed protects nothing.
    }
  }
  SafeCloseQuery(Query);
}

void TFolderManagement::ReadFilterRows(LoadedRows& rows) {
  const std::string user = std::to_string(UserId);
  model::SetSqlLines(Query, {"select id,folderId,weight,parent_node,field,operType,datatype", "from sqlfilters",
                             "where userid=" + user, "order by id"});
  ExecQueryTimed(Query, true);
  for (; !Query->Eof(); Query->Next()) {
    const auto& parent = Query->FieldByName("PARENT_NODE");
    rows.filters.push_back({Query->FieldByName("ID").AsInteger(), Query->FieldByName("FOLDERID").AsInteger(),
                            parent.IsNull() ? 0 : parent.AsInteger(),
                            static_cast<int16_t>(Query->FieldByName("WEIGHT").AsInteger()),
                            Query->FieldByName("FIELD").AsWideString(),
                            static_cast<uint8_t>(Query->FieldByName("OPERTYPE").AsInteger()),
                            static_cast<uint8_t>(Query->FieldByName("DATATYPE").AsInteger())});
  }
  SafeCloseQuery(Query);
  model::SetSqlLines(Query, {"select node_id,value_", "from SQLFilterValues", "where userid=" + user});
  ExecQueryTimed(Query, true);
  for (; !Query->Eof(); Query->Next())
    rows.values.emplace(Query->FieldByName("NODE_ID").AsInteger(), Query->FieldByName("VALUE_").AsWideString());
  SafeCloseQuery(Query);
}

// Only what hangs below the stored root joins the tree; rows that reach no
// loaded folder (or node) are left in the database as they are.
void TFolderManagement::AdoptLoadedTree(LoadedRows& rows) {
  int32_t rootId = 0;
  int16_t rootWeight = 0;
  for (const auto& row : rows.folders) {
    if (row.parent == 0 && row.name == kt::Utf8ToWide(kRootName)) {
      rootId = row.id;
      rootWeight = row.weight;
      break;
    }
  }
  std::map<int32_t, std::unique_ptr<TFolder>> made;
  for (const auto& row : rows.folders) {
    if (row.id == rootId || row.name.empty()) continue;
    auto folder = std::make_unique<TFolder>(this);
    folder->Id = row.id;
    folder->name_ = row.name;
    folder->Weight = row.weight;
    folder->State = TFolder::kStateSaved;
    const auto access = rows.access.find(row.id);
    if (access != rows.access.end()) folder->Access = access->second;
    made[row.id] = std::move(folder);
  }
  std::map<int32_t, std::unique_ptr<TFilter>> nodes;
  std::map<int32_t, TFilter*> nodeById;
  for (const auto& row : rows.filters) {
    auto node = std::make_unique<TFilter>(FilterWorkShop.get(), true, false);
    node->Id = row.id;
    node->FolderId = row.folderId;
    node->OperType = row.operType;
    node->SetField(row.field);
    node->SetDataType(row.dataType);
    node->SetWeight(row.weight);
    const auto [first, last] = rows.values.equal_range(row.id);
    for (auto value = first; value != last; ++value) node->AddValue(value->second);
    nodeById[row.id] = node.get();
    nodes[row.id] = std::move(node);
  }

  FreePendingRemovals();
  TFolder* root = RootFolder.get();
  for (TFilter*& filter : root->Filters) TFilterWorkShop::FreeFilter(filter);
  root->Filters.clear();
  root->SubFolders->Clear();
  root->Id = rootId;
  root->Weight = rootWeight;
  root->name_ = kt::Utf8ToWide(kRootName);
  root->State = rootId > 0 ? TFolder::kStateSaved : TFolder::kStateNew;
  if (rootId < 1) return;

  std::map<int32_t, TFolder*> placed{{rootId, root}};
  // Parents come before their children unless rows were moved; each pass
  // places what it can until nothing more joins.
  for (bool joined = true; joined;) {
    joined = false;
    for (const auto& row : rows.folders) {
      auto own = made.find(row.id);
      if (own == made.end() || !own->second) continue;
      const auto parent = placed.find(row.parent);
      if (parent == placed.end()) continue;
      TFolder* folder = own->second.release();
      folder->Parent = parent->second;
      parent->second->SubFolders->List.push_back(folder);
      placed[row.id] = folder;
      joined = true;
    }
  }
  for (const auto& row : rows.filters) {
    if (row.parent == 0) continue;
    const auto parent = nodeById.find(row.parent);
    auto node = nodes.find(row.id);
    if (parent == nodeById.end() || parent->second == node->second.get()) continue;
    node->second->Parent = parent->second;
    parent->second->Conditions->Add(node->second.release());
  }
  for (const auto& row : rows.filters) {
    if (row.parent != 0) continue;
    auto node = nodes.find(row.id);
    const auto folder = placed.find(row.folderId);
    if (folder == placed.end() || !node->second) continue;
    folder->second->Filters.push_back(node->second.release());
  }
}

void TFolderManagement::EnsureRootFolder() {
  std::lock_guard lock(lock_);
  if (RootFolder->Id > 0) return;
  // A tree built in memory is kept: it only needs the root's row.
  if (RootFolder->SubFolders->Count() == 0 && RootFolder->Filters.empty()) LoadFromDatabase();
  if (RootFolder->Id > 0) return;
  const int32_t storedId = StoredRootId();
  if (storedId > 0) {
    RootFolder->Id = storedId;
    RootFolder->State = TFolder::kStateSaved;
    return;
  }
  RootFolder->State = TFolder::kStateNew;
  SaveAll();
}

int32_t TFolderManagement::StoredRootId() {
  TTranWrapper* transaction = NewTransaction(true);
  transaction->SetDatabase(Database);
  TQueryWrapper* query = NewQuery(true);
  query->SetTransaction(transaction);
  int32_t id = 0;
  try {
    transaction->StartTransaction();
    model::SetSqlLines(query, {"select id from folders", "where parentFolder=0 and foldername='" +
                                                             std::string(kRootName) + "'",
                               " and userid=" + std::to_string(UserId), "order by id"});
    ExecQueryTimed(query, true);
    if (!query->Eof()) id = query->Fields(0).AsInteger();
    SafeCloseQuery(query);
    transaction->Commit();
  } catch (...) {
    SafeCloseQuery(query);
    try {
      if (transaction->InTransaction()) transaction->Rollback();
    } catch (...) {
    }
    ReleaseQuery(query);
    ReleaseTransaction(transaction);
    throw;
  }
  ReleaseQuery(query);
  ReleaseTransaction(transaction);
  return id;
}

}  // namespace tidewell
