// SPDX-License-Identifier: MIT
#include "engine/model/tidewell_folders.h"

#include <algorithm>
#include <string>

#include "engine/db/tidewell_db_helper.h"
#include "engine/model/model_support.h"
#include "engine/tidewell_msg.h"
#include "platform/system.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

[[noreturn]] void RaiseAssertion(const std::string& text, int line) {
  throw kt::Exception(text + " (tidewell_Folders.pas, line " + std::to_string(line) + ")");
}

template <typename T>
bool Holds(const std::vector<T*>& list, const T* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

WideString DecimalText(int value) { return kt::Utf8ToWide(std::to_string(value)); }

void CollectFilterNodes(TFilter* node, std::vector<std::pair<TFilter*, int32_t>>& ids) {
  ids.emplace_back(node, node->Id);
  for (TFilter* child : node->Conditions->Items) CollectFilterNodes(child, ids);
}

}  // namespace

// What a save changes in memory, so that a rolled-back save can give the
// tree back the state that matches the database again.
struct TFolderManagement::SaveSnapshot {
  struct FolderState {
    TFolder* folder;
    int32_t id;
    uint8_t state;
  };
  struct FilterState {
    TFilter* filter;
    int32_t folderId;
    WideString field;
  };
  std::vector<FolderState> folders;
  std::vector<FilterState> filters;
  std::vector<std::pair<TFilter*, int32_t>> nodeIds;

  void Take(TFolder* folder) {
    folders.push_back({folder, folder->Id, folder->State});
    for (TFilter* filter : folder->Filters) {
      filters.push_back({filter, filter->FolderId, filter->GetField()});
      CollectFilterNodes(filter, nodeIds);
    }
    for (TFolder* sub : folder->SubFolders->List) Take(sub);
  }

  void Restore() const {
    for (const auto& [node, id] : nodeIds) node->Id = id;
    for (const FilterState& f : filters) {
      f.filter->FolderId = f.folderId;
      if (f.filter->GetField() != f.field) f.filter->SetField(f.field);
    }
    for (const FolderState& f : folders) {
      f.folder->Id = f.id;
      f.folder->State = f.state;
    }
  }
};

// ---- TSubFolders ------------------------------------------------------------

TSubFolders::~TSubFolders() { Clear(); }

TFolder* TSubFolders::GetItem(int32_t index) const {
  if (index < 0 || index >= Count()) RaiseMessage(kInvalidItemIndex);
  return List[static_cast<size_t>(index)];
}

void TSubFolders::Add(TFolder* folder) {
  if (folder == nullptr) RaiseMessage(kFolderUnassigned);
  if (folder->GetName().empty()) RaiseMessage(kFolderHasNoName);
  if (!Holds(List, folder)) List.push_back(folder);
}

bool TSubFolders::Remove(TFolder* folder) {
  const auto at = std::find(List.begin(), List.end(), folder);
  if (at == List.end()) return false;
  List.erase(at);
  return true;
}

void TSubFolders::Clear() {
  std::vector<TFolder*> folders;
  folders.swap(List);
  for (TFolder* folder : folders) delete folder;
}

// ---- TFolder ------------------------------------------------------------------

TFolder::TFolder(TFolderManagement* management)
    : Management(management), SubFolders(std::make_unique<TSubFolders>()) {}

TFolder::~TFolder() {
  for (TFilter*& filter : Filters) TFilterWorkShop::FreeFilter(filter);
  Filters.clear();
  SubFolders.reset();
}

std::unique_lock<std::recursive_mutex> TFolder::LockTree() const {
  if (Management == nullptr) return {};
  return std::unique_lock<std::recursive_mutex>(Management->Mutex());
}

bool TFolder::MayChange() const { return Access <= 0 || (Management != nullptr && Management->HasEditRight()); }

void TFolder::MarkModified() {
  if (State == kStateSaved) State = kStateModified;
}

