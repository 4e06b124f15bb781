// SPDX-License-Identifier: MIT
#include "engine/db/tidewell_compability.h"

#include <ctime>
#include <memory>

namespace tidewell {
namespace {

TDateTime LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // Days from 1899-12-30 via the civil-from-days count of 1970-01-01.
  const int64_t secondsOfDay = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  const int64_t localSeconds = static_cast<int64_t>(now) + local.tm_gmtoff;
  const int64_t days = (localSeconds - secondsOfDay) / 86400;
  constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 as TDateTime
  return kUnixEpochDays + static_cast<double>(days) + static_cast<double>(secondsOfDay) / 86400.0;
}

// The two process-wide pools; the transaction pool is freed first.
struct ProcessPools {
  ProcessPools() {
    query = new TQueryObjectPool();
    transaction = new TTransactionObjectPool();
  }
  ~ProcessPools() {
    delete transaction.load();
    transaction = nullptr;
    delete query.load();
    query = nullptr;
  }
  std::atomic<TQueryObjectPool*> query{nullptr};
  std::atomic<TTransactionObjectPool*> transaction{nullptr};
};

ProcessPools process_pools;

template <typename T>
T* Acquire(TPoolBase& pool) {
  if (void* found = pool.FindFree()) return static_cast<T*>(found);
  // Counting and adding are two steps: concurrent acquisitions may pass the
  // limit by a few records, which is accepted.
  const int32_t count = pool.RecordCount();
  auto fresh = std::make_unique<T>();
  if (count >= TPoolBase::kMaxRecords) return fresh.release();
  pool.AddItem(fresh.get(), true, true);
  return fresh.release();
}

}  // namespace

// ---------------------------------------------------------------- pools

TPoolBase::TPoolBase() : records_([this](void* item) { FreeItem(static_cast<TPoolRecord*>(item)); }) {}

TPoolBase::~TPoolBase() = default;

void TPoolBase::DestroyRecords() {
  Tag = 255;
  try {
    records_.Clear();
  } catch (...) {
    // Every record is freed by Clear; a failing object release changes nothing.
  }
}

void TPoolBase::FreeItem(TPoolRecord* record) {
  std::unique_ptr<TPoolRecord> owned(record);
  if (owned->object != nullptr) DisposeObject(owned->object);
}

bool TPoolBase::MarkInUse(TPoolRecord* record) {
  bool expected = false;
  if (!record->inUse.compare_exchange_strong(expected, true)) return false;
  record->timeStamp = LocalNow();
  return true;
}

bool TPoolBase::MatchObject(TPoolRecord* record, void* object) { return record->object == object; }

void TPoolBase::AddItem(void* object, bool atHead, bool inUse) {
  auto* record = new TPoolRecord();
  record->inUse = inUse;
  record->object = object;
  record->timeStamp = LocalNow();
  records_.Add(record, atHead);
}

bool TPoolBase::ReleaseItem(void* object) {
  DetachObject(object);
  TRoundListNode* node = records_.Find(object, [this](void* item, void* wanted) {
    return MatchObject(static_cast<TPoolRecord*>(item), wanted);
  });
  if (node == nullptr) return false;
  static_cast<TPoolRecord*>(node->item)->inUse.store(false);
  return true;
}

void* TPoolBase::FindFree() {
  TRoundListNode* node =
      records_.Find(nullptr, [this](void* item, void*) { return MarkInUse(static_cast<TPoolRecord*>(item)); });
  return node != nullptr ? static_cast<TPoolRecord*>(node->item)->object : nullptr;
}

bool TPoolBase::Owns(void* object) {
  return records_.Find(object, [this](void* item, void* wanted) {
           return MatchObject(static_cast<TPoolRecord*>(item), wanted);
         }) != nullptr;
}

TTransactionObjectPool::~TTransactionObjectPool() { DestroyRecords(); }

void TTransactionObjectPool::DetachObject(void* object) {
  try {
    static_cast<TTranWrapper*>(object)->SetDatabase(nullptr);
  } catch (const std::exception&) {
    // Only an active transaction refuses; the release rolled it back.
  }
}

void TTransactionObjectPool::DisposeObject(void* object) { ReleaseTransaction(static_cast<TTranWrapper*>(object)); }

