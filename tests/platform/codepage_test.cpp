// MultiByteToWideChar / WideCharToMultiByte: the Windows contract for code pages 936, 65001 and 0.
// Each call starts from SetLastError(0xdeadbeef), as Wine's conformance tests do, so that a success
// is seen to leave the last error alone and a failure to set exactly the documented code.
#include "platform/codepage/codepage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/codepage/codepage_internal.h"

namespace {

using namespace std::string_view_literals;
using win::BOOL;
using win::DWORD;
using win::GetLastError;
using win::MultiByteToWideChar;
using win::SetLastError;
using win::UINT;
using win::WideCharToMultiByte;

constexpr DWORD kSentinelError = 0xdeadbeef;
constexpr char kSentinelByte = '\x5A';
constexpr char16_t kSentinelUnit = 0xBEEF;
constexpr BOOL kSentinelBool = 0x5A5A;

std::string Hex(std::string_view bytes) {
  std::string text;
  char part[4];
  for (unsigned char byte : bytes) {
    std::snprintf(part, sizeof part, "%02X ", byte);
    text += part;
  }
  return text;
}

std::string Hex(std::u16string_view units) {
  std::string text;
  char part[6];
  for (char16_t unit : units) {
    std::snprintf(part, sizeof part, "%04X ", static_cast<unsigned>(unit));
    text += part;
  }
  return text;
}

int Length(std::string_view text) { return static_cast<int>(text.size()); }
int Length(std::u16string_view text) { return static_cast<int>(text.size()); }

// The result of one converting call.
struct Wide {
  int result;
  DWORD error;
  std::u16string units;  // What the call wrote (result units), empty when it failed.
};

struct Narrow {
  int result;
  DWORD error;
  std::string bytes;
  BOOL used;
};

// Measures, then converts into a buffer of exactly the measured size.
Wide ToWide(UINT codePage, DWORD flags, std::string_view input) {
  SetLastError(kSentinelError);
  const int needed = MultiByteToWideChar(codePage, flags, input.data(), Length(input), nullptr, 0);
  if (needed == 0) return {0, GetLastError(), {}};
  std::u16string buffer(static_cast<size_t>(needed), kSentinelUnit);
  SetLastError(kSentinelError);
  const int written = MultiByteToWideChar(codePage, flags, input.data(), Length(input), buffer.data(), needed);
  buffer.resize(static_cast<size_t>(written));
  return {written, GetLastError(), buffer};
}

Narrow ToNarrow(UINT codePage, DWORD flags, std::u16string_view input, const char* defaultChar = nullptr) {
  BOOL used = kSentinelBool;
  SetLastError(kSentinelError);
  const int needed = WideCharToMultiByte(codePage, flags, input.data(), Length(input), nullptr, 0, defaultChar,
                                         codePage == win::CP_UTF8 ? nullptr : &used);
  if (needed == 0) return {0, GetLastError(), {}, used};
  const BOOL usedWhenMeasuring = used;
  std::string buffer(static_cast<size_t>(needed), kSentinelByte);
  used = kSentinelBool;
  SetLastError(kSentinelError);
  const int written = WideCharToMultiByte(codePage, flags, input.data(), Length(input), buffer.data(), needed,
                                          defaultChar, codePage == win::CP_UTF8 ? nullptr : &used);
  EXPECT_EQ(used, usedWhenMeasuring) << "the measuring call reports the same use of the default character";
  buffer.resize(static_cast<size_t>(written));
  return {written, GetLastError(), buffer, used};
}

// ---- Round trips ----------------------------------------------------------------------------------

struct RoundTripRow {
  const char* name;
  UINT codePage;
  std::string_view bytes;
  std::u16string_view units;
};

const RoundTripRow kRoundTrips[] = {
    {"ascii 936", win::CP_GBK, "Hello, world!"sv, u"Hello, world!"},
    {"ascii utf8", win::CP_UTF8, "Hello, world!"sv, u"Hello, world!"},
    {"ascii acp", win::CP_ACP, "GET / HTTP/1.1\r\n"sv, u"GET / HTTP/1.1\r\n"},
    {"answer prefix 936", win::CP_GBK, "\xB4\xF0\xB0\xB8\xA3\xBA"sv, u"答案："},
    {"answer prefix acp", win::CP_ACP, "\xB4\xF0\xB0\xB8\xA3\xBA"sv, u"答案："},
    {"answer prefix utf8", win::CP_UTF8, "\xE7\xAD\x94\xE6\xA1\x88\xEF\xBC\x9A"sv, u"答案："},
    {"mixed 936", win::CP_GBK, "A\xD6\xD0" "B\xCE\xC4" "C"sv, u"A中B文C"},
    {"euro 936", win::CP_GBK, "\x80"sv, u"\u20AC"},
    {"euro utf8", win::CP_UTF8, "\xE2\x82\xAC"sv, u"\u20AC"},
    {"gbk extension row 936", win::CP_GBK, "\x81\x40\xFE\x4F"sv, u"\u4E02\uFA29"},
    {"user-defined area 936", win::CP_GBK, "\xAA\xA1\xF8\xA1\xA1\x40"sv, u"\uE000\uE234\uE4C6"},
    {"unassigned cells 936", win::CP_GBK, "\xA2\xAB\xA2\xE3\xFE\x50\xFE\xA0"sv, u"\uE766\uE76C\uE815\uE864"},
    {"byte FF 936", win::CP_GBK, "\xFF"sv, u"\uF8F5"},
    {"embedded NUL 936", win::CP_GBK, "a\0\xD6\xD0"sv, u"a\0中"sv},
    {"embedded NUL utf8", win::CP_UTF8, "a\0b"sv, u"a\0b"sv},
    {"astral utf8", win::CP_UTF8, "\xF0\x9F\x98\x80"sv, u"\U0001F600"},
    {"noncharacter utf8", win::CP_UTF8, "\xEF\xBF\xBE"sv, u"\uFFFE"},
    {"byte order mark utf8", win::CP_UTF8, "\xEF\xBB\xBFx"sv, u"\uFEFFx"},
};

TEST(CodePageRoundTrip, ConvertsBothWays) {
  for (const RoundTripRow& row : kRoundTrips) {
    SCOPED_TRACE(row.name);
    const Wide wide = ToWide(row.codePage, 0, row.bytes);
    EXPECT_EQ(wide.result, Length(row.units));
    EXPECT_EQ(wide.error, kSentinelError);
    EXPECT_EQ(Hex(wide.units), Hex(row.units));

    const Narrow narrow = ToNarrow(row.codePage, 0, row.units);
    EXPECT_EQ(narrow.result, Length(row.bytes));
    EXPECT_EQ(narrow.error, kSentinelError);
    EXPECT_EQ(Hex(narrow.bytes), Hex(row.bytes));
    if (row.codePage != win::CP_UTF8) {
      EXPECT_EQ(narrow.used, win::FALSE);
    }
  }
}

TEST(CodePageRoundTrip, ValidInputPassesTheStrictFlags) {
  for (const RoundTripRow& row : kRoundTrips) {
    SCOPED_TRACE(row.name);
    if (row.bytes == "\xFF"sv) continue;  // A single byte mapped into the private-use area is refused.
    const Wide wide = ToWide(row.codePage, win::MB_ERR_INVALID_CHARS, row.bytes);
    EXPECT_EQ(Hex(wide.units), Hex(row.units));
    EXPECT_EQ(wide.error, kSentinelError);
    if (row.codePage == win::CP_UTF8) {
      const Narrow narrow = ToNarrow(row.codePage, win::WC_ERR_INVALID_CHARS, row.units);
      EXPECT_EQ(Hex(narrow.bytes), Hex(row.bytes));
      EXPECT_EQ(narrow.error, kSentinelError);
    }
  }
}

// ---- Lengths ------------------------------------------------------------------------------------

TEST(CodePageLength, MinusOneConvertsAndCountsTheTerminator) {
  for (UINT codePage : {win::CP_ACP, win::CP_GBK, win::CP_UTF8}) {
    SCOPED_TRACE(codePage);
    const char* text = codePage == win::CP_UTF8 ? "\xE7\xAD\x94" "A" : "\xB4\xF0" "A";
    SetLastError(kSentinelError);
    EXPECT_EQ(MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0), 3);
    char16_t wide[4] = {kSentinelUnit, kSentinelUnit, kSentinelUnit, kSentinelUnit};
    EXPECT_EQ(MultiByteToWideChar(codePage, 0, text, -1, wide, 3), 3);
    EXPECT_EQ(Hex(std::u16string_view(wide, 4)), Hex(u"答A\0\uBEEF"sv));

    SetLastError(kSentinelError);
    EXPECT_EQ(WideCharToMultiByte(codePage, 0, u"答A", -1, nullptr, 0, nullptr, nullptr), Length(text) + 1);
    char narrow[8];
    std::fill(std::begin(narrow), std::end(narrow), kSentinelByte);
    EXPECT_EQ(WideCharToMultiByte(codePage, 0, u"答A", -1, narrow, Length(text) + 1, nullptr, nullptr),
              Length(text) + 1);
    EXPECT_EQ(std::string_view(narrow), text);
    EXPECT_EQ(narrow[Length(text) + 1], kSentinelByte);
    EXPECT_EQ(GetLastError(), kSentinelError);
  }
}

