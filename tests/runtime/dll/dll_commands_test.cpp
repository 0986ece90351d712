// Declared DLL commands: resolution by library and export name, the caches, the search order, the
// calls and their failures. Each case runs in a child process that starts the runtime with the
// declarations below, because start-up state is process-wide and failures end the process.
#include "runtime/dll/dll_commands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "platform/codepage/codepage.h"
#include "platform/loader/loader.h"
#include "platform/loader/system_modules.h"
#include "platform/ui/ui.h"
#include "runtime/startup.h"

namespace qv {
namespace {

using qvtest::Utf8;

// The test program's declarations: library file name and export name by index.
enum Declared : int32_t {
  kTickCount,
  kTickCountUnnamed,
  kToWide,
  kOrdinal12,
  kOrdinal12Wrapped,
  kOrdinal13,
  kMissingExport,
  kMissingExportUnnamed,
  kMissingLibrary,
  kWinHttpMissing,
  kSetLastError,
  kLabs,
  kSearched,
  kSearchedByPath,
  kDeclaredCount
};
const char* const kLibraries[kDeclaredCount] = {"Kernel32.dll",           "",
                                                "Kernel32.dll",           "qvtest_ordinals.dll",
                                                "qvtest_ordinals.dll",    "qvtest_ordinals.dll",
                                                "Kernel32.dll",           "",
                                                "qv_missing_library.dll", "Winhttp.dll",
                                                "kernel32.dll",           "libc.so.6",
                                                "qvtest_searched.so",     "./qvtest_searched.so"};
const char* const kFunctions[kDeclaredCount] = {
    "GetTickCount", "GetTickCount", "MultiByteToWideChar", "#12",          "#65548", "#13", "NoSuchExport",
    "NoSuchExport", "Anything",     "WinHttpQvMissing",    "SetLastError", "labs",   "cos", "cos"};

template <int K>
intptr_t ReturnOrdinal(const intptr_t*) {
  return K;
}

// Starts the runtime with the declarations, and a built-in module with exactly twelve exports.
void StartRuntime() {
  static const win::BuiltinExport exports[] = {
      {"F1", &ReturnOrdinal<1>, 0},   {"F2", &ReturnOrdinal<2>, 0},   {"F3", &ReturnOrdinal<3>, 0},
      {"F4", &ReturnOrdinal<4>, 0},   {"F5", &ReturnOrdinal<5>, 0},   {"F6", &ReturnOrdinal<6>, 0},
      {"F7", &ReturnOrdinal<7>, 0},   {"F8", &ReturnOrdinal<8>, 0},   {"F9", &ReturnOrdinal<9>, 0},
      {"F10", &ReturnOrdinal<10>, 0}, {"F11", &ReturnOrdinal<11>, 0}, {"F12", &ReturnOrdinal<12>, 0}};
  win::RegisterBuiltinModule("qvtest_ordinals.dll", exports);
  ProgramDescription d;
  d.dllCommandCount = kDeclaredCount;
  d.dllLibraryNames = kLibraries;
  d.dllFunctionNames = kFunctions;
  InitialiseRuntime(d);
}

int References(const char* module) { return win::ModuleReferenceCount(win::GetModuleHandleA(module)); }

// The report box's text up to its message line, as DismissBoxesAndReport prints it.
std::string ReportWithoutCode(const char8_t* message) {
  return Utf8(u8"运行时出错!\r\n\r\n错误信息：") + Utf8(message) + "\r\n";
}

TEST(DllCommandsDeathTest, SecondCallUsesTheCacheAndShutdownReleases) {
  EXPECT_EXIT(
      {
        StartRuntime();
        const win::HMODULE kernel32 = win::GetModuleHandleA("kernel32");
        CallDllCommand(kTickCount, {});
        CallDllCommand(kTickCount, {});
        std::fprintf(stderr, "named %d %d\n", References("kernel32"), DllCommandModule(kTickCount) == kernel32);
        // Without a library name the search starts at Kernel32, which has the export.
        CallDllCommand(kTickCountUnnamed, {});
        CallDllCommand(kTickCountUnnamed, {});
        std::fprintf(stderr, "unnamed %d %d\n", References("kernel32"),
                     DllCommandModule(kTickCountUnnamed) == kernel32);
        std::fprintf(stderr, "unresolved %d\n", DllCommandModule(kToWide) == nullptr);
        ShutdownRuntime(0);
        std::fprintf(stderr, "after shutdown %d\n", References("kernel32"));
        win::ExitProcess(0);
      },
      testing::ExitedWithCode(0), "named 1 1\nunnamed 2 1\nunresolved 1\nafter shutdown 0\n");
}

TEST(DllCommandsDeathTest, CallsPassTheirWordsAndReturnTheResult) {
  EXPECT_EXIT(
      {
        StartRuntime();
        const win::DWORD before = win::GetTickCount();
        const auto ticks = static_cast<win::DWORD>(CallDllCommand(kTickCount, {}));
        std::fprintf(stderr, "ticks %d\n", static_cast<win::DWORD>(ticks - before) < 1000);
        const char* gbk = "答案";  // GBK bytes: this file's narrow literals are GBK
        char16_t wide[8] = {};
        const intptr_t needed = CallDllCommand(kToWide, {win::CP_GBK, 0, gbk, -1, nullptr, 0});
        const intptr_t written = CallDllCommand(kToWide, {win::CP_GBK, 0u, gbk, -1, wide, 8});
        std::fprintf(stderr, "wide %ld %ld %d\n", static_cast<long>(needed), static_cast<long>(written),
                     std::u16string(wide) == u"答案");
        CallDllCommand(kSetLastError, {77}, 1, 2);
        std::fprintf(stderr, "last error %u\n", win::GetLastError());
        // A shared object's function has no known count: any number of words is accepted.
        std::fprintf(stderr, "labs %ld %ld\n", static_cast<long>(CallDllCommand(kLabs, {-5})),
                     static_cast<long>(CallDllCommand(kLabs, {-6, 99, 98})));
        const intptr_t words[] = {-9};
        const auto entry = reinterpret_cast<decltype(&CallDllCommandEntry)>(RuntimeEntries().callDllCommand);
        std::fprintf(stderr, "entry %ld\n", static_cast<long>(entry(kLabs, 1, words, 0, 0)));
        win::ExitProcess(0);
      },
      testing::ExitedWithCode(0), "ticks 1\nwide 3 3 1\nlast error 77\nlabs 5 6\nentry 9\n");
}

TEST(DllCommandsDeathTest, HashNamesAnOrdinalByItsLow16Bits) {
  EXPECT_EXIT(
      {
        StartRuntime();
        qvtest::DismissBoxesAndReport();
        std::fprintf(stderr, "ordinals %ld %ld\n", static_cast<long>(CallDllCommand(kOrdinal12, {})),
                     static_cast<long>(CallDllCommand(kOrdinal12Wrapped, {})));
        CallDllCommand(kOrdinal13, {});
      },
      testing::ExitedWithCode(255),
      "ordinals 12 12\n.*" + ReportWithoutCode(u8"无法找到指定DLL库文件“qvtest_ordinals.dll”中的输出命令“#13”"));
}

TEST(DllCommandsDeathTest, UnresolvableCommandsReportTheNamesAndUnload) {
  const std::pair<int32_t, const char8_t*> rows[] = {
      {kMissingExport, u8"无法找到指定DLL库文件“Kernel32.dll”中的输出命令“NoSuchExport”"},
      {kMissingExportUnnamed, u8"无法找到指定DLL库文件中的输出命令“NoSuchExport”"},
      {kMissingLibrary, u8"无法找到指定DLL库文件“qv_missing_library.dll”中的输出命令“Anything”"},
      {kWinHttpMissing, u8"无法找到指定DLL库文件“Winhttp.dll”中的输出命令“WinHttpQvMissing”"},
      // Outside the declarations there are no names to resolve.
      {kDeclaredCount, u8"无法找到指定DLL库文件中的输出命令“”"},
      {-1, u8"无法找到指定DLL库文件中的输出命令“”"},
  };
  for (const auto& [index, message] : rows) {
    SCOPED_TRACE(index);
    EXPECT_EXIT(
        {
          StartRuntime();
          qvtest::DismissBoxesAndReport();
          // The clean-up step runs before the shutdown releases the declared commands' libraries.
          RegisterCleanup(+[](int32_t) {
            std::fprintf(stderr, "cleanup refs %d %d\n", References("kernel32"), References("winhttp"));
          });
          CallDllCommand(index, {});
        },
        testing::ExitedWithCode(255), ReportWithoutCode(message) + ".*END-BOX\ncleanup refs 0 0\n");
  }
}

TEST(DllCommandsDeathTest, ArgumentCountMismatchIsRuntimeError6) {
  struct Row {
    const char* what;
    std::function<void()> call;
    const char* lastError;  // what SetLastError left behind: whether it ran
  };
  const Row rows[] = {
      {"extra: runs, then the report",
       [] {
         CallDllCommand(kSetLastError, {77, 1}, 67200197, 8694);
       },
       "77"},
      {"missing: does not run", [] { CallDllCommand(kSetLastError, {}, 67200197, 8694); }, "5"},
      {"negative count", [] { CallDllCommandEntry(kSetLastError, -1, nullptr, 67200197, 8694); }, "5"},
      {"null words", [] { CallDllCommandEntry(kSetLastError, 1, nullptr, 67200197, 8694); }, "5"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EXIT(
        {
          StartRuntime();
          qvtest::DismissBoxesAndReport();
          win::SetLastError(5);
          RegisterCleanup(+[](int32_t) { std::fprintf(stderr, "last error %u\n", win::GetLastError()); });
          row.call();
        },
        testing::ExitedWithCode(255),
        Utf8(u8"运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n") +
            ".*: 67200197, 8694\r\n\n?END-BOX\nlast error " + row.lastError + "\n");
  }
}

// Directories with links named qvtest_searched.so, made alike by the test and by its child (which
// runs the test again up to the EXPECT_EXIT) and removed by the test.
class SearchDirectories {
 public:
  SearchDirectories(const char* tag, const char* firstLibrary, const char* secondLibrary) {
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    m_root = std::filesystem::temp_directory_path() /
             ("qvtest_dll_" + std::string(tag) + std::to_string(std::hash<std::string>{}(exe)));
    const std::pair<const char*, const char*> links[] = {{"first", firstLibrary}, {"second", secondLibrary}};
    for (const auto& [dir, library] : links) {
      std::error_code ignored;
      std::filesystem::create_directories(m_root / dir, ignored);
      if (library) std::filesystem::create_symlink(MappedFile(library), m_root / dir / "qvtest_searched.so", ignored);
    }
  }
  ~SearchDirectories() {
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
  }
  std::string Dir(const char* dir) const { return (m_root / dir).string(); }

 private:
  // The file of a library this process has mapped, found by its soname.
  static std::string MappedFile(const std::string& soname) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
      if (line.ends_with("/" + soname)) return line.substr(line.find('/'));
    return {};
  }
  std::filesystem::path m_root;
};

TEST(DllCommandsDeathTest, LibraryDirectoryComesFirstAndTheFirstLibraryThatLoadsIsUsed) {
  const SearchDirectories dirs("order", "libc.so.6", "libm.so.6");  // libc loads but has no cos
  EXPECT_EXIT(
      {
        StartRuntime();
        qvtest::DismissBoxesAndReport();
        SetDllSearchDirectories(dirs.Dir("first") + "/", dirs.Dir("second"));
        CallDllCommand(kSearched, {});
      },
      testing::ExitedWithCode(255), ReportWithoutCode(u8"无法找到指定DLL库文件“qvtest_searched.so”中的输出命令“cos”"));
}

TEST(DllCommandsDeathTest, RuntimeDirectoryIsSearchedButAPathIsLoadedByThatPathOnly) {
  const SearchDirectories dirs("path", nullptr, "libm.so.6");
  EXPECT_EXIT(
      {
        StartRuntime();
        qvtest::DismissBoxesAndReport();
        SetDllSearchDirectories("", dirs.Dir("second"));
        CallDllCommand(kSearched, {0});  // cos answers in a floating-point register; the lookup counts
        std::fprintf(stderr, "found %d\n", DllCommandModule(kSearched) != nullptr ? 1 : 0);
        CallDllCommand(kSearchedByPath, {0});  // second/./qvtest_searched.so exists, but is not tried
      },
      testing::ExitedWithCode(255),
      "found 1\n.*" + ReportWithoutCode(u8"无法找到指定DLL库文件“./qvtest_searched.so”中的输出命令“cos”"));
}

}  // namespace
}  // namespace qv
