// The one file that calls Duktape.
//
// Rules every call into the engine follows:
// - It runs inside ScriptHeap::Escaped, which installs the heap's escape (sigsetjmp). The fatal
//   handler and the watchdog jump there; the heap is then given up whole (its blocks freed from
//   the arena's list) and never touched again.
// - Anything that can throw a script error runs under duk_safe_call, so engine errors come back
//   as a status and never longjmp past C++ code.
// - The code between the escape and the engine (the step lambdas) holds only trivially
//   destructible locals and throws no C++ exception, so a jump out of it skips no destructor.
//   C++ allocations (UTF-16 results, handles) happen outside, between engine calls.
#include "platform/com/script/script_engine.h"

#include <duktape.h>
#include <pthread.h>
#include <signal.h>

#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "platform/com/script/script_arena.h"
#include "platform/com/script/script_code_cache.h"
#include "platform/com/script/script_text.h"
#include "platform/com/script/script_watchdog.h"

namespace win::script {
namespace {

enum class Timing { Limited, Unlimited };
enum class CallStatus { Success, Error, Abandoned };
enum class SourceKind { Program, Eval };

// The shape of a result as read inside the engine; strings stay on the value stack until they
// have been copied out.
struct TopValue {
  ValueKind kind = ValueKind::Empty;
  bool boolean = false;
  int32_t integer = 0;
  double number = 0;
};

// Numbers that are whole and fit 32 bits are integers, as the Windows script engine hands them
// out (VT_I4); everything else, negative zero, NaN and the infinities included, is a double.
void ClassifyNumber(double d, TopValue& out) {
  if (d >= -2147483648.0 && d <= 2147483647.0 && std::trunc(d) == d && !(d == 0 && std::signbit(d))) {
    out.kind = ValueKind::Int;
    out.integer = static_cast<int32_t>(d);
  } else {
    out.kind = ValueKind::Double;
    out.number = d;
  }
}

// Replaces the value on top by its result shape. A string (also the text of a symbol) is left on
// top for the caller to copy; an object is also stored in the heap stash under `slot`, which keeps
// it alive for its C++ handle. Runs inside a safe call: it may throw script errors.
void ShapeTop(duk_context* ctx, uint32_t slot, TopValue& out) {
  if (duk_is_symbol(ctx, -1)) {
    // String(symbol) is allowed where ToString(symbol) throws: call Symbol.prototype.toString.
    duk_get_prop_string(ctx, -1, "toString");
    duk_dup(ctx, -2);
    duk_call_method(ctx, 0);
    out.kind = ValueKind::String;
    return;
  }
  switch (duk_get_type(ctx, -1)) {
    case DUK_TYPE_NONE:
    case DUK_TYPE_UNDEFINED:
      out.kind = ValueKind::Empty;
      return;
    case DUK_TYPE_NULL:
      out.kind = ValueKind::Null;
      return;
    case DUK_TYPE_BOOLEAN:
      out.kind = ValueKind::Bool;
      out.boolean = duk_get_boolean(ctx, -1) != 0;
      return;
    case DUK_TYPE_NUMBER:
      ClassifyNumber(duk_get_number(ctx, -1), out);
      return;
    case DUK_TYPE_STRING:
      out.kind = ValueKind::String;
      return;
    case DUK_TYPE_POINTER:
      duk_to_string(ctx, -1);
      out.kind = ValueKind::String;
      return;
    default:  // objects, and Duktape's plain buffers and light functions, which act as objects
      duk_push_heap_stash(ctx);
      duk_dup(ctx, -2);
      duk_put_prop_index(ctx, -2, slot);
      duk_pop(ctx);
      out.kind = ValueKind::Object;
      return;
  }
}

ScriptError MakeError(ErrorKind kind, std::u16string_view description) {
  ScriptError error;
  error.kind = kind;
  error.description = description;
  return error;
}

constexpr std::u16string_view kOutOfMemory = u"Out of memory";
constexpr std::u16string_view kTimedOut = u"Script execution timed out";
constexpr std::u16string_view kEngineFailed = u"The script engine failed and was restarted";
constexpr std::u16string_view kContextGone = u"The script context this object belongs to is gone";
constexpr std::u16string_view kUndescribed = u"Script error";

}  // namespace

class ScriptHeap : public std::enable_shared_from_this<ScriptHeap> {
  struct PassKey {};

