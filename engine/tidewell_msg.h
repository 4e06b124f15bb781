// SPDX-License-Identifier: MIT
// The engine's message table: every user-visible error text of its own, by
// its fixed message id. Texts stand byte for byte, misspellings included:
// callers and stored results compare them.
#pragma once

#include <cstdint>
#include <string>

#include "toolkit/exception.h"

namespace tidewell {

enum TidewellMsg : int32_t {
  kQueryOpen = 65200,
  kFilesizeMismatch = 65201,
  kOpmlInvalidRootNode = 65202,
  kOpmlNoBodyTag = 65203,
  kFeedTooLarge = 65204,
  kEnclosureRenameFailed = 65205,
  kConfigNotLoaded = 65206,
  kCantCreateDirectory = 65207,
  kRegistryKeysNotDefined = 65208,
  kRootNodeNotFound = 65209,
  kNoDateFromParent = 65210,
  kOwnerNotTidewell = 65211,
  kFolderNotDescribed = 65212,
  kNoTitle = 65213,
  kFilterNotAssigned = 65216,
  kFilterClassNotFound = 65217,
  kFilterMoveFailed = 65218,
  kDatetimeEmpty = 65219,
  kNoActiveConnection = 65220,
  kFolderNotFound = 65221,
  kFolderUnassigned = 65222,
  kFolderHasNoName = 65223,
  kFailedToSaveFolder = 65224,
  kCantReadConfigFile = 65225,
  kManagementClassMissing = 65226,
  kFoldersNotLoaded = 65227,
  kGroupItemBadlyDefined = 65228,
  kGroupingFunctionError = 65229,
  kParentClassInvalid = 65230,
  kRelationshipNotSupported = 65231,
  kCantAddUpdateFeed = 65232,
  kFeedIndexOutOfBounds = 65233,
  kEnclosureIndexOutOfBounds = 65234,
  kEnclosureInsertUpdateFailed = 65235,
  kEnclosureUrlTooLong = 65236,
  kEnclosureDownloadFailed = 65237,
  kArticleIndexOutOfBounds = 65238,
  kLinkIndexOutOfBound = 65239,
  kInvalidItemIndex = 65240,
  kInvalidUrl = 65241,
  kMaxRedirectsExceeded = 65242,
  kFeedNotFound = 65243,
  kInvalidUpdateInterval = 65244,
  kFilterBadlyDefined = 65245,
  kInvalidBlobOperator = 65246,
  kFilterInvalidItemCount = 65247,
  kCantDetermineContentType = 65253,
  kCantCreateCacheDirectory = 65254,
  kIncorrectValue = 65255,
  kDatabaseFileNotFound = 65256,
  kThreadsMustFinish = 65257,
  kIncorrectNamespace = 65258,
  kNamespaceMissing = 65259,
  kFeedAlreadyInDatabase = 65260,
  kFetchAborted = 65261,
  kUnsupportedFeedFormat = 65262,
  kNoRssUrlsFound = 65263,
};

// The text of a message id; empty for an id that is not in the table.
const char* MessageText(int32_t id);
// The number of messages in the table.
int MessageCount();

// Formats a text with printf-style placeholders (%d takes an integer, %s a
// UTF-8 text). Supplying fewer arguments than placeholders is a caller error.
std::string FormatText(const std::string& format, const std::string& arg);
std::string FormatText(const std::string& format, int64_t arg);
std::string FormatText(const std::string& format, int64_t first, int64_t second);
std::string FormatText(const std::string& format, const std::string& first, const std::string& second);

// Raises the general exception with the message's text, formatted with the
// arguments where it holds placeholders.
[[noreturn]] void RaiseMessage(int32_t id);
[[noreturn]] void RaiseMessage(int32_t id, const std::string& arg);
[[noreturn]] void RaiseMessage(int32_t id, int64_t arg);
[[noreturn]] void RaiseMessage(int32_t id, int64_t first, int64_t second);
[[noreturn]] void RaiseMessage(int32_t id, const std::string& first, const std::string& second);

}  // namespace tidewell
