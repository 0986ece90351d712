// What the start-up probe and its peer tell the driver: one line on the file descriptor named by
// QV_STARTUP_REPORT_FD once their window has painted, "painted <width>x<height>\n" with the
// window's outer size, and then they end at once. When QV_STARTUP_COUNT_LIBRARIES is set (the
// driver sets it for the untimed first run only), the line also names the number of shared objects
// mapped at that moment: "painted <width>x<height> libraries <n>\n". Header-only: the peer links
// Qt alone.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace qvbench {

inline constexpr char kReportFdVariable[] = "QV_STARTUP_REPORT_FD";
inline constexpr char kCountLibrariesVariable[] = "QV_STARTUP_COUNT_LIBRARIES";

// The number of distinct shared objects (files named *.so or *.so.<version>) in this process's
// memory map, the dynamic loader included; -1 when the map cannot be read.
inline int CountMappedSharedObjects() {
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  if (maps == nullptr) return -1;
  std::set<std::string> objects;
  char line[4096];
  while (std::fgets(line, sizeof line, maps) != nullptr) {
    const char* path = std::strchr(line, '/');
    if (path == nullptr) continue;
    std::string file(path);
    while (!file.empty() && (file.back() == '\n' || file.back() == ' ')) file.pop_back();
    const std::string name = file.substr(file.rfind('/') + 1);
    const size_t so = name.find(".so");
    if (so != std::string::npos && (so + 3 == name.size() || name[so + 3] == '.')) objects.insert(file);
  }
  std::fclose(maps);
  return static_cast<int>(objects.size());
}

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
  char line[96];
  const char* count = std::getenv(kCountLibrariesVariable);
  const int length = count != nullptr && *count != '\0'
                         ? std::snprintf(line, sizeof line, "painted %dx%d libraries %d\n", width, height,
                                         CountMappedSharedObjects())
                         : std::snprintf(line, sizeof line, "painted %dx%d\n", width, height);
  for (int written = 0; written < length;) {
    const ssize_t n = write(fd, line + written, static_cast<size_t>(length - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) std::_Exit(3);
    written += static_cast<int>(n);
  }
  std::_Exit(0);
}

}  // namespace qvbench
