// The module registry behind LoadLibraryA, GetModuleHandleA, GetProcAddress and FreeLibrary, and
// the calls through procedure addresses.
#include "platform/loader/loader.h"

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/loader/loader_private.h"

namespace win {
namespace {

struct Export {
  std::string name;
  BuiltinThunk thunk = nullptr;
  int argumentCount = 0;
};

// One loaded module. A built-in module has a key and exports; a shared object has its dlopen
// handle, and its handle on our side stays the same for as long as it is open.
struct Module {
  std::string key;
  std::vector<Export> exports;
  void* sharedObject = nullptr;
  int references = 0;

  bool IsBuiltin() const { return sharedObject == nullptr; }
};

// The part of a module name that names the file: what follows the last '/', '\' or ':'.
std::string_view FileComponent(std::string_view name) {
  const size_t separator = name.find_last_of("/\\:");
  return separator == std::string_view::npos ? name : name.substr(separator + 1);
}

// A file name as built-in modules are matched: lower case, ".dll" appended when there is no
// extension, a trailing '.' (which stands for "no extension") dropped. Empty for an empty name.
std::string ModuleKey(std::string_view fileName) {
  std::string key(fileName);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  if (key.empty()) return key;
  if (key.back() == '.')
    key.pop_back();
  else if (key.find('.') == std::string::npos)
    key += ".dll";
  return key;
}

class Registry {
 public:
  static Registry& Instance() {
    static Registry registry;
    return registry;
  }

  std::mutex mutex;

  Module* Find(HMODULE handle) {
    for (auto& m : m_modules)
      if (Handle(m.get()) == handle) return m.get();
    return nullptr;
  }

  Module* FindBuiltin(const std::string& key) {
    if (key.empty()) return nullptr;
    for (auto& m : m_modules)
      if (m->IsBuiltin() && m->key == key) return m.get();
    return nullptr;
  }

  Module* FindShared(void* object) {
    for (auto& m : m_modules)
      if (m->sharedObject == object) return m.get();
    return nullptr;
  }

  Module* Add(std::unique_ptr<Module> module) { return m_modules.emplace_back(std::move(module)).get(); }

  void Remove(Module* module) {
    std::erase_if(m_modules, [module](const std::unique_ptr<Module>& m) { return m.get() == module; });
  }

  static HMODULE Handle(Module* module) { return reinterpret_cast<HMODULE>(module); }

 private:
  Registry() {
    for (const loader::SystemModule& system : loader::SystemModules()) {
      auto module = std::make_unique<Module>();
      module->key = ModuleKey(system.fileName);
      for (const BuiltinExport& e : system.exports) module->exports.push_back({e.name, e.thunk, e.argumentCount});
      Add(std::move(module));
    }
  }

