// SPDX-License-Identifier: MIT
#include "support/firebird_test_database.h"

#include <dlfcn.h>
#include <firebird/Interface.h>
#include <ibase.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <regex>
#include <stdexcept>

#include "support/firebird_test_server.h"

namespace testing_support {
namespace {

std::string& LockFolder() {
  static std::string folder;
  return folder;
}

void ShutDownEngineAndRemoveLockFolder() {
  fb_shutdown(0, fb_shutrsn_app_stopped);
  std::error_code ignored;
  std::filesystem::remove_all(LockFolder(), ignored);
}

void CreateLockFolder() {
  const char* root = std::getenv("TIDEWELL_TEST_TMP");
  const std::filesystem::path base =
      root != nullptr ? std::filesystem::path(root) : std::filesystem::temp_directory_path();
  std::filesystem::create_directories(base);
  std::string pattern = (base / "fblock-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create the Firebird lock folder");
  LockFolder() = pattern;
  ::setenv("FIREBIRD_LOCK", pattern.c_str(), 1);
  KeepEmbeddedEngineLoaded();
  std::atexit(ShutDownEngineAndRemoveLockFolder);
}

void KeepLoaded(const std::filesystem::path& library) { ::dlopen(library.c_str(), RTLD_NOW | RTLD_NODELETE); }

}  // namespace

void KeepEmbeddedEngineLoaded() {
  Firebird::IConfigManager* config = Firebird::fb_get_master_interface()->getConfigManager();
  const char* plugins = config->getDirectory(Firebird::IConfigManager::DIR_PLUGINS);
  if (plugins != nullptr) KeepLoaded(std::filesystem::path(plugins) / "libEngine12.so");
  // The character-set module and the ICU it opens are unloaded at shut-down
  // too; LeakSanitizer then reads their stale thread-local blocks and crashes.
  const char* intl = config->getDirectory(Firebird::IConfigManager::DIR_INTL);
  if (intl != nullptr) KeepLoaded(std::filesystem::path(intl) / "libfbintl.so");
  const std::regex icu(R"(libicu(uc|i18n)\.so\.[0-9]+)");
  for (const char* folder : {"/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib"}) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
      const std::string name = entry.path().filename().string();
      if (std::regex_match(name, icu)) KeepLoaded(entry.path());
    }
  }
}

void UsePrivateFirebirdLockFolder() {
  static std::once_flag once;
  std::call_once(once, CreateLockFolder);
}

FirebirdTestDatabase::FirebirdTestDatabase(int32_t pageSize) {
  UsePrivateFirebirdLockFolder();
  path_ = folder_.File("test.fdb");
  name_ = path_;
  Create(pageSize);
}

FirebirdTestDatabase::FirebirdTestDatabase(int32_t pageSize, const FirebirdTestServer& server) {
  UsePrivateFirebirdLockFolder();
  path_ = folder_.File("test.fdb");
  name_ = server.DatabaseName(path_);
  user_ = server.User();
  password_ = server.Password();
  Create(pageSize);
}

void FirebirdTestDatabase::Create(int32_t pageSize) {
  connection_ = std::make_unique<tidewell::TDbConnWrapper>();
  connection_->SetDBFileName(name_);
  connection_->SetUser(user_);
  connection_->SetPassword(password_);
  connection_->SetForcedWrites(false);
  connection_->CreateDatabase(pageSize);
}

FirebirdTestDatabase::~FirebirdTestDatabase() { connection_.reset(); }

std::unique_ptr<tidewell::TDbConnWrapper> FirebirdTestDatabase::Connect() const {
  auto connection = std::make_unique<tidewell::TDbConnWrapper>();
  connection->SetDBFileName(name_);
  connection->SetUser(user_);
  connection->SetPassword(password_);
  connection->Connect();
  return connection;
}

void FirebirdTestDatabase::Execute(const std::string& sql) { RunStatement(*connection_, sql); }

int64_t FirebirdTestDatabase::QueryInt64(const std::string& sql) {
  int64_t value = 0;
  RunStatement(*connection_, sql, [&](tidewell::TQueryWrapper& statement) {
    if (!statement.Eof()) value = statement.Fields(0).AsInt64();
  });
  return value;
}

void RunStatement(tidewell::TDbConnWrapper& connection, const std::string& sql,
                  const std::function<void(tidewell::TQueryWrapper& statement)>& read,
                  const std::function<void(tidewell::TQueryWrapper& statement)>& bind) {
  tidewell::TTranWrapper transaction(&connection);
  transaction.StartTransaction();
  tidewell::TQueryWrapper statement;
  statement.SetTransaction(&transaction);
  statement.SQL.Add(sql);
  if (bind) bind(statement);
  statement.ExecQuery();
  if (read) read(statement);
  statement.Close();
  transaction.Commit();
}

}  // namespace testing_support

// The one leak by design: an engine that gives up on a stuck worker leaves
// it, its thread and what it may still use alive for good. The test makes
// that engine in a function of this name.
#define TIDEWELL_DETACHED_WORKER_MAKER "EngineThatLeavesItsStuckWorkerBehind"

// The Firebird client, the ICU it loads and OpenSSL keep process-wide and
// per-thread caches that they never free; LeakSanitizer is told so when the
// tests run under it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfbclient.so\nleak:libEngine12.so\nleak:libicuuc.so\nleak:libicui18n.so\nleak:libcrypto.so\n"
         "leak:__gconv_open\nleak:__gconv_lookup_cache\n"
         "leak:" TIDEWELL_DETACHED_WORKER_MAKER "\n";
}

// LeakSanitizer's own record of dynamically loaded thread-local blocks goes
// stale with this glibc once the Firebird engine has loaded and dropped its
// plugins, and its tracer then crashes at exit, for some tests every time.
// Thread-local blocks are therefore no roots: that can only add reports,
// never hide one; the caches OpenSSL keeps per thread are named above.
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }

// The in-process Firebird engine is not built for ThreadSanitizer: its own
// locking overflows the deadlock detector, and it orders its page buffers
// with atomics the sanitizer cannot see, so its cache writer's pwrite looks
// like a race with its own memcpy. Only those reports are left out.
extern "C" const char* __tsan_default_options() { return "detect_deadlocks=0"; }
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libEngine12.so\ncalled_from_lib:libfbclient.so.2\nrace:libEngine12.so\nrace:libfbclient.so.2\n"
         "thread:" TIDEWELL_DETACHED_WORKER_MAKER "\n";
}