TQueryObjectPool::~TQueryObjectPool() { DestroyRecords(); }

void TQueryObjectPool::DetachObject(void* object) {
  try {
    static_cast<TQueryWrapper*>(object)->SetTransaction(nullptr);
  } catch (const std::exception&) {
    // The statement's handles are dropped even when the engine complains.
  }
}

void TQueryObjectPool::DisposeObject(void* object) { ReleaseQuery(static_cast<TQueryWrapper*>(object)); }

TTransactionObjectPool* TransactionObjectPool() { return process_pools.transaction.load(); }

TQueryObjectPool* QueryObjectPool() { return process_pools.query.load(); }

void EnablePools() { TEST_SetPoolsEnabled(true); }

void TEST_SetPoolsEnabled(bool enabled) {
  if (TTransactionObjectPool* pool = TransactionObjectPool()) pool->Enabled = enabled;
  if (TQueryObjectPool* pool = QueryObjectPool()) pool->Enabled = enabled;
}

// ---------------------------------------------------------------- handles

TQueryWrapper* NewQuery(bool usePool) {
  TQueryObjectPool* pool = QueryObjectPool();
  if (pool != nullptr && usePool && pool->Enabled) return Acquire<TQueryWrapper>(*pool);
  return new TQueryWrapper();
}

TTranWrapper* NewTransaction(bool usePool) {
  TTransactionObjectPool* pool = TransactionObjectPool();
  if (pool != nullptr && usePool && pool->Enabled) return Acquire<TTranWrapper>(*pool);
  return new TTranWrapper();
}

// The being-destroyed test comes first: a pool being destroyed is in the
// middle of clearing its record list and must not be searched.
void ReleaseQuery(TQueryWrapper* query) {
  if (query == nullptr) return;
  TQueryObjectPool* pool = QueryObjectPool();
  if (pool == nullptr || pool->BeingDestroyed() || !pool->Owns(query)) {
    delete query;
    return;
  }
  SafeCloseQuery(query);
  query->SQL.Clear();
  // The next user may work on another attachment: keep no engine handle.
  SafeUnprepareQuery(query);
  pool->ReleaseItem(query);
}

void ReleaseTransaction(TTranWrapper* transaction) {
  if (transaction == nullptr) return;
  TTransactionObjectPool* pool = TransactionObjectPool();
  if (pool == nullptr || pool->BeingDestroyed() || !pool->Owns(transaction)) {
    delete transaction;
    return;
  }
  // Uncommitted work must not pass to the next user of the transaction.
  if (transaction->InTransaction()) {
    try {
      transaction->Rollback();
    } catch (const std::exception&) {
      // Rollback ends the transaction even when the engine reports a failure.
    }
  }
  pool->ReleaseItem(transaction);
}

bool SafeCloseQuery(TQueryWrapper* query) {
  if (query == nullptr) return false;
  try {
    query->Close();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool SafeUnprepareQuery(TQueryWrapper* query) {
  if (query == nullptr) return false;
  try {
    query->Unprepare();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

int32_t WholeSecondsBetween(std::chrono::steady_clock::time_point start, std::chrono::steady_clock::time_point end) {
  return static_cast<int32_t>(std::chrono::duration_cast<std::chrono::seconds>(end - start).count());
}

void ExecQueryTimed(TQueryWrapper* query, bool isSelect) {
  if (query == nullptr) throw kt::Exception("ExecQueryTimed: no statement");
  query->isSelect = isSelect;
  query->elapsed = 0;
  const auto start = std::chrono::steady_clock::now();
  query->ExecQuery();
  query->elapsed = WholeSecondsBetween(start, std::chrono::steady_clock::now());
}

bool StoredTogether(TQueryWrapper* query, const std::string& sql, const std::function<void()>& bind) {
  try {
    query->Close();
    query->SQL.Clear();
    query->SQL.Add(sql);
    bind();
    ExecQueryTimed(query, false);
    query->Close();
    return true;
  } catch (const kt::EAbort&) {
    throw;
  } catch (const std::exception&) {
    SafeCloseQuery(query);
    return false;
  }
}

void ClearSqlClause(std::string& clause) { clause.clear(); }

}  // namespace tidewell
