// SPDX-License-Identifier: MIT
// The proxy values that a download reads from the configuration ("conf"
// section: "proxyEnabled", "proxyserver", "proxyport", "proxyusername",
// "proxypassword", "bypassProxyForAddresses"). The configuration store fills
// one; the download never looks at the environment's proxy variables.
#pragma once

#include <cstdint>
#include <string>

namespace tidewell {

struct TProxySettings {
  bool enabled = false;
  std::string server;
  int32_t port = 0;
  std::string userName;
  std::string password;  // plain text
  // ";"-separated addresses reached without the proxy.
  std::string bypassProxyForAddresses;
};

// True when url is to be reached without the proxy: the url less a leading
// "http://", "ftp://" or "https://", lower-cased, is matched against each
// trimmed, scheme-less, lower-cased entry of the list. "*rest" matches a url
// ending with rest, "rest*" one beginning with it, any other entry one that
// contains it. An empty list bypasses nothing.
bool IsProxyBypassed(const std::string& url, const std::string& bypassList);

}  // namespace tidewell
