// File search: patterns with wildcards over one directory, the find record, GBK names and the
// platform errors of every failure.
#include "platform/files/file_search.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace win {
namespace {

namespace fs = std::filesystem;

// A directory of its own per test: a.txt (5 bytes), B.TXT, c.log, .hidden, noext, the directory
// sub, and 中文.txt inside a directory named 誠, whose GBK form ends in the byte 0x5C.
class FileSearchTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "qv_find_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root = tmpl;
    for (const char* name : {"B.TXT", "c.log", ".hidden", "noext"}) std::ofstream(root / name) << "x";
    std::ofstream(root / "a.txt") << "12345";
    fs::create_directory(root / "sub");
    fs::create_directory(root / u8"誠");
    std::ofstream(root / u8"誠" / u8"中文.txt") << "";
  }
  void TearDown() override { fs::remove_all(root); }

  // The names the search hands out, in order.
  std::vector<std::string> Found(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    EXPECT_TRUE(FindClose(h));
    return names;
  }

  fs::path root;
};

using Names = std::vector<std::string>;

TEST_F(FileSearchTest, WildcardsMatchNamesWithoutRegardToTheCaseOfLetters) {
  const std::string dir = root.string() + "/";
  const Names all = {".", "..", ".hidden", "a.txt", "B.TXT", "c.log", "noext", "sub", "\xD5\x5C"};
  struct Row {
    std::string pattern;
    Names expected;
  } rows[] = {
      {dir + "*.txt", {"a.txt", "B.TXT"}},
      {dir + "?.TXT", {"a.txt", "B.TXT"}},
      {dir + "*", all},
      {dir + "*.*", all},  // a trailing ".*" also takes names without a dot
      {dir + "noext.*", {"noext"}},
      {dir + "?", {".", "\xD5\x5C"}},
      // Backslashes separate too, and a trail byte of 0x5C inside a GBK name is no separator.
      {root.string() + "\\\xD5\x5C\\*.txt", {"\xD6\xD0\xCE\xC4.txt"}},
      {dir + "\xD5\x5C/??.txt", {"\xD6\xD0\xCE\xC4.txt"}},  // ? stands for one character, not one byte
  };
  for (const Row& r : rows) EXPECT_EQ(Found(r.pattern), r.expected) << r.pattern;
}

TEST_F(FileSearchTest, TheRecordDescribesTheEntry) {
  fs::permissions(root / "c.log", fs::perms::owner_read | fs::perms::group_read);
  const struct timeval times[2] = {{1000000000, 0}, {1000000000, 500000}};
  ASSERT_EQ(utimes((root / "a.txt").c_str(), times), 0);
  struct Row {
    const char* name;
    DWORD attributes;
    DWORD size;
  } rows[] = {{"a.txt", FILE_ATTRIBUTE_ARCHIVE, 5},
              {"c.log", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 1},
              {".hidden", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, 1},
              {"sub", FILE_ATTRIBUTE_DIRECTORY, 0}};
  WIN32_FIND_DATAA data;
  for (const Row& r : rows) {
    std::memset(&data, 0xCD, sizeof data);
    HANDLE h = FindFirstFileA((root / r.name).c_str(), &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << r.name;
    FindClose(h);
    EXPECT_STREQ(data.cFileName, r.name);
    EXPECT_EQ(data.dwFileAttributes, r.attributes) << r.name;
    EXPECT_EQ(data.nFileSizeLow, r.size) << r.name;
    EXPECT_EQ(data.nFileSizeHigh | data.cAlternateFileName[0], 0u) << r.name;
  }
  // a.txt was written 1 000 000 000.5 seconds after 1970: in 100 ns steps after 1601, that is
  const uint64_t written = (1000000000ull + 11644473600ull) * 10000000ull + 5000000ull;
  FindClose(FindFirstFileA((root / "a.txt").c_str(), &data));
  EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, static_cast<DWORD>(written));
  EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, static_cast<DWORD>(written >> 32));
}

TEST_F(FileSearchTest, FailuresGiveThePlatformErrors) {
  WIN32_FIND_DATAA data;
  struct Row {
    const char* pattern;
    WIN32_FIND_DATAA* record;
    DWORD error;
  };
  const std::string missingDir = root.string() + "/nowhere/*";
  const std::string nothing = root.string() + "/*.exe";
  const std::string trailing = root.string() + "\\";
  const std::string fileAsDir = root.string() + "/a.txt/*";
  const Row rows[] = {{nullptr, &data, ERROR_INVALID_PARAMETER}, {"*", nullptr, ERROR_INVALID_PARAMETER},
                      {"", &data, ERROR_PATH_NOT_FOUND},         {missingDir.c_str(), &data, ERROR_PATH_NOT_FOUND},
                      {fileAsDir.c_str(), &data, ERROR_PATH_NOT_FOUND}, {nothing.c_str(), &data, ERROR_FILE_NOT_FOUND},
                      {trailing.c_str(), &data, ERROR_FILE_NOT_FOUND}};
  for (const Row& r : rows) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(FindFirstFileA(r.pattern, r.record), INVALID_HANDLE_VALUE) << (r.pattern ? r.pattern : "null");
    EXPECT_EQ(GetLastError(), r.error) << (r.pattern ? r.pattern : "null");
  }
  HANDLE h = FindFirstFileA((root / "a.txt").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(FindNextFileA(h, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(FindNextFileA(h, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(h));
  // A closed search, the failure value and a made-up handle are no searches.
  for (HANDLE bad : {h, INVALID_HANDLE_VALUE, static_cast<HANDLE>(&data)}) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FindNextFileA(bad, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FindClose(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

}  // namespace
}  // namespace win
