// Code-page conversions through the program's declared MultiByteToWideChar / WideCharToMultiByte.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "common/gbk_print.h"
#include "http/code_pages.h"
#include "http/dll_indices.h"
#include "app/program.h"

namespace quorvane {
namespace {

using qvtest::Gbk;

std::string Bytes(const qv::OwnedByteSet& set) { return std::string(set.bytes()); }
qv::OwnedByteSet Set(std::string_view bytes) { return qv::OwnedByteSet::Copy(bytes); }

TEST(HttpDllIndices, NameTheProgramsDeclarations) {
  const std::pair<int32_t, const char*> kExpected[] = {
      {http_dll::kWinHttpCheckPlatform, "WinHttpCheckPlatform"}, {http_dll::kWinHttpCrackUrl, "WinHttpCrackUrl"},
      {http_dll::kWinHttpOpen, "WinHttpOpen"}, {http_dll::kWinHttpSetTimeouts, "WinHttpSetTimeouts"},
      {http_dll::kWinHttpConnect, "WinHttpConnect"}, {http_dll::kWinHttpOpenRequest, "WinHttpOpenRequest"},
      {http_dll::kWinHttpSetCredentials, "WinHttpSetCredentials"}, {http_dll::kWinHttpCloseHandle, "WinHttpCloseHandle"},
      {http_dll::kWinHttpSetOption, "WinHttpSetOption"}, {http_dll::kWinHttpAddRequestHeaders, "WinHttpAddRequestHeaders"},
      {http_dll::kWinHttpSendRequest, "WinHttpSendRequest"}, {http_dll::kWinHttpReceiveResponse, "WinHttpReceiveResponse"},
      {http_dll::kWinHttpQueryDataAvailable, "WinHttpQueryDataAvailable"}, {http_dll::kWinHttpReadData, "WinHttpReadData"},
      {http_dll::kWinHttpQueryHeaders, "WinHttpQueryHeaders"}, {http_dll::kCoInitialize, "CoInitialize"},
      {http_dll::kCoUninitialize, "CoUninitialize"}, {http_dll::kMultiByteToWideChar, "MultiByteToWideChar"},
      {http_dll::kWideCharToMultiByte, "WideCharToMultiByte"}};
  for (const auto& [index, name] : kExpected) EXPECT_STREQ(Description().dllFunctionNames[index], name) << index;
}

TEST(CodePages, GbkToUtf16TerminatorAndEmptyText) {
  EXPECT_TRUE(GbkToUtf16("").empty());
  EXPECT_TRUE(GbkToUtf16(nullptr, true).empty());
  EXPECT_EQ(Bytes(GbkToUtf16("A")), std::string("A\0\0\0", 4));
  EXPECT_EQ(Bytes(GbkToUtf16("A", true)), std::string("A\0", 2));
  // 答案 is U+7B54 U+6848; € is GBK 0x80 as on Windows.
  EXPECT_EQ(Bytes(GbkToUtf16("答案\x80")), std::string("\x54\x7B\x48\x68\xAC\x20\0\0", 8));
}

TEST(CodePages, Utf16ToGbkStopsAtNulAndIgnoresAnOddByte) {
  EXPECT_EQ(Gbk(Utf16ToGbk(Set(std::string("\x54\x7B\x48\x68", 4)).view()).c_str()), Gbk("答案"));
  EXPECT_EQ(Gbk(Utf16ToGbk(Set(std::string("a\0b\0\0\0c\0", 8)).view()).c_str()), Gbk("ab"));
  EXPECT_EQ(Gbk(Utf16ToGbk(Set(std::string("a\0b", 3)).view()).c_str()), Gbk("a"));
  EXPECT_TRUE(Utf16ToGbk(Set("x").view()).empty());
  EXPECT_TRUE(Utf16ToGbk({}).empty());
}

TEST(CodePages, MultiByteRoundTrips) {
  const std::string utf8 = qvtest::Utf8(u8"答案：ok");
  EXPECT_EQ(Gbk(Utf8ToGbk(utf8.c_str()).c_str()), Gbk("答案：ok"));
  EXPECT_EQ(std::string(GbkToUtf8("答案：ok").view()), utf8);
  EXPECT_TRUE(Utf8ToGbk("").empty());
  EXPECT_TRUE(GbkToUtf8(nullptr).empty());
  // MultiByteToUtf16 keeps the NUL unit, even of the empty text; code page 0 is GBK here.
  EXPECT_EQ(Bytes(MultiByteToUtf16("")), std::string(2, '\0'));
  EXPECT_EQ(Bytes(MultiByteToUtf16("\xC3\xA9")), std::string("\xE9\0\0\0", 4));
  EXPECT_EQ(Gbk(Utf16ToMultiByte(GbkToUtf16("答").view()).c_str()), Gbk("答"));
}

TEST(CodePages, Utf16WithoutTerminatorIsReadToItsEndOnly) {
  // The unit after the set's end is never read: the conversion sees exactly "ab".
  EXPECT_EQ(Gbk(Utf16ToMultiByte(Set(std::string("a\0b\0", 4)).view(), kCodePageUtf8).c_str()), Gbk("ab"));
  EXPECT_EQ(Gbk(Utf16ToMultiByte(Set(std::string("a\0b", 3)).view(), kCodePageUtf8).c_str()), Gbk("a"));
  EXPECT_TRUE(Utf16ToMultiByte({}).empty());
}

}  // namespace
}  // namespace quorvane
