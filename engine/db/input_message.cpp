// SPDX-License-Identifier: MIT
#include "engine/db/input_message.h"

#include <cstring>
#include <string>

namespace tidewell::db {
namespace {

constexpr unsigned kCharSetUtf8 = 4;
constexpr int kTextBlob = 1;
constexpr unsigned kMaxVaryingBytes = 32765;
constexpr size_t kBlobSegment = 32768;
// A text for a text blob goes in the message as text, up to the longest
// text a message holds: the engine makes the blob itself, which through a
// server saves the round trips of creating, filling and closing it. Longer
// texts are written as blobs first.
constexpr unsigned kInlineBlobBytes = kMaxVaryingBytes;

bool IsTextType(unsigned type) { return type == SQL_TEXT || type == SQL_VARYING; }

// Varying slots grow in steps, so texts of similar size share one layout.
unsigned VaryingCapacity(size_t bytes, int index) {
  if (bytes > kMaxVaryingBytes)
    throw kt::Exception("Parameter " + std::to_string(index) + ": text longer than 32765 bytes");
  const size_t rounded = (bytes + 255) / 256 * 256;
  return static_cast<unsigned>(rounded == 0 ? 256 : std::min<size_t>(rounded, kMaxVaryingBytes));
}

// The first `characters` characters of a UTF-8 text.
std::string_view CutUtf8(std::string_view text, int32_t characters) {
  int32_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (seen == characters) return text.substr(0, i);
    ++seen;
  }
  return text;
}

std::string_view BoundText(const Param& param) {
  std::string_view text = param.Bytes();
  return param.CutLength() > 0 ? CutUtf8(text, param.CutLength()) : text;
}

ISC_QUAD WriteBlob(std::string_view bytes, Firebird::IAttachment* attachment, Firebird::ITransaction* transaction) {
  ISC_QUAD id{};
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    fb::Ref<Firebird::IBlob> blob(attachment->createBlob(status, transaction, &id, 0, nullptr));
    for (size_t at = 0; at < bytes.size(); at += kBlobSegment) {
      const size_t length = std::min(kBlobSegment, bytes.size() - at);
      blob->putSegment(status, static_cast<unsigned>(length), bytes.data() + at);
    }
    blob->close(status);
    blob.Forget();
  });
  return id;
}

template <typename T>
void Store(unsigned char* at, const T& value) {
  std::memcpy(at, &value, sizeof value);
}

}  // namespace

void InputMessage::Reset() {
  slots_.clear();
  metadata_.Reset();
}

void InputMessage::Build(Firebird::IMessageMetadata* described, const std::vector<Param>& params,
                         Firebird::IAttachment* attachment, Firebird::ITransaction* transaction) {
  std::vector<Slot> slots = PlanSlots(described, params);
  if (!metadata_ || slots != slots_) Layout(described, slots);
  Fill(params, attachment, transaction);
}

InputMessage::Slot InputMessage::SlotFor(Firebird::IMessageMetadata* described, unsigned index,
                                         const Param& param) {
  return fb::Invoke([&](Firebird::ThrowStatusWrapper* status) -> Slot {
    const unsigned type = described->getType(status, index);
    switch (param.GetKind()) {
      case Param::Kind::Null:
        return {type, described->getLength(status, index), described->getSubType(status, index),
                described->getCharSet(status, index), described->getScale(status, index)};
      case Param::Kind::Integer: return {SQL_LONG, 4, 0, 0, 0};
      case Param::Kind::Int64: return {SQL_INT64, 8, 0, 0, 0};
      case Param::Kind::Double: return {SQL_DOUBLE, 8, 0, 0, 0};
      case Param::Kind::DateTime: return {SQL_TIMESTAMP, 8, 0, 0, 0};
      case Param::Kind::Text:
      case Param::Kind::Blob: break;
    }
    if (type == SQL_BLOB)
      return {SQL_BLOB, 8, described->getSubType(status, index), described->getCharSet(status, index), 0};
    const unsigned charSet = IsTextType(type) ? described->getCharSet(status, index) : kCharSetUtf8;
    return {SQL_VARYING, VaryingCapacity(BoundText(param).size(), static_cast<int>(index)), 0, charSet, 0};
  });
}

