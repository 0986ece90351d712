// A hundred queries in a row with the service answering, refusing the connection and never
// answering in turn: every click ends with the answer box written, and the program keeps no
// memory, descriptor or thread behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/main_window.h"
#include "app/program.h"
#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "common/qt_driver.h"
#include "platform/loader/loader.h"
#include "platform/ui/window.h"
#include "runtime/startup.h"
#include "runtime/windows/components.h"
#include "runtime/windows/property_front.h"
#include "runtime/windows/window_loader.h"
#include "tests/app/query_service.h"
#include "tests/app/query_test_host.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using qvtest::Gbk;

// The action leaves the request routine's time limit at its default of 30 s per phase. So that a
// service that never answers costs half a second here rather than 30, the program's declaration of
// WinHttpSetTimeouts is pointed at a module of this test that passes the real function 500 ms for
// every phase while g_shortLimits is set (for the queries to the silent service only, so that a
// busy machine cannot make the others time out); everything else goes to the real WinHttp.
constexpr int kShortLimitMs = 500;
constexpr int32_t kSetTimeoutsIndex = 3;
bool g_shortLimits = false;

intptr_t ShortTimeouts(const intptr_t* words) {
  static const std::optional<win::Procedure> real =
      win::LookupProcedure(win::GetModuleHandleA("winhttp.dll"), "WinHttpSetTimeouts");
  if (!real) return 0;
  intptr_t limits[] = {words[0], words[1], words[2], words[3], words[4]};
  if (g_shortLimits) std::fill(limits + 1, limits + 5, kShortLimitMs);
  return win::CallProcedure(*real, limits).value_or(0);
}

const qv::ProgramDescription& ShortTimeoutDescription() {
  static const char* libraries[19];
  static qv::ProgramDescription description = [] {
    qv::ProgramDescription d = Description();
    for (int i = 0; i < d.dllCommandCount; ++i) libraries[i] = d.dllLibraryNames[i];
    libraries[kSetTimeoutsIndex] = "qvtest_short_timeouts.dll";
    d.dllLibraryNames = libraries;
    const win::BuiltinExport exports[] = {{"WinHttpSetTimeouts", &ShortTimeouts, 5}};
    win::RegisterBuiltinModule("qvtest_short_timeouts.dll", exports);
    return d;
  }();
  return description;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}


win::HWND Control(uint32_t unit) {
  qv::Component* c = qv::FindLiveComponent(kMainWindowId, unit);
  return c != nullptr ? c->Handle() : nullptr;
}

TEST(QuerySoak, AnsweringRefusingAndSilentServicesInTurnLeaveNothingBehind) {
  qvtest::DismissBoxesAndReport();  // a runtime error ends the run with its box text, not a hang
  qv::InitialiseRuntime(ShortTimeoutDescription());
  qv::LoadWindow(kMainWindowId);
  qvtest::QueryService answering;
  answering.SetReply(R"({"data":"ok"})");
  qvtest::QueryService silent;
  silent.SetMode(qvtest::QueryService::Mode::Hang);
  const uint16_t refusing = qvtest::ClosedPort();
  const uint16_t ports[] = {answering.Port(), refusing, silent.Port()};

  long before = 0;
  int descriptorsBefore = 0;
  std::chrono::steady_clock::duration slowestSilent{};
  constexpr int kWarmUp = 6, kQueries = 100;
  for (int i = 0; i < kWarmUp + kQueries; ++i) {
    if (i == kWarmUp) {
      before = ResidentKiB();
      descriptorsBefore = OpenDescriptors();
    }
    const int kind = i % 3;
    qvtest::SetAnswerServicePort(ports[kind]);
    g_shortLimits = kind == 2;
    qv::WriteTextProperty(kMainWindowId, kAnswerBoxId, 8, "");
    const auto start = std::chrono::steady_clock::now();
    qvtest::ClickControl(Control(kQueryButtonId));
    const auto took = std::chrono::steady_clock::now() - start;
    if (kind == 2) slowestSilent = std::max(slowestSilent, took);
    const std::string answer = qv::ReadTextProperty(kMainWindowId, kAnswerBoxId, 8).c_str();
    ASSERT_EQ(Gbk(answer), Gbk(kind == 0 ? "答案：ok" : "答案：JSON解析失败")) << "query " << i;
  }
  const long after = ResidentKiB();
  const int descriptorsAfter = OpenDescriptors();
  std::printf("resident memory before %ld KiB, after %ld KiB; descriptors %d -> %d; slowest silent query %lld ms\n",
              before, after, descriptorsBefore, descriptorsAfter,
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(slowestSilent).count()));
  EXPECT_EQ(descriptorsAfter, descriptorsBefore);
  // The silent service is given up on after the time limit, not before and not much later.
  EXPECT_GE(slowestSilent, std::chrono::milliseconds(kShortLimitMs));
  EXPECT_LT(slowestSilent, 5s);
#if !defined(__SANITIZE_ADDRESS__)
  // The sanitizer build keeps freed memory in quarantine; its leak check stands in there.
  EXPECT_LT(after - before, 2048) << "resident memory grew over " << kQueries << " queries";
#endif
  EXPECT_EQ(answering.Requests().size(), static_cast<size_t>((kWarmUp + kQueries + 2) / 3));
  qv::ShutdownRuntime(0);
}

}  // namespace
}  // namespace quorvane
