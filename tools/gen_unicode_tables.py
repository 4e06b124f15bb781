#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Generates the code-page and GB 18030 tables of the Unicode codecs.

Sources:
- the charmap codecs of the Python 3 standard library, which are generated
  from the Unicode Consortium's published mapping files (MAPPINGS/ISO8859,
  VENDORS/MICSFT, VENDORS/APPLE, RFC 1489 and RFC 2319 for KOI8);
- Python's "gb18030" codec, which implements the GB 18030-2000 mapping
  (0xA8BC is U+E7C7, 0x8135F437 is U+1E3F), unlike glibc's iconv;
- the tables written out below for the pages that no codec carries in the
  form we decode them (KOI8-RU, MacDingbats, MacHebrew, MacThai, NextStep).

Run from the repository root:  python3 tools/gen_unicode_tables.py
It rewrites toolkit/kt_unicode_single_byte_tables.h and
toolkit/kt_unicode_gb18030_table.cpp; running it again gives the same bytes.
"""
import codecs
import os
import sys

# Member order of the single-byte family, with the codec each table equals.
PAGES = [
    ("ISO_8859_2", "iso8859_2"), ("ISO_8859_3", "iso8859_3"),
    ("ISO_8859_4", "iso8859_4"), ("ISO_8859_5", "iso8859_5"),
    ("ISO_8859_6", "iso8859_6"), ("ISO_8859_7", "iso8859_7"),
    ("ISO_8859_8", "iso8859_8"), ("ISO_8859_9", "iso8859_9"),
    ("ISO_8859_10", "iso8859_10"), ("ISO_8859_13", "iso8859_13"),
    ("ISO_8859_14", "iso8859_14"), ("ISO_8859_15", "iso8859_15"),
    ("ISO_8859_16", "iso8859_16"), ("KOI8_R", "koi8_r"),
    ("KOI8_RU", None), ("KOI8_U", "koi8_u"),
    ("Windows_1250", "cp1250"), ("Windows_1251", "cp1251"),
    ("Windows_1252", "cp1252"), ("Windows_1253", "cp1253"),
    ("Windows_1254", "cp1254"), ("Windows_1255", "cp1255"),
    ("Windows_1256", "cp1256"), ("Windows_1257", "cp1257"),
    ("Windows_1258", "cp1258"), ("IBM850", "cp850"), ("IBM862", "cp862"),
    ("IBM866", "cp866"), ("MacRoman", "mac_roman"),
    ("MacCentralEurope", "mac_latin2"), ("MacDingbats", None),
    ("MacIceland", "mac_iceland"), ("MacCroatian", "mac_croatian"),
    ("MacRomania", "mac_romanian"), ("MacCyrillic", "mac_cyrillic"),
    ("MacGreek", "mac_greek"), ("MacTurkish", "mac_turkish"),
    ("MacHebrew", None), ("MacArabic", "mac_arabic"), ("MacThai", None),
    ("MacFarsi", "mac_farsi"), ("IBM424", "cp424"), ("IBM437", "cp437"),
    ("CP_737", "cp737"), ("CP_775", "cp775"), ("IBM852", "cp852"),
    ("IBM855", "cp855"), ("CP_856", "cp856"), ("IBM857", "cp857"),
    ("IBM860", "cp860"), ("IBM861", "cp861"), ("IBM863", "cp863"),
    ("IBM864", "cp864"), ("IBM865", "cp865"), ("IBM869", "cp869"),
    ("CP_874", "cp874"), ("NextStep", None),
]

# Bytes without a character per page: a check on the sources.
UNDEFINED = {
    "ISO_8859_3": 7, "ISO_8859_6": 45, "ISO_8859_7": 3, "ISO_8859_8": 36,
    "Windows_1250": 5, "Windows_1251": 1, "Windows_1252": 5,
    "Windows_1253": 17, "Windows_1254": 7, "Windows_1255": 23,
    "Windows_1257": 12, "Windows_1258": 9, "MacDingbats": 21,
    "MacHebrew": 3, "MacThai": 28, "IBM424": 38, "CP_856": 41,
    "IBM857": 3, "IBM864": 6, "IBM869": 9, "CP_874": 31, "NextStep": 2,
}

KOI8_RU_FROM_KOI8_U = {
    0x93: 0x201C, 0x96: 0x201D, 0x97: 0x2014, 0x98: 0x2116, 0x99: 0x2122,
    0x9B: 0x00BB, 0x9C: 0x00AE, 0x9D: 0x00AB, 0x9F: 0x00A4, 0xAE: 0x045E,
    0xBE: 0x040E,
}

MAC_DINGBATS_20 = """
0020 2701 2702 2703 2704 260E 2706 2707 2708 2709 261B 261E 270C 270D 270E 270F
2710 2711 2712 2713 2714 2715 2716 2717 2718 2719 271A 271B 271C 271D 271E 271F
2720 2721 2722 2723 2724 2725 2726 2727 2605 2729 272A 272B 272C 272D 272E 272F
2730 2731 2732 2733 2734 2735 2736 2737 2738 2739 273A 273B 273C 273D 273E 273F
2740 2741 2742 2743 2744 2745 2746 2747 2748 2749 274A 274B 25CF 274D 25A0 274F
2750 2751 2752 25B2 25BC 25C6 2756 25D7 2758 2759 275A 275B 275C 275D 275E 007F
2768 2769 276A 276B 276C 276D 276E 276F 2770 2771 2772 2773 2774 2775 FFFD FFFD
FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD
FFFD 2761 2762 2763 2764 2765 2766 2767 2663 2666 2665 2660 2460 2461 2462 2463
2464 2465 2466 2467 2468 2469 2776 2777 2778 2779 277A 277B 277C 277D 277E 277F
2780 2781 2782 2783 2784 2785 2786 2787 2788 2789 278A 278B 278C 278D 278E 278F
2790 2791 2792 2793 2794 2192 2194 2195 2798 2799 279A 279B 279C 279D 279E 279F
27A0 27A1 27A2 27A3 27A4 27A5 27A6 27A7 27A8 27A9 27AA 27AB 27AC 27AD 27AE 27AF
FFFD 27B1 27B2 27B3 27B4 27B5 27B6 27B7 27B8 27B9 27BA 27BB 27BC 27BD 27BE FFFD
"""

MAC_HEBREW_80 = """
00C4 FFFD 00C7 00C9 00D1 00D6 00DC 00E1 00E0 00E2 00E4 00E3 00E5 00E7 00E9 00E8
00EA 00EB 00ED 00EC 00EE 00EF 00F1 00F3 00F2 00F4 00F6 00F5 00FA 00F9 00FB 00FC
0020 0021 0022 0023 0024 0025 20AA 0027 0029 0028 002A 002B 002C 002D 002E 002F
0030 0031 0032 0033 0034 0035 0036 0037 0038 0039 003A 003B 003C 003D 003E 003F
FFFD 201E F89B F89C F89D F89E 05BC FB4B FB35 2026 00A0 05B8 05B7 05B5 05B6 05B4
2013 2014 201C 201D 2018 2019 FB2A FB2B 05BF 05B0 05B2 05B1 05BB 05B9 FFFD 05B3
05D0 05D1 05D2 05D3 05D4 05D5 05D6 05D7 05D8 05D9 05DA 05DB 05DC 05DD 05DE 05DF
05E0 05E1 05E2 05E3 05E4 05E5 05E6 05E7 05E8 05E9 05EA 007D 005D 007B 005B 007C
"""

MAC_THAI_80 = """
00AB 00BB 2026 FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD 201C 201D FFFD
FFFD 2022 FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD 2018 2019 FFFD
00A0 0E01 0E02 0E03 0E04 0E05 0E06 0E07 0E08 0E09 0E0A 0E0B 0E0C 0E0D 0E0E 0E0F
0E10 0E11 0E12 0E13 0E14 0E15 0E16 0E17 0E18 0E19 0E1A 0E1B 0E1C 0E1D 0E1E 0E1F
0E20 0E21 0E22 0E23 0E24 0E25 0E26 0E27 0E28 0E29 0E2A 0E2B 0E2C 0E2D 0E2E 0E2F
0E30 0E31 0E32 0E33 0E34 0E35 0E36 0E37 0E38 0E39 0E3A 2060 200B 2013 2014 0E3F
0E40 0E41 0E42 0E43 0E44 0E45 0E46 0E47 0E48 0E49 0E4A 0E4B 0E4C 0E4D 2122 0E4F
0E50 0E51 0E52 0E53 0E54 0E55 0E56 0E57 0E58 0E59 00AE 00A9 FFFD FFFD FFFD FFFD
"""

NEXTSTEP_80 = """
00A0 00C0 00C1 00C2 00C3 00C4 00C5 00C7 00C8 00C9 00CA 00CB 00CC 00CD 00CE 00CF
00D0 00D1 00D2 00D3 00D4 00D5 00D6 00D9 00DA 00DB 00DC 00DD 00DE 00B5 00D7 00F7
00A9 00A1 00A2 00A3 2044 00A5 0192 00A7 00A4 2019 201C 00AB 2039 203A FB01 FB02
00AE 2013 2020 2021 00B7 00A6 00B6 2022 201A 201E 201D 00BB 2026 2030 00AC 00BF
00B9 02CB 00B4 02C6 02DC 00AF 02D8 02D9 00A8 00B2 02DA 00B8 00B3 02DD 02DB 02C7
2014 00B1 00BC 00BD 00BE 00E0 00E1 00E2 00E3 00E4 00E5 00E7 00E8 00E9 00EA 00EB
00EC 00C6 00ED 00AA 00EE 00EF 00F0 00F1 0141 00D8 0152 00BA 00F2 00F3 00F4 00F5
00F6 00E6 00F9 00FA 00FB 0131 00FC 00FD 0142 00F8 0153 00DF 00FE 00FF FFFD FFFD
"""


def hex_values(text):
    return [int(word, 16) for word in text.split()]


def codec_table(codec):
    table = []
    for byte in range(256):
        try:
            text = bytes([byte]).decode(codec)
        except UnicodeDecodeError:
            text = "\ufffd"
        assert len(text) == 1, (codec, byte)
        table.append(ord(text))
    return table


def given_table(name):
    if name == "MacDingbats":
        return list(range(0x20)) + hex_values(MAC_DINGBATS_20)
    upper = {"MacHebrew": MAC_HEBREW_80, "MacThai": MAC_THAI_80,
             "NextStep": NEXTSTEP_80}[name]
    return list(range(0x80)) + hex_values(upper)


def page_table(name, codec):
    if name == "KOI8_RU":
        table = codec_table("koi8_u")
        for byte, char in KOI8_RU_FROM_KOI8_U.items():
            table[byte] = char
    elif codec is None:
        table = given_table(name)
    else:
        table = codec_table(codec)
    assert len(table) == 256, name
    assert table.count(0xFFFD) == UNDEFINED.get(name, 0), name
    return table


def check_page_facts(tables):
    assert tables["KOI8_U"][0xB4] == 0x0404
    assert tables["KOI8_RU"][0xB4] == 0x0404
    assert tables["ISO_8859_7"][0xA4] == 0x20AC
    assert tables["IBM864"][0x25] == 0x066A
    assert tables["IBM424"][0x40] == 0x0020 and tables["IBM424"][0x20] == 0x0080
    assert tables["MacArabic"][0xA0] == 0x0020


HEADER_TOP = """\
// SPDX-License-Identifier: MIT
// Generated by tools/gen_unicode_tables.py; do not edit.
// The 256 characters of each single-byte code page, indexed by byte value;
// U+FFFD marks a byte without a character.
#pragma once

