// The thread's message loop over Qt's event dispatcher, with the Windows shape: idle processing
// while nothing is waiting, a blocking wait afterwards, and a quit message that comes after the
// messages that were waiting when it was posted.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <climits>
#include <cstdint>

#include "platform/ui/ui.h"
#include "platform/ui/ui_private.h"

namespace win {

namespace {

// The quit message of one thread. Windows keeps it as a flag beside the queue rather than as a
// queued message; here a marker event is posted when the quit is, so that everything already
// waiting is dispatched before the loop sees the quit, while later messages cannot hold it off.
struct QuitMessage {
  bool posted = false;  // posted and not yet taken by a message loop
  bool next = false;    // the marker was dispatched: nothing that was waiting before it is left
  int exitCode = 0;
  uint64_t generation = 0;  // tells a marker of an earlier quit from the current one
};
thread_local QuitMessage t_quit;

// A steady stream of new messages must not keep ProcessPendingMessages from returning.
constexpr int kMaxPendingPasses = 1000;

QAbstractEventDispatcher* CurrentDispatcher() {
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) return dispatcher;
  // A thread that never ran a Qt loop gets its dispatcher with its first event loop object.
  QEventLoop creator;
  return QAbstractEventDispatcher::instance();
}

int TakeQuitMessage() {
  const int exitCode = t_quit.exitCode;
  t_quit.posted = false;
  t_quit.next = false;
  t_quit.exitCode = 0;
  return exitCode;
}

// Deletions that Qt defers to "the event loop" (deleteLater) are done by Qt's own loops when they
// run out of events. This loop is not one of Qt's, so it does the same whenever the queue is empty;
// Qt still holds back deletions requested by a handler that is running further up the stack.
void RunDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

}  // namespace

int RunMessageLoop(const std::function<bool(int idleCount)>& onIdle) {
  ui_detail::EnsureApplication();
  QAbstractEventDispatcher* dispatcher = CurrentDispatcher();
  bool idle = true;
  int idleCount = 0;
  for (;;) {
    if (t_quit.next) return TakeQuitMessage();
    // Dispatching without waiting also answers "was a message waiting?": it was if something ran.
    if (dispatcher->processEvents(QEventLoop::AllEvents)) {
      idle = true;
      idleCount = 0;
      continue;
    }
    RunDeferredDeletes();
    if (idle) {
      idle = onIdle && onIdle(idleCount);
      if (idleCount < INT_MAX) ++idleCount;
      continue;
    }
    // Nothing waits and idling is over: sleep in the dispatcher until something arrives.
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    idle = true;
    idleCount = 0;
  }
}

void ProcessPendingMessages() {
  ui_detail::EnsureApplication();
  QAbstractEventDispatcher* dispatcher = CurrentDispatcher();
  for (int pass = 0; pass < kMaxPendingPasses && !t_quit.next; ++pass) {
    if (!dispatcher->processEvents(QEventLoop::AllEvents)) break;
  }
}

void ProcessPaintMessages() {
  QCoreApplication* application = QCoreApplication::instance();
  if (!application || QThread::currentThread() != application->thread()) return;
  // A widget's update() posts one UpdateRequest to the widget; sending only those events repaints
  // without running anything else that waits in the queue.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}

void PostQuitMessage(int exitCode) {
  ui_detail::EnsureApplication();
  t_quit.exitCode = exitCode;
  if (t_quit.posted) return;
  t_quit.posted = true;
  t_quit.next = false;
  const uint64_t generation = ++t_quit.generation;
  // The marker runs on this thread (the dispatcher lives here), so it sees this thread's state.
  // Posting wakes a dispatcher that is waiting.
  QMetaObject::invokeMethod(
      CurrentDispatcher(),
      [generation] {
        if (t_quit.posted && t_quit.generation == generation) t_quit.next = true;
      },
      Qt::QueuedConnection);
}

bool IsQuitMessagePending() { return t_quit.posted; }

}  // namespace win
