// SPDX-License-Identifier: MIT
// The folder tree of saved filters: TFolder nodes (stored in table folders)
// holding filter roots (SQLFilters.folderid) and subfolders, and
// TFolderManagement, which owns the root folder and writes the tree.
//
// Ownership: a folder owns its filters and its subfolders (TSubFolders).
// Operations that take a filter or a folder and return true take it over;
// on false the caller keeps it. The root folder belongs to the management.
//
// States: a folder is new (1) until saved, saved (0), modified (3) after a
// change, deleted (2) while its deletion is saved. Changes stay in memory
// until SaveAll (or TFolder::Delete) writes them.
//
// Protected folders: a folder with Access above 0 can only be changed, and
// filters and folders moved into or out of it, by a thread holding an edit
// right (TFolderManagement::SetEditRight). Refused changes return false and
// leave everything as it was.
//
// Threads: every folder operation of one management serialises on its
// re-entrant lock; the edit rights have their own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/model/tidewell_filters.h"

namespace tidewell {

class TFolder;
class TFolderManagement;
class TtidewellDbHelper;

// The subfolders of a folder; frees them on Clear and on destruction.
class TSubFolders {
 public:
  TSubFolders() = default;
  ~TSubFolders();
  TSubFolders(const TSubFolders&) = delete;
  TSubFolders& operator=(const TSubFolders&) = delete;

  int32_t Count() const { return static_cast<int32_t>(List.size()); }
  // Raises "Invalid item index" outside 0 to Count() - 1.
  TFolder* GetItem(int32_t index) const;
  // Takes the folder over. nullptr raises "Folder is unassigned", an empty
  // name "Folder has no name"; a folder in the list already stays once.
  void Add(TFolder* folder);
  // Takes the folder out without freeing it; true when it was there.
  bool Remove(TFolder* folder);
  void Clear();

  std::vector<TFolder*> List;
};

class TFolder {
 public:
  enum : uint8_t { kStateSaved = 0, kStateNew = 1, kStateDeleted = 2, kStateModified = 3 };

  // management may be nullptr (no lock, no edit rights: protected folders
  // then refuse every change).
  explicit TFolder(TFolderManagement* management);
  ~TFolder();
  TFolder(const TFolder&) = delete;
  TFolder& operator=(const TFolder&) = delete;

  // Takes the filter root over (its FolderId becomes Id); false for nullptr,
  // a filter already here, or a protected folder without edit right.
  bool AddFilter(TFilter* filter);
  // Raises "Invalid item index" outside 0 to FilterCount() - 1.
  TFilter* GetFilter(int32_t index) const;
  int32_t FilterCount() const;
  int32_t SubFolderCount() const;
  TFolder* GetSubFolder(int32_t index) const;
  // Deletes the filter's rows (own transaction), frees it and sets the
  // variable to nullptr; true. False without edit right (nothing done).
  // Raises "Can't perform this operation ! Managment class is missing"
  // without management, "Filter class not found" for a filter not here.
  bool DeleteFilter(TFilter*& filter);
  bool DeleteFilterAt(int32_t index);
  // Hands the filter to target; false for nullptr arguments, a filter not
  // here, or a protected source or target without edit right.
  bool MoveFilter(TFilter* filter, TFolder* target);
  // Makes this folder a subfolder of newParent. nullptr, or a folder that is
  // not among its parent's subfolders, raises "Folder not found !". False
  // without edit right where one is needed, and for a newParent that is this
  // folder or lies below it (the tree would lose the branch).
  bool MoveTo(TFolder* newParent);
  // Takes the folder over as a subfolder (moving it when it has another
  // parent). False for nullptr, without edit right, and for this folder or
  // one of its ancestors. The TSubFolders checks apply.
  bool AddSubFolder(TFolder* folder);
  void SetName(const WideString& name);
  const WideString& GetName() const { return name_; }
  // True when folder is this one or lies below it.
  bool Contains(const TFolder* folder) const;

  // Deletes the folder with its subfolders and filters from the database
  // and from the tree in the management's transaction; true. The folder
  // object is freed and the variable set to nullptr, except for the root,
  // which stays emptied. False without edit right (nothing done). Raises
  // "Can't perform this operation ! Managment class is missing" without
  // management; a failure rolls back, leaving database and tree as they were.
  static bool Delete(TFolder*& folder);

  int32_t Access = 0;
  TFolderManagement* Management;
  std::vector<TFilter*> Filters;  // owned
  int32_t Id = 0;                 // folders.id; 0 while not stored
  std::unique_ptr<TSubFolders> SubFolders;
  int16_t Weight = 0;
  uint8_t State = kStateNew;
  TFolder* Parent = nullptr;  // nullptr for the root