 public:
  ScriptHeap(PassKey, size_t limit, int32_t timeout) : m_arena(limit), m_timeout(timeout) {}
  ~ScriptHeap();
  ScriptHeap(const ScriptHeap&) = delete;
  ScriptHeap& operator=(const ScriptHeap&) = delete;

  static std::shared_ptr<ScriptHeap> Create(size_t limit, int32_t timeout, ScriptError& error);

  bool Alive() const { return m_ctx != nullptr; }
  void SetMemoryLimit(size_t bytes) { m_arena.SetLimit(bytes); }
  void SetTimeout(int32_t milliseconds) { m_timeout = milliseconds; }

  EvalResult Run(std::string_view source, SourceKind kind);
  // Moves the compiled form that a Run left in the stash into the process's store.
  void StoreCompiledForm(CodeKind kind, std::string_view source) noexcept;
  EvalResult StringForm(uint32_t slot);
  EvalResult GetMember(uint32_t slot, std::string_view name);
  EvalResult HasMember(uint32_t slot, std::string_view name);
  void ReleaseSlot(uint32_t slot);
  ScriptError RaiseFatal();

 private:
  static void* Alloc(void* udata, duk_size_t size) {
    return static_cast<ScriptHeap*>(udata)->m_arena.Allocate(size);
  }
  static void* Realloc(void* udata, void* block, duk_size_t size) {
    return static_cast<ScriptHeap*>(udata)->m_arena.Reallocate(block, size);
  }
  static void Free(void* udata, void* block) { static_cast<ScriptHeap*>(udata)->m_arena.Free(block); }
  // Duktape's fatal handler must not return. It leaves through the escape of the running call;
  // every call into the engine has one in place, so the abort below is never reached.
  [[noreturn]] static void Fatal(void* udata, const char*) {
    EngineEscape* escape = static_cast<ScriptHeap*>(udata)->m_escape;
    if (escape != nullptr) siglongjmp(escape->target, kEscapeFatal);
    std::abort();
  }

  template <class Body>
  bool Escaped(Timing timing, Body& body) noexcept;
  template <class Step>
  CallStatus Protected(Timing timing, duk_idx_t nargs, Step& step) noexcept;
  void Abandon(int reason) noexcept;
  ScriptError AbandonedError() const;

  // Completes a call whose step left one value on top (shaped by ShapeTop) and pops it.
  EvalResult Finish(CallStatus status, const TopValue& top, uint32_t slot, ErrorKind failureKind,
                    uint64_t refusalsBefore);
  ScriptError DescribeTop(ErrorKind kind, uint64_t refusalsBefore);
  std::u16string CopyTopString();
  void PopTop() noexcept;
  uint32_t ReserveSlot() const { return m_nextSlot; }
  void UseSlot() { m_nextSlot = m_nextSlot == UINT32_MAX - 1 ? 1 : m_nextSlot + 1; }