  std::vector<std::unique_ptr<Module>> m_modules;
};

const Export* FindExport(const Module& module, LPCSTR nameOrOrdinal) {
  if (IsOrdinalName(nameOrOrdinal)) {
    const uintptr_t ordinal = reinterpret_cast<uintptr_t>(nameOrOrdinal);
    return ordinal >= 1 && ordinal <= module.exports.size() ? &module.exports[ordinal - 1] : nullptr;
  }
  const std::string_view name(nameOrOrdinal);
  for (const Export& e : module.exports)
    if (e.name == name) return &e;
  return nullptr;
}

// Casts between function pointer types go through void (*)(), the one type that stands for any
// function: the address is the same, only the type it is called with changes.
template <typename To, typename From>
To FunctionCast(From function) {
  return reinterpret_cast<To>(reinterpret_cast<void (*)()>(function));
}

// Native calls: one caller per argument count, each casting the address to a function that takes
// that many integer words. On this platform's calling convention the caller removes its own
// arguments, so words that the callee does not use are harmless.
template <size_t>
using Word = intptr_t;

template <size_t... I>
intptr_t CallNativeWords(FARPROC address, [[maybe_unused]] const intptr_t* words, std::index_sequence<I...>) {
  using Function = intptr_t (*)(Word<I>...);
  return FunctionCast<Function>(address)(words[I]...);
}

template <size_t N>
intptr_t CallNative(FARPROC address, const intptr_t* words) {
  return CallNativeWords(address, words, std::make_index_sequence<N>{});
}

using NativeCaller = intptr_t (*)(FARPROC, const intptr_t*);

template <size_t... N>
constexpr std::array<NativeCaller, sizeof...(N)> NativeCallers(std::index_sequence<N...>) {
  return {&CallNative<N>...};
}

constexpr auto kNativeCallers = NativeCallers(std::make_index_sequence<kMaxNativeArguments + 1>{});

}  // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // dlopen of the empty name would hand out the program itself.
  if (*fileName == '\0') {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  Registry& registry = Registry::Instance();
  {
    std::lock_guard lock(registry.mutex);
    if (Module* builtin = registry.FindBuiltin(ModuleKey(FileComponent(fileName)))) {
      ++builtin->references;
      return Registry::Handle(builtin);
    }
  }
  // Opened outside the lock: the object's initialisers run now and may take their time.
  void* object = loader::OpenSharedObject(fileName);
  if (object == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard lock(registry.mutex);
  Module* module = registry.FindShared(object);
  if (module == nullptr) {
    auto added = std::make_unique<Module>();
    added->sharedObject = object;
    module = registry.Add(std::move(added));
  }
  ++module->references;  // one reference per dlopen, so each FreeLibrary closes once
  return Registry::Handle(module);
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr || *moduleName == '\0') {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  Registry& registry = Registry::Instance();
  {
    std::lock_guard lock(registry.mutex);
    if (Module* builtin = registry.FindBuiltin(ModuleKey(FileComponent(moduleName)))) return Registry::Handle(builtin);
  }
  void* object = loader::ReopenSharedObject(moduleName);
  if (object == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  HMODULE handle = nullptr;
  {
    std::lock_guard lock(registry.mutex);
    if (Module* module = registry.FindShared(object)) handle = Registry::Handle(module);
  }
  loader::CloseSharedObject(object);                         // gives back the reference the lookup took
  if (handle == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);  // open, but not through LoadLibraryA
  return handle;
}

std::optional<Procedure> LookupProcedure(HMODULE handle, LPCSTR nameOrOrdinal) {
  Registry& registry = Registry::Instance();
  std::lock_guard lock(registry.mutex);
  Module* module = handle ? registry.Find(handle) : nullptr;
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return std::nullopt;
  }
  if (module->IsBuiltin()) {
    if (const Export* e = FindExport(*module, nameOrOrdinal))
      return Procedure{FunctionCast<FARPROC>(e->thunk), ProcedureForm::WordArray, e->argumentCount};
  } else if (!IsOrdinalName(nameOrOrdinal) && *nameOrOrdinal != '\0') {
    // Looked up under the lock so that no FreeLibrary closes the object meanwhile.
    if (void* symbol = loader::SharedObjectSymbol(module->sharedObject, nameOrOrdinal))
      return Procedure{reinterpret_cast<FARPROC>(symbol), ProcedureForm::Native, kUnknownArgumentCount};
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return std::nullopt;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR nameOrOrdinal) {
  const std::optional<Procedure> procedure = LookupProcedure(module, nameOrOrdinal);
  return procedure ? procedure->address : nullptr;
}

BOOL FreeLibrary(HMODULE handle) {
  Registry& registry = Registry::Instance();
  void* closing = nullptr;
  {
    std::lock_guard lock(registry.mutex);
    Module* module = handle ? registry.Find(handle) : nullptr;
    if (module == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (module->IsBuiltin()) {
      if (module->references > 0) --module->references;
      return TRUE;
    }
    closing = module->sharedObject;
    if (--module->references == 0) registry.Remove(module);
  }
  loader::CloseSharedObject(closing);
  return TRUE;
}

int ModuleReferenceCount(HMODULE handle) {
  Registry& registry = Registry::Instance();
  std::lock_guard lock(registry.mutex);
  const Module* module = handle ? registry.Find(handle) : nullptr;
  return module ? module->references : -1;
}

std::optional<intptr_t> CallProcedure(const Procedure& procedure, std::span<const intptr_t> words) {
  if (procedure.address == nullptr) return std::nullopt;
  const bool countKnown = procedure.argumentCount >= 0;
  if (countKnown && words.size() < static_cast<size_t>(procedure.argumentCount)) return std::nullopt;
  if (procedure.form == ProcedureForm::WordArray) return FunctionCast<BuiltinThunk>(procedure.address)(words.data());
  const size_t count = countKnown ? static_cast<size_t>(procedure.argumentCount) : words.size();
  if (count > kMaxNativeArguments) return std::nullopt;
  return kNativeCallers[count](procedure.address, words.data());
}

bool RegisterBuiltinModule(std::string_view fileName, std::span<const BuiltinExport> exports) {
  if (fileName.empty() || FileComponent(fileName).size() != fileName.size()) return false;
  for (size_t i = 0; i < exports.size(); ++i) {
    const BuiltinExport& e = exports[i];
    if (e.name == nullptr || *e.name == '\0' || e.thunk == nullptr || e.argumentCount < 0) return false;
    for (size_t j = 0; j < i; ++j)
      if (std::string_view(exports[j].name) == e.name) return false;
  }
  const std::string key = ModuleKey(fileName);
  if (key.empty()) return false;  // "." names no file
  Registry& registry = Registry::Instance();
  std::lock_guard lock(registry.mutex);
  Module* module = registry.FindBuiltin(key);
  if (module) {
    for (const BuiltinExport& e : exports)
      if (FindExport(*module, e.name)) return false;
  } else {
    auto added = std::make_unique<Module>();
    added->key = key;
    module = registry.Add(std::move(added));
  }
  for (const BuiltinExport& e : exports) module->exports.push_back({e.name, e.thunk, e.argumentCount});
  return true;
}

}  // namespace win
