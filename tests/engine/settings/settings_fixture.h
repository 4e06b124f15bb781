// SPDX-License-Identifier: MIT
// Settings keys in a temporary folder: both base folders of the store point
// below it, so no test reads or writes the real configuration folders.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/registry_location.h"
#include "support/temp_folder.h"

namespace tidewell {

class SettingsFixture : public ::testing::Test {
 protected:
  static inline const std::vector<std::string> kApplicationLines = {"HKCU=\\SOFTWARE\\Policies\\Pinwheel[RWC]",
                                                                    "HKLM=\\SOFTWARE\\Pinwheel[R]"};

  platform::RegistryBaseFolders Bases() const { return {folder_.Path() + "user", folder_.Path() + "machine"}; }
  std::string UserKeyFile() const { return folder_.Path() + "user/SOFTWARE/Policies/Pinwheel.reg"; }
  std::string MachineKeyFile() const { return folder_.Path() + "machine/SOFTWARE/Pinwheel.reg"; }

  // Writes a key file by hand: the values given as lines of the export format.
  static void WriteKey(const std::string& file, const std::string& value_lines) {
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << "Windows Registry Editor Version 5.00\n\n[HKEY]\n" << value_lines;
  }
  static std::string ReadKey(const std::string& file) {
    std::string content;
    platform::ReadWholeFile(file, content);
    return content;
  }

  testing_support::TempFolder folder_;
};

}  // namespace tidewell