  ScriptArena m_arena;
  duk_context* m_ctx = nullptr;
  EngineEscape* m_escape = nullptr;
  int m_abandonReason = 0;
  uint32_t m_nextSlot = 1;
  int32_t m_timeout;
};

// ---------------------------------------------------------------------------------------------
// Entering and leaving the engine

template <class Body>
bool ScriptHeap::Escaped(Timing timing, Body& body) noexcept {
  EngineEscape escape;
  EngineEscape* const previous = m_escape;
  const bool limited = timing == Timing::Limited && previous == nullptr;
  m_escape = &escape;
  const int jumped = sigsetjmp(escape.target, 0);
  if (jumped == 0) {
    if (limited) ExecutionWatchdog::Arm(&escape, m_timeout);
    body();
    if (limited) ExecutionWatchdog::Disarm();
    m_escape = previous;
    return true;
  }
  if (limited) ExecutionWatchdog::Disarm();
  m_escape = previous;
  Abandon(jumped);
  return false;
}

template <class Step>
CallStatus ScriptHeap::Protected(Timing timing, duk_idx_t nargs, Step& step) noexcept {
  if (m_ctx == nullptr) return CallStatus::Abandoned;
  duk_int_t rc = DUK_EXEC_ERROR;
  auto body = [&]() noexcept {
    rc = duk_safe_call(
        m_ctx, [](duk_context* ctx, void* udata) -> duk_ret_t { return (*static_cast<Step*>(udata))(ctx); },
        &step, nargs, 1);
  };
  if (!Escaped(timing, body)) return CallStatus::Abandoned;
  return rc == DUK_EXEC_SUCCESS ? CallStatus::Success : CallStatus::Error;
}

void ScriptHeap::Abandon(int reason) noexcept {
  // The heap may be half-way through any change: free its memory without looking at it.
  m_abandonReason = reason;
  m_ctx = nullptr;
  m_arena.ReleaseAll();
}

// The error of the call during which the heap was given up; later calls get kContextGone.
ScriptError ScriptHeap::AbandonedError() const {
  if (m_abandonReason == kEscapeTimeout) return MakeError(ErrorKind::Timeout, kTimedOut);
  return MakeError(ErrorKind::EngineFailure, kEngineFailed);
}

std::shared_ptr<ScriptHeap> ScriptHeap::Create(size_t limit, int32_t timeout, ScriptError& error) {
  auto heap = std::make_shared<ScriptHeap>(PassKey{}, limit, timeout);
  duk_context* ctx = nullptr;
  ScriptHeap* raw = heap.get();
  auto body = [&]() noexcept { ctx = duk_create_heap(Alloc, Realloc, Free, raw, Fatal); };
  if (!heap->Escaped(Timing::Unlimited, body) || ctx == nullptr) {
    const bool refused = heap->m_arena.Refusals() > 0;
    heap->Abandon(kEscapeFatal);
    error = refused ? MakeError(ErrorKind::OutOfMemory, kOutOfMemory)
                    : MakeError(ErrorKind::EngineFailure, kEngineFailed);
    return nullptr;
  }
  heap->m_ctx = ctx;
  return heap;
}

ScriptHeap::~ScriptHeap() {
  // Every block of the heap is the arena's, and nothing outside the heap refers into it, so the
  // arena gives it all back at once. Taking the heap apart through the engine would cost a walk
  // over every object and would also run the finalizers that scripts registered: they could not
  // reach anything outside the heap, but one that never returns would hang the release.
  m_ctx = nullptr;
  m_arena.ReleaseAll();
}

// ---------------------------------------------------------------------------------------------
// Reading results

void ScriptHeap::PopTop() noexcept {
  if (m_ctx == nullptr) return;
  auto body = [this]() noexcept { duk_pop(m_ctx); };
  Escaped(Timing::Unlimited, body);
}

std::u16string ScriptHeap::CopyTopString() {
  const char* data = nullptr;
  duk_size_t length = 0;
  auto body = [&]() noexcept { data = duk_get_lstring(m_ctx, -1, &length); };
  if (!Escaped(Timing::Unlimited, body) || data == nullptr) return {};
  // The bytes belong to the string on the value stack, which stays put until PopTop.
  return Cesu8ToUtf16(data, length);
}

ScriptError ScriptHeap::DescribeTop(ErrorKind kind, uint64_t refusalsBefore) {
  int32_t line = 0;
  // Consumes the thrown value and leaves its description: the message of an Error, the string
  // form of anything else that was thrown.
  auto step = [&](duk_context* ctx) noexcept -> duk_ret_t {
    if (duk_is_error(ctx, -1)) {
      duk_get_prop_string(ctx, -1, "lineNumber");
      if (duk_is_number(ctx, -1)) {
        const double n = duk_get_number(ctx, -1);
        line = n >= 0 && n <= 2147483647.0 ? static_cast<int32_t>(n) : 0;
      }
      duk_pop(ctx);
      duk_get_prop_string(ctx, -1, "message");
      if (duk_is_string(ctx, -1) && !duk_is_symbol(ctx, -1)) return 1;
      duk_pop(ctx);
    }
    duk_dup(ctx, -1);
    if (duk_is_symbol(ctx, -1)) {
      duk_get_prop_string(ctx, -1, "toString");
      duk_insert(ctx, -2);
      duk_call_method(ctx, 0);
    } else {
      duk_to_string(ctx, -1);
    }
    return 1;
  };
  const CallStatus status = Protected(Timing::Limited, 1, step);
  if (status == CallStatus::Abandoned) return AbandonedError();
  // An allocation the cap refused during the call is why it failed: the engine turns a refused
  // allocation into a plain Error ("alloc failed"), which the script cannot tell from others.
  const bool memoryRefused = m_arena.Refusals() > refusalsBefore;
  if (status == CallStatus::Error) {
    PopTop();
    return MakeError(memoryRefused ? ErrorKind::OutOfMemory : kind,
                     memoryRefused ? kOutOfMemory : kUndescribed);
  }
  ScriptError error;
  error.kind = kind;
  error.line = line;
  try {
    error.description = CopyTopString();
  } catch (...) {
    PopTop();
    throw;
  }
  PopTop();
  if (memoryRefused) {
    error.kind = ErrorKind::OutOfMemory;
    error.description = kOutOfMemory;
  }
  return error;
}

EvalResult ScriptHeap::Finish(CallStatus status, const TopValue& top, uint32_t slot, ErrorKind failureKind,
                              uint64_t refusalsBefore) {
  EvalResult result;
  if (status == CallStatus::Abandoned) {
    result.error = AbandonedError();
    return result;
  }
  if (status == CallStatus::Error) {
    result.error = DescribeTop(failureKind, refusalsBefore);
    return result;
  }
  ScriptValue& value = result.value;
  value.kind = top.kind;
  value.boolean = top.boolean;
  value.integer = top.integer;
  value.number = top.number;
  if (top.kind == ValueKind::Object) UseSlot();
  try {
    if (top.kind == ValueKind::String) {
      value.text = CopyTopString();
    } else if (top.kind == ValueKind::Object) {
      value.object.reset(new ScriptObject(shared_from_this()));
      value.object->m_slot = slot;
    }
  } catch (...) {
    PopTop();
    if (top.kind == ValueKind::Object && !value.object) ReleaseSlot(slot);
    throw;
  }
  PopTop();
  return result;
}

// ---------------------------------------------------------------------------------------------
// Operations

// The stash key under which Run leaves the compiled form of a text for StoreCompiledForm.
constexpr const char* kCompiledFormKey = "compiledForm";

EvalResult ScriptHeap::Run(std::string_view source, SourceKind kind) {
  if (!Alive()) return EvalResult{{}, MakeError(ErrorKind::EngineFailure, kContextGone)};
  TopValue top;
  bool compiled = false;
  const uint32_t slot = ReserveSlot();
  const uint64_t refusalsBefore = m_arena.Refusals();
  const char* const text = source.data();
  const duk_size_t length = source.size();
  // A text compiled before in this process is loaded from its compiled form; the second time a
  // text is compiled its compiled form is kept for the next contexts.
  CompiledCodeCache& cache = CompiledCodeCache::Process();
  const CodeKind codeKind = kind == SourceKind::Eval ? CodeKind::Eval : CodeKind::Program;
  const std::shared_ptr<const std::string> found = cache.Find(codeKind, source);
  const bool keepForm = !found && cache.WantsCompiledForm(codeKind, source);
  const char* const form = found ? found->data() : nullptr;
  const duk_size_t formSize = found ? found->size() : 0;
  auto step = [&](duk_context* ctx) noexcept -> duk_ret_t {
    if (form != nullptr) {
      std::memcpy(duk_push_fixed_buffer(ctx, formSize), form, formSize);
      duk_load_function(ctx);
      compiled = true;
    } else {
      const duk_uint_t flags = DUK_COMPILE_NOSOURCE | DUK_COMPILE_NOFILENAME;
      duk_compile_raw(ctx, text, length, kind == SourceKind::Eval ? flags | DUK_COMPILE_EVAL : flags);
      compiled = true;
      if (keepForm) {
        duk_push_heap_stash(ctx);
        duk_dup(ctx, -2);
        duk_dump_function(ctx);
        duk_put_prop_string(ctx, -2, kCompiledFormKey);
        duk_pop(ctx);
      }
    }
    if (kind == SourceKind::Eval) {
      // Eval code run with the global object as `this` and the global scope as its scope: the
      // semantics of an indirect eval, so its `var` and function declarations become globals.
      duk_push_global_object(ctx);
      duk_call_method(ctx, 0);
      ShapeTop(ctx, slot, top);
      return 1;
    }
    duk_call(ctx, 0);
    return 0;  // a program's value is not wanted; safe_call pushes undefined in its place
  };
  const CallStatus status = Protected(Timing::Limited, 0, step);
  EvalResult result =
      Finish(status, top, slot, compiled ? ErrorKind::Runtime : ErrorKind::Compile, refusalsBefore);
  // The text compiled even when running it failed: its compiled form is as good.
  if (keepForm && compiled && status != CallStatus::Abandoned) StoreCompiledForm(codeKind, source);
  return result;
}

void ScriptHeap::StoreCompiledForm(CodeKind kind, std::string_view source) noexcept {
  auto take = [](duk_context* ctx) noexcept -> duk_ret_t {
    duk_push_heap_stash(ctx);
    duk_get_prop_string(ctx, -1, kCompiledFormKey);
    duk_del_prop_string(ctx, -2, kCompiledFormKey);
    return 1;
  };
  const CallStatus status = Protected(Timing::Unlimited, 0, take);
  if (status == CallStatus::Abandoned) return;
  const char* data = nullptr;
  duk_size_t size = 0;
  auto read = [&]() noexcept {
    if (duk_is_buffer_data(m_ctx, -1)) data = static_cast<const char*>(duk_get_buffer_data(m_ctx, -1, &size));
  };
  if (status == CallStatus::Success && Escaped(Timing::Unlimited, read) && data != nullptr) {
    // Keeping the form is only a saving: when memory is short it is simply not kept.
    try {
      CompiledCodeCache::Process().Store(kind, source, std::string(data, size));
    } catch (...) {
    }
  }
  PopTop();
}

EvalResult ScriptHeap::StringForm(uint32_t slot) {
  if (!Alive()) return EvalResult{{}, MakeError(ErrorKind::EngineFailure, kContextGone)};
  TopValue top;
  const uint64_t refusalsBefore = m_arena.Refusals();
  auto step = [&](duk_context* ctx) noexcept -> duk_ret_t {
    duk_push_heap_stash(ctx);
    duk_get_prop_index(ctx, -1, slot);
    duk_to_string(ctx, -1);  // ToString(ToPrimitive(obj, hint String)): String(obj)
    top.kind = ValueKind::String;
    return 1;
  };
  const CallStatus status = Protected(Timing::Limited, 0, step);
  return Finish(status, top, 0, ErrorKind::Runtime, refusalsBefore);
}

EvalResult ScriptHeap::GetMember(uint32_t slot, std::string_view name) {
  if (!Alive()) return EvalResult{{}, MakeError(ErrorKind::EngineFailure, kContextGone)};
  TopValue top;
  const uint32_t memberSlot = ReserveSlot();
  const uint64_t refusalsBefore = m_arena.Refusals();
  const char* const text = name.data();
  const duk_size_t length = name.size();
  auto step = [&](duk_context* ctx) noexcept -> duk_ret_t {
    duk_push_heap_stash(ctx);
    duk_get_prop_index(ctx, -1, slot);
    duk_get_prop_lstring(ctx, -1, text, length);
    ShapeTop(ctx, memberSlot, top);
    return 1;
  };
  const CallStatus status = Protected(Timing::Limited, 0, step);
  return Finish(status, top, memberSlot, ErrorKind::Runtime, refusalsBefore);
}

EvalResult ScriptHeap::HasMember(uint32_t slot, std::string_view name) {
  if (!Alive()) return EvalResult{{}, MakeError(ErrorKind::EngineFailure, kContextGone)};
  TopValue top;
  const uint64_t refusalsBefore = m_arena.Refusals();
  const char* const text = name.data();
  const duk_size_t length = name.size();
  auto step = [&](duk_context* ctx) noexcept -> duk_ret_t {
    duk_push_heap_stash(ctx);
    duk_get_prop_index(ctx, -1, slot);
    top.kind = ValueKind::Bool;
    top.boolean = duk_has_prop_lstring(ctx, -1, text, length) != 0;
    return 0;
  };
  const CallStatus status = Protected(Timing::Limited, 0, step);
  return Finish(status, top, 0, ErrorKind::Runtime, refusalsBefore);
}

void ScriptHeap::ReleaseSlot(uint32_t slot) {
  if (!Alive()) return;
  // Dropping the last reference can run a finalizer, which is script code: keep the time limit.
  auto step = [slot](duk_context* ctx) noexcept -> duk_ret_t {
    duk_push_heap_stash(ctx);
    duk_del_prop_index(ctx, -1, slot);
    return 0;
  };
  if (Protected(Timing::Limited, 0, step) != CallStatus::Abandoned) PopTop();
}

ScriptError ScriptHeap::RaiseFatal() {
  auto body = [this]() noexcept { duk_fatal(m_ctx, "raised for testing"); };
  if (Alive() && Escaped(Timing::Unlimited, body)) return {};
  return AbandonedError();
}

// ---------------------------------------------------------------------------------------------
// ScriptObject

ScriptObject::~ScriptObject() {
  if (m_slot != 0) m_heap->ReleaseSlot(m_slot);
}

bool ScriptObject::IsAlive() const { return m_heap->Alive(); }

namespace {

template <class Operation>
EvalResult Guarded(Operation&& operation) {
  try {
    return operation();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  return EvalResult{{}, MakeError(ErrorKind::OutOfMemory, kOutOfMemory)};
}

}  // namespace

EvalResult ScriptObject::StringForm() const {
  return Guarded([&] { return m_heap->StringForm(m_slot); });
}

EvalResult ScriptObject::GetMember(std::u16string_view name) const {
  return Guarded([&] { return m_heap->GetMember(m_slot, Utf16ToCesu8(name)); });
}

EvalResult ScriptObject::HasMember(std::u16string_view name) const {
  return Guarded([&] { return m_heap->HasMember(m_slot, Utf16ToCesu8(name)); });
}

// ---------------------------------------------------------------------------------------------
// Heaps made ahead
//
// Setting up a heap is most of what a new context costs (the engine builds every built-in object
// and interns their names), and a program that makes a context for each document it reads would
// pay for it while the user waits. So one heap with the default cap is made ahead by a helper
// thread, while the caller is busy with other things, and handed to the next context that needs
// one. It has never run any script, so it is as fresh as a heap made on the spot. A context with
// another cap, or one that finds no heap ready, makes its own as before.
//
// A heap belongs to no thread: it is made on the helper and afterwards used only by the thread
// that took it, the mutex ordering the two. A fork waits until the helper is idle; the child has no
// helper and starts one of its own when it needs one. The maker lives as long as the process: an
// idle helper at exit holds nothing that needs tearing down.
class HeapMaker {
 public:
  static HeapMaker& Process() {
    static HeapMaker* const maker = new HeapMaker;
    return *maker;
  }

