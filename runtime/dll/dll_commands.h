// Declared DLL commands: functions of system libraries that the program declares by library file
// name and export name and calls by index. Start-up records the declarations (DllLibraryName,
// DllFunctionName in runtime/startup.h); the first call of an index loads the library, looks the
// export up and keeps both for later calls; shutdown frees the libraries again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <type_traits>

#include "platform/windows_types.h"

namespace qv {

// One argument word of a declared command: an integer, a handle or a pointer, the kinds of values
// system functions take. Floating-point values are not words and do not convert.
class DllArgument {
 public:
  template <typename T>
  requires std::is_integral_v<T> || std::is_enum_v<T>
  constexpr DllArgument(T value) : m_word(static_cast<intptr_t>(value)) {}
  template <typename T>
  DllArgument(T* pointer) : m_word(reinterpret_cast<intptr_t>(pointer)) {}
  constexpr DllArgument(std::nullptr_t) {}

  constexpr intptr_t Word() const { return m_word; }

 private:
  intptr_t m_word = 0;
};

// Calls declared command index with the arguments and returns the function's result word.
//
// Resolution, at the first call of an index: an export name "#n" names ordinal n (the decimal
// digits after '#', low 16 bits). An empty library name tries "Kernel32.dll", "Gdi32.dll",
// "User32.dll", "Advapi32.dll", "Mpr.dll" and "Shell32.dll" in this order, unloading each that
// lacks the export. A library name with ':' or '/' is a path (a drive path on Windows, any path
// with a directory here) and is loaded by that path only. Any other name is tried, stopping at the
// first that loads, in the library directory (when set), the runtime directory (when set), the
// program's directory and finally by its plain name through the dynamic linker's search. A library
// that supplies the export stays loaded until shutdown; one that does not is unloaded and the
// runtime error "无法找到指定DLL库文件“%s”中的输出命令“%s”" (or, for an empty library name,
// "无法找到指定DLL库文件中的输出命令“%s”") ends the process.
//
// The address and module of each declared index are kept in caches sized to the declared count;
// an index outside the declarations has no names, so its resolution fails with the message above.
//
// After the call, when the function's argument count is known and differs from the number of
// arguments passed, runtime error 6 "调用DLL命令后发现堆栈错误" ends the process with location and
// position, the caller's own constants. Extra arguments do not stop the call (the function reads
// its own and ignores the rest); missing ones do, as the function would read words never given.
intptr_t CallDllCommand(int32_t index, std::initializer_list<DllArgument> arguments, int32_t location = 0,
                        int32_t position = 0);
intptr_t CallDllCommand(int32_t index, std::span<const intptr_t> arguments, int32_t location = 0, int32_t position = 0);

// The same call as it is handed to program code in the runtime entry table: the argument words as a
// count and an array. A negative count, or a null array with a positive count, is an unbalanced
// call: the function is not called and runtime error 6 is raised.
intptr_t CallDllCommandEntry(int32_t index, int32_t argumentCount, const intptr_t* arguments, int32_t location,
                             int32_t position);

// The two runtime directories searched before the program's directory: libraryDirectory is put in
// front of the library name as it is (give it its trailing '/'), runtimeDirectory with a '/'
// between. An empty directory is skipped. Neither is set unless start-up or a test sets it.
void SetDllSearchDirectories(std::string libraryDirectory, std::string runtimeDirectory);

// The module that supplied declared command index, or null while the index is unresolved (and for
// indices outside the declarations).
win::HMODULE DllCommandModule(int32_t index);

// Frees every library loaded for declared commands and empties the caches. Shutdown calls it; a
// later call resolves afresh.
void ReleaseDllCommandLibraries();

}  // namespace qv
