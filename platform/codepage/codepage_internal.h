// The code-page stand-in as its tests see it from inside: the two conversions with the code page
// 936 lookup tables left out, so that every table-driven answer can be compared with the careful
// conversion (iconv plus cp936_tables.h) that the tables are built from.
#pragma once

#include "platform/windows_types.h"

namespace win::codepage_detail {

// MultiByteToWideChar / WideCharToMultiByte exactly as the public functions, parameters, flags,
// buffers and errors included, except that code page 936 never goes through the lookup tables.
int MultiByteToWideCharWithoutTables(UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte,
                                     LPWSTR wideChar, int cchWideChar);
int WideCharToMultiByteWithoutTables(UINT codePage, DWORD flags, LPCWSTR wideChar, int cchWideChar,
                                     LPSTR multiByte, int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar);

}  // namespace win::codepage_detail
