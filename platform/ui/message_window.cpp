// Message-only windows: a procedure owned by one thread, reachable from every thread through
// SendMessageA. Handles are numbers from a registry, never pointers, so a stale handle finds
// nothing instead of freed memory.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/ui/ui.h"
#include "platform/ui/ui_private.h"
#include "platform/ui/window_private.h"

namespace win {

namespace {

// The answer to one cross-thread send. The request event completes it when the procedure has run,
// or with 0 when the event is dropped unanswered (its window was destroyed first).
class SendReply {
 public:
  void Complete(LRESULT result) {
    {
      std::lock_guard lock(m_mutex);
      if (m_done) return;
      m_done = true;
      m_result = result;
    }
    m_changed.notify_all();
  }
  LRESULT Wait() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_done; });
    return m_result;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_done = false;
  LRESULT m_result = 0;
};

const QEvent::Type kSendRequestEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class SendRequest : public QEvent {
 public:
  SendRequest(HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::shared_ptr<SendReply> reply)
      : QEvent(kSendRequestEvent), window(window), message(message), wParam(wParam), lParam(lParam),
        reply(std::move(reply)) {}
  // Qt deletes the event after delivery, and also when it drops it with its receiver.
  ~SendRequest() override { reply->Complete(0); }

  const HWND window;
  const UINT message;
  const WPARAM wParam;
  const LPARAM lParam;
  const std::shared_ptr<SendReply> reply;
};

LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The Qt side of a window: it lives on the owner thread, so requests posted to it run there.
class MessageWindowObject : public QObject {
 public:
  bool IsDelivering() const { return m_delivering > 0; }

 protected:
  bool event(QEvent* event) override {
    if (event->type() != kSendRequestEvent) return QObject::event(event);
    auto* request = static_cast<SendRequest*>(event);
    ++m_delivering;
    const LRESULT result = CallProcedure(request->window, request->message, request->wParam, request->lParam);
    --m_delivering;
    request->reply->Complete(result);
    return true;
  }

 private:
  int m_delivering = 0;
};

struct WindowRecord {
  MessageWindowObject* object;
  WindowProcedure procedure;
  DWORD ownerThread;
  ui_detail::WindowBinding* binding = nullptr;  // the widget side of a real window; null for message-only
};

// Every live window. Objects are only deleted after their record is gone, and requests are only
// posted while the record is held under the lock, so a posted request never meets a freed object.
struct WindowRegistry {
  std::mutex mutex;
  std::unordered_map<uintptr_t, WindowRecord> windows;
  uintptr_t nextHandle = 0x10010;  // grows by 4 per window, never reused
};

WindowRegistry& Registry() {
  // Never destroyed: threads may still end (and destroy their windows) during process exit.
  static auto* registry = new WindowRegistry;
  return *registry;
}

uintptr_t HandleValue(HWND window) { return reinterpret_cast<uintptr_t>(window); }

LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowProcedure procedure = nullptr;
  {
    WindowRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    const auto found = registry.windows.find(HandleValue(window));
    if (found == registry.windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    procedure = found->second.procedure;
  }
  // Called without the lock: the procedure may send, create or destroy windows, its own too.
  return procedure(window, message, wParam, lParam);
}

void DeleteWindowObject(MessageWindowObject* object) {
  // A procedure that destroys its own window while a request to it runs must not delete the
  // object under its own event handler; Qt deletes it once that handler has returned.
  if (object->IsDelivering()) {
    object->deleteLater();
  } else {
    delete object;
  }
}

