#include "app/program.h"

#include <string_view>

#include "app/main_window.h"
#include "app/query_action.h"
#include "regex/regex_object.h"

namespace quorvane {

alignas(8) const StaticData kStaticData = {
    {1, 0},
    "",
};

namespace {

// The system-library functions the program declares, by index.
constexpr const char* kDllLibraries[] = {
    "Winhttp.dll", "Winhttp.dll", "Winhttp.dll", "Winhttp.dll", "Winhttp.dll",
    "Winhttp.dll", "Winhttp.dll", "Winhttp.dll", "Winhttp.dll", "Winhttp.dll",
    "Winhttp.dll", "Winhttp.dll", "Winhttp.dll", "Winhttp.dll", "Winhttp.dll",
    "ole32.dll",   "ole32.dll",   "Kernel32.dll", "kernel32.dll",
};
constexpr const char* kDllFunctions[] = {
    "WinHttpCheckPlatform",   "WinHttpCrackUrl",        "WinHttpOpen",
    "WinHttpSetTimeouts",     "WinHttpConnect",         "WinHttpOpenRequest",
    "WinHttpSetCredentials",  "WinHttpCloseHandle",     "WinHttpSetOption",
    "WinHttpAddRequestHeaders", "WinHttpSendRequest",   "WinHttpReceiveResponse",
    "WinHttpQueryDataAvailable", "WinHttpReadData",     "WinHttpQueryHeaders",
    "CoInitialize",           "CoUninitialize",         "MultiByteToWideChar",
    "WideCharToMultiByte",
};
static_assert(std::size(kDllLibraries) == 19 && std::size(kDllFunctions) == 19);
// The classes call their declared commands by index: keep the indices and the table in step.
static_assert(std::string_view(kDllFunctions[kDllCoInitialize]) == "CoInitialize");
static_assert(std::string_view(kDllFunctions[kDllCoUninitialize]) == "CoUninitialize");

const qv::CommandLibraryDescriptor* const kCommandLibraries[] = {&qv::CoreCommandLibrary()};

// The main window's template data, written at build time from its description (main_window.cpp).
alignas(8) const unsigned char kWindowTemplateData[] = {
#include "main_window_template.inc"
};

// The program's code base: the window templates name their event handlers by byte offsets into
// this table.
using Handler = void (*)();
const Handler kHandlers[] = {&QueryButtonClick};
static_assert(kQueryClickHandlerOffset == 0 * sizeof(Handler));

void Initialise() {}
void CleanUp(int32_t) { ServiceBase().Reset(); }
int32_t Start() { return 0; }

}  // namespace

qv::OwnedText& ServiceBase() {
  static qv::OwnedText base;
  return base;
}

const qv::ProgramDescription& Description() {
  static const qv::ProgramDescription description = {
      .formatValue = 3,
      .reserved = 0,
      .buildValue = 112204,
      .codeBase = kHandlers,
      .staticData = &kStaticData,
      .staticDataLength = static_cast<int32_t>(sizeof kStaticData),
      .windowTemplates = kWindowTemplateData,
      .windowTemplateLength = static_cast<int32_t>(sizeof kWindowTemplateData),
      .commandLibraryCount = 1,
      .commandLibraries = kCommandLibraries,
      .dllCommandCount = 19,
      .dllLibraryNames = kDllLibraries,
      .dllFunctionNames = kDllFunctions,
  };
  return description;
}

const qv::ProgramRoutines& Routines() {
  static const qv::ProgramRoutines routines = {
      .initialise = &Initialise,
      .cleanUp = &CleanUp,
      .start = &Start,
      .startWindowId = kMainWindowId,
  };
  return routines;
}

int ProgramMain(int argc, char** argv) { return qv::RunProgram(argc, argv, Description(), Routines()); }

}  // namespace quorvane
