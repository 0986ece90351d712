// Leaving the script engine by a jump: the escape that the fatal-error handler and the execution
// time limit use.
//
// The packaged Duktape has no execution time check, so a script that loops forever would never
// give control back. Instead a per-thread POSIX timer sends a signal when the limit passes; the
// handler jumps to the escape of the running call, but only when the interrupted instruction lies
// inside Duktape's own code. There the thread holds no lock of the C library or of our allocator
// (Duktape calls no code of ours except the allocator, and the C library calls no code of
// Duktape), so leaving is safe as long as the heap is then given up whole. Anywhere else the
// handler re-arms the timer for a millisecond later and tries again.
#pragma once

#include <csetjmp>
#include <cstdint>

namespace win::script {

// Where a call into the engine resumes when it has to be abandoned.
struct EngineEscape {
  sigjmp_buf target;
};

// Values that sigsetjmp returns when the escape is taken.
inline constexpr int kEscapeFatal = 1;
inline constexpr int kEscapeTimeout = 2;

class ExecutionWatchdog {
 public:
  // Whether time limits can be enforced on the calling thread (they need Duktape as a shared
  // object, a per-thread timer and a signal handler).
  static bool Available();

  // Starts the limit for the running call: after `milliseconds` the thread jumps to `escape` with
  // kEscapeTimeout. Does nothing where time limits are not available.
  static void Arm(EngineEscape* escape, int32_t milliseconds);
  // Ends the limit; a signal that is still on its way is then ignored.
  static void Disarm();
};

}  // namespace win::script
