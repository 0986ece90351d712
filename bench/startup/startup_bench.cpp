// Start-up benchmark: the time from process start until the main window has painted, and the peak
// memory, of the program's start-up (startup_probe) against a minimal Qt Widgets program that shows
// one empty window of the same size (startup_peer), both measured in the same run.
//
// Each child is started with posix_spawn and reports its first paint as one line on descriptor 3,
// then ends at once. The time runs from just before posix_spawn until that line has been read
// (CLOCK_MONOTONIC); the peak memory is the child's ru_maxrss from wait4. The two programs take
// turns, the one that goes first alternating, after one untimed run of each that fills the file
// cache. A child that has not reported within 20 s is killed and its run counts as failed. The
// untimed run also asks each child how many shared objects it has mapped when it reports.
//
// usage: startup_bench [--runs N] [--verbose]
// The children's output goes to /dev/null unless --verbose is given. The children draw with QT_QPA_PLATFORM=offscreen unless the caller set QT_QPA_PLATFORM (for
// instance QT_QPA_PLATFORM=xcb under xvfb-run).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/startup/startup_report.h"

extern char** environ;

namespace {

constexpr int kDefaultRuns = 20;
constexpr int kChildReportFd = 3;
constexpr int kTimeoutMilliseconds = 20000;

struct Sample {
  double milliseconds = 0;
  long peakKiB = 0;
};

struct Child {
  const char* label;
  std::string path;
  std::vector<Sample> samples;
  std::string window;  // the size the child reported, from its first good run
  int failures = 0;
  int libraries = -1;  // shared objects mapped at the first paint, from the untimed run
};

double NowMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

std::string ExecutableDirectory() {
  std::vector<char> buffer(4096);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return ".";
  const std::string path(buffer.data(), static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The caller's environment with the platform plugin chosen and the report descriptor named.
std::vector<std::string> ChildEnvironment(std::string& platform) {
  std::vector<std::string> variables;
  const std::string reportPrefix = std::string(qvbench::kReportFdVariable) + "=";
  bool platformSet = false;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable(*entry);
    if (variable.rfind(reportPrefix, 0) == 0) continue;
    if (variable.rfind("QT_QPA_PLATFORM=", 0) == 0 && variable.size() > 16) {
      platformSet = true;
      platform = variable.substr(16);
    }
    variables.push_back(variable);
  }
  if (!platformSet) {
    platform = "offscreen";
    variables.push_back("QT_QPA_PLATFORM=offscreen");
  }
  variables.push_back(reportPrefix + std::to_string(kChildReportFd));
  return variables;
}

// Moves a descriptor above the standard ones and the child's report descriptor, close-on-exec.
int AboveReportFd(int fd) {
  if (fd > kChildReportFd) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return moved;
}

bool g_verbose = false;  // the children's output is shown, not dropped

// One run of a child; false (with the reason printed) when it failed.
bool RunOnce(Child& child, char** environment, Sample& sample) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "startup_bench: pipe: %s\n", std::strerror(errno));
    return false;
  }
  const int readFd = AboveReportFd(fds[0]);
  const int writeFd = AboveReportFd(fds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeFd, kChildReportFd);
  if (!g_verbose) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  char* arguments[] = {child.path.data(), nullptr};

  pid_t pid = 0;
  const double start = NowMilliseconds();
  const int spawnError = posix_spawn(&pid, child.path.c_str(), &actions, nullptr, arguments, environment);
  posix_spawn_file_actions_destroy(&actions);
  close(writeFd);
  if (spawnError != 0) {
    close(readFd);
    std::fprintf(stderr, "startup_bench: cannot start %s: %s\n", child.path.c_str(), std::strerror(spawnError));
    return false;
  }

  // Reads until the line is complete, the child closes the pipe, or the time is up.
  std::string line;
  double reported = -1;
  bool timedOut = false;
  for (;;) {
    const int left = kTimeoutMilliseconds - static_cast<int>(NowMilliseconds() - start);
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd wait{readFd, POLLIN, 0};
    const int ready = poll(&wait, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;  // the next pass sees the time is up
    char buffer[128];
    const ssize_t n = read(readFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    line.append(buffer, static_cast<size_t>(n));
    if (line.find('\n') != std::string::npos) {
      reported = NowMilliseconds();
      break;
    }
  }
  close(readFd);
  if (timedOut) kill(pid, SIGKILL);

  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (timedOut) {
    std::fprintf(stderr, "startup_bench: %s did not report within %d s; killed\n", child.label,
                 kTimeoutMilliseconds / 1000);
    return false;
  }
  const bool exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (reported < 0 || line.rfind("painted ", 0) != 0 || !exitedCleanly) {
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    std::fprintf(stderr, "startup_bench: %s ended without a report (%s %d, got \"%s\")\n", child.label,
                 WIFSIGNALED(status) ? "signal" : "exit code", code, line.substr(0, line.find('\n')).c_str());
    return false;
  }
  const std::string fields = line.substr(8, line.find('\n') - 8);
  const size_t space = fields.find(' ');
  if (child.window.empty()) child.window = fields.substr(0, space);
  constexpr char kLibraries[] = " libraries ";
  if (space != std::string::npos && fields.compare(space, sizeof kLibraries - 1, kLibraries) == 0)
    child.libraries = std::atoi(fields.c_str() + space + sizeof kLibraries - 1);
  sample.milliseconds = reported - start;
  sample.peakKiB = usage.ru_maxrss;  // kilobytes on Linux
  return true;
}

void Run(Child& child, char** environment, bool counted) {
  Sample sample;
  if (RunOnce(child, environment, sample)) {
    if (counted) child.samples.push_back(sample);
  } else {
    ++child.failures;
  }
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Summary {
  double median, min, max;
};

Summary Summarise(const std::vector<double>& values) {
  return {Median(values), *std::min_element(values.begin(), values.end()),
          *std::max_element(values.begin(), values.end())};
}

std::vector<double> Times(const Child& child) {
  std::vector<double> values;
  for (const Sample& sample : child.samples) values.push_back(sample.milliseconds);
  return values;
}

std::vector<double> PeaksMiB(const Child& child) {
  std::vector<double> values;
  for (const Sample& sample : child.samples) values.push_back(static_cast<double>(sample.peakKiB) / 1024);
  return values;
}

bool ParseRuns(int argc, char** argv, int& runs) {
  for (int i = 1; i < argc; ++i) {
    const std::string option(argv[i]);
    if ((option == "--runs" || option == "-n") && i + 1 < argc) {
      char* end = nullptr;
      const long value = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || value < 1 || value > 10000) return false;
      runs = static_cast<int>(value);
    } else if (option == "--verbose") {
      g_verbose = true;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = kDefaultRuns;
  if (!ParseRuns(argc, argv, runs)) {
    std::fprintf(stderr, "usage: startup_bench [--runs N] [--verbose]   (N from 1 to 10000, default %d)\n",
                 kDefaultRuns);
    return 2;
  }
  const std::string directory = ExecutableDirectory();
  Child program{"program", directory + "/startup_probe", {}, {}, 0, -1};
  Child peer{"peer", directory + "/startup_peer", {}, {}, 0, -1};

  std::string platform;
  std::vector<std::string> variables = ChildEnvironment(platform);
  std::vector<char*> environment;
  for (std::string& variable : variables) environment.push_back(variable.data());
  environment.push_back(nullptr);
  // The untimed run's environment also asks for the count of mapped shared objects.
  std::string countVariable = std::string(qvbench::kCountLibrariesVariable) + "=1";
  std::vector<char*> countingEnvironment = environment;
  countingEnvironment.insert(countingEnvironment.end() - 1, countVariable.data());

  std::printf("startup_bench: %d runs of each, QT_QPA_PLATFORM=%s\n", runs, platform.c_str());
  Run(program, countingEnvironment.data(), false);
  Run(peer, countingEnvironment.data(), false);
  for (int i = 0; i < runs; ++i) {
    Child& first = i % 2 == 0 ? program : peer;
    Child& second = i % 2 == 0 ? peer : program;
    Run(first, environment.data(), true);
    Run(second, environment.data(), true);
  }

  std::printf("%-10s %-9s  %-28s  %s\n", "", "window", "time to first paint (ms)", "peak RSS (MiB)");
  std::printf("%-10s %-9s  %8s %9s %9s  %8s %8s %8s\n", "", "", "median", "min", "max", "median", "min", "max");
  for (const Child* child : {&program, &peer}) {
    if (child->samples.empty()) {
      std::printf("%-10s no successful run\n", child->label);
      continue;
    }
    const Summary time = Summarise(Times(*child));
    const Summary peak = Summarise(PeaksMiB(*child));
    std::printf("%-10s %-9s  %8.1f %9.1f %9.1f  %8.1f %8.1f %8.1f\n", child->label, child->window.c_str(),
                time.median, time.min, time.max, peak.median, peak.min, peak.max);
  }
  if (!program.samples.empty() && !peer.samples.empty()) {
    std::printf("Program/Peer (medians): time %.2f, memory %.2f   (goal: at most 1.5 and 1.3)\n",
                Median(Times(program)) / Median(Times(peer)), Median(PeaksMiB(program)) / Median(PeaksMiB(peer)));
  }
  if (program.libraries >= 0 && peer.libraries >= 0)
    std::printf("shared objects mapped at first paint: program %d, peer %d\n", program.libraries, peer.libraries);
  const int failures = program.failures + peer.failures;
  if (failures > 0) std::printf("failed runs: program %d, peer %d\n", program.failures, peer.failures);
  return failures > 0 ? 1 : 0;
}
