// SPDX-License-Identifier: MIT
// The settings store that stands in for the Windows registry: one object
// opened on one key at a time, with typed values (text, 32-bit integer) kept
// in the key's text file (see registry_key_file.h and registry_location.h).
//
// Opening never raises: OpenKeyReadOnly and OpenKey answer false for a key
// that is missing, cannot be created or cannot be written. Value reads and
// writes raise ERegistryException.
//
// Threads: any number of threads may read and write through one opened
// object at once; opening, closing and changing the root are not safe
// against concurrent use. Every read looks at the file as it is on disk, so
// it sees what other objects and processes wrote; it never sees a
// half-written file, because every write replaces the file atomically. Writes
// to one key, from any object or process, are serialised by a lock on the
// key's folder, so none is lost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry_key_file.h"
#include "platform/registry_location.h"
#include "toolkit/exception.h"

namespace platform {

class ERegistryException : public kt::Exception {
 public:
  using Exception::Exception;
};

class Registry {
 public:
  explicit Registry(RegistryBaseFolders bases = RegistryBaseFolders::FromEnvironment());
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Closes any open key. The root is HKEY_CURRENT_USER until set.
  void SetRootKey(RegistryRoot root);
  RegistryRoot RootKey() const { return root_; }

  // Opens an existing key for reading only.
  bool OpenKeyReadOnly(const std::string& key_path);
  // Opens a key for reading and writing; creates it (and the keys above it)
  // when can_create is set. False when the key or its folder is not writable.
  bool OpenKey(const std::string& key_path, bool can_create);
  void CloseKey();
  bool KeyIsOpen() const { return !file_.empty(); }
  bool IsReadOnly() const { return read_only_; }
  // The open key's file; empty when no key is open.
  const std::string& KeyFileName() const { return file_; }

  // False, and None, when no key is open or the value is missing.
  bool ValueExists(const std::string& name) const;
  RegistryDataType GetDataType(const std::string& name) const;
  std::vector<std::string> GetValueNames() const;

  // Raise "Failed to get data for '<name>'" for a missing value and "Invalid
  // data type for '<name>'" for a value of another type. A Boolean is an
  // integer that is not 0.
  std::string ReadString(const std::string& name) const;
  int32_t ReadInteger(const std::string& name) const;
  bool ReadBool(const std::string& name) const;

  // Raise "Failed to set data for '<name>'" when no key is open, the key was
  // opened read-only or its file cannot be replaced. A Boolean is stored as
  // the integer 1 or 0.
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  void WriteBool(const std::string& name, bool value);
  // False when there was no such value; raises like the writes.
  bool DeleteValue(const std::string& name);

 private:
  bool Open(const std::string& key_path, bool read_only, bool can_create);
  bool CreateKeyFile(const RegistryKeyLocation& location) const;
  // The key's file as it is on disk now; empty when it has gone.
  RegistryKeyFile Current() const;
  // Applies change to the key file as it is on disk now, under the folder
  // lock, and writes the result back. Returns what change returned.
  bool Modify(const std::string& name, const std::function<bool(RegistryKeyFile&)>& change);
  // The key's file when it holds name with the type; raises otherwise.
  RegistryKeyFile RequireValue(const std::string& name, RegistryDataType type) const;

  // Constant while a key is open.
  const RegistryBaseFolders bases_;
  RegistryRoot root_ = RegistryRoot::CurrentUser;
  std::string folder_;
  std::string file_;
  std::string section_name_;
  bool read_only_ = true;
};

}  // namespace platform
