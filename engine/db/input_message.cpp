// SPDX-License-Identifier: MIT
#include "engine/db/input_message.h"

#include <cstring>
#include <string>

namespace tidewell::db {
namespace {

constexpr unsigned kCharSetUtf8 = 4;
constexpr unsigned kMaxVaryingBytes = 32765;
constexpr size_t kBlobSegment = 32768;

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

std::vector<InputMessage::Slot> InputMessage::PlanSlots(Firebird::IMessageMetadata* described,
                                                        const std::vector<Param>& params) const {
  std::vector<Slot> slots(params.size());
  fb::Invoke([&](Firebird::ThrowStatusWrapper* status) {
    for (unsigned i = 0; i < params.size(); ++i) {
      const unsigned type = described->getType(status, i);
      Slot& slot = slots[i];
      switch (params[i].GetKind()) {
        case Param::Kind::Null:
          slot = {type, described->getLength(status, i), described->getSubType(status, i),
                  described->getCharSet(status, i), described->getScale(status, i)};
          break;
        case Param::Kind::Integer: slot = {SQL_LONG, 4, 0, 0, 0}; break;
        case Param::Kind::Int64: slot = {SQL_INT64, 8, 0, 0, 0}; break;
        case Param::Kind::Double: slot = {SQL_DOUBLE, 8, 0, 0, 0}; break;
        case Param::Kind::DateTime: slot = {SQL_TIMESTAMP, 8, 0, 0, 0}; break;
        case Param::Kind::Text:
        case Param::Kind::Blob:
          if (type == SQL_BLOB) {
            slot = {SQL_BLOB, 8, described->getSubType(status, i), described->getCharSet(status, i), 0};
          } else {
            const unsigned charSet = IsTextType(type) ? described->getCharSet(status, i) : kCharSetUtf8;
            slot = {SQL_VARYING, VaryingCapacity(BoundText(params[i]).size(), static_cast<int>(i)), 0, charSet, 0};
          }
          break;
      }
    }
  });
  return slots;
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
    const Param& param = params[i];
    unsigned char* value = buffer_.data() + offsets_[i];
    const int16_t null = param.IsNull() ? -1 : 0;
    std::memcpy(buffer_.data() + null_offsets_[i], &null, sizeof null);
    switch (param.GetKind()) {
      case Param::Kind::Null: break;
      case Param::Kind::Integer: {
        const int32_t number = static_cast<int32_t>(param.IntegerValue());
        std::memcpy(value, &number, sizeof number);
        break;
      }
      case Param::Kind::Int64: {
        const int64_t number = param.IntegerValue();
        std::memcpy(value, &number, sizeof number);
        break;
      }
      case Param::Kind::Double: {
        const double number = param.RealValue();
        std::memcpy(value, &number, sizeof number);
        break;
      }
      case Param::Kind::DateTime: {
        const ISC_TIMESTAMP stamp = fb::ToTimestamp(param.RealValue());
        std::memcpy(value, &stamp, sizeof stamp);
        break;
      }
      case Param::Kind::Text:
      case Param::Kind::Blob:
        if (slots_[i].type == SQL_BLOB) {
          const ISC_QUAD id = WriteBlob(param.Bytes(), attachment, transaction);
          std::memcpy(value, &id, sizeof id);
        } else {
          const std::string_view text = BoundText(param);
          const uint16_t length = static_cast<uint16_t>(text.size());
          std::memcpy(value, &length, sizeof length);
          std::memcpy(value + sizeof length, text.data(), text.size());
        }
        break;
    }
  }
}

}  // namespace tidewell::db
