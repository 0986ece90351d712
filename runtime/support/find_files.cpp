#include "runtime/support/find_files.h"

#include <cstring>

#include "platform/files/file_search.h"

namespace qv {
namespace {

// The one search under way; searches run on the thread that owns the windows.
struct FileSearch {
  win::HANDLE handle = win::INVALID_HANDLE_VALUE;
  int32_t attributes = 0;
};
FileSearch& Current() {
  static FileSearch search;
  return search;
}

constexpr win::DWORD kAskable = file_attribute::ReadOnly | file_attribute::Hidden | file_attribute::System |
                                file_attribute::Directory | file_attribute::Archive;

bool Wanted(const win::WIN32_FIND_DATAA& data, int32_t attributes) {
  if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) return false;
  const win::DWORD has = data.dwFileAttributes;
  if (attributes == 0) return (has & win::FILE_ATTRIBUTE_DIRECTORY) == 0;
  return (has & static_cast<win::DWORD>(attributes) & kAskable) != 0;
}

}  // namespace

void EndFileSearch() {
  FileSearch& search = Current();
  if (search.handle != win::INVALID_HANDLE_VALUE) win::FindClose(search.handle);
  search.handle = win::INVALID_HANDLE_VALUE;
}

OwnedText FindFiles(const char* pattern, int32_t attributes) {
  FileSearch& search = Current();
  win::WIN32_FIND_DATAA data;
  bool found;
  if (pattern != nullptr && *pattern != '\0') {
    EndFileSearch();
    search.handle = win::FindFirstFileA(pattern, &data);
    search.attributes = attributes;
    found = search.handle != win::INVALID_HANDLE_VALUE;
  } else {
    found = search.handle != win::INVALID_HANDLE_VALUE && win::FindNextFileA(search.handle, &data);
  }
  while (found && !Wanted(data, search.attributes)) found = win::FindNextFileA(search.handle, &data);
  if (!found) {
    EndFileSearch();
    return {};
  }
  return OwnedText::Copy(data.cFileName);
}

}  // namespace qv
