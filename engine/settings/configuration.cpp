// SPDX-License-Identifier: MIT
#include "engine/settings/configuration.h"

#include <exception>
#include <optional>
#include <utility>

#include "engine/settings/tidewell_globvars.h"
#include "engine/settings/value_scrambling.h"
#include "engine/tidewell_msg.h"

namespace tidewell {
namespace {

constexpr char kConfSection[] = "conf";
constexpr char kMiscSection[] = "misc";

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string TrimControls(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

bool IsPasswordName(const std::string& name) { return LowerAscii(name).find("password") != std::string::npos; }

bool TextToBool(const std::string& text) {
  const std::string trimmed = LowerAscii(TrimControls(text));
  return trimmed == "1" || trimmed == "true";
}

// A decimal integer with an optional sign, blanks around it allowed.
std::optional<int32_t> ParseInteger(const std::string& text) {
  const std::string trimmed = TrimControls(text);
  size_t pos = (!trimmed.empty() && (trimmed[0] == '-' || trimmed[0] == '+')) ? 1 : 0;
  if (pos == trimmed.size() || trimmed.size() - pos > 10) return std::nullopt;
  int64_t value = 0;
  for (; pos < trimmed.size(); ++pos) {
    if (trimmed[pos] < '0' || trimmed[pos] > '9') return std::nullopt;
    value = value * 10 + (trimmed[pos] - '0');
  }
  if (trimmed[0] == '-') value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace

TConfiguration::TConfiguration(platform::RegistryBaseFolders bases) : bases_(std::move(bases)) {}

TConfiguration::~TConfiguration() = default;

void TConfiguration::LoadFromKeys(const std::vector<std::string>& lines) {
  std::lock_guard lock(lock_);
  store_.reset();
  store_ = std::make_unique<TDataSWrapper>(lines, bases_);
  ReadSettings();
}

void TConfiguration::CheckLoaded() const {
  if (!IsLoaded()) RaiseMessage(kConfigNotLoaded);
}

bool TConfiguration::IsLoaded() const {
  std::lock_guard lock(lock_);
  return store_ != nullptr;
}

void TConfiguration::ReadSettings() {
  std::lock_guard lock(lock_);
  CheckLoaded();
  try {
    LoadMiscFlags();
    ReadProxySettings();
  } catch (const std::exception& error) {
    RaiseMessage(kCantReadConfigFile, std::string(error.what()));
  }
}

void TConfiguration::ReadProxySettings() {
  proxy_user_name_ = store_->ReadString(kConfSection, "proxyusername", "");
  proxy_password_ =
      Rot13(UnscrambleFromHex(kConfigurationScrambleKey, store_->ReadString(kConfSection, "proxypassword", "")));
  if (!store_->ReadBool(kConfSection, "useBrowserProxySettings", false)) {
    proxy_server_ = store_->ReadString(kConfSection, "proxyserver", "");
    proxy_port_ = store_->ReadInteger(kConfSection, "proxyport", 0);
  } else {
    ApplyBrowserProxySettings(proxy_server_, proxy_port_);
  }
  proxy_enabled_ = store_->ReadBool(kConfSection, "proxyEnabled", false);
  bypass_proxy_for_addresses_ = store_->ReadString(kConfSection, "bypassProxyForAddresses", "");
}

void TConfiguration::ApplyBrowserProxySettings(std::string&, int32_t&) {}

void TConfiguration::Value(const std::string& section, const std::string& name, std::string& result,
                           TValueMode mode, const std::string& default_value, const std::string& new_value) {
  const std::string fallback = default_value;  // result may be the caller's default itself
  std::lock_guard lock(lock_);
  result.clear();
  CheckLoaded();
  const bool password = IsPasswordName(name);
  if (mode == TValueMode::vmWrite) {
    store_->WriteString(section, name,
                        password ? ScrambleToHex(kConfigurationScrambleKey, Rot13(new_value)) : new_value);
    return;
  }
  if (!password) {
    result = store_->ReadString(section, name, fallback);
    return;
  }
  // Only a stored password is unscrambled: the caller's default is plain
  // text and would come back as garbage.
  const std::string stored = store_->ReadString(section, name, "");
  result = stored.empty() ? fallback : Rot13(UnscrambleFromHex(kConfigurationScrambleKey, stored));
}

void TConfiguration::ReadMiscString(const std::string& name, const std::string& default_value, std::string& result,
                                    bool swallow_errors) {
  const std::string fallback = default_value;
  try {
    Value(kMiscSection, name, result, TValueMode::vmRead, fallback, "");
    if (result.empty()) result = fallback;
  } catch (const std::exception&) {
    result = fallback;
    if (!swallow_errors) throw;
  }
}

int32_t TConfiguration::ReadMiscInteger(const std::string& name, int32_t default_value) {
  try {
    std::string text;
    ReadMiscString(name, "", text, false);
    if (!text.empty()) return ParseInteger(text).value_or(default_value);
    // The settings format writes numbers as "dword:" values as often as texts.
    std::lock_guard lock(lock_);
    CheckLoaded();
    return store_->ReadInteger(kMiscSection, name, default_value);
  } catch (const std::exception&) {
    return default_value;
  }
}

void TConfiguration::LoadMiscFlags() {
  try {
    TtidewellGlobalVars* globals = GlobalVars;
    if (globals == nullptr) return;
    std::string text;
    ReadMiscString("distinct_smartfeeds", "false", text, true);
    globals->SetDistinctSmartFeeds(TextToBool(text));
  } catch (const std::exception&) {
    // A flag that cannot be read keeps its value; loading goes on.
  }
}

std::string TConfiguration::ProxyUserName() const {
  std::lock_guard lock(lock_);
  return proxy_user_name_;
}

std::string TConfiguration::ProxyPassword() const {
  std::lock_guard lock(lock_);
  return proxy_password_;
}

std::string TConfiguration::ProxyServer() const {
  std::lock_guard lock(lock_);
  return proxy_server_;
}

int32_t TConfiguration::ProxyPort() const {
  std::lock_guard lock(lock_);
  return proxy_port_;
}

bool TConfiguration::ProxyEnabled() const {
  std::lock_guard lock(lock_);
  return proxy_enabled_;
}

std::string TConfiguration::BypassProxyForAddresses() const {
  std::lock_guard lock(lock_);
  return bypass_proxy_for_addresses_;
}

}  // namespace tidewell