 private:
  friend class TFolderManagement;
  // Whether the calling thread may change this folder.
  bool MayChange() const;
  void MarkModified();
  void DetachFromParent();
  std::unique_lock<std::recursive_mutex> LockTree() const;

  WideString name_;
};

class TFolderManagement {
 public:
  // REQUIRES: database outlives the management. dbHelper inserts the folder
  // rows; nullptr: a helper of the management's own.
  explicit TFolderManagement(TDbConnWrapper* database, TtidewellDbHelper* dbHelper = nullptr);
  ~TFolderManagement();
  TFolderManagement(const TFolderManagement&) = delete;
  TFolderManagement& operator=(const TFolderManagement&) = delete;

  TFolder* GetRootFolder() const { return RootFolder.get(); }
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  std::recursive_mutex& Mutex() { return lock_; }

  // A folder of this management that is stored already (State modified);
  // the caller owns it until it hands it to a folder.
  TFolder* NewFolder(const WideString& name, int32_t id, int32_t access);
  // Writes every change of the tree in one transaction; a failure rolls
  // back and passes on (the tree keeps the ids it had received).
  void SaveAll();
  // Writes one folder and what hangs below it, in the management's running
  // transaction, which the caller ends. A deleted folder other than the root
  // leaves the tree and the variable is set to nullptr; its object is freed
  // by the next SaveAll or TFolder::Delete (or with the management).
  void SaveFolder(TFolder*& folder, int32_t depth);
  // Replaces the tree by the one stored for UserId: the root folder (the
  // row with parent 0 named "*"), the folders below it with their saved
  // filters, and the access value of each subscription list's folder. Every
  // loaded folder is saved (State 0). Without a stored root the tree stays
  // an unsaved root. Runs in a transaction of its own; a failure leaves the
  // tree as it was and passes on.
  void LoadFromDatabase();
  // Loads the tree when its root has no id yet (a tree built in memory keeps
  // its folders and takes the stored root's id), and stores a root folder
  // when the database has none. Failures pass on.
  void EnsureRootFolder();
  // Sets folderId of the filter rows to folderId, in a transaction of its own.
  void MoveFiltersToFolder(const TDynIntArray& ids, int32_t folderId);
  // Moves every filter of source to target, with recursive those of its
  // subfolders too; raises "Filter move failed !" when a move is refused.
  // Does nothing when target is source, or, with recursive, lies below it
  // (the filters would move forever).
  void MoveAllFilters(TFolder* source, TFolder* target, bool recursive);

  // Whether the calling thread holds an edit right.
  bool HasEditRight() const;
  // threadId above 0 grants, below 0 withdraws one grant of -threadId; 0
  // withdraws one grant of 0.
  void SetEditRight(int64_t threadId);

  int32_t UserId = 0;
  TDbConnWrapper* Database;
  TTranWrapper* Transaction;
  TQueryWrapper* Query;
  std::unique_ptr<TFolder> RootFolder;
  std::unique_ptr<TFilterWorkShop> FilterWorkShop;

 private:
  void InsertFolderRow(TFolder* folder);
  void UpdateFolderRow(TFolder* folder);
  void DeleteFolderRows(TFolder* folder);
  void SaveFolderFilters(TFolder* folder);
  void SaveSubFolders(TFolder* folder, int32_t depth);
  void FinishDeletion(TFolder*& folder);
  void MoveFilterRow(TFilter* filter, int32_t folderId);
  // Runs save in the management's transaction and commits. On failure the
  // transaction is rolled back and the tree gets back the folders, filters,
  // ids and states it had, matching the database again.
  void RunSave(const std::function<void(TFolder*&)>& save, TFolder*& folder);
  void UndoPendingRemovals();
  // The loaded tree's parts (tidewell_folders_load.cpp).
  struct LoadedRows;
  void ReadFolderRows(LoadedRows& rows);
  void ReadFilterRows(LoadedRows& rows);
  void AdoptLoadedTree(LoadedRows& rows);
  // The id of the stored root folder's row; 0 when there is none.
  int32_t StoredRootId();
  void FreePendingRemovals();

  friend class TFolder;
  struct SaveSnapshot;
  // A filter (filter set) or folder (folder set) taken out of holder at index
  // by a deletion not yet committed.
  struct PendingRemoval {
    TFolder* holder;
    TFolder* folder;
    TFilter* filter;
    size_t index;
  };

  std::recursive_mutex lock_;
  std::unique_ptr<TtidewellDbHelper> own_helper_;
  TtidewellDbHelper* db_helper_;
  mutable std::mutex edit_rights_lock_;
  std::vector<int64_t> edit_rights_;  // guarded by edit_rights_lock_
  std::vector<PendingRemoval> pending_;  // guarded by lock_
};

}  // namespace tidewell