bool TFolder::Contains(const TFolder* folder) const {
  for (const TFolder* f = folder; f != nullptr; f = f->Parent)
    if (f == this) return true;
  return false;
}

bool TFolder::AddFilter(TFilter* filter) {
  auto lock = LockTree();
  if (filter == nullptr || Holds(Filters, filter) || !MayChange()) return false;
  Filters.push_back(filter);
  filter->FolderId = Id;
  MarkModified();
  return true;
}

TFilter* TFolder::GetFilter(int32_t index) const {
  auto lock = LockTree();
  if (index < 0 || index >= FilterCount()) RaiseMessage(kInvalidItemIndex);
  return Filters[static_cast<size_t>(index)];
}

int32_t TFolder::FilterCount() const { return static_cast<int32_t>(Filters.size()); }

int32_t TFolder::SubFolderCount() const { return SubFolders->Count(); }

TFolder* TFolder::GetSubFolder(int32_t index) const {
  auto lock = LockTree();
  return SubFolders->GetItem(index);
}

bool TFolder::DeleteFilter(TFilter*& filter) {
  auto lock = LockTree();
  if (Management == nullptr) RaiseMessage(kManagementClassMissing);
  if (!MayChange()) return false;
  const auto at = std::find(Filters.begin(), Filters.end(), filter);
  if (filter == nullptr || at == Filters.end()) RaiseMessage(kFilterClassNotFound);
  Management->FilterWorkShop->UserId = Management->UserId;
  Management->FilterWorkShop->DeleteFilter(filter, false, nullptr);
  Filters.erase(at);
  TFilterWorkShop::FreeFilter(filter);
  return true;
}

bool TFolder::DeleteFilterAt(int32_t index) {
  auto lock = LockTree();
  TFilter* filter = GetFilter(index);
  return DeleteFilter(filter);
}

bool TFolder::MoveFilter(TFilter* filter, TFolder* target) {
  auto lock = LockTree();
  if (filter == nullptr || target == nullptr || Filters.empty()) return false;
  if (!MayChange() || !target->MayChange()) return false;
  const auto at = std::find(Filters.begin(), Filters.end(), filter);
  if (at == Filters.end()) return false;
  const auto position = at - Filters.begin();
  Filters.erase(at);
  if (!target->AddFilter(filter)) {
    // The filter stays where it was rather than belonging to no folder.
    Filters.insert(Filters.begin() + position, filter);
    return false;
  }
  return true;
}

bool TFolder::MoveTo(TFolder* newParent) {
  auto lock = LockTree();
  if (newParent == nullptr) RaiseMessage(kFolderNotFound);
  const bool parentMayChange = Parent == nullptr || Parent->MayChange();
  if (!MayChange() || !newParent->MayChange() || !parentMayChange) return false;
  if (Contains(newParent)) return false;
  if (Parent == nullptr || !Holds(Parent->SubFolders->List, this)) RaiseMessage(kFolderNotFound);
  // Checked before anything changes, so a refused add cannot orphan us.
  if (name_.empty()) RaiseMessage(kFolderHasNoName);
  Parent->SubFolders->Remove(this);
  Parent = newParent;
  newParent->SubFolders->Add(this);
  MarkModified();
  newParent->MarkModified();
  return true;
}

bool TFolder::AddSubFolder(TFolder* folder) {
  auto lock = LockTree();
  if (folder == nullptr) return false;
  if (!MayChange() || !folder->MayChange()) return false;
  if (folder->Contains(this)) return false;
  if (folder->Parent != nullptr && folder->Parent != this) return folder->MoveTo(this);
  SubFolders->Add(folder);
  folder->Parent = this;
  MarkModified();
  return true;
}

void TFolder::SetName(const WideString& name) {
  auto lock = LockTree();
  if (name == name_) return;
  name_ = name;
  MarkModified();
}

