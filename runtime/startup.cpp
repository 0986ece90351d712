#include "runtime/startup.h"

#include <unistd.h>

#include <algorithm>
#include <cfenv>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/com/initialise.h"
#include "platform/heap/heap.h"
#include "platform/ui/ui.h"
#include "runtime/automation/automation.h"
#include "runtime/dll/dll_commands.h"
#include "runtime/errors.h"
#include "runtime/memory/memory.h"
#include "runtime/support/support_routines.h"
#include "runtime/windows/window_loader.h"
#include "runtime/windows/window_registry.h"
#include "runtime/windows/window_template.h"

namespace qv {
namespace {

// The private message that asks the main thread to shut down; wParam carries the exit code.
constexpr win::UINT kShutdownRequest = win::WM_USER + 0x52;

struct IdleEntry {
  uint32_t windowId;
  IdleCallback callback;
  void* argument;
};

struct ApplicationState {
  RuntimeInfo info;
  win::HANDLE heap = nullptr;
  win::HWND hiddenOwner = nullptr;
  std::vector<const char*> dllLibraryNames;
  std::vector<const char*> dllFunctionNames;
  std::vector<const CommandLibraryDescriptor*> libraries;
  std::vector<IdleEntry> idleCallbacks;
  std::vector<CleanupRoutine> cleanups;
  WindowTemplateServices templates;
};

ApplicationState& State() {
  static ApplicationState state;
  return state;
}

win::LRESULT HiddenOwnerProcedure(win::HWND, win::UINT message, win::WPARAM wParam, win::LPARAM) {
  if (message == kShutdownRequest) ShutdownRuntime(static_cast<int32_t>(wParam));
  return 0;
}

void RecordProgramLocation(RuntimeInfo& info) {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return;
  info.programDirectory = exe.parent_path().string();
  info.programDirectorySlash = info.programDirectory + "/";
  info.moduleFileName = exe.filename().string();
}

// Runs the idle callbacks, last registered first, dropping those whose window is gone.
bool OnIdle(int) {
  auto& callbacks = State().idleCallbacks;
  for (size_t i = callbacks.size(); i-- > 0;) {
    if (i >= callbacks.size()) continue;  // a callback removed entries
    const IdleEntry entry = callbacks[i];
    if (entry.windowId != 0 && FindLoadedWindow(entry.windowId) == nullptr) {
      callbacks.erase(callbacks.begin() + static_cast<ptrdiff_t>(i));
      continue;
    }
    entry.callback(entry.argument);
  }
  return false;  // nothing further to do until the next message
}

void EndProgramEntry(int32_t code) { EndProgram(code); }

}  // namespace

const RuntimeInfo& Runtime() {
  auto& s = State();
  s.info.cleanupCount = s.cleanups.size();
  s.info.idleCallbackCount = s.idleCallbacks.size();
  s.info.dllCommandCount = s.dllFunctionNames.size();
  return s.info;
}

const char* DllLibraryName(int32_t index) {
  auto& names = State().dllLibraryNames;
  return index >= 0 && static_cast<size_t>(index) < names.size() ? names[index] : nullptr;
}

const char* DllFunctionName(int32_t index) {
  auto& names = State().dllFunctionNames;
  return index >= 0 && static_cast<size_t>(index) < names.size() ? names[index] : nullptr;
}

void InstallWindowTemplateServices(const WindowTemplateServices& services) { State().templates = services; }

void InitialiseRuntime(const ProgramDescription& d) {
  auto& s = State();
  // A runtime set up again after a finished shutdown starts a new life: its next shutdown must
  // release what this one loads.
  s.info.shuttingDown = false;
  s.heap = win::GetProcessHeap();
  s.info.formatValue = d.formatValue;
  s.info.reserved = d.reserved;
  s.info.buildValue = d.buildValue + 1;
  s.info.codeBase = d.codeBase;
  if (!s.info.oleInitialised) {
    win::OleInitialize(nullptr);
    s.info.oleInitialised = true;
  }
  RegisterAutomationClasses();
  RegisterAutomationCommands();

  RecordProgramLocation(s.info);
  if (!s.info.programDirectory.empty() && chdir(s.info.programDirectory.c_str()) != 0) {
    // The current directory only matters for relative file names, which this program never uses.
  }

  if (s.hiddenOwner == nullptr) s.hiddenOwner = win::CreateMessageWindow(&HiddenOwnerProcedure);
  s.info.mainThreadId = win::GetCurrentThreadId();

  // A negative length describes no region at all.
  if (d.staticDataLength > 0) SetStaticDataRegion(d.staticData, static_cast<size_t>(d.staticDataLength));

  const size_t dllCount = static_cast<size_t>(std::max(d.dllCommandCount, 0));
  s.dllLibraryNames.assign(dllCount, nullptr);
  s.dllFunctionNames.assign(dllCount, nullptr);
  for (size_t i = 0; i < dllCount; ++i) {
    if (d.dllLibraryNames) s.dllLibraryNames[i] = d.dllLibraryNames[i];
    if (d.dllFunctionNames) s.dllFunctionNames[i] = d.dllFunctionNames[i];
  }

  for (int32_t i = 0; i < d.commandLibraryCount && d.commandLibraries; ++i) {
    const CommandLibraryDescriptor* library = d.commandLibraries[i];
    if (library == nullptr) continue;
    s.libraries.push_back(library);
    if (library->notification)
      library->notification(notify::Initialise, reinterpret_cast<intptr_t>(&RuntimeService), 0);
  }

  // The window loader and its template reader serve unless services with a reader of their own
  // were installed already.
  if (s.templates.read == nullptr) InstallWindowLoader();
  if (d.windowTemplateLength != 0) {
    const bool read = d.windowTemplateLength > 0 && s.templates.read &&
                      s.templates.read(d.windowTemplates, static_cast<size_t>(d.windowTemplateLength), d.codeBase);
    if (!read) ReportRuntimeError(error_text::kTemplateDataBad, 0, 0, 0);
  }
}

void RegisterCleanup(CleanupRoutine routine) {
  auto& list = State().cleanups;
  if (routine && std::find(list.begin(), list.end(), routine) == list.end()) list.push_back(routine);
}

void LoadWindow(uint32_t windowId) {
  auto& t = State().templates;
  if (!t.create || !t.create(windowId))
    ReportRuntimeError(error_text::kStartWindowFailed, 0, static_cast<int32_t>(windowId), 0);
}

void AddIdleCallback(uint32_t windowId, IdleCallback callback, void* argument) {
  if (callback) State().idleCallbacks.push_back({windowId, callback, argument});
}

void RunMessageLoop() {
  State().info.messageLoopStarted = true;
  if (!AnyWindowLoaded()) return;
  win::RunMessageLoop(&OnIdle);
}

void OnRuntimeWindowDestroyed() {
  if (!AnyWindowLoaded() && State().info.messageLoopStarted) win::PostQuitMessage(0);
}

void ShutdownRuntime(int32_t exitCode) {
  auto& s = State();
  if (s.info.mainThreadId != 0 && win::GetCurrentThreadId() != s.info.mainThreadId) {
    const bool alreadyRunning = s.info.shuttingDown.load();
    win::SendMessageA(s.hiddenOwner, kShutdownRequest, static_cast<win::WPARAM>(exitCode), 0);
    if (!alreadyRunning) win::ExitProcess(static_cast<win::UINT>(exitCode));
    return;
  }
  if (s.info.shuttingDown.exchange(true)) return;

  s.idleCallbacks.clear();
  if (s.templates.release) s.templates.release();

  // Clean-up routines may register further routines; run by index so those run too.
  for (size_t i = 0; i < s.cleanups.size(); ++i) s.cleanups[i](static_cast<int32_t>(i));
  s.cleanups.clear();

  for (const CommandLibraryDescriptor* library : s.libraries)
    if (library->notification) library->notification(notify::ShutDown, 0, 0);
  s.libraries.clear();

  ReleaseDllCommandLibraries();  // the libraries loaded for declared DLL commands
  s.dllLibraryNames.clear();
  s.dllFunctionNames.clear();

  if (s.hiddenOwner) {
    win::DestroyWindow(s.hiddenOwner);
    s.hiddenOwner = nullptr;
  }
  if (s.info.oleInitialised) {
    win::OleUninitialize();
    s.info.oleInitialised = false;
  }
}

void EndProgram(int32_t exitCode) {
  ShutdownRuntime(exitCode);
  win::ExitProcess(static_cast<win::UINT>(exitCode));
}

int ProgramEntry(const ProgramDescription& description, const ProgramRoutines& routines) {
  InitialiseRuntime(description);
  std::fesetenv(FE_DFL_ENV);  // the floating-point unit in its default state
  std::feclearexcept(FE_ALL_EXCEPT);
  if (routines.initialise) routines.initialise();
  RegisterCleanup(routines.cleanUp);
  if (routines.start) routines.start();
  LoadWindow(routines.startWindowId);
  RunMessageLoop();
  return 0;
}

int RunProgram(int argc, char** argv, const ProgramDescription& description, const ProgramRoutines& routines) {
  win::InitialiseApplication(argc, argv);
  ProgramEntry(description, routines);
  // The exit hook: the runtime's shutdown, then the process ends with code 0.
  ShutdownRuntime(0);
  return 0;
}

RuntimeEntryTable& RuntimeEntries() {
  static RuntimeEntryTable table = {
      &RaiseRuntimeError,
      reinterpret_cast<void*>(&CallDllCommandEntry),
      static_cast<RuntimeValue (*)(CommandEntry, int32_t, RuntimeValue*)>(&CallCommand),
      static_cast<RuntimeValue (*)(CommandEntry, int32_t, RuntimeValue*)>(&CallCommand),
      nullptr,  // property read, installed by the component support
      nullptr,  // property write, installed by the component support
      &RuntimeAlloc,
      &RuntimeRealloc,
      &RuntimeFree,
      &EndProgramEntry,
      &RunMessageLoop,
      &LoadWindow,
      &SupportRoutine,
  };
  return table;
}

}  // namespace qv