#include <array>

namespace kt::single_byte_tables {

using Table = std::array<char16_t, 256>;
"""


def format_values(values, per_line, indent):
    lines = []
    for start in range(0, len(values), per_line):
        words = ", ".join(values[start:start + per_line])
        lines.append(indent + words + ",")
    return "\n".join(lines)


def write_single_byte(path):
    tables = {name: page_table(name, codec) for name, codec in PAGES}
    check_page_facts(tables)
    parts = [HEADER_TOP]
    for name, _ in PAGES:
        values = ["0x%04X" % char for char in tables[name]]
        parts.append("\ninline constexpr Table k%s = {{\n%s\n}};\n"
                     % (name, format_values(values, 8, "    ")))
    parts.append("\n}  // namespace kt::single_byte_tables\n")
    write_file(path, "".join(parts))


def gb_two_byte():
    table = []
    for lead in range(0x81, 0xFF):
        for trail in list(range(0x40, 0x7F)) + list(range(0x80, 0xFF)):
            text = bytes([lead, trail]).decode("gb18030")
            assert len(text) == 1 and ord(text) <= 0xFFFF
            table.append(ord(text))
    assert len(table) == 23940 and table[(0xA8 - 0x81) * 190 + 0xBC - 0x41] == 0xE7C7
    return table


def gb_four_byte_chars():
    chars = []
    for linear in range(39420):
        b4, rest = linear % 10, linear // 10
        b3, rest = rest % 126, rest // 126
        b2, b1 = rest % 10, rest // 10
        text = bytes([b1 + 0x81, b2 + 0x30, b3 + 0x81, b4 + 0x30]).decode("gb18030")
        assert len(text) == 1
        chars.append(ord(text))
    return chars


def gb_runs(two_byte):
    chars = gb_four_byte_chars()
    covered = set(two_byte)
    expected = [c for c in range(0x80, 0x10000)
                if c not in covered and not 0xD800 <= c <= 0xDFFF]
    assert chars == expected, "four-byte codes are not the uncovered BMP in order"
    runs = []
    for linear, char in enumerate(chars):
        if not runs or char != chars[linear - 1] + 1:
            runs.append((linear, char))
    assert len(runs) == 206 and chars[7457] == 0x1E3F
    return runs


GB_TOP = """\
// SPDX-License-Identifier: MIT
// Generated by tools/gen_unicode_tables.py; do not edit.
// GB 18030-2000 to Unicode, Basic Multilingual Plane only.
#include "toolkit/kt_unicode_gb18030_table.h"

namespace kt::gb18030 {
"""


def write_gb18030(path):
    two_byte = gb_two_byte()
    runs = gb_runs(two_byte)
    values = ["0x%04X" % char for char in two_byte]
    run_values = ["{%d, 0x%04X}" % run for run in runs]
    text = (GB_TOP
            + "\nconst char16_t kTwoByte[kTwoByteCount] = {\n"
            + format_values(values, 10, "    ")
            + "\n};\n\nconst FourByteRun kFourByteRuns[kFourByteRunCount] = {\n"
            + format_values(run_values, 5, "    ")
            + "\n};\n\n}  // namespace kt::gb18030\n")
    write_file(path, text)


def write_file(path, text):
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write(text)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    write_single_byte(os.path.join(root, "toolkit", "kt_unicode_single_byte_tables.h"))
    write_gb18030(os.path.join(root, "toolkit", "kt_unicode_gb18030_table.cpp"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