  // A heap made ahead, or null; either way the next one is under way.
  std::shared_ptr<ScriptHeap> Take() {
    pthread_mutex_lock(&m_mutex);
    std::shared_ptr<ScriptHeap> heap = std::move(m_ready);
    m_ready.reset();
    if (heap) ++m_taken;
    m_wanted = true;
    if (!m_running) StartHelper();
    pthread_cond_broadcast(&m_wake);
    pthread_mutex_unlock(&m_mutex);
    return heap;
  }

  uint64_t Taken() {
    pthread_mutex_lock(&m_mutex);
    const uint64_t taken = m_taken;
    pthread_mutex_unlock(&m_mutex);
    return taken;
  }

 private:
  HeapMaker() = default;

  // Called with the mutex held.
  void StartHelper() {
    static pthread_once_t forkHandlers = PTHREAD_ONCE_INIT;
    pthread_once(&forkHandlers, [] { pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild); });
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    // The helper takes no signals: those meant for the process go to the threads that expect them.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    m_running = pthread_create(&thread, &attributes, &Helper, this) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
  }

  static void* Helper(void* self) {
    static_cast<HeapMaker*>(self)->Work();
    return nullptr;
  }

  void Work() {
    pthread_mutex_lock(&m_mutex);
    for (;;) {
      while (!m_wanted) pthread_cond_wait(&m_wake, &m_mutex);
      m_wanted = false;
      if (m_ready) continue;
      m_making = true;
      pthread_mutex_unlock(&m_mutex);
      ScriptError error;
      std::shared_ptr<ScriptHeap> heap;
      try {
        heap = ScriptHeap::Create(ScriptEngine::kDefaultMemoryLimit, ScriptEngine::kDefaultTimeout, error);
      } catch (...) {
        // Out of memory: the next context makes its own heap and meets the failure itself.
      }
      pthread_mutex_lock(&m_mutex);
      if (!m_ready) m_ready = std::move(heap);
      m_making = false;
      pthread_cond_broadcast(&m_wake);
    }
  }

