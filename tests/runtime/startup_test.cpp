// Start-up, the message loop and shutdown, each in a child process of its own because they change
// process-wide state and end the process.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "platform/com/initialise.h"
#include "platform/ui/ui.h"
#include "runtime/memory/memory.h"
#include "runtime/startup.h"
#include "runtime/windows/window_registry.h"

namespace qv {
namespace {

const int32_t kStatic[2] = {1, 0};
const char* const kLibraries[] = {"Kernel32.dll", ""};
const char* const kFunctions[] = {"GetTickCount", "#12"};

intptr_t RecordingNotification(int32_t code, intptr_t argument1, intptr_t) {
  std::fprintf(stderr, "notify %d service=%s\n", code, argument1 ? "set" : "none");
  return 0;
}
CommandLibraryDescriptor kLibrary = {"0123456789ABCDEF0123456789ABCDEF", 1, 0, "test", 0, nullptr, nullptr, 0,
                                     &RecordingNotification};
const CommandLibraryDescriptor* const kLibraryList[] = {&kLibrary};

ProgramDescription TestDescription() {
  return {.formatValue = 3,
          .reserved = 0,
          .buildValue = 112204,
          .codeBase = nullptr,
          .staticData = kStatic,
          .staticDataLength = sizeof kStatic,
          .windowTemplates = nullptr,
          .windowTemplateLength = 0,
          .commandLibraryCount = 1,
          .commandLibraries = kLibraryList,
          .dllCommandCount = 2,
          .dllLibraryNames = kLibraries,
          .dllFunctionNames = kFunctions};
}

void FirstCleanup(int32_t index) { std::fprintf(stderr, "cleanup first %d\n", index); }
void SecondCleanup(int32_t index) { std::fprintf(stderr, "cleanup second %d\n", index); }

TEST(StartupDeathTest, InitialiseRecordsTheDescription) {
  EXPECT_EXIT(
      {
        InitialiseRuntime(TestDescription());
        const RuntimeInfo& info = Runtime();
        const bool ok = info.formatValue == 3 && info.buildValue == 112205 && info.oleInitialised &&
                        win::OleInitializeCount() == 1 && IsStaticData(kStatic) && info.dllCommandCount == 2 &&
                        std::string(DllFunctionName(1)) == "#12" && DllFunctionName(2) == nullptr &&
                        !info.programDirectory.empty() && info.programDirectorySlash == info.programDirectory + "/" &&
                        info.moduleFileName == "runtime_tests" && info.mainThreadId == win::GetCurrentThreadId();
        std::fprintf(stderr, "recorded %s\n", ok ? "ok" : "wrong");
        EndProgram(0);
      },
      testing::ExitedWithCode(0), "notify 1 service=set\nrecorded ok\nnotify 6 service=none");
}

TEST(StartupDeathTest, ZeroOrNegativeStaticLengthRecordsNoBounds) {
  EXPECT_EXIT(
      {
        ProgramDescription d = TestDescription();
        d.staticDataLength = 0;
        InitialiseRuntime(d);
        std::fprintf(stderr, "zero: static %s\n", IsStaticData(kStatic) ? "yes" : "no");
        EndProgram(0);
      },
      testing::ExitedWithCode(0), "zero: static no");
  EXPECT_EXIT(
      {
        ProgramDescription d = TestDescription();
        d.staticDataLength = -8;
        InitialiseRuntime(d);
        std::fprintf(stderr, "static %s\n", IsStaticData(kStatic) ? "yes" : "no");
        EndProgram(0);
      },
      testing::ExitedWithCode(0), "static no");
}

TEST(StartupDeathTest, MissingStartWindowIsARuntimeError) {
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        ProgramEntry(TestDescription(), {.initialise = nullptr, .cleanUp = &FirstCleanup, .start = nullptr,
                                         .startWindowId = 0x52010001});
      },
      testing::ExitedWithCode(255),
      qvtest::Utf8(u8"错误信息：载入启动窗口失败\r\n") + ".*: 1375797249, 0\r\n" +
          qvtest::Utf8(u8"未找到所指定的窗口\r\n\nEND-BOX\ncleanup first 0\nnotify 6"));
}

