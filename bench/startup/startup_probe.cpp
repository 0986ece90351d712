// The program's start-up as the start-up benchmark measures it: main() of the real program with the
// first-paint hook installed, which reports the main window's first paint to the driver and ends
// the process there. Run by startup_bench, which gives the report descriptor.
#include <cstdio>

#include "app/program.h"
#include "bench/startup/startup_report.h"
#include "platform/ui/window.h"

int main(int argc, char** argv) {
  const int reportFd = qvbench::StartupReportFd();
  if (reportFd < 0) {
    std::fprintf(stderr, "startup_probe: run by startup_bench (%s names no open descriptor)\n",
                 qvbench::kReportFdVariable);
    return 2;
  }
  // The hook lives in the platform layer's own storage, so it can be set before the program
  // creates its Qt application.
  win::SetFirstPaintHookForTesting([reportFd](win::HWND window) {
    win::RECT outer{};
    win::GetWindowRect(window, &outer);
    qvbench::ReportPaintedAndExit(reportFd, outer.right - outer.left, outer.bottom - outer.top);
  });
  return quorvane::ProgramMain(argc, argv);
}
