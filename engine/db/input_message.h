// SPDX-License-Identifier: MIT
// Internal to the database access layer: the message that carries a
// statement's parameter values to the engine. Its layout follows the values
// bound (not the types the engine described), so the engine converts them;
// the layout is kept while the kinds and sizes of the values stay the same.
// Short texts for text blobs travel as texts; the engine makes the blobs.
#pragma once

#include <vector>

#include "engine/db/firebird_client.h"
#include "engine/db/statement_param.h"

namespace tidewell::db {

class InputMessage {
 public:
  // Drops the layout (the statement was prepared anew).
  void Reset();
  // Lays out and fills the message; blob values are written as blobs of the
  // transaction first.
  void Build(Firebird::IMessageMetadata* described, const std::vector<Param>& params,
             Firebird::IAttachment* attachment, Firebird::ITransaction* transaction);
  Firebird::IMessageMetadata* Metadata() const { return metadata_.get(); }
  unsigned char* Buffer() { return buffer_.data(); }

 private:
  struct Slot {
    unsigned type = 0;
    unsigned length = 0;
    int subType = 0;
    unsigned charSet = 0;
    int scale = 0;
    bool operator==(const Slot&) const = default;
  };

  static Slot SlotFor(Firebird::IMessageMetadata* described, unsigned index, const Param& param);
  std::vector<Slot> PlanSlots(Firebird::IMessageMetadata* described, const std::vector<Param>& params) const;
  static void InlineShortTextBlobs(const std::vector<Param>& params, std::vector<Slot>& slots);
  void Layout(Firebird::IMessageMetadata* described, const std::vector<Slot>& slots);
  void Fill(const std::vector<Param>& params, Firebird::IAttachment* attachment,
            Firebird::ITransaction* transaction);
  static void WriteValue(const Param& param, const Slot& slot, unsigned char* value,
                         Firebird::IAttachment* attachment, Firebird::ITransaction* transaction);

  std::vector<Slot> slots_;
  fb::Ref<Firebird::IMessageMetadata> metadata_;
  std::vector<unsigned> offsets_;
  std::vector<unsigned> null_offsets_;
  std::vector<unsigned char> buffer_;
};

}  // namespace tidewell::db
