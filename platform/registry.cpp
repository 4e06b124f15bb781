// SPDX-License-Identifier: MIT
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "platform/atomic_file.h"

namespace platform {
namespace {

// Holds an exclusive lock on a folder while it lives. The lock belongs to
// this open folder handle, so it excludes other threads of this process as
// well as other processes.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder) : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    int result = 0;
    while ((result = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FolderLock() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A key's file is replaced by renaming, which needs the folder to be
// writable; a file marked read-only says the key is not to be changed.
bool IsWritableKey(const RegistryKeyLocation& location) {
  if (::access(location.folder.c_str(), W_OK | X_OK) != 0) return false;
  return !IsRegularFile(location.file) || ::access(location.file.c_str(), W_OK) == 0;
}

// Machine-wide settings are for everyone to read; a user's may hold
// passwords.
mode_t NewKeyFileMode(RegistryRoot root) { return root == RegistryRoot::CurrentUser ? 0600 : 0644; }

[[noreturn]] void RaiseFor(const char* text, const std::string& name) {
  throw ERegistryException(std::string(text) + " '" + name + "'");
}

}  // namespace

Registry::Registry(RegistryBaseFolders bases) : bases_(std::move(bases)) {}

void Registry::SetRootKey(RegistryRoot root) {
  CloseKey();
  root_ = root;
}

bool Registry::OpenKeyReadOnly(const std::string& key_path) { return Open(key_path, true, false); }

bool Registry::OpenKey(const std::string& key_path, bool can_create) { return Open(key_path, false, can_create); }

void Registry::CloseKey() {
  folder_.clear();
  file_.clear();
  section_name_.clear();
  read_only_ = true;
}

bool Registry::Open(const std::string& key_path, bool read_only, bool can_create) {
  CloseKey();
  const auto location = LocateRegistryKey(bases_, root_, key_path);
  if (!location) return false;
  const bool exists = IsRegularFile(location->file) || IsFolder(location->subkey_folder);
  if (read_only) {
    if (!exists) return false;
    if (IsRegularFile(location->file) && ::access(location->file.c_str(), R_OK) != 0) return false;
  } else {
    if (!exists && !(can_create && CreateKeyFile(*location))) return false;
    if (!IsWritableKey(*location)) return false;
  }
  folder_ = location->folder;
  file_ = location->file;
  section_name_ = location->section_name;
  read_only_ = read_only;
  return true;
}

bool Registry::CreateKeyFile(const RegistryKeyLocation& location) const {
  std::error_code error;
  std::filesystem::create_directories(location.folder, error);
  if (error) return false;
  FolderLock lock(location.folder);
  if (!lock.Held()) return false;
  // Another object may have created the key while we waited for the lock.
  if (IsRegularFile(location.file)) return true;
  const std::string content = RegistryKeyFile::NewKey(location.section_name).Serialize();
  return WriteFileAtomically(location.file, content, NewKeyFileMode(root_));
}

RegistryKeyFile Registry::Current() const {
  std::string content;
  if (file_.empty() || !ReadWholeFile(file_, content)) return RegistryKeyFile();
  return RegistryKeyFile::Parse(content);
}

bool Registry::ValueExists(const std::string& name) const { return GetDataType(name) != RegistryDataType::None; }

RegistryDataType Registry::GetDataType(const std::string& name) const { return Current().TypeOf(name); }

std::vector<std::string> Registry::GetValueNames() const { return Current().Names(); }

RegistryKeyFile Registry::RequireValue(const std::string& name, RegistryDataType type) const {
  RegistryKeyFile file = Current();
  const RegistryDataType stored = file.TypeOf(name);
  if (stored == RegistryDataType::None) RaiseFor("Failed to get data for", name);
  if (stored != type) RaiseFor("Invalid data type for", name);
  return file;
}

std::string Registry::ReadString(const std::string& name) const {
  return RequireValue(name, RegistryDataType::String).StringOf(name);
}

int32_t Registry::ReadInteger(const std::string& name) const {
  return RequireValue(name, RegistryDataType::Integer).IntegerOf(name);
}

bool Registry::ReadBool(const std::string& name) const { return ReadInteger(name) != 0; }

void Registry::WriteString(const std::string& name, const std::string& value) {
  Modify(name, [&](RegistryKeyFile& file) {
    file.SetString(name, value);
    return true;
  });
}

void Registry::WriteInteger(const std::string& name, int32_t value) {
  Modify(name, [&](RegistryKeyFile& file) {
    file.SetInteger(name, value);
    return true;
  });
}

void Registry::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

bool Registry::DeleteValue(const std::string& name) {
  return Modify(name, [&](RegistryKeyFile& file) { return file.Remove(name); });
}

bool Registry::Modify(const std::string& name, const std::function<bool(RegistryKeyFile&)>& change) {
  if (file_.empty() || read_only_) RaiseFor("Failed to set data for", name);
  FolderLock lock(folder_);
  if (!lock.Held()) RaiseFor("Failed to set data for", name);
  // Read under the lock: a write based on an older view would drop what
  // another writer stored in between.
  std::string content;
  const bool read = ReadWholeFile(file_, content);
  // A file that is there but cannot be read must not be replaced by one
  // that holds only this value; a file that has gone is made again.
  if (!read && IsRegularFile(file_)) RaiseFor("Failed to set data for", name);
  RegistryKeyFile file = read ? RegistryKeyFile::Parse(content) : RegistryKeyFile::NewKey(section_name_);
  if (!change(file)) return false;
  if (!WriteFileAtomically(file_, file.Serialize(), NewKeyFileMode(root_))) RaiseFor("Failed to set data for", name);
  return true;
}

}  // namespace platform
