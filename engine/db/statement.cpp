// SPDX-License-Identifier: MIT
#include "engine/db/statement.h"

#include <algorithm>
#include <cctype>

#include "engine/db/activity.h"
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

// A statement that defines, changes or drops objects: prepared forms kept
// on the attachment hold their tables and would make the engine refuse it.
bool IsDefinition(std::string_view sql) {
  size_t start = 0;
  while (start < sql.size() && std::isspace(static_cast<unsigned char>(sql[start]))) ++start;
  size_t end = start;
  while (end < sql.size() && std::isalpha(static_cast<unsigned char>(sql[end]))) ++end;
  const std::string_view word = sql.substr(start, end - start);
  for (std::string_view definition : {"CREATE", "ALTER", "DROP", "RECREATE", "DECLARE", "COMMENT", "GRANT", "REVOKE"})
    if (SameName(word, definition)) return true;
  return false;
}

}  // namespace

Statement::~Statement() { DropPreparedForm(); }

// A lost attachment fails the release of its handles; they are dropped all
// the same, and nobody is left to tell.
void Statement::DropPreparedForm() noexcept {
  try {
    Unprepare();
  } catch (...) {
  }
}

Database* Statement::GetDatabase() const {
  return transaction_ != nullptr ? transaction_->GetDatabase() : nullptr;
}

void Statement::SetTransaction(Transaction* transaction) {
  DropCursor();
  transaction_ = transaction;
  if (prepared_database_ != nullptr && !OnPreparedAttachment(GetDatabase())) DropPreparedForm();
}

bool Statement::OnPreparedAttachment(const Database* database) const {
  return database != nullptr && database == prepared_database_ && database->Connected() &&
         database->AttachmentSerial() == prepared_serial_;
}

bool Statement::PreparedFormIsCurrent() const {
  return OnPreparedAttachment(GetDatabase()) && SQL.Version() == prepared_version_;
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
  Database* database = GetDatabase();
  const std::string text = SQL.Text();
  const bool definition = IsDefinition(text);
  if (prepared_database_ != nullptr && OnPreparedAttachment(database) && !definition && !IsDefinition(prepared_text_))
    KeepCurrentForm();
  else
    DropPreparedForm();
  Firebird::ITransaction* transaction = ActiveTransactionHandle();
  if (database == nullptr || !database->Connected()) throw kt::Exception("Statement's database is not connected");
  if (text.empty()) throw kt::Exception("Statement's SQL text is empty");
  if (RestoreKeptForm(text, database)) return;
  Firebird::IAttachment* attachment = database->Attachment();
  activity::CountPrepare();
  handle_.Reset(fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    return attachment->prepare(status, transaction, static_cast<unsigned>(text.size()), text.c_str(),
                               static_cast<unsigned>(database->SQLDialect()),
                               Firebird::IStatement::PREPARE_PREFETCH_METADATA);
  }));
  reused_ = CameBack(text);
  prepared_database_ = database;
  prepared_serial_ = database->AttachmentSerial();
  prepared_version_ = SQL.Version();
  prepared_text_ = text;
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
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    has_cursor_ = (handle_->getFlags(status) & Firebird::IStatement::FLAG_HAS_CURSOR) != 0;
    input_metadata_.Reset(handle_->getInputMetadata(status));
    param_cuts_ = SubstringCutLengths(prepared_text_);
    param_cuts_.resize(input_metadata_->getCount(status), 0);
  });
  ResetParams();
}

// Values survive only a new prepare of the same text.
void Statement::ResetParams() {
  if (params_version_ != SQL.Version() || params_.size() != param_cuts_.size())
    params_.assign(param_cuts_.size(), Param());
  params_version_ = SQL.Version();
  for (size_t i = 0; i < params_.size(); ++i) params_[i].SetCutLength(param_cuts_[i]);
}

void Statement::KeepCurrentForm() {
  DropCursor();
  if (!handle_) return;
  KeptForm form;
  form.text = std::move(prepared_text_);
  form.handle = std::move(handle_);
  form.hasCursor = has_cursor_;
  form.inputMetadata = std::move(input_metadata_);
  form.outputMetadata = std::move(output_metadata_);
  form.input = std::move(input_);
  form.fields = std::move(fields_);
  form.rowBuffer = std::move(row_buffer_);
  form.paramCuts = std::move(param_cuts_);
  input_.Reset();
  fields_.clear();
  row_buffer_.clear();
  param_cuts_.clear();
  row_.buffer = nullptr;
  prepared_text_.clear();
  form.reused = reused_;
  kept_.push_front(std::move(form));
  TrimKeptForms();
}

// The oldest untried forms go first, then the oldest of all.
void Statement::TrimKeptForms() {
  auto untried = static_cast<size_t>(
      std::count_if(kept_.begin(), kept_.end(), [](const KeptForm& kept) { return !kept.reused; }));
  auto form = kept_.end();
  while (form != kept_.begin() && (untried > kUntriedForms || kept_.size() > kKeptForms)) {
    --form;
    if (form->reused && kept_.size() <= kKeptForms) continue;
    if (!form->reused) {
      --untried;
      RememberDropped(std::move(form->text));
    }
    fb::Ref<Firebird::IStatement> dropped = std::move(form->handle);
    form = kept_.erase(form);
    try {
      fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { dropped->free(status); });
      dropped.Forget();
    } catch (const EFirebirdError&) {
      // Released with the reference; the engine frees it with the attachment.
    }
  }
}

void Statement::RememberDropped(std::string text) {
  dropped_texts_.push_front(std::move(text));
  if (dropped_texts_.size() > kDroppedTexts) dropped_texts_.pop_back();
}

bool Statement::CameBack(const std::string& text) {
  auto dropped = std::find(dropped_texts_.begin(), dropped_texts_.end(), text);
  if (dropped == dropped_texts_.end()) return false;
  dropped_texts_.erase(dropped);
  return true;
}

bool Statement::RestoreKeptForm(const std::string& text, Database* database) {
  auto form = std::find_if(kept_.begin(), kept_.end(), [&](const KeptForm& kept) { return kept.text == text; });
  if (form == kept_.end()) return false;
  handle_ = std::move(form->handle);
  has_cursor_ = form->hasCursor;
  input_metadata_ = std::move(form->inputMetadata);
  output_metadata_ = std::move(form->outputMetadata);
  input_ = std::move(form->input);
  fields_ = std::move(form->fields);
  row_buffer_ = std::move(form->rowBuffer);
  param_cuts_ = std::move(form->paramCuts);
  prepared_text_ = std::move(form->text);
  reused_ = true;
  kept_.erase(form);
  row_.buffer = row_buffer_.data();
  row_.attachment = database->Attachment();
  prepared_version_ = SQL.Version();
  ResetParams();
  return true;
}

void Statement::DropKeptForms() {
  dropped_texts_.clear();
  while (!kept_.empty()) {
    fb::Ref<Firebird::IStatement> handle = std::move(kept_.front().handle);
    kept_.pop_front();
    try {
      fb::Invoke([&](Firebird::ThrowStatusWrapper* status) { handle->free(status); });
      handle.Forget();
    } catch (const EFirebirdError&) {
      // The reference is released anyway; the next form is dropped all the same.
    }
  }
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
  DropKeptForms();
  prepared_text_.clear();
  input_.Reset();
  input_metadata_.Reset();
  output_metadata_.Reset();
  param_cuts_.clear();
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
  activity::CountExecute();
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
