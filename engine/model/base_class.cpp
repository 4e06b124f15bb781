// SPDX-License-Identifier: MIT
#include "engine/model/base_class.h"

#include "engine/tidewell_msg.h"
#include "toolkit/exception.h"

namespace tidewell {
namespace {

const TBaseClass* CollectionOf(const TParentClass* parent) {
  if (auto* collection = dynamic_cast<const TBaseClass*>(parent)) return collection;
  if (auto* row = dynamic_cast<const TBaseProperty*>(parent)) return row->Owner;
  return nullptr;
}

class ExecutingFlag {
 public:
  explicit ExecutingFlag(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
  ~ExecutingFlag() { flag_ = false; }
  ExecutingFlag(const ExecutingFlag&) = delete;
  ExecutingFlag& operator=(const ExecutingFlag&) = delete;

 private:
  std::atomic<bool>& flag_;
};

}  // namespace

TBaseClass::TBaseClass(TDbConnWrapper* database) : Database(database) {
  Transaction = NewTransaction(true);
  Transaction->SetDatabase(database);
  Query = NewQuery(true);
  Query->SetTransaction(Transaction);
}

TBaseClass::TBaseClass(TParentClass* parent) {
  if (parent == nullptr) throw kt::Exception("Parent class not assigned !");
  const TBaseClass* lender = CollectionOf(parent);
  if (lender == nullptr) RaiseMessage(kRelationshipNotSupported);
  Transaction = lender->Transaction;
  Query = lender->Query;
  Parent = parent;
}

TBaseClass::~TBaseClass() {
  Items.clear();
  if (Parent != nullptr) return;
  try {
    if (Query != nullptr) Query->SetTransaction(nullptr);
  } catch (...) {
    // Released below all the same.
  }
  ReleaseQuery(Query);
  ReleaseTransaction(Transaction);
}

void TBaseClass::Clear() {
  Items.clear();
  Loaded = false;
}

void TBaseClass::Load(const std::string& order, int32_t count) { LoadById(Id, order, 0, count); }

const TBaseClass* TBaseClass::StatementLender() const { return Parent ? CollectionOf(Parent) : nullptr; }

void TBaseClass::CheckQueryIdle() const {
  for (const TBaseClass* c = this; c != nullptr; c = c->StatementLender()) {
    if (c->Executing)
      throw kt::Exception(std::string("Can't perform execSQL operation. Query active ? {") + ClassName() + "}");
  }
}

void TBaseClass::OpenQuery() {
  CheckQueryIdle();
  ExecutingFlag executing(Executing);
  ExecQueryTimed(Query, true);
}

void TBaseClass::Close() {
  CheckQueryIdle();
  Clear();
}

// A load's read sees the rows as they were at its start: a read-committed
// one that writes nothing holds no version back, so a blob of a row it read
// can be cleared away by a writer before it is read.
bool TBaseClass::StartTransactionIfIdle(bool readOnly) {
  if (Transaction->InTransaction()) return false;
  if (readOnly) {
    Transaction->StartSnapshot();
  } else {
    Transaction->StartTransaction();
  }
  return true;
}

void TBaseClass::ResetQuery() {
  SafeCloseQuery(Query);
  Query->SQL.Clear();
}

void TBaseClass::AbandonLoad() noexcept {
  SafeCloseQuery(Query);
  try {
    Query->SQL.Clear();
    if (Transaction->InTransaction()) Transaction->Rollback();
  } catch (...) {
    // The rollback ends the transaction even when the engine complains.
  }
}

void TBaseClass::ReadRows(const RowReader& readRow) {
  OpenQuery();
  while (!Query->Eof() && !Cancel) {
    readRow(*Query);
    Query->Next();
  }
}

void TBaseClass::RunLoad(const LoadRequest& request, const RowReader& readRow) {
  Clear();
  Cancel = false;
  try {
    const bool started = StartTransactionIfIdle(true);
    ResetQuery();
    for (const std::string& line : request.lines) Query->SQL.Add(line);
    if (request.bind) request.bind(*Query);
    ReadRows(readRow);
    Loaded = true;
    ResetQuery();
    // A transaction the caller had started stays the caller's to end.
    if (started) Transaction->Commit();
  } catch (const kt::EAbort&) {
    AbandonLoad();
    if (!request.quietAbort) throw;
  } catch (...) {
    AbandonLoad();
    throw;
  }
}

TBaseProperty* TBaseClass::ItemAt(int32_t index, int32_t outOfRangeMessage) const {
  if (index < 0 || index >= GetCount()) RaiseMessage(outOfRangeMessage);
  return Items[static_cast<size_t>(index)].get();
}

}  // namespace tidewell
