// The user-interface services the runtime relies on: the application object, the thread's message
// loop, message boxes and a hidden message-only window for cross-thread requests. Texts are ANSI
// (GBK); the stand-in converts them for Qt.
#pragma once

#include <functional>
#include <string>

#include "platform/windows_types.h"

namespace win {

// Creates the application object once (idempotent). Other calls create it on demand, so a message
// box works even when nothing set the application up, as on Windows.
void InitialiseApplication(int argc = 0, char** argv = nullptr);
bool ApplicationExists();

// The message loop of the calling (main) thread. onIdle runs while no message is waiting, with an
// idle count that starts at 0 and grows per pass; idling stops when it returns false and starts
// again, from count 0, after the next message. Returns the exit code of the quit message.
int RunMessageLoop(const std::function<bool(int idleCount)>& onIdle);
// Dispatches waiting messages until the queue is empty or a quit message is next; the quit message
// stays queued.
void ProcessPendingMessages();
// Queues the quit message with its exit code. Messages already waiting are still dispatched first.
void PostQuitMessage(int exitCode);
bool IsQuitMessagePending();

// MessageBoxA: modal, without owner when owner is null. Returns the button that closed it.
inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_ICONERROR = 0x00000010;
inline constexpr UINT MB_ICONWARNING = 0x00000030;
inline constexpr UINT MB_ICONINFORMATION = 0x00000040;
inline constexpr int IDOK = 1;
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Test hook: called with every message box right after it is shown (texts as given, GBK). When the
// hook returns a button id other than 0 the box is closed with that id.
struct MessageBoxSeen {
  std::string text;
  std::string caption;
  UINT type = 0;
};
void SetMessageBoxHookForTesting(std::function<int(const MessageBoxSeen&)> hook);

// A message-only window owned by the thread that creates it. SendMessageA from any thread runs the
// procedure on the owner thread and waits for its result.
using WindowProcedure = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
inline constexpr UINT WM_USER = 0x0400;
HWND CreateMessageWindow(WindowProcedure procedure);
BOOL DestroyWindow(HWND window);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The calling thread's id, as GetCurrentThreadId.
DWORD GetCurrentThreadId();

// Ends the process at once with the exit code, after flushing the C streams (ExitProcess).
[[noreturn]] void ExitProcess(UINT exitCode);

}  // namespace win
