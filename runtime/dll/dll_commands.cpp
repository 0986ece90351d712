#include "runtime/dll/dll_commands.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/loader/loader.h"
#include "runtime/errors.h"
#include "runtime/startup.h"

namespace qv {
namespace {

struct ResolvedCommand {
  win::Procedure procedure;
  win::HMODULE module = nullptr;
};

// Written without a lock: declared commands are called on the window's thread, like all
// application code.
struct DllCommandState {
  std::vector<ResolvedCommand> cache;  // one slot per declared command
  std::vector<win::HMODULE> loaded;    // one entry per load that supplied a command
  std::string libraryDirectory;
  std::string runtimeDirectory;
};

DllCommandState& State() {
  static DllCommandState state;
  return state;
}

// The libraries searched, in this order, for a command declared without a library name.
constexpr const char* kSystemLibraries[] = {"Kernel32.dll", "Gdi32.dll", "User32.dll",
                                            "Advapi32.dll", "Mpr.dll",   "Shell32.dll"};

// The caches follow the declared count that start-up recorded.
std::vector<ResolvedCommand>& Cache() {
  std::vector<ResolvedCommand>& cache = State().cache;
  const size_t declared = Runtime().dllCommandCount;
  if (cache.size() != declared) cache.assign(declared, {});
  return cache;
}

// "#n" names ordinal n: the decimal digits after '#', of which the low 16 bits count (unsigned
// wrap-around keeps exactly those bits of a longer number).
win::LPCSTR LookupName(const char* exportName) {
  if (exportName[0] != '#') return exportName;
  uint32_t number = 0;
  for (const char* p = exportName + 1; *p >= '0' && *p <= '9'; ++p)
    number = number * 10 + static_cast<uint32_t>(*p - '0');
  return win::MakeOrdinalName(static_cast<uint16_t>(number));
}

// Puts the values in place of the pattern's "%s" markers, in order. Names are copied as they are,
// so a '%' inside a name stays a '%'.
std::string FillIn(std::string_view pattern, std::initializer_list<std::string_view> values) {
  std::string text;
  auto value = values.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && value != values.end()) {
      text += *value++;
      ++i;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

// Loads a named library: a path by that path only, any other name from the runtime's directories,
// the program's directory and then the dynamic linker's search, stopping at the first that loads.
win::HMODULE LoadDeclaredLibrary(const std::string& library) {
  if (library.find_first_of(":/") != std::string::npos) return win::LoadLibraryA(library.c_str());
  const DllCommandState& s = State();
  std::vector<std::string> candidates;
  if (!s.libraryDirectory.empty()) candidates.push_back(s.libraryDirectory + library);
  if (!s.runtimeDirectory.empty()) candidates.push_back(s.runtimeDirectory + "/" + library);
  const std::string& programDirectory = Runtime().programDirectorySlash;
  if (!programDirectory.empty()) candidates.push_back(programDirectory + library);
  candidates.push_back(library);
  for (const std::string& candidate : candidates)
    if (win::HMODULE module = win::LoadLibraryA(candidate.c_str())) return module;
  return nullptr;
}

// The library stays loaded until shutdown.
ResolvedCommand Keep(win::HMODULE module, const win::Procedure& procedure) {
  State().loaded.push_back(module);
  return {procedure, module};
}

ResolvedCommand Resolve(int32_t index) {
  const char* library = DllLibraryName(index);
  const char* exportName = DllFunctionName(index);
  if (library == nullptr) library = "";
  if (exportName == nullptr) exportName = "";
  const win::LPCSTR lookup = LookupName(exportName);

  if (*library == '\0') {
    for (const char* system : kSystemLibraries) {
      const win::HMODULE module = win::LoadLibraryA(system);
      if (module == nullptr) continue;
      if (const auto procedure = win::LookupProcedure(module, lookup)) return Keep(module, *procedure);
      win::FreeLibrary(module);
    }
    ReportRuntimeError(FillIn(error_text::kDllExportNotFound, {exportName}).c_str(), 0, 0, 0);
  }

  if (const win::HMODULE module = LoadDeclaredLibrary(library)) {
    if (const auto procedure = win::LookupProcedure(module, lookup)) return Keep(module, *procedure);
    win::FreeLibrary(module);
  }
  ReportRuntimeError(FillIn(error_text::kDllLibraryExportNotFound, {library, exportName}).c_str(), 0, 0, 0);
}

// The cached resolution of a declared index; any other index is resolved afresh every time.
ResolvedCommand CommandFor(int32_t index) {
  const bool cacheable = index >= 0 && static_cast<size_t>(index) < Cache().size();
  if (cacheable && Cache()[index].module != nullptr) return Cache()[index];
  const ResolvedCommand command = Resolve(index);
  if (cacheable) Cache()[index] = command;
  return command;
}

intptr_t Invoke(const ResolvedCommand& command, std::span<const intptr_t> words, int32_t location, int32_t position) {
  const std::optional<intptr_t> result = win::CallProcedure(command.procedure, words);
  const int expected = command.procedure.argumentCount;
  if (!result || (expected != win::kUnknownArgumentCount && words.size() != static_cast<size_t>(expected)))
    RaiseRuntimeError(static_cast<int32_t>(RuntimeErrorNumber::DllStackMismatch), location, position);
  return *result;
}

}  // namespace

intptr_t CallDllCommand(int32_t index, std::span<const intptr_t> arguments, int32_t location, int32_t position) {
  return Invoke(CommandFor(index), arguments, location, position);
}

intptr_t CallDllCommand(int32_t index, std::initializer_list<DllArgument> arguments, int32_t location,
                        int32_t position) {
  std::vector<intptr_t> words;
  words.reserve(arguments.size());
  for (const DllArgument& argument : arguments) words.push_back(argument.Word());
  return CallDllCommand(index, words, location, position);
}

intptr_t CallDllCommandEntry(int32_t index, int32_t argumentCount, const intptr_t* arguments, int32_t location,
                             int32_t position) {
  const ResolvedCommand command = CommandFor(index);
  if (argumentCount < 0 || (argumentCount > 0 && arguments == nullptr))
    RaiseRuntimeError(static_cast<int32_t>(RuntimeErrorNumber::DllStackMismatch), location, position);
  return Invoke(command, {arguments, static_cast<size_t>(argumentCount)}, location, position);
}

void SetDllSearchDirectories(std::string libraryDirectory, std::string runtimeDirectory) {
  State().libraryDirectory = std::move(libraryDirectory);
  State().runtimeDirectory = std::move(runtimeDirectory);
}

win::HMODULE DllCommandModule(int32_t index) {
  const std::vector<ResolvedCommand>& cache = Cache();
  return index >= 0 && static_cast<size_t>(index) < cache.size() ? cache[index].module : nullptr;
}

void ReleaseDllCommandLibraries() {
  DllCommandState& s = State();
  std::vector<win::HMODULE> loaded;
  loaded.swap(s.loaded);
  s.cache.clear();
  for (const win::HMODULE module : loaded) win::FreeLibrary(module);
}

}  // namespace qv