bool TFolder::Delete(TFolder*& folder) {
  if (folder == nullptr) return false;
  TFolderManagement* management = folder->Management;
  if (management == nullptr) RaiseMessage(kManagementClassMissing);
  std::lock_guard lock(management->Mutex());
  if (!folder->MayChange()) return false;
  TFolder* const original = folder;
  try {
    management->RunSave([&](TFolder*& target) {
      target->State = kStateDeleted;
      management->SaveFolder(target, 0);
    }, folder);
  } catch (...) {
    folder = original;
    throw;
  }
  return true;
}

// ---- TFolderManagement --------------------------------------------------------

TFolderManagement::TFolderManagement(TDbConnWrapper* database, TtidewellDbHelper* dbHelper)
    : Database(database), db_helper_(dbHelper) {
  if (db_helper_ == nullptr) {
    own_helper_ = std::make_unique<TtidewellDbHelper>();
    db_helper_ = own_helper_.get();
  }
  Transaction = NewTransaction(true);
  Transaction->SetDatabase(database);
  Query = NewQuery(true);
  Query->SetTransaction(Transaction);
  FilterWorkShop = std::make_unique<TFilterWorkShop>(database);
  RootFolder = std::make_unique<TFolder>(this);
  RootFolder->name_ = u"*";
}

TFolderManagement::~TFolderManagement() {
  FreePendingRemovals();
  RootFolder.reset();
  FilterWorkShop.reset();
  if (Query != nullptr) Query->SetTransaction(nullptr);
  ReleaseQuery(Query);
  ReleaseTransaction(Transaction);
}

TFolder* TFolderManagement::NewFolder(const WideString& name, int32_t id, int32_t access) {
  auto* folder = new TFolder(this);
  folder->name_ = name;
  folder->Id = id;
  folder->Access = access;
  folder->State = TFolder::kStateModified;
  return folder;
}

void TFolderManagement::RunSave(const std::function<void(TFolder*&)>& save, TFolder*& folder) {
  std::lock_guard lock(lock_);
  // Left by a SaveFolder of the caller's, whose transaction has ended.
  FreePendingRemovals();
  FilterWorkShop->UserId = UserId;
  SaveSnapshot snapshot;
  snapshot.Take(RootFolder.get());
  if (folder != nullptr && folder != RootFolder.get() && !RootFolder->Contains(folder)) snapshot.Take(folder);
  Transaction->StartTransaction();
  try {
    save(folder);
    Transaction->Commit();
  } catch (...) {
    try {
      if (Transaction->InTransaction()) Transaction->Rollback();
    } catch (...) {
      // The rollback ends the transaction even when the engine complains.
    }
    SafeCloseQuery(Query);
    UndoPendingRemovals();
    snapshot.Restore();
    throw;
  }
  FreePendingRemovals();
}

void TFolderManagement::SaveAll() {
  TFolder* root = RootFolder.get();
  RunSave([this](TFolder*& target) { SaveFolder(target, 0); }, root);
}

void TFolderManagement::SaveFolder(TFolder*& folder, int32_t depth) {
  std::lock_guard lock(lock_);
  if (folder == nullptr) return;
  TFolder* f = folder;
  if (f->State == TFolder::kStateNew) {
    if (f->Id != 0) RaiseMessage(kFailedToSaveFolder);
    InsertFolderRow(f);
    f->State = TFolder::kStateSaved;
    SaveFolderFilters(f);
  } else if (f->State == TFolder::kStateModified && f->Id != 0) {
    UpdateFolderRow(f);
    f->State = TFolder::kStateSaved;
    SaveFolderFilters(f);
  }
  SaveSubFolders(f, depth);
  if (f->State == TFolder::kStateDeleted) FinishDeletion(folder);
}

