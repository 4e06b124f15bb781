// SPDX-License-Identifier: MIT
// The configuration's settings store: the keys named by a list of key lines
// (registry_key_line.h), in line order. A read takes the value from the first
// readable key that holds it; a write goes to every writable key. Section
// names are ignored, so all sections share the value names of each key.
//
// Threads: no lock of its own; its owner (TConfiguration) serialises use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace tidewell {

class TDataSWrapper {
 public:
  // Opens one key per usable line; lines that are not usable or whose key
  // cannot be opened (or created, with C) are left out in silence. A key
  // that exists but cannot be written is opened for reading: writes to it
  // raise. Raises
  // "Registry keys not defined !" when the lines hold nothing but blanks.
  TDataSWrapper(const std::vector<std::string>& lines, const platform::RegistryBaseFolders& bases);
  virtual ~TDataSWrapper();
  TDataSWrapper(const TDataSWrapper&) = delete;
  TDataSWrapper& operator=(const TDataSWrapper&) = delete;

  // Default when no readable key holds the value with the asked type; a
  // key whose value has another type is passed over. ReadString answers
  // Default for a stored empty text too.
  virtual std::string ReadString(const std::string& section, const std::string& name, const std::string& default_value);
  virtual bool ReadBool(const std::string& section, const std::string& name, bool default_value);
  virtual int32_t ReadInteger(const std::string& section, const std::string& name, int32_t default_value);
  // To every writable key in line order. A failing write (also to a key
  // that could only be opened for reading) raises platform::ERegistryException
  // once the other keys have been written.
  virtual void WriteString(const std::string& section, const std::string& name, const std::string& value);
  virtual void WriteBool(const std::string& section, const std::string& name, bool value);
  virtual void WriteInteger(const std::string& section, const std::string& name, int32_t value);
  // Always false: callers read with a default instead.
  virtual bool ValueExists(const std::string& section, const std::string& name);

  int KeyCount() const { return static_cast<int>(keys_.size()); }
  // REQUIRES: 0 <= index < KeyCount(). The key's access letters ("RW" for
  // full control) and its opened store object.
  const std::string& KeyLetters(int index) const { return keys_[index].letters; }
  const platform::Registry& Key(int index) const { return *keys_[index].registry; }

 private:
  struct OpenedKey {
    std::string letters;
    std::unique_ptr<platform::Registry> registry;
  };

  void AddKey(const std::string& line, const platform::RegistryBaseFolders& bases);
  template <typename T, typename Reader>
  T ReadFirst(const std::string& name, T default_value, Reader read) const;
  template <typename Writer>
  void WriteAll(Writer write);

  std::vector<OpenedKey> keys_;
};

}  // namespace tidewell