std::vector<InputMessage::Slot> InputMessage::PlanSlots(Firebird::IMessageMetadata* described,
                                                        const std::vector<Param>& params) const {
  std::vector<Slot> slots;
  slots.reserve(params.size());
  for (unsigned i = 0; i < params.size(); ++i) slots.push_back(SlotFor(described, i, params[i]));
  InlineShortTextBlobs(params, slots);
  return slots;
}

void InputMessage::InlineShortTextBlobs(const std::vector<Param>& params, std::vector<Slot>& slots) {
  for (size_t i = 0; i < slots.size(); ++i) {
    Slot& slot = slots[i];
    if (slot.type != SQL_BLOB || slot.subType != kTextBlob || params[i].GetKind() != Param::Kind::Text) continue;
    const size_t length = params[i].Bytes().size();
    if (length <= kInlineBlobBytes) slot = {SQL_VARYING, VaryingCapacity(length, static_cast<int>(i)), 0, slot.charSet, 0};
  }
}

void InputMessage::Layout(Firebird::IMessageMetadata* described, const std::vector<Slot>& slots) {
  metadata_.Reset();
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    fb::Ref<Firebird::IMetadataBuilder> builder(described->getBuilder(status));
    for (unsigned i = 0; i < slots.size(); ++i) {
      const Slot& slot = slots[i];
      builder->setType(status, i, slot.type + 1);  // +1: the value may be NULL
      builder->setLength(status, i, slot.length);
      builder->setSubType(status, i, slot.subType);
      builder->setCharSet(status, i, slot.charSet);
      builder->setScale(status, i, slot.scale);
    }
    metadata_.Reset(builder->getMetadata(status));
    offsets_.resize(slots.size());
    null_offsets_.resize(slots.size());
    for (unsigned i = 0; i < slots.size(); ++i) {
      offsets_[i] = metadata_->getOffset(status, i);
      null_offsets_[i] = metadata_->getNullOffset(status, i);
    }
    buffer_.assign(metadata_->getMessageLength(status), 0);
  });
  slots_ = slots;
}

void InputMessage::Fill(const std::vector<Param>& params, Firebird::IAttachment* attachment,
                        Firebird::ITransaction* transaction) {
  for (size_t i = 0; i < params.size(); ++i) {
    const int16_t null = params[i].IsNull() ? -1 : 0;
    std::memcpy(buffer_.data() + null_offsets_[i], &null, sizeof null);
    if (!params[i].IsNull())
      WriteValue(params[i], slots_[i], buffer_.data() + offsets_[i], attachment, transaction);
  }
}

void InputMessage::WriteValue(const Param& param, const Slot& slot, unsigned char* value,
                              Firebird::IAttachment* attachment, Firebird::ITransaction* transaction) {
  switch (param.GetKind()) {
    case Param::Kind::Null: return;
    case Param::Kind::Integer: return Store(value, static_cast<int32_t>(param.IntegerValue()));
    case Param::Kind::Int64: return Store(value, param.IntegerValue());
    case Param::Kind::Double: return Store(value, param.RealValue());
    case Param::Kind::DateTime: return Store(value, fb::ToTimestamp(param.RealValue()));
    case Param::Kind::Text:
    case Param::Kind::Blob: break;
  }
  if (slot.type == SQL_BLOB) return Store(value, WriteBlob(param.Bytes(), attachment, transaction));
  const std::string_view text = BoundText(param);
  Store(value, static_cast<uint16_t>(text.size()));
  std::memcpy(value + sizeof(uint16_t), text.data(), text.size());
}

}  // namespace tidewell::db
