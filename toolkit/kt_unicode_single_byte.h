// SPDX-License-Identifier: MIT
// The single-byte code pages: each decoder looks the byte up in its page's
// 256-entry table (U+FFFD for a byte without a character, which is consumed);
// each encoder is the exact inverse of that table, preferring the byte below
// 0x80 where two bytes hold the same character, and never encodes U+FFFD.
#pragma once

#include "toolkit/kt_unicode.h"

namespace kt {

bool Read_ISO_8859_2(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_2(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_3(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_3(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_4(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_4(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_5(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_5(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_6(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_6(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_7(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_7(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_8(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_8(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_9(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_9(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_10(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_10(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_13(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_13(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_14(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_14(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_15(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_15(TKtUnicodeWriter& writer, WideChar c);
bool Read_ISO_8859_16(TKtUnicodeReader& reader, WideChar& c);
bool Write_ISO_8859_16(TKtUnicodeWriter& writer, WideChar c);
bool Read_KOI8_R(TKtUnicodeReader& reader, WideChar& c);
bool Write_KOI8_R(TKtUnicodeWriter& writer, WideChar c);
bool Read_KOI8_RU(TKtUnicodeReader& reader, WideChar& c);
bool Write_KOI8_RU(TKtUnicodeWriter& writer, WideChar c);
bool Read_KOI8_U(TKtUnicodeReader& reader, WideChar& c);
bool Write_KOI8_U(TKtUnicodeWriter& writer, WideChar c);
bool Read_Windows_1250(TKtUnicodeReader& reader, WideChar& c);
bool Write_Windows_1250(TKtUnicodeWriter& writer, WideChar c);
bool Read_Windows_1251(TKtUnicodeReader& reader, WideChar& c);
bool Write_Windows_1251(TKtUnicodeWriter& writer, WideChar c);
bool Read_Windows_1252(TKtUnicodeReader& reader, WideChar& c);
bool Write_Windows_1252(TKtUnicodeWriter& writer, WideChar c);
bool Read_Windows_1253(TKtUnicodeReader& reader, WideChar& c);
bool Write_Windows_1253(TKtUnicodeWriter& writer, WideChar c);
bool Read_Windows_1254(TKtUnicodeReader& reader, WideChar& c);
bool Write_Windows_1254(TKtUnicodeWriter& writer, WideChar c);
bool Read_Windows_1255(TKtUnicodeReader& reader, WideChar& c);
bool Write_Windows_1255(TKtUnicodeWriter& writer, WideChar c);
bool Read_Windows_1256(TKtUnicodeReader& reader, WideChar& c);
bool Write_Windows_1256(TKtUnicodeWriter& writer, WideChar c);
bool Read_Windows_1257(TKtUnicodeReader& reader, WideChar& c);
bool Write_Windows_1257(TKtUnicodeWriter& writer, WideChar c);
bool Read_Windows_1258(TKtUnicodeReader& reader, WideChar& c);
bool Write_Windows_1258(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM850(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM850(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM862(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM862(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM866(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM866(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacRoman(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacRoman(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacCentralEurope(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacCentralEurope(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacDingbats(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacDingbats(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacIceland(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacIceland(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacCroatian(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacCroatian(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacRomania(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacRomania(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacCyrillic(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacCyrillic(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacGreek(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacGreek(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacTurkish(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacTurkish(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacHebrew(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacHebrew(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacArabic(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacArabic(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacThai(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacThai(TKtUnicodeWriter& writer, WideChar c);
bool Read_MacFarsi(TKtUnicodeReader& reader, WideChar& c);
bool Write_MacFarsi(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM424(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM424(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM437(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM437(TKtUnicodeWriter& writer, WideChar c);
bool Read_CP_737(TKtUnicodeReader& reader, WideChar& c);
bool Write_CP_737(TKtUnicodeWriter& writer, WideChar c);
bool Read_CP_775(TKtUnicodeReader& reader, WideChar& c);
bool Write_CP_775(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM852(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM852(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM855(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM855(TKtUnicodeWriter& writer, WideChar c);
bool Read_CP_856(TKtUnicodeReader& reader, WideChar& c);
bool Write_CP_856(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM857(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM857(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM860(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM860(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM861(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM861(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM863(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM863(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM864(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM864(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM865(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM865(TKtUnicodeWriter& writer, WideChar c);
bool Read_IBM869(TKtUnicodeReader& reader, WideChar& c);
bool Write_IBM869(TKtUnicodeWriter& writer, WideChar c);
bool Read_CP_874(TKtUnicodeReader& reader, WideChar& c);
bool Write_CP_874(TKtUnicodeWriter& writer, WideChar c);
bool Read_NextStep(TKtUnicodeReader& reader, WideChar& c);
bool Write_NextStep(TKtUnicodeWriter& writer, WideChar c);

// Whether read is the decoder of a page whose bytes below 0x80 are ASCII.
bool IsAsciiKeepingPageReader(bool (*read)(TKtUnicodeReader& reader, WideChar& c));

}  // namespace kt