// Destroys the windows a thread still owns when it ends, as Windows does; requests waiting for
// them are answered with 0 instead of waiting forever.
class ThreadWindows {
 public:
  ~ThreadWindows() {
    const DWORD thread = GetCurrentThreadId();
    std::vector<MessageWindowObject*> orphans;
    {
      WindowRegistry& registry = Registry();
      std::lock_guard lock(registry.mutex);
      for (auto it = registry.windows.begin(); it != registry.windows.end();) {
        if (it->second.ownerThread == thread) {
          orphans.push_back(it->second.object);
          it = registry.windows.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (MessageWindowObject* object : orphans) delete object;
    // A window that destroyed itself from its procedure waits for a deferred deletion, which this
    // thread's loop will not run any more.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

// Called after the thread's first Qt object is made, so that at thread end the windows go while
// Qt still knows the thread.
void WatchThreadEnd() { thread_local ThreadWindows threadWindows; }

}  // namespace

HWND CreateMessageWindow(WindowProcedure procedure) {
  if (procedure == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ui_detail::EnsureApplication();
  auto* object = new MessageWindowObject;
  WatchThreadEnd();
  WindowRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  const uintptr_t handle = registry.nextHandle;
  registry.nextHandle += 4;
  registry.windows.emplace(handle, WindowRecord{object, procedure, GetCurrentThreadId()});
  return reinterpret_cast<HWND>(handle);
}

BOOL DestroyWindow(HWND window) {
  MessageWindowObject* object = nullptr;
  {
    WindowRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    const auto found = registry.windows.find(HandleValue(window));
    if (found == registry.windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (found->second.ownerThread != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (found->second.binding == nullptr) {
      object = found->second.object;
      registry.windows.erase(found);
    }
  }
  // A real window has children, notifications and a widget to take down; the window code does
  // that and unregisters the handles at the end.
  if (object == nullptr) return ui_detail::DestroyRealWindow(window);
  // Requests still queued for the window are dropped with the object and answered with 0.
  DeleteWindowObject(object);
  return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto reply = std::make_shared<SendReply>();
  {
    WindowRegistry& registry = Registry();
    std::unique_lock lock(registry.mutex);
    const auto found = registry.windows.find(HandleValue(window));
    if (found == registry.windows.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (found->second.ownerThread == GetCurrentThreadId()) {
      const WindowProcedure procedure = found->second.procedure;
      lock.unlock();
      return procedure(window, message, wParam, lParam);
    }
    // The owner thread runs the procedure when it next dispatches messages; the object cannot be
    // deleted before the post, because deletion waits for this lock.
    QCoreApplication::postEvent(found->second.object, new SendRequest(window, message, wParam, lParam, reply));
  }
  return reply->Wait();
}

namespace ui_detail {

HWND RegisterWindow(WindowProcedure procedure, WindowBinding* binding) {
  // The request object lets other threads send to the window like to a message-only one.
  auto* object = new MessageWindowObject;
  WatchThreadEnd();
  WindowRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  const uintptr_t handle = registry.nextHandle;
  registry.nextHandle += 4;
  registry.windows.emplace(handle, WindowRecord{object, procedure, GetCurrentThreadId(), binding});
  return reinterpret_cast<HWND>(handle);
}

void UnregisterWindow(HWND window) {
  MessageWindowObject* object = nullptr;
  {
    WindowRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    const auto found = registry.windows.find(HandleValue(window));
    if (found == registry.windows.end()) return;
    object = found->second.object;
    registry.windows.erase(found);
  }
  DeleteWindowObject(object);
}

WindowBinding* PeekBinding(HWND window) {
  WindowRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  const auto found = registry.windows.find(HandleValue(window));
  // Widgets belong to their thread: another thread sees no real window here.
  if (found == registry.windows.end() || found->second.ownerThread != GetCurrentThreadId()) return nullptr;
  return found->second.binding;
}

WindowBinding* FindBinding(HWND window) {
  WindowBinding* binding = PeekBinding(window);
  if (binding == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return binding;
}

bool IsRegisteredWindow(HWND window) {
  WindowRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  return registry.windows.count(HandleValue(window)) != 0;
}

WindowProcedure ReplaceProcedure(HWND window, WindowProcedure replacement) {
  WindowRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  const auto found = registry.windows.find(HandleValue(window));
  if (found == registry.windows.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  const WindowProcedure previous = found->second.procedure;
  if (replacement != nullptr) found->second.procedure = replacement;
  return previous;
}

}  // namespace ui_detail

}  // namespace win