TEST(StartupDeathTest, UnreadableTemplateDataIsARuntimeError) {
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        ProgramDescription d = TestDescription();
        static const char junk[] = "junk";
        d.windowTemplates = junk;
        d.windowTemplateLength = 4;
        InitialiseRuntime(d);
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：载入窗口模板数据段出错!"));
}

TEST(StartupDeathTest, CleanupsRunOnceInRegistrationOrderWithTheirIndex) {
  EXPECT_EXIT(
      {
        InitialiseRuntime(TestDescription());
        RegisterCleanup(&SecondCleanup);
        RegisterCleanup(&FirstCleanup);
        RegisterCleanup(&SecondCleanup);  // already listed
        RegisterCleanup(nullptr);
        ShutdownRuntime(0);
        ShutdownRuntime(0);  // a second shutdown does nothing
        std::fprintf(stderr, "ole %d\n", win::OleInitializeCount());
        win::ExitProcess(3);
      },
      testing::ExitedWithCode(3), "cleanup second 0\ncleanup first 1\nnotify 6 service=none\nole 0\n$");
}

TEST(StartupDeathTest, ARuntimeSetUpAgainAfterShutdownShutsDownAgain) {
  EXPECT_EXIT(
      {
        InitialiseRuntime(TestDescription());
        ShutdownRuntime(0);
        InitialiseRuntime(TestDescription());
        RegisterCleanup(&FirstCleanup);
        ShutdownRuntime(0);
        win::ExitProcess(3);
      },
      testing::ExitedWithCode(3), "cleanup first 0\nnotify 6 service=none\n$");
}

TEST(StartupDeathTest, MessageLoopIsNotEnteredWithoutWindows) {
  EXPECT_EXIT(
      {
        InitialiseRuntime(TestDescription());
        RunMessageLoop();
        std::fprintf(stderr, "returned %d\n", Runtime().messageLoopStarted ? 1 : 0);
        EndProgram(0);
      },
      testing::ExitedWithCode(0), "returned 1");
}

// A loaded window that the test closes from the loop.
class TestWindow : public LoadedWindow {
 public:
  uint32_t WindowId() const override { return 0x52010001; }
  std::string Tag() const override { return ""; }
  std::optional<UnitInfo> FindUnit(uint32_t) const override { return std::nullopt; }
};

TEST(StartupDeathTest, LoopEndsWhenTheLastWindowIsDestroyedAndIdleCallbacksRun) {
  EXPECT_EXIT(
      {
        static TestWindow window;
        InitialiseRuntime(TestDescription());
        RegisterLoadedWindow(&window);
        // Registered first, so run last; its window is not loaded, so it is dropped unrun.
        AddIdleCallback(0x52019999, [](void*) { std::fprintf(stderr, "orphan ran\n"); }, nullptr);
        AddIdleCallback(0, [](void*) { std::fprintf(stderr, "idle any\n"); }, nullptr);
        AddIdleCallback(window.WindowId(), [](void*) {
          std::fprintf(stderr, "idle window\n");
          UnregisterLoadedWindow(&window);
          OnRuntimeWindowDestroyed();
        }, nullptr);
        RunMessageLoop();
        std::fprintf(stderr, "loop returned, %zu callbacks left\n", Runtime().idleCallbackCount);
        EndProgram(0);
      },
      testing::ExitedWithCode(0), "idle window\nidle any\nloop returned, 2 callbacks left\n");
}

TEST(StartupDeathTest, AnotherThreadHandsTheShutdownToTheMainThread) {
  EXPECT_EXIT(
      {
        static TestWindow window;
        InitialiseRuntime(TestDescription());
        RegisterCleanup(+[](int32_t) {
          std::fprintf(stderr, "cleanup on %s thread\n",
                       win::GetCurrentThreadId() == Runtime().mainThreadId ? "main" : "other");
        });
        RegisterLoadedWindow(&window);
        std::thread([] { EndProgram(7); }).detach();
        RunMessageLoop();
        std::fprintf(stderr, "loop returned\n");
        win::ExitProcess(1);
      },
      testing::ExitedWithCode(7), "cleanup on main thread");
}

}  // namespace
}  // namespace qv
