// SPDX-License-Identifier: MIT
#include "engine/db/statement.h"

#include <cctype>

#include "engine/db/database.h"
#include "engine/db/transaction.h"

namespace tidewell::db {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

Statement::~Statement() {
  try {
    Unprepare();
  } catch (const std::exception&) {
    // A destructor cannot report; the handles are dropped anyway.
  }
}

Database* Statement::GetDatabase() const {
  return transaction_ != nullptr ? transaction_->GetDatabase() : nullptr;
}

void Statement::SetTransaction(Transaction* transaction) {
  DropCursor();
  transaction_ = transaction;
  if (Prepared() && !PreparedFormIsCurrent()) Unprepare();
}

bool Statement::PreparedFormIsCurrent() const {
  const Database* database = GetDatabase();
  return database != nullptr && database == prepared_database_ && database->Connected() &&
         database->AttachmentSerial() == prepared_serial_ && SQL.Version() == prepared_version_;
}

Firebird::ITransaction* Statement::ActiveTransactionHandle() const {
  if (transaction_ == nullptr) throw kt::Exception("Statement has no transaction");
  Firebird::ITransaction* handle = transaction_->Handle();
  if (handle == nullptr) throw kt::Exception("Transaction is not active");
  return handle;
}

void Statement::EnsurePrepared() {
  if (!Prepared() || !PreparedFormIsCurrent()) Prepare();
}

void Statement::Prepare() {
  Unprepare();
  Firebird::ITransaction* transaction = ActiveTransactionHandle();
  Database* database = GetDatabase();
  if (database == nullptr || !database->Connected()) throw kt::Exception("Statement's database is not connected");
  const std::string text = SQL.Text();
  if (text.empty()) throw kt::Exception("Statement's SQL text is empty");
  Firebird::IAttachment* attachment = database->Attachment();
  handle_.Reset(fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    return attachment->prepare(status, transaction, static_cast<unsigned>(text.size()), text.c_str(),
                               static_cast<unsigned>(database->SQLDialect()),
                               Firebird::IStatement::PREPARE_PREFETCH_METADATA);
  }));
  prepared_database_ = database;
  prepared_serial_ = database->AttachmentSerial();
  prepared_version_ = SQL.Version();
  database->RegisterStatement(this);
  row_.attachment = attachment;
  try {
    DescribeParameters();
    DescribeFields();
  } catch (...) {
    Unprepare();
    throw;
  }
}

void Statement::DescribeParameters() {
  const std::vector<int32_t> cuts = SubstringCutLengths(SQL.Text());
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    has_cursor_ = (handle_->getFlags(status) & Firebird::IStatement::FLAG_HAS_CURSOR) != 0;
    input_metadata_.Reset(handle_->getInputMetadata(status));
    const unsigned count = input_metadata_->getCount(status);
    if (params_version_ != SQL.Version() || params_.size() != count) params_.assign(count, Param());
    params_version_ = SQL.Version();
  });
  for (size_t i = 0; i < params_.size(); ++i) params_[i].SetCutLength(i < cuts.size() ? cuts[i] : 0);
}

void Statement::DescribeFields() {
  fields_.clear();
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    output_metadata_.Reset(handle_->getOutputMetadata(status));
    const unsigned count = output_metadata_->getCount(status);
    for (unsigned i = 0; i < count; ++i) {
      Field::Layout layout;
      layout.name = output_metadata_->getAlias(status, i);
      layout.type = output_metadata_->getType(status, i);
      layout.subType = output_metadata_->getSubType(status, i);
      layout.scale = output_metadata_->getScale(status, i);
      layout.length = output_metadata_->getLength(status, i);
      layout.charSet = output_metadata_->getCharSet(status, i);
      layout.offset = output_metadata_->getOffset(status, i);
      layout.nullOffset = output_metadata_->getNullOffset(status, i);
      fields_.emplace_back(&row_, std::move(layout));
    }
    row_buffer_.assign(output_metadata_->getMessageLength(status), 0);
  });
  row_.buffer = row_buffer_.data();
}

