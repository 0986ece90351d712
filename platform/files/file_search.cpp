#include "platform/files/file_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/codepage/codepage.h"

namespace win {
namespace {

struct FoundEntry {
  std::u16string folded;  // for ordering
  WIN32_FIND_DATAA data;
};

struct Search {
  std::vector<FoundEntry> entries;
  size_t next = 0;
};

// Open searches; a handle is the address of its Search and is only used while it is listed here.
std::mutex g_searchesLock;
std::set<Search*>& Searches() {
  static std::set<Search*> searches;
  return searches;
}

std::u16string ToWide(UINT codePage, const std::string& bytes) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string wide(static_cast<size_t>(std::max(n, 0)), u'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return wide;
}

std::string FromWide(UINT codePage, const std::u16string& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string bytes(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0)
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n, nullptr, nullptr);
  return bytes;
}

char16_t Fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

std::u16string Folded(std::u16string s) {
  for (char16_t& c : s) c = Fold(c);
  return s;
}

// * matches any run of characters, ? exactly one; both sides are folded already. The last star
// seen is where a mismatch resumes, one character further into the name each time.
bool WildcardMatch(const std::u16string& name, const std::u16string& pattern) {
  size_t n = 0, p = 0, starP = std::u16string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool NameMatches(const std::u16string& name, const std::u16string& pattern) {
  if (WildcardMatch(name, pattern)) return true;
  // A trailing ".*" may stand for nothing at all: "*.*" takes names without a dot too.
  const size_t n = pattern.size();
  return n >= 2 && pattern[n - 2] == u'.' && pattern[n - 1] == u'*' &&
         WildcardMatch(name, pattern.substr(0, n - 2));
}

FILETIME FileTimeOf(const struct timespec& t) {
  // Seconds from 1601 to 1970, the Unix epoch.
  constexpr int64_t kEpochDifference = 11644473600LL;
  const int64_t ticks = (static_cast<int64_t>(t.tv_sec) + kEpochDifference) * 10000000LL + t.tv_nsec / 100;
  const auto value = static_cast<uint64_t>(std::max<int64_t>(ticks, 0));
  return {static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

DWORD AttributesOf(const std::string& name, const struct stat& st) {
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  else attributes |= FILE_ATTRIBUTE_ARCHIVE;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
  return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

// The record of one directory entry, or false when its name does not fit the ANSI record.
bool Describe(int directory, const std::string& nameUtf8, const std::u16string& wideName, WIN32_FIND_DATAA& data) {
  const std::string gbk = FromWide(CP_ACP, wideName);
  if (gbk.empty() || gbk.size() >= MAX_PATH) return false;
  struct stat st {};
  // A link that leads nowhere is described as the link itself.
  if (fstatat(directory, nameUtf8.c_str(), &st, 0) != 0 &&
      fstatat(directory, nameUtf8.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = AttributesOf(nameUtf8, st);
  data.ftLastWriteTime = FileTimeOf(st.st_mtim);
  data.ftLastAccessTime = FileTimeOf(st.st_atim);
  data.ftCreationTime = FileTimeOf(st.st_mtim);  // no creation time to be had: the last write stands in
  if (!S_ISDIR(st.st_mode)) {
    const auto size = static_cast<uint64_t>(std::max<off_t>(st.st_size, 0));
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  }
  std::memcpy(data.cFileName, gbk.data(), gbk.size());
  return true;
}

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

Search* Lookup(HANDLE handle) {
  auto* search = static_cast<Search*>(handle);
  return Searches().count(search) != 0 ? search : nullptr;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR fileName, WIN32_FIND_DATAA* findData) {
  if (fileName == nullptr || findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // Separators are found in the converted text: a GBK trail byte may be 0x5C.
  std::u16string path = ToWide(CP_ACP, fileName);
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::replace(path.begin(), path.end(), u'\\', u'/');
  const size_t slash = path.rfind(u'/');
  const std::u16string pattern = Folded(slash == std::u16string::npos ? path : path.substr(slash + 1));
  // A pattern right under the root keeps its one separator as the directory.
  const std::u16string directory =
      slash == std::u16string::npos ? std::u16string(u".") : path.substr(0, std::max<size_t>(slash, 1));
  if (pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::unique_ptr<DIR, DirCloser> dir(opendir(FromWide(CP_UTF8, directory).c_str()));
  if (dir == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto search = std::make_unique<Search>();
  while (const dirent* entry = readdir(dir.get())) {
    const std::string nameUtf8 = entry->d_name;
    const std::u16string wide = ToWide(CP_UTF8, nameUtf8);
    std::u16string folded = Folded(wide);
    if (!NameMatches(folded, pattern)) continue;
    FoundEntry found{std::move(folded), {}};
    if (Describe(dirfd(dir.get()), nameUtf8, wide, found.data)) search->entries.push_back(std::move(found));
  }
  if (search->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::sort(search->entries.begin(), search->entries.end(),
            [](const FoundEntry& a, const FoundEntry& b) {
              if (a.folded != b.folded) return a.folded < b.folded;
              return std::strcmp(a.data.cFileName, b.data.cFileName) < 0;  // names that differ in case only
            });
  *findData = search->entries[0].data;
  search->next = 1;
  std::lock_guard lock(g_searchesLock);
  Searches().insert(search.get());
  SetLastError(ERROR_SUCCESS);
  return search.release();
}

BOOL FindNextFileA(HANDLE findFile, WIN32_FIND_DATAA* findData) {
  std::lock_guard lock(g_searchesLock);
  Search* search = Lookup(findFile);
  if (search == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (search->next >= search->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *findData = search->entries[search->next++].data;
  return TRUE;
}

BOOL FindClose(HANDLE findFile) {
  std::lock_guard lock(g_searchesLock);
  Search* search = Lookup(findFile);
  if (search == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Searches().erase(search);
  delete search;
  return TRUE;
}

}  // namespace win
