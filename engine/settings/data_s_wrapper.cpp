// SPDX-License-Identifier: MIT
#include "engine/settings/data_s_wrapper.h"

#include <exception>

#include "engine/settings/registry_key_line.h"
#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

bool AllBlank(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    for (const char c : line) {
      if (static_cast<unsigned char>(c) > ' ') return false;
    }
  }
  return true;
}

// A read-only key is opened as such, so that a key the user may not change
// (the machine's) still serves reads. So does a key meant to be written that
// exists but cannot be: its values are read, and a write to it fails loudly.
bool OpenKey(platform::Registry& registry, const TRegistryKeyLine& key) {
  registry.SetRootKey(key.root);
  const bool read_only = (key.access & (arWrite | arCreate)) == 0;
  if (read_only) return registry.OpenKeyReadOnly(key.path);
  if (registry.OpenKey(key.path, (key.access & arCreate) != 0)) return true;
  return (key.access & arRead) != 0 && registry.OpenKeyReadOnly(key.path);
}

}  // namespace

TDataSWrapper::TDataSWrapper(const std::vector<std::string>& lines, const platform::RegistryBaseFolders& bases) {
  if (AllBlank(lines)) RaiseMessage(kRegistryKeysNotDefined);
  for (const std::string& line : lines) AddKey(line, bases);
}

TDataSWrapper::~TDataSWrapper() = default;

void TDataSWrapper::AddKey(const std::string& line, const platform::RegistryBaseFolders& bases) {
  const auto key = ParseRegistryKeyLine(line);
  if (!key) return;
  auto registry = std::make_unique<platform::Registry>(bases);
  if (!OpenKey(*registry, *key)) return;
  keys_.push_back({key->letters, std::move(registry)});
}

template <typename T, typename Reader>
T TDataSWrapper::ReadFirst(const std::string& name, T default_value, Reader read) const {
  for (const OpenedKey& key : keys_) {
    // Rights come from the letters each time, so "full control" ("RW")
    // counts as readable.
    if ((ParseAccessRights(key.letters) & arRead) == 0 || !key.registry->ValueExists(name)) continue;
    try {
      return read(*key.registry);
    } catch (const std::exception&) {
      // Stored with another type, or gone meanwhile: the next key may hold it.
    }
  }
  return default_value;
}

template <typename Writer>
void TDataSWrapper::WriteAll(Writer write) {
  // Every writable key gets the value; the first failure is raised after.
  std::exception_ptr failure;
  for (OpenedKey& key : keys_) {
    if ((ParseAccessRights(key.letters) & arWrite) == 0) continue;
    try {
      write(*key.registry);
    } catch (const std::exception&) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

std::string TDataSWrapper::ReadString(const std::string&, const std::string& name, const std::string& default_value) {
  const std::string stored =
      ReadFirst<std::string>(name, default_value, [&](const platform::Registry& key) { return key.ReadString(name); });
  return stored.empty() ? default_value : stored;
}

bool TDataSWrapper::ReadBool(const std::string&, const std::string& name, bool default_value) {
  return ReadFirst<bool>(name, default_value, [&](const platform::Registry& key) { return key.ReadBool(name); });
}

int32_t TDataSWrapper::ReadInteger(const std::string&, const std::string& name, int32_t default_value) {
  return ReadFirst<int32_t>(name, default_value, [&](const platform::Registry& key) { return key.ReadInteger(name); });
}

void TDataSWrapper::WriteString(const std::string&, const std::string& name, const std::string& value) {
  WriteAll([&](platform::Registry& key) { key.WriteString(name, value); });
}

void TDataSWrapper::WriteBool(const std::string&, const std::string& name, bool value) {
  WriteAll([&](platform::Registry& key) { key.WriteBool(name, value); });
}

void TDataSWrapper::WriteInteger(const std::string&, const std::string& name, int32_t value) {
  WriteAll([&](platform::Registry& key) { key.WriteInteger(name, value); });
}

bool TDataSWrapper::ValueExists(const std::string&, const std::string&) { return false; }

}  // namespace tidewell
