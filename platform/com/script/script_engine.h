// A JavaScript context for the script control: one Duktape heap with one global scope, fed and
// read in UTF-16.
//
// AddCode runs a program text; Eval runs expressions and statements alike with the semantics of
// an indirect eval, so a `var` declared through Eval is a global that every later text sees.
// Results come back in the shapes that the Windows script control hands to its callers: strings,
// 32-bit integers, doubles, booleans, null, nothing, and objects that stay alive while a C++
// handle holds them.
//
// No script can harm the process: a syntax or runtime error fails the one call and leaves the
// context as the script left it; memory is capped per context; a run longer than the time limit
// is cut off; a fatal engine error gives up that heap alone. After a cut-off or a fatal error the
// context starts over empty on its next call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace win::script {

class ScriptHeap;
class ScriptObject;

enum class ValueKind { Empty, Null, Bool, Int, Double, String, Object };

struct ScriptValue {
  ValueKind kind = ValueKind::Empty;
  bool boolean = false;
  int32_t integer = 0;
  double number = 0;
  std::u16string text;
  std::shared_ptr<ScriptObject> object;
};

enum class ErrorKind {
  None,
  Compile,         // the text is not valid script
  Runtime,         // the script threw
  OutOfMemory,     // the context's memory cap (or the process) refused an allocation
  Timeout,         // the run passed the time limit and was cut off; the context starts over
  EngineFailure,   // the engine hit a fatal error; the context starts over
};

struct ScriptError {
  ErrorKind kind = ErrorKind::None;
  std::u16string description;
  int32_t line = 0;  // 1-based line of the failing text when the engine knows it, else 0

  bool Failed() const { return kind != ErrorKind::None; }
};

struct EvalResult {
  ScriptValue value;
  ScriptError error;

  bool Succeeded() const { return !error.Failed(); }
};

// A script object (or array, function...) kept alive for a holder on the C++ side. It keeps its
// heap alive too, so it may outlive the engine that returned it. After its heap was given up
// (time limit, fatal error) every operation fails with EngineFailure.
class ScriptObject {
 public:
  ~ScriptObject();
  ScriptObject(const ScriptObject&) = delete;
  ScriptObject& operator=(const ScriptObject&) = delete;

  // The object's string form, as String(obj) gives it: "[object Object]", "1,2,3" for an array.
  EvalResult StringForm() const;
  // The value of a named member (own or inherited); a missing member gives an empty value.
  EvalResult GetMember(std::u16string_view name) const;
  // Whether the object has the member, own or inherited (a Bool value).
  EvalResult HasMember(std::u16string_view name) const;
  bool IsAlive() const;

 private:
  friend class ScriptHeap;
  explicit ScriptObject(std::shared_ptr<ScriptHeap> heap) : m_heap(std::move(heap)) {}

  std::shared_ptr<ScriptHeap> m_heap;
  uint32_t m_slot = 0;  // its key in the heap's stash; 0 while not yet stored
};

class ScriptEngine {
 public:
  // Room for a JSON document of 32 MB, which takes several times its text in engine memory (the
  // text itself, its parsed objects and strings), with enough to spare that the engine is not
  // collecting garbage on every allocation near the cap; a runaway script still fails its own call.
  static constexpr size_t kDefaultMemoryLimit = size_t{512} << 20;
  // Milliseconds, as the Windows script control's Timeout; kNoTimeout lets scripts run forever.
  static constexpr int32_t kDefaultTimeout = 10000;
  static constexpr int32_t kNoTimeout = -1;

  ScriptEngine() = default;
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  // Both apply to the current context at once and to every later one.
  void SetMemoryLimit(size_t bytes);
  size_t MemoryLimit() const { return m_memoryLimit; }
  void SetTimeout(int32_t milliseconds);
  int32_t Timeout() const { return m_timeout; }

  // Runs a program text in the global scope. Its value is dropped.
  ScriptError AddCode(std::u16string_view code);
  // Runs an expression or statements and gives the completion value.
  EvalResult Eval(std::u16string_view text);
  // Drops the context; the next call starts with a fresh global scope. Objects handed out keep
  // the old heap alive and usable.
  void Reset();

  // Whether the time limit can be enforced in this process (see script_watchdog.h).
  static bool TimeoutsAvailable();

  // Test hook: how many contexts so far got a heap that was made ahead for them.
  static uint64_t HeapsMadeAheadForTesting();

  // Test hook: makes the engine report a fatal error in the current context, as a corrupted heap
  // would. Gives the error the call reports.
  ScriptError RaiseFatalErrorForTesting();

 private:
  ScriptHeap* LiveHeap(ScriptError& error);

  std::shared_ptr<ScriptHeap> m_heap;  // created on first use
  size_t m_memoryLimit = kDefaultMemoryLimit;
  int32_t m_timeout = kDefaultTimeout;
};

}  // namespace win::script
