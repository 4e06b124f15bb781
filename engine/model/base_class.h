// SPDX-License-Identifier: MIT
// A data-model collection: runs one select and keeps the rows it read.
//
// A collection created on a database owns a pooled transaction and statement
// and gives them back when destroyed. A collection created with a parent (a
// collection or a row) borrows the statement and transaction of the
// collection at the top of its chain and never releases them; parent and
// children are therefore used one after the other, never nested.
//
// Loads follow one pattern (RunLoad): clear the rows, start the transaction
// when it is idle, run the select, read rows until the end or until Cancel is
// set, set Loaded, close the statement, commit what the load started. A
// failed load closes the statement, rolls back an active transaction and
// passes the failure on (some loads end quietly on EAbort); the rows read so
// far stay and the collection stays usable.
//
// Threads: one thread at a time; only Cancel may be set from another one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/db/tidewell_compability.h"
#include "engine/model/base_property.h"
#include "engine/model/parent_class.h"

namespace tidewell {

class TBaseClass : public TParentClass {
 public:
  // On a database: a pooled transaction and statement of its own.
  explicit TBaseClass(TDbConnWrapper* database);
  // With a parent collection or row: borrows its statement and transaction.
  // A nil parent: "Parent class not assigned !"; a row without owner:
  // "Current class relationship not supported !".
  explicit TBaseClass(TParentClass* parent);
  // Never throws: the statement and transaction go back to the pools even
  // while a load of another thread were running (call Close to be told).
  ~TBaseClass() override;

  // Frees every row; Loaded false.
  virtual void Clear();
  // LoadById with the own Id, skip 0.
  virtual void Load(const std::string& order, int32_t count);
  virtual void LoadById(int32_t key, const std::string& order, int32_t skip, int32_t count) = 0;
  // The class name used in messages.
  virtual const char* ClassName() const { return "TBaseClass"; }
  // Whether feed rows may be created with this collection as owner.
  virtual bool AcceptsFeedRows() const { return false; }

  int32_t GetCount() const { return static_cast<int32_t>(Items.size()); }
  // "Can't perform execSQL operation. Query active ? {<class>}" while this
  // collection or one it shares the statement with is executing.
  void CheckQueryIdle() const;
  // CheckQueryIdle, then runs the statement as a select.
  void OpenQuery();
  // The explicit end of use: CheckQueryIdle, then the rows are freed. The
  // statement and transaction are given back by the destructor.
  void Close();

  int32_t OwnerId = 0;
  std::vector<std::unique_ptr<TBaseProperty>> Items;
  TParentClass* Parent = nullptr;
  bool Loaded = false;
  int32_t Id = 0;
  std::atomic<bool> Cancel{false};
  std::atomic<bool> Executing{false};
  TDbConnWrapper* Database = nullptr;
  TTranWrapper* Transaction = nullptr;
  TQueryWrapper* Query = nullptr;

 protected:
  using RowReader = std::function<void(TQueryWrapper& query)>;
  using ParamBinder = std::function<void(TQueryWrapper& query)>;

  struct LoadRequest {
    std::vector<std::string> lines;  // the select, line by line
    ParamBinder bind;                // optional
    bool quietAbort = false;         // EAbort ends the load without raising
  };

  // The load pattern; readRow copies the current row into a new row object.
  void RunLoad(const LoadRequest& request, const RowReader& readRow);
  // Starts the transaction unless it is active; true when it was started.
  // A read-only one is a snapshot: rows read keep their blobs while others
  // rewrite them.
  bool StartTransactionIfIdle(bool readOnly = false);
  // Closes the statement (failures swallowed) and clears its text.
  void ResetQuery();
  // After a failure: statement closed, active transaction rolled back.
  void AbandonLoad() noexcept;
  // The row at index, or the message raised when index is out of range.
  TBaseProperty* ItemAt(int32_t index, int32_t outOfRangeMessage) const;

 private:
  // The collection whose statement this one borrows, or nullptr.
  const TBaseClass* StatementLender() const;
  void ReadRows(const RowReader& readRow);
};

}  // namespace tidewell
