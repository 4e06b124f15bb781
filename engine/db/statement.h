// SPDX-License-Identifier: MIT
// A SQL statement: text, prepared form, positional parameters, and the
// current row of its result.
//
// Use:
//   statement.SetTransaction(&transaction);       // started on a database
//   statement.SQL.Add("select id, title from feeds");
//   statement.SQL.Add("where feed_id=?");
//   statement.Params(0).SetInteger(7);             // prepares when needed
//   statement.ExecQuery();                          // a select is on its first row
//   while (!statement.Eof()) {
//     int32_t id = statement.FieldByName("ID").AsInteger();
//     statement.Next();
//   }
//   statement.Close();
//
// Contract:
// - Prepare and ExecQuery REQUIRE a transaction that is active; they raise
//   kt::Exception otherwise and EFirebirdError for what the engine rejects.
//   After any failure the statement and the connection stay usable.
// - The prepared form follows the SQL text and the attachment: a changed
//   text, a transaction on another database or a new attachment makes the
//   next use prepare again. No engine handle outlives its attachment, and
//   SetTransaction to a transaction of another attachment (or to none) drops
//   the prepared form at once. Parameter values survive re-preparing the
//   same text and are reset by a new text.
// - Prepared forms are kept per text: going back to a text this statement
//   ran before on the same attachment reuses its prepared form instead of
//   preparing it again (the most recent kKeptForms texts are kept, of
//   which at most kUntriedForms that have not yet come back: a text that
//   names its values, one per feed, is seldom run twice, and each form
//   holds the engine's memory). A text whose untried form was dropped and
//   that comes back is kept from its second prepare on.
//   Unprepare, and preparing a definition (create, alter, drop...), drop
//   them all: a kept form holds its tables. Definitions run on other
//   statements of the attachment are not seen.
// - ExecQuery of a statement with a result set opens it on its first row;
//   other statements run at once (a statement that returns one row, such as
//   "insert ... returning", leaves that row current). Eof() is true when no
//   row is current.
// - "substring(? from 1 for N)" cuts the bound text to N characters before
//   it reaches the engine, which would otherwise reject a text longer than
//   the column it describes for that parameter.
// - One thread at a time per statement. Statements of several threads may
//   share one Database, each with its own Transaction.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <vector>

#include "engine/db/firebird_client.h"
#include "engine/db/input_message.h"
#include "engine/db/sql_text.h"
#include "engine/db/statement_field.h"
#include "engine/db/statement_param.h"

namespace tidewell::db {

class Database;
class Transaction;

class Statement {
 public:
  static constexpr size_t kKeptForms = 32;
  // Of the kept forms, those not yet run a second time; the rest are forms
  // of texts that came back.
  static constexpr size_t kUntriedForms = 4;
  // Texts of dropped untried forms remembered, to know them when they come
  // back.
  static constexpr size_t kDroppedTexts = 64;

  Statement() = default;
  virtual ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  SqlText SQL;

  // Closes an open result set. Never raises: a prepared form that must go
  // is dropped even when the engine fails to free it.
  void SetTransaction(Transaction* transaction);
  // The transaction, or nullptr when none is set.
  Transaction* GetTransaction() const { return transaction_; }
  // The transaction's database, or nullptr.
  Database* GetDatabase() const;

  void Prepare();
  bool Prepared() const { return static_cast<bool>(handle_); }
  // Closes the result set and drops the prepared form. Handles are dropped
  // even when the engine reports a failure, which is then raised.
  void Unprepare();

  int ParamCount();
  // REQUIRES: 0 <= index < ParamCount() (else kt::Exception).
  Param& Params(int index);

  void ExecQuery();
  bool Eof() const { return !row_.hasRow; }
  // Moves to the next row; Eof() when there is none. Does nothing at Eof.
  void Next();
  // Whether a result set is open.
  bool Open() const { return static_cast<bool>(cursor_); }
  // Closes the result set, keeping the prepared form and the parameters.
  // The handle is dropped even when the engine reports a failure.
  void Close();
  // Rows changed by the last insert, update or delete.
  int64_t RowsAffected();

  // The columns of the prepared statement (none before Prepare).
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // REQUIRES: 0 <= index < FieldCount() (else kt::Exception).
  Field& Fields(int index);
  // The column with the name, compared without regard to case; kt::Exception
  // when there is none.
  Field& FieldByName(std::string_view name);
  // The index of the column with the name, or -1.
  int FieldIndex(std::string_view name) const;

 private:
  friend class Transaction;

  // Called by the transaction that ended: the engine has dropped the result
  // set, so its handle is released without closing.
  void CursorEnded();
  // A prepared form put aside while the statement runs another text.
  struct KeptForm {
    std::string text;
    fb::Ref<Firebird::IStatement> handle;
    bool hasCursor = false;
    fb::Ref<Firebird::IMessageMetadata> inputMetadata;
    fb::Ref<Firebird::IMessageMetadata> outputMetadata;
    InputMessage input;
    std::vector<Field> fields;
    std::vector<unsigned char> rowBuffer;
    std::vector<int32_t> paramCuts;
    bool reused = false;  // run again since it was prepared
  };

  void EnsurePrepared();
  void DropPreparedForm() noexcept;
  bool PreparedFormIsCurrent() const;
  bool OnPreparedAttachment(const Database* database) const;
  void KeepCurrentForm();
  bool RestoreKeptForm(const std::string& text, Database* database);
  void DropKeptForms();
  void TrimKeptForms();
  void RememberDropped(std::string text);
  bool CameBack(const std::string& text);
  void ResetParams();
  Firebird::ITransaction* ActiveTransactionHandle() const;
  void DescribeParameters();
  void DescribeFields();
  void Fetch();
  void DropCursor();

  Transaction* transaction_ = nullptr;

  // The prepared form and where it was prepared.
  fb::Ref<Firebird::IStatement> handle_;
  Database* prepared_database_ = nullptr;
  uint64_t prepared_serial_ = 0;
  uint64_t prepared_version_ = 0;
  std::string prepared_text_;
  std::list<KeptForm> kept_;  // the most recently used first
  bool reused_ = false;       // the prepared form was run again
  std::list<std::string> dropped_texts_;  // the most recently dropped first
  bool has_cursor_ = false;
  fb::Ref<Firebird::IMessageMetadata> input_metadata_;
  fb::Ref<Firebird::IMessageMetadata> output_metadata_;
  uint64_t params_version_ = ~uint64_t{0};  // text version the params belong to
  std::vector<Param> params_;
  std::vector<int32_t> param_cuts_;  // per parameter of the prepared form
  InputMessage input_;
  std::vector<Field> fields_;
  std::vector<unsigned char> row_buffer_;
  RowContext row_;

  // The open result set and the transaction it runs in.
  fb::Ref<Firebird::IResultSet> cursor_;
  Transaction* cursor_owner_ = nullptr;
};

}  // namespace tidewell::db
