// SPDX-License-Identifier: MIT
// The engine's general routines: URL splitting and normalising, enclosure
// file names, content types and extensions, HTML entities, MD5 texts, SQL
// paging clauses, file operations on 16-bit names and a few text routines.
// Plain functions without state, safe on any thread. Dates: tidewell_date.h.
//
// 8-bit texts are UTF-8; 16-bit names are converted to UTF-8 for the system.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/tidewell_struct.h"
#include "platform/file_ops.h"
#include "toolkit/stream.h"

namespace tidewell {

using platform::kMoveCopyAllowed;
using platform::kMoveReplaceExisting;
using platform::kMoveWriteThrough;

void SleepMs(int milliseconds);
// True for the system's file calls taking full Unicode names (always here).
bool IsWinNT();

// ---- Text -------------------------------------------------------------------

// True when the trimmed text is "1" or, ignoring case, "true".
bool TextToBool(const std::string& text);
// Ordinal comparison up to the first NUL: <0, 0 or >0.
int StrCompare(const std::string& a, const std::string& b);
// The ids joined by ","; empty for no ids.
std::string IntArrayToCommaText(const TDynIntArray& ids);
// Adds every ";"-separated part that is not blank, trimmed, to list.
void SplitSemicolonList(const std::string& text, std::vector<std::string>& list);
// Everything from "<" through the next ">" removed; an unclosed "<" and what
// follows it stay.
WideString StripHtmlTags(const WideString& text);
// ELF hash of the bytes; 0 for an empty text.
uint32_t StringHash(const std::string& text);

// ---- HTML entities ----------------------------------------------------------

// The code (0 to 255) of an entity name: a number (decimal, or hexadecimal
// after "$") of more than one character when it is from 32 to 255, else 32;
// a name of the entity table (case-sensitive), else 32.
int HtmlEntityToChar(const std::string& name);
// Replaces every reference "&name;", "&#nnn;" and "&#xhh;" whose name is in
// the entity table or whose number is well formed by its character (codes
// 128-159 as Windows-1252 has them, numbers outside 32-255 as a blank). Any
// other "&" stays as it is, so URLs with query strings survive.
void DecodeHtmlEntities(std::string& text);

// ---- MD5 --------------------------------------------------------------------

// MD5 of the whole stream from position 0, as 32 upper-case hexadecimal
// digits; empty without a stream. Leaves the position at the end.
std::string StreamMD5Hex(kt::TStream* stream);
// MD5 of the bytes, as 32 upper-case hexadecimal digits.
std::string BytesMD5Hex(std::string_view bytes);

// ---- SQL --------------------------------------------------------------------

// " FIRST(count) SKIP(skip) " when count is above 0, else empty; it goes
// right after "select ".
std::string SqlPagingPrefix(int32_t count, int32_t skip);
// Always empty: the database takes the paging in the prefix.
std::string SqlPagingSuffix(int32_t count, int32_t skip);

// ---- URLs -------------------------------------------------------------------

// Letters, digits and printable ASCII stay, except % & / : ; < = > ? and \,
// which, like every other byte, become "%" and two upper-case hex digits.
std::string UrlEncodeChars(const std::string& text);
// Trimmed, then trailing "%" and "?" removed.
std::string TrimTrailingUrlMarks(const std::string& text);
bool IsHttpUrl(const std::string& text);   // "http://" or "https://", any case
bool IsHttpsUrl(const std::string& text);  // "https:", any case
// The protocol before "://"; empty without one.
std::string GetUrlProtocol(const std::string& url);
// HostUrl "protocol://host[:port]", BaseUrl that plus the path, ending in "/".
// Both empty for a blank URL.
void SplitUrl(const std::string& url, std::string& hostUrl, std::string& baseUrl);
// The absolute URL of url against baseUrl (RFC 2396 resolution). When either
// text is no valid URI, url comes back unchanged rather than lost.
std::string ResolveUrl(const std::string& baseUrl, const std::string& url);
// Trims the URL and puts "http://" in front unless it starts with a scheme
// and "://". Raises "Invalid URL !" for an empty URL.
void NormalizeUrl(std::string& url);
// Trimmed; the first "http://", else "ftp://", else "https://" (any case)
// removed together with everything before it.
std::string StripUrlScheme(const std::string& url);

// ---- File names -------------------------------------------------------------

// A name that stays inside its folder: control characters become "_", an
// empty name or one of dots only becomes "download", and a name longer than
// the file system allows is shortened keeping its extension.
std::string MakeSafeFileName(const std::string& name);
// The URL's document without its query, trimmed, with / \ * ? " < > | :
// each replaced by "_", made safe as above.
std::string UrlDocumentToFileName(const std::string& url);
// The file name of a Content-Disposition header's "filename=" up to the first
// ";", "\" or NUL, without quotes and "/"; empty without one.
std::string ExtractContentDispositionFileName(const std::string& header);
// The lower-cased extension has 2 or more characters and is none of ".php",
// ".php3", ".asp", ".aspx", ".pl", ".tmp".
bool IsUsableFileExtension(const std::string& fileName);
// "download" + today's year, month and day + 8 random hex digits + ".tmp".
std::string MakeTempDownloadFileName();
// Whether a file name (without folder) is one MakeTempDownloadFileName
// gives: only such files are ever removed as left by a download.
//
//   | name                                | the engine's |
//   |-------------------------------------|--------------|
//   | download202612809ABCDEF.tmp (7 + 8) | yes          |
//   | download20261208A1B2C3D4.tmp        | yes          |
//   | download.tmp, notes.tmp             | no           |
//   | download20261208a1b2c3d4.tmp        | no (lower-case hexadecimal) |
//   | download20261208A1B2C3D4.tmp.mp3    | no           |
//   | Download20261208A1B2C3D4.TMP        | no           |
//   | download2026A1B2C3D4.tmp (no date)  | no           |
bool IsEngineTemporaryName(const std::string& name);
// The last "." after the last folder separator that has a character after
// it: its 1-based position, the extension's length with the dot, and the
// extension. 0, 0 and empty when there is none.
void ExtractFileExtPos(const WideString& fileName, int32_t& position, int32_t& length, WideString& extension);

// ---- Content types ----------------------------------------------------------

// The extension (".mp3") registered for a content type; empty when unknown.
std::string GetExtensionForContentType(const std::string& contentType);
// ".html", ".xml" or ".txt" for HTML, XML and plain-text types.
bool ContentTypeToExtension(const std::string& contentType, std::string& extension);

// ---- Files ------------------------------------------------------------------
// All answer false on failure, with the system's reason in errno.

bool DeleteFileUni(const WideString& fileName);
bool FileExistsUni(const WideString& fileName);
bool MoveFileUni(const WideString& oldName, const WideString& newName, uint32_t flags);
// Whether a finished download may take a name. No two episodes ever share
// one: a name is taken where anything lies under it, and also where a row
// names it, whether or not its file is still there (deleted by the user, or
// a download whose end was never recorded: that row may yet be marked
// downloaded with whatever file lies there then).
//
//   | anything on disk | named by a row | free |
//   |------------------|----------------|------|
//   | no               | no             | yes  |
//   | no               | yes            | no   |
//   | yes              | no             | no   |
//   | yes              | yes            | no   |
bool IsFreeFileName(bool onDisk, bool namedByRow);
// The name itself when it is free (IsFreeFileName; namedByRow says whether
// a row names a path, none when empty, and its failures pass on); else the
// first free name(N).ext. A name that only a row holds is passed over
// without counting as a try (rows keep their names for good, so a feed with
// one fixed file name gathers them); after 1024 names found on disk, the
// name itself.
WideString MakeUniqueFileName(const WideString& fileName,
                              const std::function<bool(const WideString&)>& namedByRow = {});
// What the name and each of its numbered forms begin with.
WideString NumberedNamesPrefix(const WideString& fileName);

}  // namespace tidewell
