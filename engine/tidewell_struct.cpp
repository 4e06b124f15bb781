// SPDX-License-Identifier: MIT
#include "engine/tidewell_struct.h"

#include <array>
#include <iterator>

namespace tidewell {
namespace {

constexpr const char* kJobNames[] = {"CNoJob", "CfeedOperation", "CgetArticle", "CgetEnclosure", "CgetRawData",
                                     "CgetOpmlData"};
constexpr const char* kOpNames[] = {"cunknown", "cInsert", "cUpdate"};
constexpr const char* kErrorNames[] = {"noErrors", "ErrHttpGet", "ErrXMLparse", "ErrDatabaseOp",
                                       "ErrGUI",   "ErrIO",      "ErrUnknown"};
constexpr const char* kReadNames[] = {"cmarkasUnRead", "cmarkAsRead", "cmarkAsRemoved", "cRSNoChange"};
constexpr const char* kFlagNames[] = {"cFTNoFlag", "cFTRed",    "cFTYellow", "cFTGreen",
                                      "cFTBlue",   "cFTOrange", "cFTPurple", "cFTNoChange"};

template <typename E>
struct Names;
template <>
struct Names<TQueueJobTypes> {
  static constexpr auto& list = kJobNames;
};
template <>
struct Names<TFeedOpType> {
  static constexpr auto& list = kOpNames;
};
template <>
struct Names<TErrorCategory> {
  static constexpr auto& list = kErrorNames;
};
template <>
struct Names<TArticleReadStatus> {
  static constexpr auto& list = kReadNames;
};
template <>
struct Names<TArticleFlagType> {
  static constexpr auto& list = kFlagNames;
};

template <typename E>
const char* NameOf(E value) {
  const auto ordinal = static_cast<size_t>(value);
  return ordinal < std::size(Names<E>::list) ? Names<E>::list[ordinal] : "";
}

}  // namespace

const char* EnumName(TQueueJobTypes value) { return NameOf(value); }
const char* EnumName(TFeedOpType value) { return NameOf(value); }
const char* EnumName(TErrorCategory value) { return NameOf(value); }
const char* EnumName(TArticleReadStatus value) { return NameOf(value); }
const char* EnumName(TArticleFlagType value) { return NameOf(value); }

template <typename E>
std::optional<E> EnumFromName(const std::string& name) {
  for (size_t i = 0; i < std::size(Names<E>::list); ++i)
    if (name == Names<E>::list[i]) return static_cast<E>(i);
  return std::nullopt;
}

template <typename E>
std::optional<E> EnumFromOrdinal(int ordinal) {
  if (ordinal < 0 || static_cast<size_t>(ordinal) >= std::size(Names<E>::list)) return std::nullopt;
  return static_cast<E>(ordinal);
}

template std::optional<TQueueJobTypes> EnumFromName(const std::string&);
template std::optional<TFeedOpType> EnumFromName(const std::string&);
template std::optional<TErrorCategory> EnumFromName(const std::string&);
template std::optional<TArticleReadStatus> EnumFromName(const std::string&);
template std::optional<TArticleFlagType> EnumFromName(const std::string&);
template std::optional<TQueueJobTypes> EnumFromOrdinal(int);
template std::optional<TFeedOpType> EnumFromOrdinal(int);
template std::optional<TErrorCategory> EnumFromOrdinal(int);
template std::optional<TArticleReadStatus> EnumFromOrdinal(int);
template std::optional<TArticleFlagType> EnumFromOrdinal(int);

const std::vector<std::string>& RightToLeftLanguageCodes() {
  static const std::vector<std::string> codes = {"FA", "AR", "HE"};
  return codes;
}

}  // namespace tidewell
