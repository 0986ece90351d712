// Library loading: LoadLibraryA / GetModuleHandleA / GetProcAddress / FreeLibrary over a table of
// built-in modules (the system libraries this platform stands in for) and real shared objects
// opened with dlopen.
//
// Module names. A name whose last path component (after the last '/', '\' or ':') matches a
// built-in module's file name refers to that built-in module, whatever directory precedes it:
// "KERNEL32", "kernel32.dll" and "C:\Windows\System32\kernel32.dll" are one module. The match
// ignores ASCII letter case, and a component without an extension gets ".dll" appended, as
// LoadLibrary does; a trailing '.' means "no extension", so "kernel32." is not Kernel32. The
// directory is ignored because a built-in module has no file: the program looks for system
// libraries in its own directories first, and on Windows those lookups fall through to the one
// system copy, which here is always the built-in. Any other name goes to dlopen unchanged (file
// names are case-sensitive there); a name with a '/' is a path, one without is searched for as
// the dynamic linker does.
//
// Modules are reference counted. Each LoadLibraryA of a module returns the same handle and adds
// one; each FreeLibrary takes one off. A shared object is closed when its count reaches 0 and its
// handle becomes invalid. A built-in module is never unloaded, like a system library the process
// imports statically: its handle stays valid, its count goes no lower than 0, and FreeLibrary of it
// at count 0 still succeeds.
//
// Exports. Every built-in export has a name, an ordinal (its position in its module's export list,
// from 1) and the number of argument words its function takes. Its address is a thunk that takes
// those words as an array, not the typed function itself, so it is called through CallProcedure
// (or by casting to BuiltinThunk), never as the function. Exports of shared objects are found by
// name with dlsym; they have no ordinals and their argument count is unknown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/windows_types.h"

