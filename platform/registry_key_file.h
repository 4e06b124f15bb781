// SPDX-License-Identifier: MIT
// The text form of one settings key: the registry export format, one value a
// line, so that a person can read and edit it by hand.
//   "name"="text"           a text value (\\ \" \r \n and \xHH escapes)
//   "name"=dword:0000000a   a 32-bit integer, eight hexadecimal digits
//   @="text"                the key's unnamed value (name "")
// Every other line (the header, section lines, comments, values of other
// types) is kept as it stands and written back unchanged. Value names compare
// without regard to ASCII case, as the registry's do; the first line of a
// name counts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/settings_text.h"

namespace platform {

enum class RegistryDataType { None, String, Integer, Other };

class RegistryKeyFile {
 public:
  // Never fails: a line that is no readable value is kept as an unknown line.
  // The bytes may be UTF-8 or, with a byte-order mark, UTF-16 (regedit 5's
  // export form, see settings_text.h).
  static RegistryKeyFile Parse(const std::string& bytes);
  // The file of a fresh key: the format's header and the key's section line.
  static RegistryKeyFile NewKey(const std::string& section_name);
  // In the byte form the file was parsed from.
  std::string Serialize() const;

  // None when the key holds no value of that name.
  RegistryDataType TypeOf(const std::string& name) const;
  // REQUIRES: TypeOf(name) is String, resp. Integer.
  const std::string& StringOf(const std::string& name) const;
  int32_t IntegerOf(const std::string& name) const;
  // The value names in file order, each once.
  std::vector<std::string> Names() const;

  // Replace the value (whatever its type was, keeping its line and the case
  // of its stored name) or append it at the end.
  void SetString(const std::string& name, const std::string& value);
  void SetInteger(const std::string& name, int32_t value);
  // False when there was no such value.
  bool Remove(const std::string& name);

 private:
  struct Line {
    std::string raw;
    RegistryDataType type = RegistryDataType::None;  // None: not a value line
    std::string name;
    std::string text;
    int32_t number = 0;
  };

  // A value line, or an unknown line kept as it stands.
  static Line ParseLine(std::string raw);
  const Line* Find(const std::string& name) const;
  Line& LineFor(const std::string& name);

  std::vector<Line> lines_;
  SettingsTextForm form_ = SettingsTextForm::Utf8;
};

}  // namespace platform
