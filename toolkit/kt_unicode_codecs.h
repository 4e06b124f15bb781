// SPDX-License-Identifier: MIT
// The codecs that are not single-byte lookup tables: ISO-8859-1 (the
// default), US-ASCII, JIS_X0201, TIS-620, GB 18030 (read only), UCS-2, UCS-4,
// UTF-7, UTF-8, UTF-16 and UTF-32.
//
// Decoders return false only when the bytes run out before a character is
// complete; bytes that form no valid character give U+FFFD, and characters
// above U+FFFF give one U+FFFD. Encoders return false, writing nothing, when
// the character has no encoding.
#pragma once

#include "toolkit/kt_unicode.h"

namespace kt {

bool Read_ISO_8859_1(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_1(TKtUnicodeWriter& writer, WideChar c);
bool Read_US_ASCII(TKtUnicodeReader& reader, WideChar& c);
bool Write_US_ASCII(TKtUnicodeWriter& writer, WideChar c);
bool Read_JIS_X0201(TKtUnicodeReader& reader, WideChar& c);
bool Write_JIS_X0201(TKtUnicodeWriter& writer, WideChar c);
bool Read_TIS_620(TKtUnicodeReader& reader, WideChar& c);
bool Write_TIS_620(TKtUnicodeWriter& writer, WideChar c);
// GB 18030-2000, Basic Multilingual Plane; there is no encoder.
bool Read_GB18030(TKtUnicodeReader& reader, WideChar& c);

bool Read_UCS_2BE(TKtUnicodeReader& reader, WideChar& c);
bool Read_UCS_2LE(TKtUnicodeReader& reader, WideChar& c);
bool Write_UCS_2BE(TKtUnicodeWriter& writer, WideChar c);
bool Write_UCS_2LE(TKtUnicodeWriter& writer, WideChar c);
bool Read_UCS_4BE(TKtUnicodeReader& reader, WideChar& c);
bool Read_UCS_4LE(TKtUnicodeReader& reader, WideChar& c);
bool Write_UCS_4BE(TKtUnicodeWriter& writer, WideChar c);
bool Write_UCS_4LE(TKtUnicodeWriter& writer, WideChar c);

// UTF-7 keeps its state in CodecState between Init and Done; using the
// reader or writer routines without their Init raises kt::Exception.
void Read_UTF_7_Init(TKtUnicodeReader& reader);
bool Read_UTF_7(TKtUnicodeReader& reader, WideChar& c);
void Read_UTF_7_Done(TKtUnicodeReader& reader);
void Write_UTF_7_Init(TKtUnicodeWriter& writer);
// Writes only letters, digits and space ' ( ) , . : ? directly.
bool Write_UTF_7(TKtUnicodeWriter& writer, WideChar c);
// Writes every printable ASCII character but + \ ~ directly.
bool Write_UTF_7_Optional(TKtUnicodeWriter& writer, WideChar c);
// Writes out pending bits; when that needed padding the base64 run ends.
void Write_UTF_7_Flush(TKtUnicodeWriter& writer);
void Write_UTF_7_Done(TKtUnicodeWriter& writer);

bool Read_UTF_8(TKtUnicodeReader& reader, WideChar& c);
// Never refuses. A surrogate pair becomes one four-byte sequence (the high
// surrogate is held in the writer until the next character); a lone
// surrogate is written as U+FFFD.
bool Write_UTF_8(TKtUnicodeWriter& writer, WideChar c);
bool Read_UTF_16BE(TKtUnicodeReader& reader, WideChar& c);
bool Read_UTF_16LE(TKtUnicodeReader& reader, WideChar& c);
bool Write_UTF_16BE(TKtUnicodeWriter& writer, WideChar c);
bool Write_UTF_16LE(TKtUnicodeWriter& writer, WideChar c);
bool Read_UTF_32BE(TKtUnicodeReader& reader, WideChar& c);
bool Read_UTF_32LE(TKtUnicodeReader& reader, WideChar& c);
bool Write_UTF_32BE(TKtUnicodeWriter& writer, WideChar c);
bool Write_UTF_32LE(TKtUnicodeWriter& writer, WideChar c);

}  // namespace kt
