// Start-up, the message loop and shutdown of a program that runs on this runtime.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/commands/commands.h"
#include "runtime/memory/values.h"

namespace qv {

// The record the build places in the program's static data.
struct ProgramDescription {
  int32_t formatValue = 0;
  int32_t reserved = 0;
  int32_t buildValue = 0;
  const void* codeBase = nullptr;  // event handler offsets in window templates are relative to it
  const void* staticData = nullptr;
  int32_t staticDataLength = 0;
  const void* windowTemplates = nullptr;
  int32_t windowTemplateLength = 0;
  int32_t commandLibraryCount = 0;
  const CommandLibraryDescriptor* const* commandLibraries = nullptr;
  int32_t dllCommandCount = 0;
  const char* const* dllLibraryNames = nullptr;
  const char* const* dllFunctionNames = nullptr;
};

// The routines the program supplies to its entry routine.
using CleanupRoutine = void (*)(int32_t index);
struct ProgramRoutines {
  void (*initialise)() = nullptr;
  CleanupRoutine cleanUp = nullptr;
  int32_t (*start)() = nullptr;
  uint32_t startWindowId = 0;
};

// The process entry: creates the application object, runs the program's entry routine and the
// exit hook. Returns the process exit code (0 on a normal end).
int RunProgram(int argc, char** argv, const ProgramDescription& description, const ProgramRoutines& routines);
// The program's entry routine: start-up, the start window, the message loop. Returns 0.
int ProgramEntry(const ProgramDescription& description, const ProgramRoutines& routines);

// Records the process heap, the description's values, the program's directory, the hidden owner
// window, the static data bounds and the DLL command tables; notifies the command libraries and
// reads the window templates.
void InitialiseRuntime(const ProgramDescription& description);
// Appends a routine to the clean-up list unless it is already there.
void RegisterCleanup(CleanupRoutine routine);
// Creates and shows the window with that id from its template; a failure is the runtime error
// "载入启动窗口失败", which names the window.
void LoadWindow(uint32_t windowId);
// Runs the message loop while at least one window is loaded; returns when the last one is gone.
void RunMessageLoop();
// Shuts the runtime down and ends the process with the exit code.
[[noreturn]] void EndProgram(int32_t exitCode);
// The shutdown without the process exit. On another thread than the main thread it hands the work
// to the main thread and ends the process at once. Runs at most once.
void ShutdownRuntime(int32_t exitCode);

// Called by the window loader when a runtime window has been destroyed: ends the message loop once
// no loaded window is left.
void OnRuntimeWindowDestroyed();

// Idle callbacks: run while the message queue is empty, last registered first, for as long as the
// window with windowId is loaded (0: not tied to a window).
using IdleCallback = void (*)(void* argument);
void AddIdleCallback(uint32_t windowId, IdleCallback callback, void* argument);

// Template collection hooks: the window loader installs them.
struct WindowTemplateServices {
  bool (*read)(const void* data, size_t length, const void* codeBase) = nullptr;
  bool (*create)(uint32_t windowId) = nullptr;  // creates, or activates an already loaded window
  void (*release)() = nullptr;
};
void InstallWindowTemplateServices(const WindowTemplateServices& services);

// What start-up recorded, for the other runtime areas and for tests.
struct RuntimeInfo {
  int32_t formatValue = 0;
  int32_t reserved = 0;
  int32_t buildValue = 0;
  const void* codeBase = nullptr;
  std::string programDirectory;      // without the trailing separator
  std::string programDirectorySlash; // with it
  std::string moduleFileName;        // without directory
  uint32_t mainThreadId = 0;
  bool oleInitialised = false;
  bool messageLoopStarted = false;
  // Read by any thread that asks for the shutdown, while the main thread may be setting it.
  std::atomic<bool> shuttingDown{false};
  size_t cleanupCount = 0;
  size_t idleCallbackCount = 0;
  size_t dllCommandCount = 0;
};
const RuntimeInfo& Runtime();
// The declared DLL command names recorded at start-up (null outside the table).
const char* DllLibraryName(int32_t index);
const char* DllFunctionName(int32_t index);

// The table of runtime entries that a program's code is given (in this order).
struct RuntimeEntryTable {
  void (*raiseRuntimeError)(int32_t number, int32_t location, int32_t position);
  void* callDllCommand;
  RuntimeValue (*callCommandSecondary)(CommandEntry, int32_t, RuntimeValue*);
  RuntimeValue (*callCommand)(CommandEntry, int32_t, RuntimeValue*);
  int64_t (*readProperty)(uint32_t windowId, uint32_t unitId, int32_t property, int32_t member);
  void (*writeProperty)(uint32_t windowId, uint32_t unitId, int32_t property, int32_t member, uint32_t low,
                        uint32_t high);
  void* (*alloc)(int32_t);
  void* (*realloc)(void*, int32_t);
  void (*free)(void*);
  void (*endProgram)(int32_t);
  void (*runMessageLoop)();
  void (*loadWindow)(uint32_t);
  // Support routine by index with its pointer-wide arguments (runtime/support/support_routines.h).
  intptr_t (*supportRoutine)(int32_t index, int32_t argumentCount, const intptr_t* arguments);
};
// The areas that own the property and DLL entries install them when they are linked in.
RuntimeEntryTable& RuntimeEntries();

}  // namespace qv