void TFolderManagement::InsertFolderRow(TFolder* folder) {
  int32_t parentId = 0;
  if (folder == RootFolder.get()) {
    folder->Parent = nullptr;
    folder->name_ = u"*";
  } else {
    if (folder->Parent == nullptr) RaiseAssertion("Folder has no parent !", 1433);
    parentId = folder->Parent->Id;
  }
  folder->Id = db_helper_->InsertFolder(Query, parentId, folder->Weight, folder->name_, UserId);
}

void TFolderManagement::UpdateFolderRow(TFolder* folder) {
  model::SetSqlLines(Query, {"update folders", "set foldername=substring(? from 1 for 512),parentFolder=?,weight=?",
                             "where id=?", " and userid=?"});
  Query->Params(0).SetWideString(folder->name_);
  Query->Params(1).SetInteger(folder->Parent != nullptr ? folder->Parent->Id : 0);
  Query->Params(2).SetInteger(folder->Weight);
  Query->Params(3).SetInteger(folder->Id);
  Query->Params(4).SetInteger(UserId);
  ExecQueryTimed(Query, false);
  SafeCloseQuery(Query);
}

void TFolderManagement::MoveFilterRow(TFilter* filter, int32_t folderId) {
  model::SetSqlLines(Query, {"update sqlfilters", "set folderid=?", "where id=?", " and userid=?"});
  Query->Params(0).SetInteger(folderId);
  Query->Params(1).SetInteger(filter->Id);
  Query->Params(2).SetInteger(UserId);
  ExecQueryTimed(Query, false);
  SafeCloseQuery(Query);
}

// New filters named alike get " (n)" appended, so the folder never shows two
// filters of one name. Names are compared as saved ("noname" for none).
void TFolderManagement::SaveFolderFilters(TFolder* folder) {
  std::vector<WideString> savedNames;
  int suffix = 0;
  for (TFilter* filter : folder->Filters) {
    filter->FolderId = folder->Id;
    if (filter->Id > 0) {
      MoveFilterRow(filter, folder->Id);
      continue;
    }
    const WideString name = filter->GetField().empty() ? WideString(u"noname") : filter->GetField();
    if (std::find(savedNames.begin(), savedNames.end(), name) != savedNames.end())
      filter->SetField(name + u" (" + DecimalText(++suffix) + u")");
    savedNames.push_back(name);
    savedNames.push_back(filter->GetField());
    FilterWorkShop->SaveFilter(filter, Transaction);
  }
}

void TFolderManagement::SaveSubFolders(TFolder* folder, int32_t depth) {
  if (folder->State != TFolder::kStateDeleted) {
    // A copy: a subfolder marked deleted leaves the list while it is saved.
    const std::vector<TFolder*> subFolders = folder->SubFolders->List;
    for (TFolder* sub : subFolders) {
      sub->Parent = folder;
      SaveFolder(sub, depth + 1);
    }
    return;
  }
  for (int32_t i = folder->SubFolders->Count() - 1; i >= 0; --i) {
    TFolder* sub = folder->SubFolders->List[static_cast<size_t>(i)];
    sub->Parent = folder;
    sub->State = TFolder::kStateDeleted;
    SaveFolder(sub, depth + 1);
  }
}

void TFolderManagement::DeleteFolderRows(TFolder* folder) {
  const std::string id = std::to_string(folder->Id);
  const std::string user = std::to_string(UserId);
  model::ExecLines(Query, {"delete from folders where id=" + id + " and userid=" + user});
  model::ExecLines(Query, {"delete from Variables where type_='folder' and itemId=" + id + " and userid=" + user});
  SafeCloseQuery(Query);
}

