// What the start-up probe and its peer tell the driver: one line on the file descriptor named by
// QV_STARTUP_REPORT_FD once their window has painted, "painted <width>x<height>\n" with the
// window's outer size, and then they end at once. Header-only: the peer links Qt alone.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace qvbench {

inline constexpr char kReportFdVariable[] = "QV_STARTUP_REPORT_FD";

// The descriptor the driver gave, or -1 when none was given or it is not open.
inline int StartupReportFd() {
  const char* text = std::getenv(kReportFdVariable);
  if (text == nullptr || *text == '\0') return -1;
  char* end = nullptr;
  const long fd = std::strtol(text, &end, 10);
  if (*end != '\0' || fd < 0 || fd > 1023) return -1;
  return fcntl(static_cast<int>(fd), F_GETFD) != -1 ? static_cast<int>(fd) : -1;
}

// Writes the report and ends the process without running exit handlers or destructors: the
// measurement stops at the first paint. A report that cannot be written ends with status 3.
[[noreturn]] inline void ReportPaintedAndExit(int fd, int width, int height) {
  char line[64];
  const int length = std::snprintf(line, sizeof line, "painted %dx%d\n", width, height);
  for (int written = 0; written < length;) {
    const ssize_t n = write(fd, line + written, static_cast<size_t>(length - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) std::_Exit(3);
    written += static_cast<int>(n);
  }
  std::_Exit(0);
}

}  // namespace qvbench
