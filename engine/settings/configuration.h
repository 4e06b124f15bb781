// SPDX-License-Identifier: MIT
// The engine's configuration: a settings store (data_s_wrapper.h) loaded
// from key lines, the proxy settings read once at load, and the values of
// section "misc" for the application and the workers. Values whose name
// holds "password" (any case) are stored scrambled (value_scrambling.h).
//
// Threads: the main thread loads it; any thread may read values and the
// proxy settings. One re-entrant lock covers the store and the proxy fields,
// since ReadSettings reaches Value again on the same thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/settings/data_s_wrapper.h"
#include "platform/registry_location.h"

namespace tidewell {

enum class TValueMode { vmRead, vmWrite };

class TConfiguration {
 public:
  // Unloaded: every value access raises until LoadFromKeys. Keys are looked
  // up below the given base folders.
  explicit TConfiguration(platform::RegistryBaseFolders bases = platform::RegistryBaseFolders::FromEnvironment());
  virtual ~TConfiguration();
  TConfiguration(const TConfiguration&) = delete;
  TConfiguration& operator=(const TConfiguration&) = delete;

  // Drops any loaded store, opens the keys of the lines and reads the proxy
  // settings. Blank lines raise "Registry keys not defined !" and leave the
  // configuration unloaded; a failing read of the settings raises "Can't
  // read configuration file ->" CR LF and the cause, the store staying
  // loaded.
  void LoadFromKeys(const std::vector<std::string>& lines);
  // Raises "Configuration file not loaded !" while no store is loaded.
  void CheckLoaded() const;
  bool IsLoaded() const;
  // Re-reads the proxy settings of section "conf" and the "misc" flags.
  void ReadSettings();

  // Read mode: result := the stored value, or default_value when it is
  // missing or empty (also for a password). Write mode: stores new_value in
  // every writable key. Raises when unloaded; a failing write raises.
  void Value(const std::string& section, const std::string& name, std::string& result, TValueMode mode,
             const std::string& default_value, const std::string& new_value);
  // result := the "misc" value, default_value when missing or empty. On any
  // failure result := default_value, and the failure is raised again unless
  // swallow_errors is set.
  void ReadMiscString(const std::string& name, const std::string& default_value, std::string& result,
                      bool swallow_errors);
  // The "misc" value as a decimal text or a stored integer ("dword:");
  // default_value when it is missing, no integer, or anything fails. Never
  // raises.
  int32_t ReadMiscInteger(const std::string& name, int32_t default_value);
  // Copies "misc" "distinct_smartfeeds" into the global settings, when
  // they exist. Never raises.
  void LoadMiscFlags();

  // The proxy settings as last read; empty, 0 and false before any load.
  std::string ProxyUserName() const;
  std::string ProxyPassword() const;  // unscrambled
  std::string ProxyServer() const;
  int32_t ProxyPort() const;
  bool ProxyEnabled() const;
  // The addresses reached without the proxy, separated by ";".
  std::string BypassProxyForAddresses() const;

 protected:
  // Called, instead of reading server and port, when "useBrowserProxySettings"
  // is on. Leaves both unchanged: there is no browser to ask.
  virtual void ApplyBrowserProxySettings(std::string& server, int32_t& port);

 private:
  void ReadProxySettings();

  // Constant after construction.
  const platform::RegistryBaseFolders bases_;

  mutable std::recursive_mutex lock_;
  // State below is protected by lock_.
  std::unique_ptr<TDataSWrapper> store_;
  std::string proxy_user_name_;
  std::string proxy_password_;
  std::string proxy_server_;
  int32_t proxy_port_ = 0;
  bool proxy_enabled_ = false;
  std::string bypass_proxy_for_addresses_;
};

}  // namespace tidewell
