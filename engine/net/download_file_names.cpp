// SPDX-License-Identifier: MIT
#include "engine/net/download_file_names.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdio.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>

namespace tidewell::download_names {
namespace {

constexpr size_t kMaxNameBytes = 255;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string ReplaceForbiddenCharacters(std::string name) {
  for (char& c : name) {
    if (std::string_view("/\\*?\"<>|:").find(c) != std::string_view::npos) c = '_';
  }
  return name;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Cuts a UTF-8 text to at most bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::map<std::string, std::string> LoadMimeTable() {
  std::map<std::string, std::string> table = {
      {"audio/mpeg", ".mp3"}, {"audio/mp4", ".m4a"},  {"audio/x-m4a", ".m4a"}, {"audio/ogg", ".ogg"},
      {"video/mp4", ".mp4"},  {"video/mpeg", ".mpg"}, {"application/pdf", ".pdf"}, {"text/html", ".html"},
  };
  std::ifstream file("/etc/mime.types");
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string type, extension;
    // The table above wins: the system lists "mpga" before "mp3", say.
    if (fields >> type >> extension) table.emplace(Lower(type), "." + extension);
  }
  return table;
}

int CopyFileWriteThrough(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    const int error = errno;
    ::close(in);
    return error;
  }
  std::unique_ptr<char[]> buffer(new char[1 << 16]);
  int error = 0;
  for (ssize_t n; error == 0 && (n = ::read(in, buffer.get(), 1 << 16)) != 0;) {
    if (n < 0 || ::write(out, buffer.get(), static_cast<size_t>(n)) != n) error = errno != 0 ? errno : EIO;
  }
  if (error == 0 && ::fsync(out) != 0) error = errno;
  ::close(in);
  if (::close(out) != 0 && error == 0) error = errno;
  if (error != 0) ::unlink(to.c_str());
  return error;
}

}  // namespace

std::string ExtractFileExt(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  const size_t slash = fileName.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 >= fileName.size()) return {};
  return fileName.substr(dot);
}

bool IsUsableFileExtension(const std::string& fileName) {
  const std::string extension = Lower(ExtractFileExt(fileName));
  if (extension.size() < 2) return false;
  for (const char* refused : {".php", ".php3", ".asp", ".aspx", ".pl", ".tmp"}) {
    if (extension == refused) return false;
  }
  return true;
}

std::string UrlDocumentToFileName(const std::string& url) {
  std::string path = url.substr(0, url.find_first_of("?#"));
  const size_t scheme = path.find("://");
  if (scheme != std::string::npos) {
    const size_t pathStart = path.find('/', scheme + 3);
    path = pathStart == std::string::npos ? std::string() : path.substr(pathStart);
  }
  return ReplaceForbiddenCharacters(Trim(path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1)));
}

std::string ExtractContentDispositionFileName(const std::string& header) {
  const size_t at = header.find("filename=");
  if (at == std::string::npos) return {};
  std::string name;
  for (size_t i = at + 9; i < header.size(); ++i) {
    const char c = header[i];
    if (c == ';' || c == '\\' || c == '\0') break;
    if (c != '"' && c != '\'' && c != '/') name += c;
  }
  return Trim(name);
}

std::string LastPathComponent(const std::string& name) {
  const size_t separator = name.find_last_of("/\\");
  return separator == std::string::npos ? name : name.substr(separator + 1);
}

std::string SafeEnclosureFileName(const std::string& name) {
  std::string safe = Trim(ReplaceForbiddenCharacters(name));
  if (safe.find_first_not_of('.') == std::string::npos) safe = "download";
  if (safe.size() <= kMaxNameBytes) return safe;
  std::string extension = ExtractFileExt(safe);
  if (extension.size() > 16) extension.clear();
  return CutUtf8(safe.substr(0, safe.size() - extension.size()), kMaxNameBytes - extension.size()) + extension;
}

std::string GetExtensionForContentType(const std::string& contentType) {
  static const std::map<std::string, std::string> table = LoadMimeTable();
  const std::string type = Lower(Trim(contentType.substr(0, contentType.find(';'))));
  if (type.empty()) return {};
  const auto found = table.find(type);
  return found == table.end() ? std::string() : found->second;
}

std::string MakeTempDownloadFileName() {
  static std::mutex mutex;
  static std::mt19937 random{std::random_device{}()};
  uint32_t number;
  {
    std::lock_guard<std::mutex> lock(mutex);
    number = static_cast<uint32_t>(random());
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::snprintf(text, sizeof text, "download%d%d%d%08X.tmp", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                number);
  return text;
}

std::string MakeUniqueFileName(const std::string& path) {
  if (!FileExists(path)) return path;
  const std::string extension = ExtractFileExt(path);
  const std::string stem = path.substr(0, path.size() - extension.size());
  for (int n = 1; n <= 1024; ++n) {
    const std::string candidate = stem + "(" + std::to_string(n) + ")" + extension;
    if (!FileExists(candidate)) return candidate;
  }
  return path;
}

int MoveFileWriteThrough(const std::string& from, const std::string& to) {
  // Never replaces a file that another download stored under the same name
  // meanwhile; the caller picks the next free name on EEXIST.
  int renamed = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (renamed != 0 && errno == EINVAL) renamed = ::rename(from.c_str(), to.c_str());
  if (renamed == 0) {
    const int folder = ::open(to.substr(0, to.rfind('/') + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      ::fsync(folder);
      ::close(folder);
    }
    return 0;
  }
  if (errno != EXDEV) return errno;
  const int error = CopyFileWriteThrough(from, to);
  if (error == 0) ::unlink(from.c_str());
  return error;
}

std::string ResolveUrl(const std::string& base, const std::string& url) {
  CURLU* handle = curl_url();
  if (handle == nullptr) return url;
  std::string resolved = url;
  if (curl_url_set(handle, CURLUPART_URL, base.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
      curl_url_set(handle, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
    char* text = nullptr;
    if (curl_url_get(handle, CURLUPART_URL, &text, 0) == CURLUE_OK) resolved = text;
    curl_free(text);
  }
  curl_url_cleanup(handle);
  return resolved;
}

}  // namespace tidewell::download_names