namespace win {

// A procedure address as GetProcAddress hands it out.
using FARPROC = intptr_t (*)();

// An ordinal in place of a name, as MAKEINTRESOURCE makes it: a pointer value below 0x10000.
constexpr LPCSTR MakeOrdinalName(uint16_t ordinal) { return reinterpret_cast<LPCSTR>(uintptr_t{ordinal}); }
constexpr bool IsOrdinalName(LPCSTR name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

// Null on failure: ERROR_INVALID_PARAMETER for a null name, ERROR_MOD_NOT_FOUND when no built-in
// module matches and dlopen fails (also for the empty name, which never reaches dlopen).
HMODULE LoadLibraryA(LPCSTR fileName);
// The handle of a module that LoadLibraryA has loaded, without adding a reference. Built-in
// modules always count as loaded. Null with ERROR_MOD_NOT_FOUND otherwise (also for a null name:
// the program's own file is not a module here).
HMODULE GetModuleHandleA(LPCSTR moduleName);
// nameOrOrdinal is an export name (matched exactly) or an ordinal made by MakeOrdinalName. Null on
// failure: ERROR_MOD_NOT_FOUND for a null or unknown module handle, ERROR_PROC_NOT_FOUND for an
// export the module does not have (ordinal 0, and any ordinal of a shared object, included).
FARPROC GetProcAddress(HMODULE module, LPCSTR nameOrOrdinal);
// FALSE with ERROR_INVALID_HANDLE for a null or unknown handle.
BOOL FreeLibrary(HMODULE module);

// The module's reference count, or -1 for a handle that names no loaded module.
int ModuleReferenceCount(HMODULE module);

// How a procedure is called.
enum class ProcedureForm {
  WordArray,  // a built-in thunk: intptr_t thunk(const intptr_t* words)
  Native,     // a function of a shared object: integer and pointer arguments, integer result
};
inline constexpr int kUnknownArgumentCount = -1;

struct Procedure {
  FARPROC address = nullptr;
  ProcedureForm form = ProcedureForm::Native;
  int argumentCount = kUnknownArgumentCount;
};

// GetProcAddress with the description needed to call the export. Same results and errors.
std::optional<Procedure> LookupProcedure(HMODULE module, LPCSTR nameOrOrdinal);

// The most argument words a native procedure can be called with.
inline constexpr size_t kMaxNativeArguments = 16;

// Calls the procedure with the argument words and returns its result. A procedure with a known
// argument count receives its first argumentCount words, as a callee that takes its own arguments
// would; extra words are left unread. Returns nothing, without calling, when the words cannot be
// passed: fewer words than a known argument count (the callee would read words that were never
// given), or more than kMaxNativeArguments for a native procedure. A native function's result is
// the full result register: a function that returns a 32-bit int fills only its low half.
std::optional<intptr_t> CallProcedure(const Procedure& procedure, std::span<const intptr_t> words);

// Built-in exports. A thunk receives exactly argumentCount words.
using BuiltinThunk = intptr_t (*)(const intptr_t* words);

struct BuiltinExport {
  const char* name = nullptr;
  BuiltinThunk thunk = nullptr;
  int argumentCount = 0;
};

// Adds exports to the built-in module with that file name (matched as module names are: "WinHttp"
// and "winhttp.DLL" are the same module), creating the module when it does not exist yet. New
// exports take the ordinals after the module's last one. Registers nothing and returns false when
// the file name is empty or has a directory, or an export has no name, no thunk, a negative
// argument count or a name the module (or the list itself) already has.
//
// The system modules exist from the start: Kernel32 (GetLastError, GetTickCount,
// MultiByteToWideChar, SetLastError, WideCharToMultiByte, ordinals 1 to 5 in this order), Ole32
// (CoInitialize, CoUninitialize, OleInitialize, OleUninitialize, ordinals 1 to 4) and WinHttp
// with the fifteen exports of the HTTP service (platform/winhttp, WinHttpExports), numbered in
// alphabetical order from WinHttpAddRequestHeaders (1) to WinHttpSetTimeouts (15).
bool RegisterBuiltinModule(std::string_view fileName, std::span<const BuiltinExport> exports);

// The export of a typed function: ExportOf<&GetTickCount>("GetTickCount"). The thunk converts each
// word to the parameter's type (integers by truncation, pointers and handles by reinterpretation)
// and the result back to a word (unsigned values zero-extended, signed ones sign-extended, void as
// 0). Each parameter takes one word.
namespace detail {
template <typename T>
T FromWord(intptr_t word) {
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<T>(word);
  else {
    static_assert(std::is_integral_v<T> || std::is_enum_v<T>, "argument words carry integers and pointers");
    return static_cast<T>(word);
  }
}

template <typename R>
intptr_t ToWord(R value) {
  if constexpr (std::is_pointer_v<R>)
    return reinterpret_cast<intptr_t>(value);
  else {
    static_assert(std::is_integral_v<R> || std::is_enum_v<R>, "results are integers or pointers");
    return static_cast<intptr_t>(value);
  }
}

template <auto Function, typename R, typename... A>
struct Thunk {
  static constexpr int kArgumentCount = static_cast<int>(sizeof...(A));

  static intptr_t Call(const intptr_t* words) { return Invoke(words, std::index_sequence_for<A...>{}); }

  template <size_t... I>
  static intptr_t Invoke([[maybe_unused]] const intptr_t* words, std::index_sequence<I...>) {
    if constexpr (std::is_void_v<R>) {
      Function(FromWord<A>(words[I])...);
      return 0;
    } else {
      return ToWord<R>(Function(FromWord<A>(words[I])...));
    }
  }
};

template <auto Function>
struct ThunkOf;
// Matches noexcept functions as well: their pointers convert to the plain function pointer type.
template <typename R, typename... A, R (*Function)(A...)>
struct ThunkOf<Function> : Thunk<Function, R, A...> {};
}  // namespace detail

template <auto Function>
constexpr BuiltinExport ExportOf(const char* name) {
  using Exported = detail::ThunkOf<Function>;
  return {name, &Exported::Call, Exported::kArgumentCount};
}

}  // namespace win