// The objects leave the tree now but are freed only once the transaction is
// committed: a rolled-back save puts them back.
void TFolderManagement::FinishDeletion(TFolder*& folder) {
  TFolder* f = folder;
  if (f->Management == nullptr) RaiseAssertion("Can't perform operation folder manager is missing !", 1534);
  const bool isRoot = f == RootFolder.get();
  if (f->Id > 0 && !isRoot) DeleteFolderRows(f);
  while (!f->Filters.empty()) {
    TFilter* filter = f->Filters.back();
    FilterWorkShop->DeleteFilter(filter, false, Transaction);
    f->Filters.pop_back();
    pending_.push_back({f, nullptr, filter, f->Filters.size()});
  }
  if (f->Parent != nullptr) {
    auto& siblings = f->Parent->SubFolders->List;
    const auto at = std::find(siblings.begin(), siblings.end(), f);
    if (at != siblings.end()) {
      pending_.push_back({f->Parent, f, nullptr, static_cast<size_t>(at - siblings.begin())});
      siblings.erase(at);
    } else {
      pending_.push_back({nullptr, f, nullptr, 0});
    }
  } else if (!isRoot) {
    pending_.push_back({nullptr, f, nullptr, 0});
  }
  if (isRoot) {
    f->SubFolders->Clear();
    f->State = f->Id != 0 ? TFolder::kStateSaved : TFolder::kStateNew;
    return;
  }
  folder = nullptr;
}

void TFolderManagement::UndoPendingRemovals() {
  for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
    if (it->filter != nullptr) {
      it->holder->Filters.insert(it->holder->Filters.begin() + static_cast<std::ptrdiff_t>(it->index), it->filter);
    } else if (it->holder != nullptr) {
      auto& list = it->holder->SubFolders->List;
      list.insert(list.begin() + static_cast<std::ptrdiff_t>(it->index), it->folder);
    }
  }
  pending_.clear();
}

void TFolderManagement::FreePendingRemovals() {
  std::vector<PendingRemoval> pending;
  pending.swap(pending_);
  for (PendingRemoval& removal : pending) {
    if (removal.filter != nullptr) {
      TFilterWorkShop::FreeFilter(removal.filter);
    } else if (removal.folder != nullptr && removal.folder != RootFolder.get()) {
      delete removal.folder;
    }
  }
}

void TFolderManagement::MoveFiltersToFolder(const TDynIntArray& ids, int32_t folderId) {
  if (ids.empty()) return;
  TTranWrapper* transaction = NewTransaction(true);
  transaction->SetDatabase(Database);
  TQueryWrapper* query = NewQuery(true);
  query->SetTransaction(transaction);
  try {
    transaction->StartTransaction();
    model::ExecLines(query, {"update sqlfilters", "set folderId=" + std::to_string(folderId),
                             "where " + model::InListCondition("id", ids), " and userid=" + std::to_string(UserId)});
    SafeCloseQuery(query);
    transaction->Commit();
  } catch (...) {
    ReleaseQuery(query);
    ReleaseTransaction(transaction);
    throw;
  }
  ReleaseQuery(query);
  ReleaseTransaction(transaction);
}

void TFolderManagement::MoveAllFilters(TFolder* source, TFolder* target, bool recursive) {
  if (source == nullptr || target == nullptr) return;
  auto lock = source->LockTree();
  if (target == source || (recursive && source->Contains(target))) return;
  while (!source->Filters.empty()) {
    if (!source->MoveFilter(source->Filters.front(), target)) RaiseMessage(kFilterMoveFailed);
  }
  if (!recursive) return;
  for (TFolder* sub : source->SubFolders->List) MoveAllFilters(sub, target, true);
}

bool TFolderManagement::HasEditRight() const {
  const int64_t self = platform::CurrentThreadId();
  std::lock_guard lock(edit_rights_lock_);
  return std::find(edit_rights_.begin(), edit_rights_.end(), self) != edit_rights_.end();
}

void TFolderManagement::SetEditRight(int64_t threadId) {
  std::lock_guard lock(edit_rights_lock_);
  if (threadId > 0) {
    edit_rights_.push_back(threadId);
    return;
  }
  const auto at = std::find(edit_rights_.begin(), edit_rights_.end(), -threadId);
  if (at != edit_rights_.end()) edit_rights_.erase(at);
}

}  // namespace tidewell
