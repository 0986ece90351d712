#include "platform/com/script/script_watchdog.h"

#include <duktape.h>
#include <link.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace win::script {
namespace {

// A real-time signal that nothing else in the program uses.
int WatchdogSignal() { return SIGRTMIN + 5; }

// The executable address ranges of the Duktape shared object.
struct CodeRanges {
  static constexpr int kMax = 8;
  uintptr_t begin[kMax] = {};
  uintptr_t end[kMax] = {};
  int count = 0;

  bool Contains(uintptr_t pc) const {
    for (int i = 0; i < count; ++i)
      if (pc >= begin[i] && pc < end[i]) return true;
    return false;
  }
};

CodeRanges g_duktapeCode;
bool g_processReady = false;

struct ObjectSearch {
  uintptr_t probe;       // an address inside Duktape's code
  uintptr_t ownProbe;    // an address inside this file's code
  CodeRanges* ranges;
  bool found = false;
  bool sharesOurObject = false;
};

bool SegmentContains(const dl_phdr_info* info, const ElfW(Phdr)& ph, uintptr_t address) {
  const uintptr_t begin = info->dlpi_addr + ph.p_vaddr;
  return ph.p_type == PT_LOAD && address >= begin && address < begin + ph.p_memsz;
}

int VisitObject(dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<ObjectSearch*>(data);
  bool hasProbe = false;
  bool hasOwn = false;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    hasProbe = hasProbe || SegmentContains(info, info->dlpi_phdr[i], search->probe);
    hasOwn = hasOwn || SegmentContains(info, info->dlpi_phdr[i], search->ownProbe);
  }
  if (!hasProbe) return 0;
  search->found = true;
  search->sharesOurObject = hasOwn;
  for (int i = 0; i < info->dlpi_phnum && search->ranges->count < CodeRanges::kMax; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD || (ph.p_flags & PF_X) == 0) continue;
    search->ranges->begin[search->ranges->count] = info->dlpi_addr + ph.p_vaddr;
    search->ranges->end[search->ranges->count] = info->dlpi_addr + ph.p_vaddr + ph.p_memsz;
    ++search->ranges->count;
  }
  return 1;
}

// Per-thread state. Plain values only: the signal handler reads them.
thread_local EngineEscape* volatile t_escape = nullptr;
thread_local timer_t t_timer;
thread_local bool t_timerReady = false;

struct ThreadTimerOwner {
  ~ThreadTimerOwner() {
    if (t_timerReady) timer_delete(t_timer);
    t_timerReady = false;
  }
};
thread_local ThreadTimerOwner t_timerOwner;

void SetTimer(long nanoseconds) {
  itimerspec timing{};
  timing.it_value.tv_sec = nanoseconds / 1'000'000'000L;
  timing.it_value.tv_nsec = nanoseconds % 1'000'000'000L;
  timer_settime(t_timer, 0, &timing, nullptr);
}

uintptr_t InterruptedAddress(void* context) {
#if defined(__x86_64__)
  return static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.pc);
#else
  (void)context;
  return 0;  // unknown: never jump, the limit then never takes effect
#endif
}

void OnWatchdogSignal(int, siginfo_t*, void* context) {
  const int savedErrno = errno;
  EngineEscape* escape = t_escape;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (escape != nullptr) {
    if (g_duktapeCode.Contains(InterruptedAddress(context))) {
      t_escape = nullptr;
      siglongjmp(escape->target, kEscapeTimeout);
    }
    SetTimer(1'000'000);  // not at a safe point yet
  }
  errno = savedErrno;
}

void PrepareProcess() {
  ObjectSearch search{reinterpret_cast<uintptr_t>(&duk_create_heap),
                      reinterpret_cast<uintptr_t>(&PrepareProcess), &g_duktapeCode};
  dl_iterate_phdr(VisitObject, &search);
  // Linked into our own object, Duktape's code could not be told from ours (our allocator among
  // it), and jumping would not be safe.
  if (!search.found || search.sharesOurObject || g_duktapeCode.count == 0) return;
  struct sigaction action {};
  action.sa_sigaction = OnWatchdogSignal;
  // SA_NODEFER leaves the signal unblocked while the handler runs, so jumping out of it needs no
  // signal mask restored (the escape is taken with sigsetjmp(..., 0)).
  action.sa_flags = SA_SIGINFO | SA_RESTART | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  if (sigaction(WatchdogSignal(), &action, nullptr) != 0) return;
  g_processReady = true;
}

bool PrepareThread() {
  static std::once_flag once;
  std::call_once(once, PrepareProcess);
  if (!g_processReady) return false;
  if (t_timerReady) return true;
  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = WatchdogSignal();
  event._sigev_un._tid = static_cast<pid_t>(syscall(SYS_gettid));
  if (timer_create(CLOCK_MONOTONIC, &event, &t_timer) != 0) return false;
  (void)&t_timerOwner;  // makes sure the owner exists to delete the timer at thread exit
  t_timerReady = true;
  return true;
}

}  // namespace

bool ExecutionWatchdog::Available() { return PrepareThread(); }

void ExecutionWatchdog::Arm(EngineEscape* escape, int32_t milliseconds) {
  if (milliseconds <= 0 || !PrepareThread()) return;
  t_escape = escape;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  SetTimer(static_cast<long>(milliseconds) * 1'000'000L);
}

void ExecutionWatchdog::Disarm() {
  if (!t_timerReady) return;
  // Clear the target first: a signal that arrives in between then finds nothing to do.
  t_escape = nullptr;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  SetTimer(0);
}

}  // namespace win::script
