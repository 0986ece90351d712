// File search as FindFirstFileA / FindNextFileA / FindClose: the entries of one directory whose
// names match a pattern with the wildcards * (any run of characters) and ? (one character).
//
// Names and patterns are GBK at this boundary. A pattern is a path whose last part holds the
// wildcards; "\" and "/" both separate its parts, and a pattern without a directory searches the
// current directory. Matching ignores the case of ASCII letters, and a trailing ".*" also matches
// names without that dot (so "*.*" matches every name), as on Windows. The entries are taken when
// the search starts and handed out ordered by name, the case of ASCII letters ignored; "." and
// ".." are among them. Files whose names start with a dot carry the hidden attribute, files the
// owner cannot write the read-only attribute, other files the archive attribute.
#pragma once

#include "platform/windows_types.h"

namespace win {

inline constexpr DWORD MAX_PATH = 260;

inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;

// The handle value of a failed FindFirstFileA.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

// 100-nanosecond intervals since 1 January 1601 (UTC).
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];        // GBK, NUL-terminated
  char cAlternateFileName[14];     // the short name; always empty here
};

// Starts a search and fills findData with the first match. INVALID_HANDLE_VALUE on failure, with
// ERROR_INVALID_PARAMETER (null arguments), ERROR_PATH_NOT_FOUND (an empty pattern, or a directory
// that does not exist) or ERROR_FILE_NOT_FOUND (nothing matches, or the pattern ends in a separator).
HANDLE FindFirstFileA(LPCSTR fileName, WIN32_FIND_DATAA* findData);
// The next match; FALSE with ERROR_NO_MORE_FILES after the last one, ERROR_INVALID_HANDLE for a
// handle that is not an open search, ERROR_INVALID_PARAMETER for a null findData.
BOOL FindNextFileA(HANDLE findFile, WIN32_FIND_DATAA* findData);
// Ends a search; FALSE with ERROR_INVALID_HANDLE for a handle that is not an open search.
BOOL FindClose(HANDLE findFile);

}  // namespace win
