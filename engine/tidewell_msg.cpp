// SPDX-License-Identifier: MIT
#include "engine/tidewell_msg.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace tidewell {
namespace {

struct MessageRow {
  int32_t id;
  const char* text;
};

// Ids 65214, 65215 and 65248 to 65252 belong to no engine message.
constexpr MessageRow kMessages[] = {
    {65200, "Can't perform operation, query open ?"},
    {65201, "Filesize mismatch !"},
    {65202, "OPML file has invalid rootnode"},
    {65203, "OPML file has no body tag"},
    {65204, "Feed size (%d bytes) too large. Quata size %d bytes"},
    {65205, "Enclosure rename failed ! Error  code : %d"},
    {65206, "Configuration file not loaded !"},
    {65207, "Can't create directory !\r\n\r\n%s"},
    {65208, "Registry keys not defined !"},
    {65209, "Rootnode not found !"},
    {65210, "Unable to get date from parent class !"},
    {65211, "Owner should be tidewell class"},
    {65212, "Folder not described properly ! Use repair mode"},
    {65213, "(no title)"},
    {65216, "Filter not assigned"},
    {65217, "Filter class not found"},
    {65218, "Filter move failed !"},
    {65219, "Datetime value was empty  !"},
    {65220, "No active connection"},
    {65221, "Folder not found !"},
    {65222, "Folder is unassigned"},
    {65223, "Folder has no name"},
    {65224, "Failed to save folder"},
    {65225, "Can't read configuration file ->\r\n%s"},
    {65226, "Can't perform this operation ! Managment class is missing"},
    {65227, "Folders not loaded !"},
    {65228, "Group item inpropertly defined"},
    {65229, "Error in grouping function ! \r\n\r\n%s"},
    {65230, "Parent class is missing / invalid id / incorrect parent class !"},
    {65231, "Current class relationship not supported !"},
    {65232, "Can't add/update feed."},
    {65233, "Feed index out of bounds !"},
    {65234, "Enclosure index out of bounds"},
    {65235, "Enclosure insert/update failed ! "},
    {65236, "Enclosure url length >8191"},
    {65237, "Enclosure download failed !"},
    {65238, "Article index out of bounds"},
    {65239, "Link index out of bound"},
    {65240, "Invalid item index"},
    {65241, "Invalid URL !"},
    {65242, "Max redirects exceeded ! Max. %d"},
    {65243, "Feed (%d) not found"},
    {65244, "Invalid update interval"},
    {65245, "Filter inpropertly defined"},
    {65246, "Invalid SQL operator for blob"},
    {65247, "Filter has invalid item count for this operator"},
    {65253, "Can't determine content type"},
    {65254, "Can't create cache directory"},
    {65255, "Incorrect value !"},
    {65256, "Database file \"%s\" not found"},
    {65257, "All threads must finish their job first"},
    {65258, "Incorrect namespace (%s)"},
    {65259, "Namespace is missing"},
    {65260, "Feed (%s) is already in database "},
    {65261, "Fetch operation was aborted"},
    {65262, "Unsupported feed format: URL %s (resp content-type %s)"},
    {65263, "No RSS URLs found !\r\n%s"},
};

// Replaces the placeholders of format one by one with the texts given; a
// placeholder without an argument stays as it is, "%%" becomes "%".
std::string Substitute(const std::string& format, const std::vector<std::string>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const bool placeholder = format[i] == '%' && i + 1 < format.size();
    if (placeholder && format[i + 1] == '%') {
      out += '%';
      ++i;
    } else if (placeholder && (format[i + 1] == 'd' || format[i + 1] == 's') && next < args.size()) {
      out += args[next++];
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

}  // namespace

const char* MessageText(int32_t id) {
  const auto* row = std::find_if(std::begin(kMessages), std::end(kMessages),
                                 [id](const MessageRow& r) { return r.id == id; });
  return row == std::end(kMessages) ? "" : row->text;
}

int MessageCount() { return static_cast<int>(std::size(kMessages)); }

std::string FormatText(const std::string& format, const std::string& arg) { return Substitute(format, {arg}); }

std::string FormatText(const std::string& format, int64_t arg) { return Substitute(format, {std::to_string(arg)}); }

std::string FormatText(const std::string& format, int64_t first, int64_t second) {
  return Substitute(format, {std::to_string(first), std::to_string(second)});
}

std::string FormatText(const std::string& format, const std::string& first, const std::string& second) {
  return Substitute(format, {first, second});
}

void RaiseMessage(int32_t id) { throw kt::Exception(MessageText(id)); }

void RaiseMessage(int32_t id, const std::string& arg) { throw kt::Exception(FormatText(MessageText(id), arg)); }

void RaiseMessage(int32_t id, int64_t arg) { throw kt::Exception(FormatText(MessageText(id), arg)); }

void RaiseMessage(int32_t id, int64_t first, int64_t second) {
  throw kt::Exception(FormatText(MessageText(id), first, second));
}

void RaiseMessage(int32_t id, const std::string& first, const std::string& second) {
  throw kt::Exception(FormatText(MessageText(id), first, second));
}

}  // namespace tidewell