  static void BeforeFork() {
    HeapMaker& maker = Process();
    pthread_mutex_lock(&maker.m_mutex);
    while (maker.m_making) pthread_cond_wait(&maker.m_wake, &maker.m_mutex);
  }
  static void AfterForkInParent() { pthread_mutex_unlock(&Process().m_mutex); }
  static void AfterForkInChild() {
    // The helper did not come along; its lock and condition start over unused.
    HeapMaker& maker = Process();
    maker.m_mutex = PTHREAD_MUTEX_INITIALIZER;
    maker.m_wake = PTHREAD_COND_INITIALIZER;
    maker.m_running = false;
    maker.m_wanted = false;
  }

  pthread_mutex_t m_mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t m_wake = PTHREAD_COND_INITIALIZER;
  bool m_running = false;
  bool m_wanted = false;
  bool m_making = false;
  std::shared_ptr<ScriptHeap> m_ready;
  uint64_t m_taken = 0;
};

// ---------------------------------------------------------------------------------------------
// ScriptEngine

ScriptEngine::~ScriptEngine() = default;

bool ScriptEngine::TimeoutsAvailable() { return ExecutionWatchdog::Available(); }

void ScriptEngine::SetMemoryLimit(size_t bytes) {
  m_memoryLimit = bytes;
  if (m_heap) m_heap->SetMemoryLimit(bytes);
}

void ScriptEngine::SetTimeout(int32_t milliseconds) {
  m_timeout = milliseconds;
  if (m_heap) m_heap->SetTimeout(milliseconds);
}

void ScriptEngine::Reset() { m_heap.reset(); }

ScriptHeap* ScriptEngine::LiveHeap(ScriptError& error) {
  if (m_heap && m_heap->Alive()) return m_heap.get();
  m_heap.reset();
  if (m_memoryLimit == kDefaultMemoryLimit) m_heap = HeapMaker::Process().Take();
  if (m_heap) {
    m_heap->SetTimeout(m_timeout);
  } else {
    m_heap = ScriptHeap::Create(m_memoryLimit, m_timeout, error);
  }
  return m_heap.get();
}

uint64_t ScriptEngine::HeapsMadeAheadForTesting() { return HeapMaker::Process().Taken(); }

ScriptError ScriptEngine::AddCode(std::u16string_view code) {
  return Guarded([&] {
           const std::string source = Utf16ToCesu8(code);
           EvalResult result;
           if (ScriptHeap* heap = LiveHeap(result.error)) result = heap->Run(source, SourceKind::Program);
           return result;
         })
      .error;
}

EvalResult ScriptEngine::Eval(std::u16string_view text) {
  return Guarded([&] {
    const std::string source = Utf16ToCesu8(text);
    EvalResult result;
    if (ScriptHeap* heap = LiveHeap(result.error)) result = heap->Run(source, SourceKind::Eval);
    return result;
  });
}

ScriptError ScriptEngine::RaiseFatalErrorForTesting() {
  ScriptError error;
  ScriptHeap* heap = LiveHeap(error);
  return heap ? heap->RaiseFatal() : error;
}

}  // namespace win::script