TEST(CodePageLength, EmptyTextWithMinusOneIsTheTerminatorAlone) {
  SetLastError(kSentinelError);
  char16_t wide[2] = {kSentinelUnit, kSentinelUnit};
  EXPECT_EQ(MultiByteToWideChar(win::CP_GBK, 0, "", -1, wide, 2), 1);
  EXPECT_EQ(wide[0], u'\0');
  EXPECT_EQ(wide[1], kSentinelUnit);
  char narrow[2] = {kSentinelByte, kSentinelByte};
  EXPECT_EQ(WideCharToMultiByte(win::CP_UTF8, 0, u"", -1, narrow, 2, nullptr, nullptr), 1);
  EXPECT_EQ(narrow[0], '\0');
  EXPECT_EQ(narrow[1], kSentinelByte);
  EXPECT_EQ(GetLastError(), kSentinelError);
}

TEST(CodePageLength, AnyNegativeLengthMeansTerminated) {
  // Wine's test_negative_source_length: Windows treats every negative length as -1.
  SetLastError(kSentinelError);
  EXPECT_EQ(MultiByteToWideChar(win::CP_GBK, 0, "foobar", -2002, nullptr, 0), 7);
  EXPECT_EQ(WideCharToMultiByte(win::CP_GBK, 0, u"foobar", -2002, nullptr, 0, nullptr, nullptr), 7);
  EXPECT_EQ(GetLastError(), kSentinelError);
}

TEST(CodePageLength, ZeroOutputSizeMeasuresAndIgnoresTheBuffer) {
  char16_t wide[2] = {kSentinelUnit, kSentinelUnit};
  SetLastError(kSentinelError);
  EXPECT_EQ(MultiByteToWideChar(win::CP_GBK, 0, "\xD6\xD0", 2, wide, 0), 1);
  EXPECT_EQ(wide[0], kSentinelUnit);
  char narrow[2] = {kSentinelByte, kSentinelByte};
  EXPECT_EQ(WideCharToMultiByte(win::CP_GBK, 0, u"中", 1, narrow, 0, nullptr, nullptr), 2);
  EXPECT_EQ(narrow[0], kSentinelByte);
  EXPECT_EQ(GetLastError(), kSentinelError);
}

// ---- Buffer sizes -------------------------------------------------------------------------------

struct BufferRow {
  const char* name;
  UINT codePage;
  std::string_view bytes;
  std::u16string_view units;
};

const BufferRow kBufferRows[] = {
    {"ascii 936", win::CP_GBK, "abc"sv, u"abc"},
    {"chinese 936", win::CP_GBK, "\xB4\xF0\xB0\xB8\xA3\xBA"sv, u"答案："},
    {"chinese utf8", win::CP_UTF8, "\xE7\xAD\x94\xE6\xA1\x88"sv, u"答案"},
    {"astral utf8", win::CP_UTF8, "x\xF0\x9F\x98\x80"sv, u"x\U0001F600"},
    {"replacements utf8", win::CP_UTF8, "\xC0\xFF"sv, u"\uFFFD\uFFFD"},
    {"private use 936", win::CP_GBK, "\xAA\xA1\xFF"sv, u"\uE000\uF8F5"},
};

