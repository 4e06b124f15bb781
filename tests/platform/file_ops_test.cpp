// SPDX-License-Identifier: MIT
#include "platform/file_ops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/random.h"
#include "support/temp_folder.h"

namespace platform {
namespace {

using testing_support::TempFolder;

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

size_t EntryCount(const std::string& folder) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

// A folder on another file system than the test folders, when there is one.
std::string OtherFileSystemFolder(const std::string& folder) {
  struct stat here {}, there {};
  if (::stat(folder.c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev) return "";
  std::string other = "/dev/shm/tw-move-XXXXXX";
  return ::mkdtemp(other.data()) == nullptr ? "" : other + "/";
}

TEST(FileOpsTest, ExistsAndDeleteConcernFilesNotFolders) {
  TempFolder folder;
  WriteText(folder.File("a.mp3"), "x");
  std::filesystem::create_directory(folder.File("sub"));
  EXPECT_TRUE(FileExists(folder.File("a.mp3")));
  EXPECT_FALSE(FileExists(folder.File("sub")));
  EXPECT_FALSE(FileExists(folder.File("none")));
  EXPECT_TRUE(DeleteFile(folder.File("a.mp3")));
  EXPECT_FALSE(FileExists(folder.File("a.mp3")));
  EXPECT_FALSE(DeleteFile(folder.File("a.mp3")));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(DeleteFile(folder.File("sub")));
  EXPECT_TRUE(std::filesystem::is_directory(folder.File("sub")));
}

TEST(FileOpsTest, MoveKeepsAnExistingTargetUnlessAskedToReplaceIt) {
  TempFolder folder;
  WriteText(folder.File("new.tmp"), "new");
  WriteText(folder.File("ep.mp3"), "old");
  EXPECT_FALSE(MoveFile(folder.File("new.tmp"), folder.File("ep.mp3"), kMoveCopyAllowed));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(ReadText(folder.File("ep.mp3")), "old");
  EXPECT_EQ(ReadText(folder.File("new.tmp")), "new");
  EXPECT_TRUE(MoveFile(folder.File("new.tmp"), folder.File("ep.mp3"), kMoveReplaceExisting));
  EXPECT_EQ(ReadText(folder.File("ep.mp3")), "new");
  EXPECT_FALSE(FileExists(folder.File("new.tmp")));
}

TEST(FileOpsTest, MoveOfAMissingFileFails) {
  TempFolder folder;
  EXPECT_FALSE(MoveFile(folder.File("absent"), folder.File("b"), kMoveCopyAllowed));
  EXPECT_EQ(errno, ENOENT);
}

TEST(FileOpsTest, MoveAcrossFileSystemsCopiesWholeAndDeletesTheSource) {
  TempFolder folder;
  const std::string other = OtherFileSystemFolder(folder.Path());
  if (other.empty()) GTEST_SKIP() << "no second file system";
  const std::string body(700 * 1024, 'q');
  WriteText(folder.File("download.tmp"), body);
  EXPECT_FALSE(MoveFile(folder.File("download.tmp"), other + "ep.mp3", 0));
  EXPECT_EQ(errno, EXDEV);
  EXPECT_TRUE(MoveFile(folder.File("download.tmp"), other + "ep.mp3", kMoveCopyAllowed | kMoveWriteThrough));
  EXPECT_EQ(ReadText(other + "ep.mp3"), body);
  EXPECT_FALSE(FileExists(folder.File("download.tmp")));
  EXPECT_EQ(EntryCount(other), 1u);
  std::filesystem::remove_all(other);
}

TEST(FileOpsTest, CopyThatCannotPlaceItsTargetLeavesTheSourceAndNoDebris) {
  TempFolder folder;
  const std::string other = OtherFileSystemFolder(folder.Path());
  if (other.empty()) GTEST_SKIP() << "no second file system";
  WriteText(folder.File("download.tmp"), "episode");
  WriteText(other + "ep.mp3", "kept");
  EXPECT_FALSE(MoveFile(folder.File("download.tmp"), other + "ep.mp3", kMoveCopyAllowed));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(ReadText(other + "ep.mp3"), "kept");
  EXPECT_EQ(ReadText(folder.File("download.tmp")), "episode");
  EXPECT_EQ(EntryCount(other), 1u);
  EXPECT_FALSE(MoveFile(folder.File("download.tmp"), other + "missing-folder/ep.mp3", kMoveCopyAllowed));
  EXPECT_EQ(ReadText(folder.File("download.tmp")), "episode");
  std::filesystem::remove_all(other);
}

TEST(RandomTest, SuccessiveNumbersDiffer) {
  const uint32_t first = RandomUint32();
  bool differs = false;
  for (int i = 0; i < 8 && !differs; ++i) differs = RandomUint32() != first;
  EXPECT_TRUE(differs);
}

}  // namespace
}  // namespace platform
