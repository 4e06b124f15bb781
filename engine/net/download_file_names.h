// SPDX-License-Identifier: MIT
// The file-name and URL routines that the download needs for enclosures:
// usable extensions, the document name of a URL, the Content-Disposition
// name, the extension of a content type, temporary, safe and unique names,
// the move of the finished file.
//
// These stand in for the engine's shared URL and file-name helpers until
// those are wired in; they live in their own namespace so that both can be
// linked side by side meanwhile. Names are UTF-8; folders end in '/'.
#pragma once

#include <string>

namespace tidewell::download_names {

// The lower-cased extension (with its dot) has at least 2 characters and is
// none of .php .php3 .asp .aspx .pl .tmp.
bool IsUsableFileExtension(const std::string& fileName);
// The extension with its dot ("" without one): the last '.' after the last
// '/' that is followed by at least one character.
std::string ExtractFileExt(const std::string& fileName);
// The last path segment of the URL without query or fragment, trimmed, with
// / \ * ? " < > | : each replaced by '_'.
std::string UrlDocumentToFileName(const std::string& url);
// The text after the first "filename=" up to the first ';', '\' or NUL,
// without quotes and '/', trimmed; "" without "filename=".
std::string ExtractContentDispositionFileName(const std::string& header);
// The last path component of a name a server proposes ("../../x" gives "x").
std::string LastPathComponent(const std::string& name);
// A name that stays inside its folder: the nine characters above replaced
// by '_', a name made only of dots (or empty) replaced by "download", and a
// name longer than 255 bytes shortened keeping its extension.
std::string SafeEnclosureFileName(const std::string& name);
// The extension registered for a content type in the system's MIME table
// (with its dot), "" when none is known.
std::string GetExtensionForContentType(const std::string& contentType);
// "download" + year, month and day + 8 upper-case hexadecimal digits of a
// random number + ".tmp".
std::string MakeTempDownloadFileName();
// path itself when no file of that name exists, else the first free name
// with "(n)" before the extension, n from 1 to 1024; path when all exist.
std::string MakeUniqueFileName(const std::string& path);
// Moves a file, copying across file systems; the data is flushed to disk
// before the call returns. An existing target is never replaced (EEXIST).
// Returns 0 or the system's error number.
int MoveFileWriteThrough(const std::string& from, const std::string& to);
// url made absolute against base; url itself when it cannot be resolved.
std::string ResolveUrl(const std::string& base, const std::string& url);

}  // namespace tidewell::download_names