TEST(CodePageBuffer, ExactSizeSucceedsAndWritesNothingAfter) {
  for (const BufferRow& row : kBufferRows) {
    SCOPED_TRACE(row.name);
    std::u16string wide(row.units.size() + 1, kSentinelUnit);
    SetLastError(kSentinelError);
    EXPECT_EQ(MultiByteToWideChar(row.codePage, 0, row.bytes.data(), Length(row.bytes), wide.data(),
                                  Length(row.units)),
              Length(row.units));
    EXPECT_EQ(Hex(wide), Hex(std::u16string(row.units) + kSentinelUnit));

    std::string narrow(row.bytes.size() + 1, kSentinelByte);
    if (row.name == std::string_view("replacements utf8")) continue;  // Not a round trip.
    EXPECT_EQ(WideCharToMultiByte(row.codePage, 0, row.units.data(), Length(row.units), narrow.data(),
                                  Length(row.bytes), nullptr, nullptr),
              Length(row.bytes));
    EXPECT_EQ(Hex(narrow), Hex(std::string(row.bytes) + kSentinelByte));
    EXPECT_EQ(GetLastError(), kSentinelError);
  }
}

TEST(CodePageBuffer, EverySmallerSizeFailsWithoutWritingPastTheBuffer) {
  for (const BufferRow& row : kBufferRows) {
    SCOPED_TRACE(row.name);
    for (int size = 1; size < Length(row.units); ++size) {
      SCOPED_TRACE(size);
      std::u16string wide(row.units.size() + 1, kSentinelUnit);
      SetLastError(kSentinelError);
      EXPECT_EQ(MultiByteToWideChar(row.codePage, 0, row.bytes.data(), Length(row.bytes), wide.data(), size), 0);
      EXPECT_EQ(GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
      for (size_t i = static_cast<size_t>(size); i < wide.size(); ++i) EXPECT_EQ(wide[i], kSentinelUnit) << i;
    }
    if (row.name == std::string_view("replacements utf8")) continue;
    for (int size = 1; size < Length(row.bytes); ++size) {
      SCOPED_TRACE(size);
      std::string narrow(row.bytes.size() + 1, kSentinelByte);
      BOOL used = kSentinelBool;
      SetLastError(kSentinelError);
      EXPECT_EQ(WideCharToMultiByte(row.codePage, 0, row.units.data(), Length(row.units), narrow.data(), size,
                                    nullptr, row.codePage == win::CP_UTF8 ? nullptr : &used),
                0);
      EXPECT_EQ(GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
      for (size_t i = static_cast<size_t>(size); i < narrow.size(); ++i) EXPECT_EQ(narrow[i], kSentinelByte) << i;
    }
  }
}

TEST(CodePageBuffer, NeverWritesHalfACharacter) {
  // One byte of room for a double-byte character, three of four for an astral one: nothing fits.
  char narrow[3] = {kSentinelByte, kSentinelByte, kSentinelByte};
  SetLastError(kSentinelError);
  EXPECT_EQ(WideCharToMultiByte(win::CP_GBK, 0, u"中", 1, narrow, 1, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(narrow[0], kSentinelByte);

  char utf8[4] = {kSentinelByte, kSentinelByte, kSentinelByte, kSentinelByte};
  EXPECT_EQ(WideCharToMultiByte(win::CP_UTF8, 0, u"\U0001F600", 2, utf8, 3, nullptr, nullptr), 0);
  EXPECT_EQ(Hex(std::string_view(utf8, 4)), Hex("\x5A\x5A\x5A\x5A"sv));

  char16_t wide[2] = {kSentinelUnit, kSentinelUnit};
  EXPECT_EQ(MultiByteToWideChar(win::CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, wide, 1), 0);
  EXPECT_EQ(wide[0], kSentinelUnit);
  EXPECT_EQ(wide[1], kSentinelUnit);
}

TEST(CodePageBuffer, LongTextsConvertAndMeasureAlike) {
  // Far longer than any internal chunk, with spots that glibc leaves to the fallback path.
  std::u16string units;
  std::string gbk;
  for (int i = 0; i < 20000; ++i) {
    units += u"答案：abc\uE000\u00C0";
    gbk += "\xB4\xF0\xB0\xB8\xA3\xBA" "abc\xAA\xA1\xA8\xA4";
  }
  const Narrow narrow = ToNarrow(win::CP_GBK, 0, units);
  EXPECT_EQ(narrow.result, Length(gbk));
  EXPECT_TRUE(narrow.bytes == gbk);
  EXPECT_EQ(narrow.used, win::FALSE);  // U+00C0 goes by best fit, not by the default character.

  std::u16string expected = units;
  for (char16_t& unit : expected) {
    if (unit == u'\u00C0') unit = u'\u00E0';  // The best fit reads back as the character it chose.
  }
  const Wide wide = ToWide(win::CP_GBK, 0, gbk);
  EXPECT_EQ(wide.result, Length(expected));
  EXPECT_TRUE(wide.units == expected);

  const Narrow utf8 = ToNarrow(win::CP_UTF8, 0, units);
  const Wide back = ToWide(win::CP_UTF8, 0, utf8.bytes);
  EXPECT_TRUE(back.units == units);
}

// ---- Invalid input ------------------------------------------------------------------------------

struct DecodeRow {
  const char* name;
  UINT codePage;
  std::string_view bytes;
  std::u16string_view units;  // Without MB_ERR_INVALID_CHARS.
};

// UTF-8: one U+FFFD per maximal ill-formed subpart (Unicode 3.9), as Windows 10 does.
// Code page 936: Microsoft's table gives U+003F for a lead byte without its trail byte; a lead
// byte takes any non-NUL byte after it (see codepage.cpp).
const DecodeRow kInvalidInput[] = {
    {"utf8 lead C0", win::CP_UTF8, "\xC0\x41\x42"sv, u"\uFFFD\x41\x42"},
    {"utf8 lone continuation", win::CP_UTF8, "a\x80z"sv, u"a\uFFFDz"},
    {"utf8 truncated at end", win::CP_UTF8, "\xE4\xBD"sv, u"\uFFFD"},
    {"utf8 truncated before ascii", win::CP_UTF8, "\xE4\xBD\x41"sv, u"\uFFFD\x41"},
    {"utf8 truncated astral", win::CP_UTF8, "\xF0\x9F\x98"sv, u"\uFFFD"},
    {"utf8 overlong", win::CP_UTF8, "\xE0\x80\xAF"sv, u"\uFFFD\uFFFD\uFFFD"},
    {"utf8 surrogate", win::CP_UTF8, "\xED\xA0\x80"sv, u"\uFFFD\uFFFD\uFFFD"},
    {"utf8 above U+10FFFF", win::CP_UTF8, "\xF4\x90\x80\x80"sv, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"utf8 bytes FE FF", win::CP_UTF8, "\xFE\xFF"sv, u"\uFFFD\uFFFD"},
    {"936 lead byte at end", win::CP_GBK, "A\xC4"sv, u"A?"},
    {"936 lone lead byte", win::CP_GBK, "\xC4"sv, u"?"},
    {"936 lead byte before NUL", win::CP_GBK, "\xC4\0"sv, u"?\0"sv},
    {"936 Wine test_dbcs_to_widechar", win::CP_GBK, "\xBF\xB4\xC7\0x"sv, u"\u770B?\0x"sv},
    {"936 trail byte too low", win::CP_GBK, "\x81\x20" "A"sv, u"?A"},
    {"936 trail byte 7F", win::CP_GBK, "\x81\x7F"sv, u"?"},
    {"936 trail byte FF", win::CP_GBK, "\xD6\xFF" "A"sv, u"?A"},
    {"acp lead byte at end", win::CP_ACP, "\xD6\xD0\xD6"sv, u"中?"},
};

TEST(CodePageInvalidInput, BecomesWhatWindowsGives) {
  for (const DecodeRow& row : kInvalidInput) {
    SCOPED_TRACE(row.name);
    const Wide wide = ToWide(row.codePage, 0, row.bytes);
    EXPECT_EQ(wide.result, Length(row.units));
    EXPECT_EQ(wide.error, kSentinelError);
    EXPECT_EQ(Hex(wide.units), Hex(row.units));
  }
}

TEST(CodePageInvalidInput, FailsWithErrInvalidChars) {
  for (const DecodeRow& row : kInvalidInput) {
    SCOPED_TRACE(row.name);
    char16_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), kSentinelUnit);
    SetLastError(kSentinelError);
    EXPECT_EQ(MultiByteToWideChar(row.codePage, win::MB_ERR_INVALID_CHARS, row.bytes.data(), Length(row.bytes),
                                  nullptr, 0),
              0);
    EXPECT_EQ(GetLastError(), win::ERROR_NO_UNICODE_TRANSLATION);
    SetLastError(kSentinelError);
    EXPECT_EQ(MultiByteToWideChar(row.codePage, win::MB_ERR_INVALID_CHARS, row.bytes.data(), Length(row.bytes),
                                  buffer, 16),
              0);
    EXPECT_EQ(GetLastError(), win::ERROR_NO_UNICODE_TRANSLATION);
  }
}

TEST(CodePageInvalidInput, ByteFFIsRefusedOnlyWithErrInvalidChars) {
  // Microsoft's table maps 0xFF to the private-use U+F8F5; Windows counts that as invalid input
  // when asked to be strict, unlike the double-byte private-use cells.
  EXPECT_EQ(Hex(ToWide(win::CP_GBK, 0, "\xFF"sv).units), Hex(u"\uF8F5"sv));
  const Wide strict = ToWide(win::CP_GBK, win::MB_ERR_INVALID_CHARS, "\xFF"sv);
  EXPECT_EQ(strict.result, 0);
  EXPECT_EQ(strict.error, win::ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(Hex(ToWide(win::CP_GBK, win::MB_ERR_INVALID_CHARS, "\xAA\xA1"sv).units), Hex(u"\uE000"sv));
}

struct EncodeRow {
  const char* name;
  UINT codePage;
  DWORD flags;
  std::u16string_view units;
  const char* defaultChar;
  std::string_view bytes;
  BOOL used;  // Ignored for UTF-8, which takes no usedDefaultChar.
};

const EncodeRow kEncodeRows[] = {
    {"utf8 lone high surrogate", win::CP_UTF8, 0, u"a\xD800z", nullptr, "a\xEF\xBF\xBDz"sv, win::FALSE},
    {"utf8 lone low surrogate", win::CP_UTF8, 0, u"\xDC00", nullptr, "\xEF\xBF\xBD"sv, win::FALSE},
    {"utf8 high surrogate at end", win::CP_UTF8, 0, u"a\xDBFF", nullptr, "a\xEF\xBF\xBD"sv, win::FALSE},
    {"utf8 reversed pair", win::CP_UTF8, 0, u"\xDC00\xD800", nullptr, "\xEF\xBF\xBD\xEF\xBF\xBD"sv, win::FALSE},
    {"936 exact mapping", win::CP_GBK, 0, u"\u00E9", nullptr, "\xA8\xA6"sv, win::FALSE},
    {"936 unmappable", win::CP_GBK, 0, u"\u4E2D\u0E01\u6587", nullptr, "\xD6\xD0?\xCE\xC4"sv, win::TRUE},
    {"936 no-break space", win::CP_GBK, 0, u"\u00A0", nullptr, "?"sv, win::TRUE},
    {"936 given default", win::CP_GBK, 0, u"\u0E01", "*", "*"sv, win::TRUE},
    {"936 given double-byte default", win::CP_GBK, 0, u"\u0E01", "\xA1\xF6", "\xA1\xF6"sv, win::TRUE},
    {"936 surrogate pair", win::CP_GBK, 0, u"\U0001F600", nullptr, "??"sv, win::TRUE},
    {"936 lone surrogate", win::CP_GBK, 0, u"a\xDC00", nullptr, "a?"sv, win::TRUE},
    {"936 best fit", win::CP_GBK, 0, u"\u00C0\u3280\u00B2", nullptr, "\xA8\xA4\xD2\xBB" "2"sv, win::FALSE},
    {"936 best fit refused", win::CP_GBK, win::WC_NO_BEST_FIT_CHARS, u"\u00C0", nullptr, "?"sv, win::TRUE},
    {"936 private use", win::CP_GBK, win::WC_NO_BEST_FIT_CHARS, u"\uE864\uF8F5", nullptr, "\xFE\xA0\xFF"sv,
     win::FALSE},
    {"936 question mark is no default", win::CP_GBK, 0, u"?", nullptr, "?"sv, win::FALSE},
    {"acp unmappable", win::CP_ACP, 0, u"\u0E01", nullptr, "?"sv, win::TRUE},
};

TEST(CodePageUnmappable, UsesTheDefaultCharacterAndReportsIt) {
  for (const EncodeRow& row : kEncodeRows) {
    SCOPED_TRACE(row.name);
    const Narrow narrow = ToNarrow(row.codePage, row.flags, row.units, row.defaultChar);
    EXPECT_EQ(narrow.result, Length(row.bytes));
    EXPECT_EQ(narrow.error, kSentinelError);
    EXPECT_EQ(Hex(narrow.bytes), Hex(row.bytes));
    if (row.codePage != win::CP_UTF8) {
      EXPECT_EQ(narrow.used, row.used);
    }
  }
}

TEST(CodePageUnmappable, LoneSurrogatesFailWithErrInvalidChars) {
  for (std::u16string_view units : {u"a\xD800z"sv, u"\xDC00"sv, u"a\xDBFF"sv}) {
    SCOPED_TRACE(Hex(units));
    const Narrow narrow = ToNarrow(win::CP_UTF8, win::WC_ERR_INVALID_CHARS, units);
    EXPECT_EQ(narrow.result, 0);
    EXPECT_EQ(narrow.error, win::ERROR_NO_UNICODE_TRANSLATION);
  }
}

TEST(CodePageUnmappable, UsedDefaultCharIsClearedWhenNothingFallsBack) {
  BOOL used = win::TRUE;
  char narrow[4];
  EXPECT_EQ(WideCharToMultiByte(win::CP_GBK, 0, u"中", 1, narrow, 4, nullptr, &used), 2);
  EXPECT_EQ(used, win::FALSE);
}

// ---- WC_COMPOSITECHECK --------------------------------------------------------------------------

const EncodeRow kCompositeRows[] = {
    {"plain", win::CP_GBK, 0, u"e\u0301", nullptr, "e?"sv, win::TRUE},
    {"composed", win::CP_GBK, win::WC_COMPOSITECHECK, u"e\u0301", nullptr, "\xA8\xA6"sv, win::FALSE},
    {"composed pinyin", win::CP_GBK, win::WC_COMPOSITECHECK, u"u\u0308\u0304", nullptr, "\xA8\xB9?"sv, win::TRUE},
    {"composed kana", win::CP_GBK, win::WC_COMPOSITECHECK, u"\u304B\u3099", nullptr, "\xA4\xAC"sv, win::FALSE},
    {"composed by best fit", win::CP_GBK, win::WC_COMPOSITECHECK, u"A\u0300", nullptr, "\xA8\xA4"sv, win::FALSE},
    {"best fit refused", win::CP_GBK, win::WC_COMPOSITECHECK | win::WC_NO_BEST_FIT_CHARS, u"A\u0300", nullptr,
     "A?"sv, win::TRUE},
    {"no composite in 936", win::CP_GBK, win::WC_COMPOSITECHECK | win::WC_SEPCHARS, u"A\u030A", nullptr, "A?"sv,
     win::TRUE},
    {"one mark per base", win::CP_GBK, win::WC_COMPOSITECHECK, u"e\u0301\u0301", nullptr, "\xA8\xA6?"sv, win::TRUE},
    {"mark first", win::CP_GBK, win::WC_COMPOSITECHECK, u"\u0301e", nullptr, "?e"sv, win::TRUE},
};

TEST(CodePageCompositeCheck, ComposesWhatCodePage936CanWrite) {
  for (const EncodeRow& row : kCompositeRows) {
    SCOPED_TRACE(row.name);
    const Narrow narrow = ToNarrow(row.codePage, row.flags, row.units, row.defaultChar);
    EXPECT_EQ(narrow.result, Length(row.bytes));
    EXPECT_EQ(Hex(narrow.bytes), Hex(row.bytes));
    EXPECT_EQ(narrow.used, row.used);
  }
}

// ---- Flags and parameters -----------------------------------------------------------------------

struct FlagRow {
  const char* name;
  bool toWide;
  UINT codePage;
  DWORD flags;
  DWORD error;  // 0: the call succeeds.
};

const FlagRow kFlagRows[] = {
    {"mb 936 none", true, win::CP_GBK, 0, 0},
    {"mb 936 precomposed", true, win::CP_GBK, win::MB_PRECOMPOSED, 0},
    {"mb 936 strict", true, win::CP_GBK, win::MB_PRECOMPOSED | win::MB_ERR_INVALID_CHARS, 0},
    {"mb 936 glyph chars", true, win::CP_GBK, win::MB_USEGLYPHCHARS, 0},
    {"mb 936 composite", true, win::CP_GBK, win::MB_COMPOSITE, win::ERROR_INVALID_FLAGS},
    {"mb 936 unknown", true, win::CP_GBK, 0x100, win::ERROR_INVALID_FLAGS},
    {"mb acp precomposed", true, win::CP_ACP, win::MB_PRECOMPOSED, 0},
    {"mb utf8 none", true, win::CP_UTF8, 0, 0},
    {"mb utf8 strict", true, win::CP_UTF8, win::MB_ERR_INVALID_CHARS, 0},
    {"mb utf8 precomposed", true, win::CP_UTF8, win::MB_PRECOMPOSED, win::ERROR_INVALID_FLAGS},
    {"mb utf8 glyph chars", true, win::CP_UTF8, win::MB_USEGLYPHCHARS, win::ERROR_INVALID_FLAGS},
    {"wc 936 none", false, win::CP_GBK, 0, 0},
    {"wc 936 composite check", false, win::CP_GBK, win::WC_COMPOSITECHECK, 0},
    {"wc 936 no best fit", false, win::CP_GBK, win::WC_NO_BEST_FIT_CHARS | win::WC_COMPOSITECHECK, 0},
    {"wc 936 discard alone", false, win::CP_GBK, win::WC_DISCARDNS, 0},
    {"wc 936 composite discard", false, win::CP_GBK, win::WC_COMPOSITECHECK | win::WC_DISCARDNS,
     win::ERROR_INVALID_FLAGS},
    {"wc 936 composite default", false, win::CP_GBK, win::WC_COMPOSITECHECK | win::WC_DEFAULTCHAR,
     win::ERROR_INVALID_FLAGS},
    {"wc 936 strict", false, win::CP_GBK, win::WC_ERR_INVALID_CHARS, win::ERROR_INVALID_FLAGS},
    {"wc 936 unknown", false, win::CP_GBK, 0x1000, win::ERROR_INVALID_FLAGS},
    {"wc acp composite check", false, win::CP_ACP, win::WC_COMPOSITECHECK, 0},
    {"wc utf8 none", false, win::CP_UTF8, 0, 0},
    {"wc utf8 strict", false, win::CP_UTF8, win::WC_ERR_INVALID_CHARS, 0},
    {"wc utf8 composite check", false, win::CP_UTF8, win::WC_COMPOSITECHECK, win::ERROR_INVALID_FLAGS},
    {"wc utf8 no best fit", false, win::CP_UTF8, win::WC_NO_BEST_FIT_CHARS, win::ERROR_INVALID_FLAGS},
};

TEST(CodePageFlags, AcceptedOrRefusedAsOnWindows) {
  for (const FlagRow& row : kFlagRows) {
    SCOPED_TRACE(row.name);
    SetLastError(kSentinelError);
    int result;
    if (row.toWide) {
      char16_t wide[4];
      result = MultiByteToWideChar(row.codePage, row.flags, "ab", 2, wide, 4);
    } else {
      char narrow[4];
      result = WideCharToMultiByte(row.codePage, row.flags, u"ab", 2, narrow, 4, nullptr, nullptr);
    }
    EXPECT_EQ(result, row.error ? 0 : 2);
    EXPECT_EQ(GetLastError(), row.error ? row.error : kSentinelError);
  }
}

TEST(CodePageParameters, Utf8TakesNoDefaultCharacter) {
  char narrow[4];
  BOOL used = kSentinelBool;
  SetLastError(kSentinelError);
  EXPECT_EQ(WideCharToMultiByte(win::CP_UTF8, 0, u"a", 1, narrow, 4, "?", nullptr), 0);
  EXPECT_EQ(GetLastError(), win::ERROR_INVALID_PARAMETER);
  SetLastError(kSentinelError);
  EXPECT_EQ(WideCharToMultiByte(win::CP_UTF8, 0, u"a", 1, narrow, 4, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), win::ERROR_INVALID_PARAMETER);
  SetLastError(kSentinelError);
  EXPECT_EQ(WideCharToMultiByte(win::CP_UTF8, 0x1000, u"a", 1, narrow, 4, nullptr, &used), 0);
  EXPECT_EQ(GetLastError(), win::ERROR_INVALID_PARAMETER) << "the parameters are checked before the flags";
  EXPECT_EQ(used, kSentinelBool);
}

TEST(CodePageParameters, UnknownCodePagesAreInvalidParameters) {
  for (UINT codePage : {1u, 2u, 3u, 437u, 1252u, 54936u, 65000u}) {
    SCOPED_TRACE(codePage);
    char16_t wide[4];
    char narrow[4];
    SetLastError(kSentinelError);
    EXPECT_EQ(MultiByteToWideChar(codePage, 0, "ab", 2, wide, 4), 0);
    EXPECT_EQ(GetLastError(), win::ERROR_INVALID_PARAMETER);
    SetLastError(kSentinelError);
    EXPECT_EQ(WideCharToMultiByte(codePage, 0, u"ab", 2, narrow, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), win::ERROR_INVALID_PARAMETER);
  }
}

TEST(CodePageParameters, BadArgumentsAreInvalidParameters) {
  char16_t wide[4] = {kSentinelUnit, kSentinelUnit, kSentinelUnit, kSentinelUnit};
  char narrow[8] = "abcdefg";
  struct Call {
    const char* name;
    int (*call)(char16_t*, char*);
  };
  const Call calls[] = {
      {"mb null input", [](char16_t* w, char*) { return MultiByteToWideChar(win::CP_GBK, 0, nullptr, 3, w, 4); }},
      {"mb null input -1", [](char16_t* w, char*) { return MultiByteToWideChar(win::CP_GBK, 0, nullptr, -1, w, 4); }},
      {"mb zero length", [](char16_t* w, char*) { return MultiByteToWideChar(win::CP_GBK, 0, "ab", 0, w, 4); }},
      {"mb zero length utf8",
       [](char16_t*, char*) { return MultiByteToWideChar(win::CP_UTF8, 0, "ab", 0, nullptr, 0); }},
      {"mb negative size", [](char16_t* w, char*) { return MultiByteToWideChar(win::CP_GBK, 0, "ab", 2, w, -1); }},
      {"mb null output", [](char16_t*, char*) { return MultiByteToWideChar(win::CP_GBK, 0, "ab", 2, nullptr, 4); }},
      {"mb same buffer", [](char16_t*, char* n) {
         return MultiByteToWideChar(win::CP_GBK, 0, n, 2, reinterpret_cast<char16_t*>(n), 4);
       }},
      {"wc null input", [](char16_t*, char* n) {
         return WideCharToMultiByte(win::CP_GBK, 0, nullptr, 3, n, 8, nullptr, nullptr);
       }},
      {"wc zero length", [](char16_t*, char* n) {
         return WideCharToMultiByte(win::CP_UTF8, 0, u"ab", 0, n, 8, nullptr, nullptr);
       }},
      {"wc negative size", [](char16_t*, char* n) {
         return WideCharToMultiByte(win::CP_GBK, 0, u"ab", 2, n, -1, nullptr, nullptr);
       }},
      {"wc null output", [](char16_t*, char*) {
         return WideCharToMultiByte(win::CP_GBK, 0, u"ab", 2, nullptr, 8, nullptr, nullptr);
       }},
      {"wc same buffer", [](char16_t* w, char*) {
         return WideCharToMultiByte(win::CP_GBK, 0, w, 2, reinterpret_cast<char*>(w), 8, nullptr, nullptr);
       }},
  };
  for (const Call& call : calls) {
    SCOPED_TRACE(call.name);
    SetLastError(kSentinelError);
    EXPECT_EQ(call.call(wide, narrow), 0);
    EXPECT_EQ(GetLastError(), win::ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(wide[0], kSentinelUnit);
  EXPECT_EQ(std::string_view(narrow), "abcdefg");
}

// ---- The whole code page 936 table ----------------------------------------------------------------

// FNV-1a over every conversion result, compared with the same digest computed from Microsoft's
// table for code page 936 (bestfit936.txt, applied with the DBCS lookup that Windows performs).
class Digest {
 public:
  void Add(unsigned value) {
    m_hash ^= value & 0xFF;
    m_hash *= 0x100000001b3ull;
  }
  uint64_t Value() const { return m_hash; }

 private:
  uint64_t m_hash = 0xcbf29ce484222325ull;
};

void AddDecoding(Digest& digest, const char* bytes, int count) {
  char16_t units[2];
  const int written = MultiByteToWideChar(win::CP_GBK, 0, bytes, count, units, 2);
  digest.Add(static_cast<unsigned>(written));
  for (int i = 0; i < written; ++i) {
    digest.Add(units[i]);
    digest.Add(units[i] >> 8u);
  }
}

TEST(CodePageGbkTable, EveryByteAndPairDecodesAsMicrosoftsTable) {
  Digest digest;
  char bytes[2];
  for (int first = 0; first < 256; ++first) {
    bytes[0] = static_cast<char>(first);
    AddDecoding(digest, bytes, 1);
  }
  for (int first = 0; first < 256; ++first) {
    for (int second = 0; second < 256; ++second) {
      bytes[0] = static_cast<char>(first);
      bytes[1] = static_cast<char>(second);
      AddDecoding(digest, bytes, 2);
    }
  }
  EXPECT_EQ(digest.Value(), 0x79305d817d9e62f8ull);
}

TEST(CodePageGbkTable, EveryUtf16UnitEncodesAsMicrosoftsTable) {
  for (DWORD flags : {DWORD{0}, win::WC_NO_BEST_FIT_CHARS}) {
    SCOPED_TRACE(flags);
    Digest digest;
    for (unsigned unit = 0; unit < 0x10000; ++unit) {
      const char16_t input = static_cast<char16_t>(unit);
      char bytes[2];
      BOOL used = kSentinelBool;
      const int written = WideCharToMultiByte(win::CP_GBK, flags, &input, 1, bytes, 2, nullptr, &used);
      digest.Add(static_cast<unsigned>(written));
      for (int i = 0; i < written; ++i) digest.Add(static_cast<unsigned char>(bytes[i]));
      digest.Add(static_cast<unsigned>(used));
    }
    EXPECT_EQ(digest.Value(), flags ? 0x2cf54a5ced07474eull : 0x2e16514fc84c6d50ull);
  }
}

// ---- The lookup tables against the iconv path -----------------------------------------------------

// One call on a buffer of `capacity` units (0 measures) with guard units after it, made on both
// ways of converting: results, errors and every unit of the buffers must agree.
void ExpectSameDecoding(DWORD flags, std::string_view bytes, int length, int capacity) {
  SCOPED_TRACE(testing::Message() << "flags " << flags << ", length " << length << ", capacity " << capacity
                                  << ", bytes " << Hex(bytes.substr(0, 64)));
  std::u16string viaTables(static_cast<size_t>(capacity) + 4, kSentinelUnit);
  std::u16string viaIconv = viaTables;
  SetLastError(kSentinelError);
  const int tablesResult = MultiByteToWideChar(win::CP_GBK, flags, bytes.data(), length,
                                               capacity ? viaTables.data() : nullptr, capacity);
  const DWORD tablesError = GetLastError();
  SetLastError(kSentinelError);
  const int iconvResult = win::codepage_detail::MultiByteToWideCharWithoutTables(
      win::CP_GBK, flags, bytes.data(), length, capacity ? viaIconv.data() : nullptr, capacity);
  EXPECT_EQ(tablesResult, iconvResult);
  EXPECT_EQ(tablesError, GetLastError());
  EXPECT_TRUE(viaTables == viaIconv) << Hex(viaTables.substr(0, 64)) << "\n" << Hex(viaIconv.substr(0, 64));
}

void ExpectSameEncoding(DWORD flags, std::u16string_view units, int length, int capacity, const char* defaultChar) {
  SCOPED_TRACE(testing::Message() << "flags " << flags << ", length " << length << ", capacity " << capacity
                                  << ", units " << Hex(units.substr(0, 32)));
  std::string viaTables(static_cast<size_t>(capacity) + 4, kSentinelByte);
  std::string viaIconv = viaTables;
  BOOL tablesUsed = kSentinelBool;
  BOOL iconvUsed = kSentinelBool;
  SetLastError(kSentinelError);
  const int tablesResult = WideCharToMultiByte(win::CP_GBK, flags, units.data(), length,
                                               capacity ? viaTables.data() : nullptr, capacity, defaultChar,
                                               &tablesUsed);
  const DWORD tablesError = GetLastError();
  SetLastError(kSentinelError);
  const int iconvResult = win::codepage_detail::WideCharToMultiByteWithoutTables(
      win::CP_GBK, flags, units.data(), length, capacity ? viaIconv.data() : nullptr, capacity, defaultChar,
      &iconvUsed);
  EXPECT_EQ(tablesResult, iconvResult);
  EXPECT_EQ(tablesError, GetLastError());
  EXPECT_EQ(tablesUsed, iconvUsed);
  EXPECT_EQ(Hex(viaTables), Hex(viaIconv));
}

// The converted length, as the iconv path measures it.
int WideLength(std::string_view bytes, int length) {
  return win::codepage_detail::MultiByteToWideCharWithoutTables(win::CP_GBK, 0, bytes.data(), length, nullptr, 0);
}

int NarrowLength(DWORD flags, std::u16string_view units, int length, const char* defaultChar = nullptr) {
  return win::codepage_detail::WideCharToMultiByteWithoutTables(win::CP_GBK, flags, units.data(), length, nullptr,
                                                                0, defaultChar, nullptr);
}

// Every size from a few below the converted length to a few above it, and measuring.
std::vector<int> CapacitiesAround(int converted) {
  std::vector<int> capacities{0};
  for (int capacity = std::max(1, converted - 3); capacity <= converted + 2; ++capacity) capacities.push_back(capacity);
  if (converted > 8) capacities.push_back(converted / 2);
  return capacities;
}

// Text that reaches every turn of both ways: ASCII runs longer and shorter than a block, pairs of
// all kinds of second byte, lead bytes at the end or before NUL, 0x80, 0xFF and NUL.
std::string RandomGbk(std::mt19937& random, size_t pieces) {
  std::string text;
  for (size_t piece = 0; piece < pieces; ++piece) {
    switch (random() % 8) {
      case 0: text.append(1 + random() % 40, static_cast<char>('a' + random() % 26)); break;
      case 1: text += static_cast<char>(random() % 0x80); break;
      case 2: text += static_cast<char>(0x80 + (random() % 2) * 0x7F); break;  // 0x80 or 0xFF
      case 3: text += static_cast<char>(0x81 + random() % 0x7E); break;       // a lead byte
      case 4:  // a lead byte and any byte
        text += static_cast<char>(0x81 + random() % 0x7E);
        text += static_cast<char>(random() % 0x100);
        break;
      default:
        for (unsigned i = 0, n = 1 + random() % 12; i < n; ++i) {
          text += static_cast<char>(0xB0 + random() % 0x48);
          text += static_cast<char>(0xA1 + random() % 0x5E);
        }
    }
  }
  return text;
}

// The same for UTF-16: ASCII runs, characters with exact, best-fit and private-use mappings, ones
// without any, surrogates whole and alone, combining marks after bases that compose, and NUL.
std::u16string RandomUtf16(std::mt19937& random, size_t pieces) {
  static constexpr char16_t kSpecial[] = {0x00C0, 0x00B2, 0x3280, 0x00A0, 0x0E01, 0x20AC, 0xE000, 0xE864,
                                          0xE4C6, 0xF8F5, 0xFEFF, 0xFFFF, 0x0301, 0x0300, 0x0308, 0x3099,
                                          u'e', u'A', u'u', 0x304B, 0x00E9, 0xD800, 0xDFFF, 0};
  std::u16string text;
  for (size_t piece = 0; piece < pieces; ++piece) {
    switch (random() % 6) {
      case 0: text.append(1 + random() % 40, static_cast<char16_t>('a' + random() % 26)); break;
      case 1: text += kSpecial[random() % std::size(kSpecial)]; break;
      case 2: text += static_cast<char16_t>(random() % 0x10000); break;
      case 3: text += u"\U0001F600"; break;
      default:
        for (unsigned i = 0, n = 1 + random() % 12; i < n; ++i) {
          text += static_cast<char16_t>(0x4E00 + random() % 0x5200);
        }
    }
  }
  return text;
}

TEST(CodePageTables, DecodeAsTheIconvPathOnRandomText) {
  std::mt19937 random(936);
  for (int round = 0; round < 300; ++round) {
    const std::string bytes = RandomGbk(random, 1 + random() % 24);
    for (DWORD flags : {DWORD{0}, win::MB_PRECOMPOSED, win::MB_ERR_INVALID_CHARS, win::MB_COMPOSITE}) {
      for (int length : {Length(bytes), -1}) {
        for (int capacity : CapacitiesAround(WideLength(bytes, length))) {
          ExpectSameDecoding(flags, bytes, length, capacity);
        }
      }
    }
  }
}

TEST(CodePageTables, EncodeAsTheIconvPathOnRandomText) {
  std::mt19937 random(65001);
  for (int round = 0; round < 300; ++round) {
    const std::u16string units = RandomUtf16(random, 1 + random() % 24);
    for (DWORD flags : {DWORD{0}, win::WC_NO_BEST_FIT_CHARS, win::WC_COMPOSITECHECK,
                        win::WC_COMPOSITECHECK | win::WC_NO_BEST_FIT_CHARS, win::WC_DISCARDNS}) {
      for (const char* defaultChar : {static_cast<const char*>(nullptr), "*", "\xA1\xF6"}) {
        const int length = round % 2 ? Length(units) : -1;
        for (int capacity : CapacitiesAround(NarrowLength(flags, units, length, defaultChar))) {
          ExpectSameEncoding(flags, units, length, capacity, defaultChar);
        }
      }
    }
  }
}

TEST(CodePageTables, LongTextsAsTheIconvPath) {
  // Longer than any piece iconv is handed and than many ASCII blocks, with the one spot the tables
  // leave to iconv at the very end, where a text cut short ends with half a character.
  std::mt19937 random(54936);
  const std::string bytes = RandomGbk(random, 4000) + "\xD6";
  const std::u16string units = RandomUtf16(random, 4000) + u"\xD800";
  for (int capacity : CapacitiesAround(WideLength(bytes, Length(bytes)))) {
    ExpectSameDecoding(0, bytes, Length(bytes), capacity);
  }
  for (int capacity : CapacitiesAround(NarrowLength(0, units, Length(units)))) {
    ExpectSameEncoding(0, units, Length(units), capacity, nullptr);
  }
}

TEST(CodePageTables, BuffersEndingInsideABlockOrACharacter) {
  // 40 ASCII characters and then double-byte ones: the buffer ends inside the second ASCII block,
  // right after it, and where only the first byte of a double-byte character would fit.
  const std::string bytes = std::string(40, 'x') + "\xD6\xD0\xCE\xC4";
  const std::u16string units = std::u16string(40, u'x') + u"中文";
  for (int capacity = 1; capacity <= 46; ++capacity) {
    ExpectSameDecoding(0, bytes, Length(bytes), capacity);
    ExpectSameEncoding(0, units, Length(units), capacity, nullptr);
  }
  const Wide wide = ToWide(win::CP_GBK, 0, bytes);
  EXPECT_EQ(Hex(wide.units), Hex(units));
  const Narrow narrow = ToNarrow(win::CP_GBK, 0, units);
  EXPECT_EQ(Hex(narrow.bytes), Hex(bytes));
}

TEST(CodePageTables, CharactersLeftToIconvKeepTheirNeighbours) {
  // A surrogate pair, a character that goes by best fit and one without a mapping between table
  // characters; a byte-order mark first and in the middle.
  const std::u16string units = u"\uFEFFab\U0001F600中\u00C0文\u0E01x\uFEFF";
  const Narrow narrow = ToNarrow(win::CP_GBK, 0, units);
  EXPECT_EQ(narrow.used, win::TRUE);
  for (int capacity : CapacitiesAround(narrow.result)) ExpectSameEncoding(0, units, Length(units), capacity, nullptr);
  // A lead byte before NUL, one before a byte that is no trail byte, and 0xFF between table ones.
  const std::string bytes(
      "\xD6\xD0\xC4"
      "\0"
      "a\x81\x20\xFF\xCE\xC4\x80"sv);
  const Wide wide = ToWide(win::CP_GBK, 0, bytes);
  EXPECT_EQ(Hex(wide.units), Hex(u"中?\0a?\uF8F5文\u20AC"sv));
  for (int capacity : CapacitiesAround(wide.result)) ExpectSameDecoding(0, bytes, Length(bytes), capacity);
}

// ---- Threads ------------------------------------------------------------------------------------

TEST(CodePageThreads, EachThreadConvertsOnItsOwn) {
  constexpr int kThreads = 4;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 2000; ++i) {
        const UINT codePage = (i + t) % 2 ? win::CP_GBK : win::CP_UTF8;
        const std::string_view bytes =
            codePage == win::CP_GBK ? "\xB4\xF0\xB0\xB8\xC4"sv : "\xE7\xAD\x94\xE6\xA1\x88\xE4"sv;
        char16_t units[4] = {};
        if (MultiByteToWideChar(codePage, 0, bytes.data(), Length(bytes), units, 4) != 3 ||
            std::u16string_view(units, 3) != (codePage == win::CP_GBK ? u"答案?"sv : u"答案\uFFFD"sv)) {
          ++failures[static_cast<size_t>(t)];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[static_cast<size_t>(t)], 0) << t;
}

}  // namespace
