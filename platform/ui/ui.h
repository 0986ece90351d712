// The user-interface services the runtime relies on: the application object, the thread's message
// loop, message boxes and a hidden message-only window for cross-thread requests. Texts are ANSI
// (GBK); the stand-in converts them for Qt.
#pragma once

#include <functional>
#include <string>

#include "platform/windows_types.h"

namespace win {

// Creates the application object once (idempotent). Other calls create it on demand, so a message
// box works even when nothing set the application up, as on Windows. The first call should come
// from the main thread: the thread that creates the application is the one that shows widgets.
// Without a display (no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM) the application draws
// offscreen instead of ending the process. The default font is the system's 12-pixel GUI face.
void InitialiseApplication(int argc = 0, char** argv = nullptr);
bool ApplicationExists();

// The message loop of the calling (main) thread. onIdle runs while no message is waiting, with an
// idle count that starts at 0 and grows per pass; idling stops when it returns false and starts
// again, from count 0, after the next message. Returns the exit code of the quit message.
int RunMessageLoop(const std::function<bool(int idleCount)>& onIdle);
// Dispatches waiting messages until the queue is empty or a quit message is next; the quit message
// stays queued. A steady stream of new messages (a zero-interval timer) does not hold the caller:
// it returns after a bounded number of passes.
void ProcessPendingMessages();
// Dispatches the waiting paint requests of the application's thread (repaints that widgets asked
// for with update()) and nothing else: user input, timers and other messages stay queued. For
// callers that block the thread while they wait, so that the windows keep their pictures. Does
// nothing on another thread or before the application exists.
void ProcessPaintMessages();
// Queues the quit message of the calling thread with its exit code. Messages already waiting are
// still dispatched first. Posting again before the loop took the quit message only replaces the
// exit code.
void PostQuitMessage(int exitCode);
bool IsQuitMessagePending();

// MessageBoxA: modal, without owner when owner is null. Returns the button that closed it, or 0
// with ERROR_INVALID_MSGBOX_STYLE for an unknown button set. The buttons carry the labels of the
// Chinese system. Escape and the close box answer IDCANCEL when the box has a Cancel button and
// IDOK for a box with only OK; other boxes must be answered with a button.
inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_OKCANCEL = 0x00000001;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
inline constexpr UINT MB_YESNOCANCEL = 0x00000003;
inline constexpr UINT MB_YESNO = 0x00000004;
inline constexpr UINT MB_RETRYCANCEL = 0x00000005;
inline constexpr UINT MB_CANCELTRYCONTINUE = 0x00000006;
inline constexpr UINT MB_ICONERROR = 0x00000010;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONWARNING = 0x00000030;
inline constexpr UINT MB_ICONINFORMATION = 0x00000040;
inline constexpr UINT MB_DEFBUTTON2 = 0x00000100;
inline constexpr UINT MB_DEFBUTTON3 = 0x00000200;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDTRYAGAIN = 10;
inline constexpr int IDCONTINUE = 11;
// Called from any thread, the box is shown by the application's thread, which must be dispatching
// messages; the caller waits for the answer.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Test hook: called with every message box right after it is shown (texts as given, GBK; a null
// text or caption is seen as empty). When the hook returns a button id other than 0 the box is
// closed with that id. The hook runs on the application's thread inside the box's own loop; pass
// an empty function to remove it.
struct MessageBoxSeen {
  std::string text;
  std::string caption;
  UINT type = 0;
};
void SetMessageBoxHookForTesting(std::function<int(const MessageBoxSeen&)> hook);

// A message-only window owned by the thread that creates it. SendMessageA from any thread runs the
// procedure on the owner thread and waits for its result; the owner thread must be dispatching
// messages (its message loop, ProcessPendingMessages or a message box), otherwise the sender waits
// until it does. The procedure receives only the messages sent to it. Sending to a destroyed or
// unknown window returns 0 with ERROR_INVALID_WINDOW_HANDLE; a request still waiting when the
// window is destroyed, or when its owner thread ends (which destroys the thread's windows, as on
// Windows), returns 0. Only the owner thread may destroy the window (else ERROR_ACCESS_DENIED).
using WindowProcedure = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
inline constexpr UINT WM_USER = 0x0400;
HWND CreateMessageWindow(WindowProcedure procedure);
BOOL DestroyWindow(HWND window);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The calling thread's id, as GetCurrentThreadId.
DWORD GetCurrentThreadId();

// Ends the process at once with the exit code, after flushing the C streams (ExitProcess). The
// process status keeps the low 8 bits of the code, so -1 is seen as 255.
[[noreturn]] void ExitProcess(UINT exitCode);

}  // namespace win