void Statement::Unprepare() {
  DropCursor();
  input_.Reset();
  input_metadata_.Reset();
  output_metadata_.Reset();
  fields_.clear();
  if (prepared_database_ != nullptr) prepared_database_->UnregisterStatement(this);
  prepared_database_ = nullptr;
  if (!handle_) return;
  fb::Ref<Firebird::IStatement> handle = std::move(handle_);
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { handle->free(status); });
  handle.Forget();
}

int Statement::ParamCount() {
  EnsurePrepared();
  return static_cast<int>(params_.size());
}

Param& Statement::Params(int index) {
  EnsurePrepared();
  if (index < 0 || static_cast<size_t>(index) >= params_.size())
    throw kt::Exception("Parameter index " + std::to_string(index) + " out of range");
  return params_[static_cast<size_t>(index)];
}

void Statement::ExecQuery() {
  DropCursor();
  EnsurePrepared();
  Firebird::ITransaction* transaction = ActiveTransactionHandle();
  Firebird::IAttachment* attachment = prepared_database_->Attachment();
  Firebird::IMessageMetadata* inMetadata = nullptr;
  unsigned char* inBuffer = nullptr;
  if (!params_.empty()) {
    input_.Build(input_metadata_.get(), params_, attachment, transaction);
    inMetadata = input_.Metadata();
    inBuffer = input_.Buffer();
  }
  row_.transaction = transaction;
  if (has_cursor_) {
    cursor_.Reset(fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
      return handle_->openCursor(status, transaction, inMetadata, inBuffer, output_metadata_.get(), 0);
    }));
    cursor_owner_ = transaction_;
    cursor_owner_->AttachCursor(this);
    Fetch();
    return;
  }
  const bool returnsRow = !fields_.empty();
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    handle_->execute(status, transaction, inMetadata, inBuffer, returnsRow ? output_metadata_.get() : nullptr,
                     returnsRow ? row_buffer_.data() : nullptr);
  });
  row_.hasRow = returnsRow;
}

void Statement::Fetch() {
  row_.hasRow = false;
  const int result = fb::Invoke(
      [&](Firebird::ThrowStatusWrapper* status) { return cursor_->fetchNext(status, row_buffer_.data()); });
  row_.hasRow = result == Firebird::IStatus::RESULT_OK;
}

void Statement::Next() {
  if (!row_.hasRow) return;
  if (!cursor_) {
    row_.hasRow = false;  // the single row of an executed statement
    return;
  }
  Fetch();
}

void Statement::Close() {
  row_.hasRow = false;
  if (!cursor_) return;
  fb::Ref<Firebird::IResultSet> cursor = std::move(cursor_);
  std::exchange(cursor_owner_, nullptr)->DetachCursor(this);
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { cursor->close(status); });
  cursor.Forget();
}

void Statement::CursorEnded() {
  row_.hasRow = false;
  cursor_.Reset();
  cursor_owner_ = nullptr;
}

void Statement::DropCursor() {
  try {
    Close();
  } catch (const EFirebirdError&) {
    // The handle is dropped; a stale result set is of no further interest.
  }
}

int64_t Statement::RowsAffected() {
  if (!Prepared()) return 0;
  return fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { return handle_->getAffectedRecords(status); });
}

Field& Statement::Fields(int index) {
  if (index < 0 || static_cast<size_t>(index) >= fields_.size())
    throw kt::Exception("Field index " + std::to_string(index) + " out of range");
  return fields_[static_cast<size_t>(index)];
}

int Statement::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (SameName(fields_[i].Name(), name)) return static_cast<int>(i);
  return -1;
}

Field& Statement::FieldByName(std::string_view name) {
  const int index = FieldIndex(name);
  if (index < 0) throw kt::Exception("Field " + std::string(name) + " not found");
  return fields_[static_cast<size_t>(index)];
}

}  // namespace tidewell::db
