// Real windows and the standard controls: creation and destruction order, stale handles, GBK
// texts, geometry with the frame, visibility and activation, fonts from LOGFONTA, edit filtering
// and limits, radio groups and notifications reaching the parent's procedure.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>
#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QStyle>
#include <QWindow>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ui/ui_private.h"
#include "platform/ui/window.h"
#include "platform/ui/window_private.h"
#include "platform/ui_support.h"

namespace {

using uitest::TextOf;
using uitest::WidgetOf;
using win::FALSE;
using win::HWND;
using win::TRUE;
using win::LPARAM;
using win::LRESULT;
using win::UINT;
using win::WPARAM;

// GBK bytes of the Chinese texts used below (code page 936).
constexpr char kZhong[] = "\xD6\xD0";           // 中
constexpr char kZhongWen[] = "\xD6\xD0\xCE\xC4";  // 中文
constexpr char kSongTi[] = "\xCB\xCE\xCC\xE5";  // 宋体

struct Seen {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen> g_seen;
// What the recording procedure does besides recording; reset by the fixture.
std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT&)> g_override;

LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back({window, message, wParam, lParam});
  LRESULT result = 0;
  if (g_override && g_override(window, message, wParam, lParam, result)) return result;
  return win::DefWindowProcA(window, message, wParam, lParam);
}

std::vector<HWND> WindowsThatGot(UINT message) {
  std::vector<HWND> windows;
  for (const Seen& seen : g_seen) {
    if (seen.message == message) windows.push_back(seen.window);
  }
  return windows;
}

void TypeText(QWidget* widget, const QString& text, int key = 0, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(widget, &release);
}

void TypeEach(QWidget* widget, const QString& characters) {
  for (QChar c : characters) TypeText(widget, QString(c), c.toUpper().unicode());
}

void CommitInputMethodText(QWidget* widget, const QString& text) {
  QInputMethodEvent event;
  event.setCommitString(text);
  QApplication::sendEvent(widget, &event);
}

void Paste(QWidget* widget, const QString& clipboardText) {
  QApplication::clipboard()->setText(clipboardText);
  TypeText(widget, QString(), Qt::Key_V, Qt::ControlModifier);
}

class UiWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    win::InitialiseApplication();
    win::WNDCLASSA windowClass;
    windowClass.lpfnWndProc = RecordingProcedure;
    windowClass.lpszClassName = "TestFrame";
    win::RegisterClassA(&windowClass);
  }
  void SetUp() override {
    g_seen.clear();
    g_override = nullptr;
  }
  void TearDown() override {
    // The test's override may capture its locals, which are gone by now.
    g_override = nullptr;
    for (HWND window : m_windows) {
      if (win::IsWindow(window)) win::DestroyWindow(window);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  HWND TopLevel(win::DWORD style = win::WS_CAPTION | win::WS_SYSMENU | win::WS_MINIMIZEBOX, int x = 50, int y = 40,
                int width = 442, int height = 262) {
    const HWND window =
        win::CreateWindowExA(0, "TestFrame", "frame", style, x, y, width, height, nullptr, nullptr, nullptr, nullptr);
    m_windows.push_back(window);
    return window;
  }
  static HWND Child(HWND parent, const char* className, win::DWORD style, int id, int x = 8, int y = 8, int width = 100,
                    int height = 24, win::DWORD exStyle = 0, const char* text = "") {
    return win::CreateWindowExA(exStyle, className, text, win::WS_CHILD | win::WS_VISIBLE | style, x, y, width, height,
                                parent, reinterpret_cast<win::HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
  }
  // The WM_COMMAND notifications the frame received, as (id, code, control).
  static std::vector<std::tuple<unsigned, unsigned, HWND>> Commands() {
    std::vector<std::tuple<unsigned, unsigned, HWND>> commands;
    for (const Seen& seen : g_seen) {
      if (seen.message == win::WM_COMMAND) {
        commands.emplace_back(win::LOWORD(seen.wParam), win::HIWORD(seen.wParam), reinterpret_cast<HWND>(seen.lParam));
      }
    }
    return commands;
  }

  std::vector<HWND> m_windows;
};

// ---------------------------------------------------------------------------------------------
// Creation, destruction and handles

TEST_F(UiWindowTest, DestroyingSendsDestroyToParentFirstAndTakesChildrenDownFirst) {
  const HWND frame = TopLevel();
  const HWND panel = Child(frame, "TestFrame", 0, 1, 0, 0, 200, 100);
  const HWND inner = Child(panel, "TestFrame", 0, 2);
  const HWND edit = Child(frame, "EDIT", 0, 3);
  ASSERT_NE(frame, nullptr);
  ASSERT_NE(inner, nullptr);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(WindowsThatGot(win::WM_CREATE), (std::vector<HWND>{frame, panel, inner}));

  bool childrenAliveDuringParentDestroy = false;
  g_override = [&](HWND window, UINT message, WPARAM, LPARAM, LRESULT&) {
    if (message == win::WM_DESTROY && window == frame) {
      childrenAliveDuringParentDestroy = win::IsWindow(panel) && win::IsWindow(inner) && win::IsWindow(edit);
    }
    // Destroying again on the way must not send anything twice.
    if (message == win::WM_DESTROY) {
      EXPECT_TRUE(win::DestroyWindow(window));
    }
    return false;
  };
  g_seen.clear();
  EXPECT_TRUE(win::DestroyWindow(frame));
  EXPECT_TRUE(childrenAliveDuringParentDestroy);
  EXPECT_EQ(WindowsThatGot(win::WM_DESTROY), (std::vector<HWND>{frame, panel, inner}));
  EXPECT_EQ(WindowsThatGot(win::WM_NCDESTROY), (std::vector<HWND>{inner, panel, frame}));
  for (HWND window : {frame, panel, inner, edit}) EXPECT_FALSE(win::IsWindow(window));

  win::SetLastError(0xdeadbeef);
  EXPECT_FALSE(win::DestroyWindow(frame));
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(UiWindowTest, CreateReturningMinusOneRefusesTheWindow) {
  g_override = [](HWND, UINT message, WPARAM, LPARAM, LRESULT& result) {
    result = -1;
    return message == win::WM_CREATE;
  };
  const HWND frame = TopLevel();
  EXPECT_EQ(frame, nullptr);
  ASSERT_EQ(WindowsThatGot(win::WM_CREATE).size(), 1u);
  EXPECT_FALSE(win::IsWindow(WindowsThatGot(win::WM_CREATE)[0]));
}

TEST_F(UiWindowTest, CreationFailuresGiveTheWindowsErrors) {
  struct Case {
    const char* className;
    win::DWORD style;
    HWND parent;
    win::DWORD error;
  };
  const HWND message = win::CreateMessageWindow(RecordingProcedure);
  const Case cases[] = {
      {"NoSuchClass", 0, nullptr, win::ERROR_CANNOT_FIND_WND_CLASS},
      {"EDIT", win::WS_CHILD, nullptr, win::ERROR_TLW_WITH_WSCHILD},
      {"EDIT", win::WS_CHILD, reinterpret_cast<HWND>(0xdead0), win::ERROR_INVALID_WINDOW_HANDLE},
      {"EDIT", win::WS_CHILD, message, win::ERROR_INVALID_WINDOW_HANDLE},
      {nullptr, 0, nullptr, win::ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    win::SetLastError(0xdeadbeef);
    EXPECT_EQ(win::CreateWindowExA(0, c.className, "", c.style, 0, 0, 10, 10, c.parent, nullptr, nullptr, nullptr),
              nullptr)
        << (c.className ? c.className : "(null)");
    EXPECT_EQ(win::GetLastError(), c.error) << (c.className ? c.className : "(null)");
  }
  win::DestroyWindow(message);

  // Widgets belong to the application's thread.
  win::DWORD threadError = 0;
  HWND fromThread = reinterpret_cast<HWND>(1);
  std::thread([&] {
    fromThread = win::CreateWindowExA(0, "TestFrame", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    threadError = win::GetLastError();
  }).join();
  EXPECT_EQ(fromThread, nullptr);
  EXPECT_EQ(threadError, win::ERROR_ACCESS_DENIED);

  win::WNDCLASSA duplicate;
  duplicate.lpfnWndProc = RecordingProcedure;
  for (const char* name : {"testframe", "Edit", "BUTTON"}) {
    duplicate.lpszClassName = name;
    win::SetLastError(0);
    EXPECT_EQ(win::RegisterClassA(&duplicate), 0) << name;
    EXPECT_EQ(win::GetLastError(), win::ERROR_CLASS_ALREADY_EXISTS) << name;
  }
}

TEST_F(UiWindowTest, StaleUnknownAndMessageOnlyHandlesAreRefusedEverywhere) {
  const HWND frame = TopLevel();
  win::DestroyWindow(frame);
  const HWND message = win::CreateMessageWindow(RecordingProcedure);
  for (HWND bad : {HWND{}, frame, reinterpret_cast<HWND>(0x12345), message}) {
    win::RECT rect{1, 2, 3, 4};
    win::POINT point{5, 6};
    char text[8] = "xyz";
    win::SetLastError(0xdeadbeef);
    EXPECT_FALSE(win::ShowWindow(bad, win::SW_SHOW));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(win::GetWindowRect(bad, &rect));
    EXPECT_FALSE(win::GetClientRect(bad, &rect));
    EXPECT_FALSE(win::ScreenToClient(bad, &point));
    EXPECT_FALSE(win::MoveWindow(bad, 0, 0, 1, 1, TRUE));
    EXPECT_FALSE(win::IsWindowVisible(bad));
    EXPECT_FALSE(win::IsWindowEnabled(bad));
    EXPECT_EQ(win::GetParent(bad), nullptr);
    EXPECT_EQ(win::GetDlgCtrlID(bad), 0);
    EXPECT_EQ(win::SetParent(bad, nullptr), nullptr);
    EXPECT_FALSE(win::SetControlColors(bad, 0, 0));
    EXPECT_FALSE(win::SetEditInputFilter(bad, {}));
    EXPECT_EQ(rect.left, 1);
    EXPECT_EQ(point.x, 5);
    if (bad != message) {
      EXPECT_EQ(win::GetWindowTextA(bad, text, sizeof text), 0);
      EXPECT_EQ(text[0], '\0');
      EXPECT_FALSE(win::SetWindowTextA(bad, "a"));
      EXPECT_EQ(win::SendMessageA(bad, win::WM_GETTEXTLENGTH, 0, 0), 0);
    }
  }
  // The message-only window itself is untouched by all this.
  EXPECT_TRUE(win::IsWindow(message));
  EXPECT_TRUE(win::DestroyWindow(message));
}

TEST_F(UiWindowTest, CloseBoxSendsCloseAndTheDefaultDestroys) {
  const HWND kept = TopLevel();
  g_override = [kept](HWND window, UINT message, WPARAM, LPARAM, LRESULT&) {
    return window == kept && message == win::WM_CLOSE;  // this window refuses to close
  };
  const HWND closed = TopLevel();
  WidgetOf(kept)->close();
  WidgetOf(closed)->close();
  EXPECT_TRUE(win::IsWindow(kept));
  EXPECT_FALSE(win::IsWindow(closed));
  EXPECT_EQ(WindowsThatGot(win::WM_CLOSE), (std::vector<HWND>{kept, closed}));
  EXPECT_EQ(WindowsThatGot(win::WM_DESTROY), (std::vector<HWND>{closed}));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// ---------------------------------------------------------------------------------------------
// Texts

TEST_F(UiWindowTest, WindowTextsRoundTripInGbk) {
  const HWND frame = TopLevel();
  const HWND edit = Child(frame, "EDIT", 0, 1);
  const HWND button = Child(frame, "BUTTON", 0, 2);
  const HWND label = Child(frame, "STATIC", 0, 3);
  const std::string text = std::string(kZhongWen) + "abc";
  for (HWND window : {frame, edit, button, label}) {
    ASSERT_TRUE(win::SetWindowTextA(window, text.c_str()));
    EXPECT_EQ(TextOf(window), text);
    EXPECT_EQ(win::GetWindowTextLengthA(window), 7);
  }
  EXPECT_EQ(WidgetOf(frame)->windowTitle(), QString::fromUtf8("中文abc"));
  EXPECT_EQ(qobject_cast<QLineEdit*>(WidgetOf(edit))->text(), QString::fromUtf8("中文abc"));

  // A short buffer is cut at a character boundary, never inside a double-byte character.
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(win::GetWindowTextA(edit, small, 4), 2);
  EXPECT_EQ(std::string(small), kZhong);
  EXPECT_EQ(win::GetWindowTextA(edit, small, 1), 0);
  EXPECT_EQ(small[0], '\0');

  // Text typed by the user that GBK cannot hold reads back as '?'.
  qobject_cast<QLineEdit*>(WidgetOf(edit))->setText(QString::fromUtf8("a\U0001F600b"));
  EXPECT_EQ(TextOf(edit), "a?b");

  // A multi-line box keeps Windows line breaks.
  const HWND box = Child(frame, "EDIT", win::ES_MULTILINE, 4);
  win::SetWindowTextA(box, "one\r\ntwo");
  EXPECT_EQ(TextOf(box), "one\r\ntwo");
  EXPECT_EQ(win::GetWindowTextLengthA(box), 8);
  // Enter breaks the line in a multi-line box.
  win::SendMessageA(box, win::EM_SETSEL, 3, 3);
  TypeText(WidgetOf(box), QStringLiteral("\r"), Qt::Key_Return);
  EXPECT_EQ(TextOf(box), "one\r\n\r\ntwo");
  win::SetWindowTextA(box, nullptr);
  EXPECT_EQ(win::GetWindowTextLengthA(box), 0);
}

// ---------------------------------------------------------------------------------------------

TEST_F(UiWindowTest, LineBreaksReadBackAsTheyWereWritten) {
  const HWND frame = TopLevel();
  const HWND windows[] = {frame, Child(frame, "EDIT", 0, 1), Child(frame, "BUTTON", 0, 2),
                          Child(frame, "STATIC", 0, 3), Child(frame, "EDIT", win::ES_MULTILINE, 4)};
  for (const char* text : {"a\rb", "a\nb", "a\r\nb", "\r", "\r\r\n\n", "x\r"}) {
    for (HWND window : windows) {
      win::SetWindowTextA(window, text);
      EXPECT_EQ(TextOf(window), text) << win::GetDlgCtrlID(window);
      EXPECT_EQ(win::GetWindowTextLengthA(window), static_cast<int>(std::strlen(text)));
    }
  }
  win::SetWindowTextA(frame, "a\rb");
  EXPECT_EQ(WidgetOf(frame)->windowTitle(), QStringLiteral("a\nb"));  // shown as a line break

  // In the multi-line box every break keeps its kind through the user's and the program's edits:
  // Enter adds the box's own CR LF, a replacement across a break leaves the break that ended it.
  const HWND box = windows[4];
  win::SetWindowTextA(box, "one\rtwo");
  win::SendMessageA(box, win::EM_SETSEL, 6, 6);
  TypeText(WidgetOf(box), QStringLiteral("\r"), Qt::Key_Return);
  EXPECT_EQ(TextOf(box), "one\rtw\r\no");
  win::SendMessageA(box, win::EM_SETSEL, 2, 6);
  win::SendMessageA(box, win::EM_REPLACESEL, 0, reinterpret_cast<win::LPARAM>("X\nY"));
  EXPECT_EQ(TextOf(box), "onX\nY\r\no");
  win::SendMessageA(box, win::EM_SETSEL, 4, 4);
  TypeText(WidgetOf(box), QString(), Qt::Key_Backspace);
  EXPECT_EQ(TextOf(box), "onXY\r\no");
}
// Geometry

TEST_F(UiWindowTest, CaptionedFixedWindowHasExactlyTheOuterSizeAskedFor) {
  const HWND frame = TopLevel(win::WS_CAPTION | win::WS_SYSMENU | win::WS_MINIMIZEBOX, 50, 40, 442, 262);
  QWidget* widget = WidgetOf(frame);
  for (int pass = 0; pass < 2; ++pass) {
    win::RECT outer{};
    ASSERT_TRUE(win::GetWindowRect(frame, &outer));
    EXPECT_EQ(outer.left, 50);
    EXPECT_EQ(outer.top, 40);
    EXPECT_EQ(outer.right - outer.left, 442);
    EXPECT_EQ(outer.bottom - outer.top, 262);
    // The client area is what the frame leaves, and the frame cannot be dragged to another size.
    const QMargins margins = widget->windowHandle()->frameMargins();
    win::RECT client{};
    win::GetClientRect(frame, &client);
    EXPECT_EQ(client.right, 442 - margins.left() - margins.right());
    EXPECT_EQ(client.bottom, 262 - margins.top() - margins.bottom());
    EXPECT_EQ(widget->minimumSize(), widget->maximumSize());
    win::ShowWindow(frame, win::SW_SHOW);
    win::ProcessPendingMessages();
  }
  const Qt::WindowFlags flags = widget->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

  // Moving keeps the size; centring uses the screen size.
  const int x = (win::GetSystemMetrics(win::SM_CXSCREEN) - 442) / 2;
  const int y = (win::GetSystemMetrics(win::SM_CYSCREEN) - 262) / 2;
  EXPECT_GT(win::GetSystemMetrics(win::SM_CXSCREEN), 0);
  g_seen.clear();
  EXPECT_TRUE(win::SetWindowPos(frame, nullptr, x, y, 0, 0, win::SWP_NOSIZE | win::SWP_NOZORDER));
  win::RECT moved{};
  win::GetWindowRect(frame, &moved);
  EXPECT_EQ(moved.left, x);
  EXPECT_EQ(moved.top, y);
  EXPECT_EQ(moved.right - moved.left, 442);
  // Moving tells the procedure where the client area went; the size did not change.
  ASSERT_EQ(WindowsThatGot(win::WM_MOVE).size(), 1u);
  EXPECT_TRUE(WindowsThatGot(win::WM_SIZE).empty());
  win::POINT clientOrigin{0, 0};
  win::ClientToScreen(frame, &clientOrigin);
  for (const Seen& seen : g_seen) {
    if (seen.message != win::WM_MOVE) continue;
    EXPECT_EQ(static_cast<int>(win::LOWORD(seen.lParam)), clientOrigin.x);
    EXPECT_EQ(static_cast<int>(win::HIWORD(seen.lParam)), clientOrigin.y);
  }
  g_seen.clear();
  win::MoveWindow(frame, x, y, 300, 200, TRUE);
  ASSERT_EQ(WindowsThatGot(win::WM_SIZE).size(), 1u);
  win::RECT resizedClient{};
  win::GetClientRect(frame, &resizedClient);
  for (const Seen& seen : g_seen) {
    if (seen.message != win::WM_SIZE) continue;
    EXPECT_EQ(static_cast<int>(win::LOWORD(seen.lParam)), resizedClient.right);
    EXPECT_EQ(static_cast<int>(win::HIWORD(seen.lParam)), resizedClient.bottom);
  }
  win::RECT resized{};
  win::GetWindowRect(frame, &resized);
  EXPECT_EQ(resized.right - resized.left, 300);
  EXPECT_EQ(resized.bottom - resized.top, 200);
  win::RECT work{};
  EXPECT_TRUE(win::SystemParametersInfoA(win::SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_GT(work.right, work.left);

  // A sizeable frame is not fixed.
  const HWND sizeable = TopLevel(win::WS_CAPTION | win::WS_THICKFRAME);
  EXPECT_NE(WidgetOf(sizeable)->minimumSize(), WidgetOf(sizeable)->maximumSize());
}

TEST_F(UiWindowTest, ChildPositionsAreClientCoordinatesOfTheParent) {
  const HWND frame = TopLevel();
  win::ShowWindow(frame, win::SW_SHOW);
  const HWND edit = Child(frame, "EDIT", 0, 1, 16, 152, 120, 24, win::WS_EX_CLIENTEDGE);
  const HWND label = Child(frame, "STATIC", 0, 2, 8, 40, 56, 40);
  for (auto [window, x, y, w, h] : {std::tuple{edit, 16, 152, 120, 24}, std::tuple{label, 8, 40, 56, 40}}) {
    win::RECT rect{};
    ASSERT_TRUE(win::GetWindowRect(window, &rect));
    win::POINT corner{rect.left, rect.top};
    ASSERT_TRUE(win::ScreenToClient(frame, &corner));
    EXPECT_EQ(corner.x, x);
    EXPECT_EQ(corner.y, y);
    EXPECT_EQ(rect.right - rect.left, w);
    EXPECT_EQ(rect.bottom - rect.top, h);
  }
  // The client edge of the edit box takes two pixels on every side.
  win::RECT client{};
  win::GetClientRect(edit, &client);
  EXPECT_EQ(client.right, 116);
  EXPECT_EQ(client.bottom, 20);
  win::POINT origin{0, 0};
  win::MapWindowPoints(edit, frame, &origin, 1);
  EXPECT_EQ(origin.x, 18);
  EXPECT_EQ(origin.y, 154);

  g_seen.clear();
  EXPECT_TRUE(win::MoveWindow(label, 30, 60, 70, 20, TRUE));
  win::RECT rect{};
  win::GetWindowRect(label, &rect);
  win::POINT corner{rect.left, rect.top};
  win::ScreenToClient(frame, &corner);
  EXPECT_EQ(corner.x, 30);
  EXPECT_EQ(corner.y, 60);
  EXPECT_EQ(rect.right - rect.left, 70);
  EXPECT_EQ(win::GetDlgCtrlID(label), 2);
  EXPECT_EQ(win::GetParent(label), frame);
  EXPECT_EQ(win::GetParent(frame), nullptr);
}

TEST_F(UiWindowTest, SetParentMovesAChildKeepingItsPlaceAndVisibility) {
  const HWND frame = TopLevel();
  win::ShowWindow(frame, win::SW_SHOW);
  const HWND panel = Child(frame, "TestFrame", 0, 1, 100, 50, 200, 100);
  const HWND label = Child(frame, "STATIC", 0, 2, 10, 20, 30, 15);
  EXPECT_EQ(win::SetParent(label, panel), frame);
  EXPECT_EQ(win::GetParent(label), panel);
  EXPECT_TRUE(win::IsWindowVisible(label));
  win::RECT rect{};
  win::GetWindowRect(label, &rect);
  win::POINT corner{rect.left, rect.top};
  win::ScreenToClient(panel, &corner);
  EXPECT_EQ(corner.x, 10);
  EXPECT_EQ(corner.y, 20);
  // A window cannot become a child of its own child, nor of itself.
  win::SetLastError(0);
  EXPECT_EQ(win::SetParent(panel, label), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(win::SetParent(panel, panel), nullptr);
  EXPECT_EQ(win::GetParent(panel), frame);
  // Destroying the new parent takes the moved child along.
  win::DestroyWindow(panel);
  EXPECT_FALSE(win::IsWindow(label));

  // An owned pop-up reports its owner as parent; an owned overlapped window does not.
  const HWND popup = win::CreateWindowExA(0, "TestFrame", "", win::WS_POPUP, 0, 0, 50, 50, frame, nullptr, nullptr,
                                          nullptr);
  const HWND owned = win::CreateWindowExA(0, "TestFrame", "", win::WS_CAPTION, 0, 0, 50, 50, frame, nullptr, nullptr,
                                          nullptr);
  EXPECT_EQ(win::GetParent(popup), frame);
  EXPECT_EQ(win::GetParent(owned), nullptr);
  win::DestroyWindow(frame);
  EXPECT_FALSE(win::IsWindow(popup));
  EXPECT_FALSE(win::IsWindow(owned));
}

TEST_F(UiWindowTest, StackingOrderFollowsCreationAndInsertAfter) {
  const HWND frame = TopLevel();
  const HWND a = Child(frame, "STATIC", 0, 1);
  const HWND b = Child(frame, "STATIC", 0, 2);
  const HWND c = Child(frame, "STATIC", 0, 3);
  auto order = [&] {
    std::vector<HWND> windows;
    for (HWND w = win::GetWindow(frame, win::GW_CHILD); w != nullptr; w = win::GetWindow(w, win::GW_HWNDNEXT)) {
      windows.push_back(w);
    }
    return windows;
  };
  EXPECT_EQ(order(), (std::vector<HWND>{a, b, c}));
  win::SetWindowPos(c, win::HWND_TOP, 0, 0, 0, 0, win::SWP_NOMOVE | win::SWP_NOSIZE);
  EXPECT_EQ(order(), (std::vector<HWND>{c, a, b}));
  win::SetWindowPos(c, b, 0, 0, 0, 0, win::SWP_NOMOVE | win::SWP_NOSIZE);
  EXPECT_EQ(order(), (std::vector<HWND>{a, b, c}));
  win::SetWindowPos(a, win::HWND_BOTTOM, 0, 0, 0, 0, win::SWP_NOMOVE | win::SWP_NOSIZE | win::SWP_NOACTIVATE);
  EXPECT_EQ(order(), (std::vector<HWND>{b, c, a}));
  // SWP_NOZORDER leaves the order alone.
  win::SetWindowPos(a, win::HWND_TOP, 1, 1, 5, 5, win::SWP_NOZORDER);
  EXPECT_EQ(order(), (std::vector<HWND>{b, c, a}));
  // An invalid insert-after window refuses the whole call: nothing moves.
  win::SetLastError(0);
  EXPECT_FALSE(win::SetWindowPos(b, reinterpret_cast<HWND>(0x777), 90, 90, 9, 9, 0));
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_WINDOW_HANDLE);
  win::RECT rect{};
  win::GetWindowRect(b, &rect);
  EXPECT_EQ(rect.right - rect.left, 100);
  EXPECT_EQ(win::GetWindow(b, win::GW_HWNDPREV), nullptr);
  EXPECT_EQ(win::GetWindow(a, win::GW_HWNDPREV), c);
}

// ---------------------------------------------------------------------------------------------
// Visibility, activation, enabled state

TEST_F(UiWindowTest, ChildrenShowOnlyWithTheVisibleStyleAndShowNaDoesNotActivate) {
  const HWND first = TopLevel();
  const HWND shown = Child(first, "STATIC", 0, 1);
  const HWND hidden = win::CreateWindowExA(0, "STATIC", "", win::WS_CHILD, 0, 0, 5, 5, first, nullptr, nullptr, nullptr);
  EXPECT_FALSE(win::IsWindowVisible(shown));  // its parent is not shown yet
  EXPECT_FALSE(win::ShowWindow(first, win::SW_SHOW));
  win::ProcessPendingMessages();
  EXPECT_TRUE(win::IsWindowVisible(shown));
  EXPECT_FALSE(win::IsWindowVisible(hidden));
  EXPECT_EQ(win::GetForegroundWindow(), first);

  const HWND second = TopLevel();
  EXPECT_FALSE(win::ShowWindow(second, win::SW_SHOWNA));
  win::ProcessPendingMessages();
  EXPECT_TRUE(win::IsWindowVisible(second));
  EXPECT_EQ(win::GetActiveWindow(), first);
  EXPECT_TRUE(win::SetForegroundWindow(second));
  win::ProcessPendingMessages();
  EXPECT_EQ(win::GetActiveWindow(), second);

  EXPECT_TRUE(win::ShowWindow(second, win::SW_MINIMIZE));
  EXPECT_TRUE(win::IsIconic(second));
  EXPECT_TRUE(win::IsWindowVisible(second));
  win::ShowWindow(second, win::SW_RESTORE);
  EXPECT_FALSE(win::IsIconic(second));
  EXPECT_TRUE(win::ShowWindow(second, win::SW_HIDE));
  EXPECT_FALSE(win::IsWindowVisible(second));
}

TEST_F(UiWindowTest, FocusMovesBetweenControlsAndHidesTheSelectionOfTheOneLeft) {
  const HWND frame = TopLevel();
  const HWND one = Child(frame, "EDIT", win::WS_TABSTOP, 1);
  const HWND two = Child(frame, "EDIT", win::WS_TABSTOP | win::ES_MULTILINE, 2);
  const HWND keeps = Child(frame, "EDIT", win::ES_NOHIDESEL, 3);
  win::ShowWindow(frame, win::SW_SHOW);
  win::ProcessPendingMessages();
  win::SetFocus(one);
  win::ProcessPendingMessages();
  EXPECT_EQ(win::GetFocus(), one);
  auto selectionShown = [](HWND edit) {
    const QPalette palette = WidgetOf(edit)->palette();
    return palette.color(QPalette::Active, QPalette::Highlight) != palette.color(QPalette::Active, QPalette::Base);
  };
  EXPECT_TRUE(selectionShown(one));
  EXPECT_FALSE(selectionShown(two));
  EXPECT_TRUE(selectionShown(keeps));

  g_seen.clear();
  EXPECT_EQ(win::SetFocus(two), one);
  EXPECT_EQ(win::GetFocus(), two);
  EXPECT_FALSE(selectionShown(one));
  EXPECT_TRUE(selectionShown(two));
  using Command = std::tuple<unsigned, unsigned, HWND>;
  EXPECT_EQ(Commands(), (std::vector<Command>{{1, win::EN_KILLFOCUS, one}, {2, win::EN_SETFOCUS, two}}));
  EXPECT_EQ(win::SetFocus(nullptr), two);
  EXPECT_EQ(win::GetFocus(), nullptr);
}

TEST_F(UiWindowTest, DisabledWindowsReportTheirOwnFlagAndIgnoreClicks) {
  const HWND frame = TopLevel();
  const HWND button = Child(frame, "BUTTON", win::WS_DISABLED, 7);
  EXPECT_FALSE(win::IsWindowEnabled(button));
  EXPECT_TRUE(win::EnableWindow(button, TRUE));  // it was disabled
  EXPECT_TRUE(win::IsWindowEnabled(button));
  EXPECT_FALSE(win::EnableWindow(frame, FALSE));
  // A child of a disabled window keeps its own flag, as on Windows, but cannot be clicked.
  EXPECT_TRUE(win::IsWindowEnabled(button));
  EXPECT_FALSE(win::IsWindowEnabled(frame));
  g_seen.clear();
  win::SendMessageA(button, win::BM_CLICK, 0, 0);
  EXPECT_TRUE(Commands().empty());
  EXPECT_TRUE(win::GetWindowLongPtrA(frame, win::GWL_STYLE) & win::WS_DISABLED);
}

// ---------------------------------------------------------------------------------------------
// Fonts and colours

TEST_F(UiWindowTest, FontComesFromASixtyByteLogFont) {
  // Built byte by byte in the Windows layout, as a stored font blob arrives.
  unsigned char blob[60] = {};
  const int32_t height = -24;
  const int32_t weight = 700;
  std::memcpy(blob + 0, &height, 4);
  std::memcpy(blob + 16, &weight, 4);
  blob[20] = 1;  // italic
  blob[21] = 1;  // underline
  blob[23] = 134;  // GB2312 character set
  std::memcpy(blob + 28, kSongTi, 4);
  win::LOGFONTA logFont;
  std::memcpy(&logFont, blob, sizeof blob);
  const win::HFONT font = win::CreateFontIndirectA(&logFont);
  ASSERT_NE(font, nullptr);

  const HWND frame = TopLevel();
  const HWND label = Child(frame, "STATIC", 0, 1);
  EXPECT_EQ(win::SendMessageA(label, win::WM_GETFONT, 0, 0), 0);
  win::SendMessageA(label, win::WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  EXPECT_EQ(win::SendMessageA(label, win::WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
  const QFont applied = WidgetOf(label)->font();
  EXPECT_EQ(applied.pixelSize(), 24);
  EXPECT_EQ(applied.weight(), QFont::Bold);
  EXPECT_TRUE(applied.italic());
  EXPECT_TRUE(applied.underline());
  EXPECT_FALSE(applied.strikeOut());
  EXPECT_EQ(applied.families().value(0), QString::fromUtf8("宋体"));

  win::LOGFONTA back;
  EXPECT_EQ(win::GetObjectA(font, sizeof back, &back), 60);
  EXPECT_EQ(std::memcmp(&back, blob, 60), 0);
  EXPECT_EQ(win::GetObjectA(font, 59, &back), 0);

  // A deleted font is refused afterwards; the window keeps drawing with its copy.
  EXPECT_TRUE(win::DeleteObject(font));
  EXPECT_FALSE(win::DeleteObject(font));
  EXPECT_EQ(WidgetOf(label)->font().pixelSize(), 24);

  // The default GUI font is the application's 12-pixel face and is never deleted.
  const auto stock = static_cast<win::HFONT>(win::GetStockObject(win::DEFAULT_GUI_FONT));
  EXPECT_TRUE(win::DeleteObject(stock));
  EXPECT_EQ(win::GetObjectA(stock, sizeof back, &back), 60);
  EXPECT_EQ(back.lfHeight, -12);
  win::SendMessageA(label, win::WM_SETFONT, reinterpret_cast<WPARAM>(stock), FALSE);
  EXPECT_EQ(WidgetOf(label)->font().pixelSize(), 12);
  EXPECT_EQ(WidgetOf(label)->font().family(), QApplication::font().family());

  // An empty face and a positive cell height: the default face, a character smaller than the cell.
  win::LOGFONTA cell;
  cell.lfHeight = 20;
  const win::HFONT cellFont = win::CreateFontIndirectA(&cell);
  const QFont fromCell = win::ui_detail::FontOf(cellFont);
  EXPECT_EQ(fromCell.family(), QApplication::font().family());
  EXPECT_GT(fromCell.pixelSize(), 10);
  EXPECT_LT(fromCell.pixelSize(), 20);
  EXPECT_EQ(fromCell.weight(), QFont::Normal);
  win::DeleteObject(cellFont);
}

TEST_F(UiWindowTest, ControlColoursAreDrawnAndTheWindowGrabsToPng) {
  EXPECT_EQ(win::GetSysColor(win::COLOR_BTNFACE), win::RGB(240, 240, 240));
  const HWND frame = TopLevel();
  win::SetControlColors(frame, win::CLR_INVALID, win::GetSysColor(win::COLOR_BTNFACE));
  const HWND label = Child(frame, "STATIC", 0, 1, 10, 10, 60, 30, 0, "");
  const HWND answer = Child(frame, "EDIT", win::ES_MULTILINE | win::ES_READONLY, 2, 10, 50, 100, 40);
  win::SetControlColors(label, win::RGB(0, 0, 0), win::RGB(0, 0, 255));
  win::SetControlColors(answer, win::RGB(0, 255, 0), win::RGB(0, 0, 0));
  win::ShowWindow(frame, win::SW_SHOW);
  win::ProcessPendingMessages();

  const std::string path = testing::TempDir() + "ui_window_grab.png";
  ASSERT_TRUE(win::GrabWindowToPngForTesting(frame, path.c_str()));
  QImage image(QString::fromStdString(path));
  ASSERT_FALSE(image.isNull());
  win::RECT client{};
  win::GetClientRect(frame, &client);
  EXPECT_EQ(image.width() / image.devicePixelRatio(), client.right);
  EXPECT_EQ(image.pixelColor(2, 2), QColor(240, 240, 240));
  EXPECT_EQ(image.pixelColor(40, 25), QColor(0, 0, 255));
  EXPECT_EQ(image.pixelColor(60, 80), QColor(0, 0, 0));
  std::remove(path.c_str());
  EXPECT_FALSE(win::GrabWindowToPngForTesting(frame, nullptr));
}

// WS_EX_CLIENTEDGE: the square sunken edge of the standard edit control, two lines of system
// colours that show on any background, and single-line text that starts at the top of the box.
TEST_F(UiWindowTest, EditBoxesDrawTheSunkenClientEdgeAndTopAlignedText) {
  const HWND frame = TopLevel();
  const HWND line = Child(frame, "EDIT", 0, 1, 10, 10, 120, 40, win::WS_EX_CLIENTEDGE, "WWW");
  const HWND box = Child(frame, "EDIT", win::ES_MULTILINE, 2, 10, 60, 120, 40, win::WS_EX_CLIENTEDGE, "");
  win::SetControlColors(box, win::RGB(0, 255, 0), win::RGB(0, 0, 0));
  win::ShowWindow(frame, win::SW_SHOW);
  win::ProcessPendingMessages();
  for (HWND edit : {line, box}) {
    const QImage image = WidgetOf(edit)->grab().toImage();
    const struct {
      int x, y;
      int colour;
    } kEdge[] = {{0, 0, win::COLOR_BTNSHADOW},      {60, 0, win::COLOR_BTNSHADOW},  {0, 20, win::COLOR_BTNSHADOW},
                 {1, 1, win::COLOR_3DDKSHADOW},     {60, 1, win::COLOR_3DDKSHADOW}, {119, 39, win::COLOR_BTNHIGHLIGHT},
                 {60, 39, win::COLOR_BTNHIGHLIGHT}, {118, 38, win::COLOR_3DLIGHT},  {118, 20, win::COLOR_3DLIGHT}};
    for (const auto& point : kEdge) {
      const win::COLORREF c = win::GetSysColor(point.colour);
      EXPECT_EQ(image.pixelColor(point.x, point.y), QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF))
          << point.x << "," << point.y;
    }
  }
  EXPECT_EQ(WidgetOf(box)->grab().toImage().pixelColor(60, 20), QColor(0, 0, 0));
  // The text's ink lies in the top half of the 40-pixel box, not around its middle.
  const QImage text = WidgetOf(line)->grab().toImage();
  int lowest = -1;
  for (int y = 2; y < 38; ++y)
    for (int x = 2; x < 118; ++x)
      if (text.pixelColor(x, y).lightness() < 128) lowest = y;
  EXPECT_GT(lowest, 2);
  EXPECT_LT(lowest, 18);
}

TEST_F(UiWindowTest, RadioCaptionBesideTheIndicatorHasRoomForItsText) {
  const HWND frame = TopLevel();
  const HWND radio = Child(frame, "BUTTON", win::BS_AUTORADIOBUTTON, 1, 8, 8, 56, 24, 0, "Rankles");
  QWidget* widget = WidgetOf(radio);
  ASSERT_NE(widget, nullptr);
  // The 13-pixel circle and its 3-pixel gap leave the rest of the width to the caption, which the
  // default GUI face, drawn with whole-pixel glyphs, fits into: this word takes all 40 pixels.
  const QRect caption = win::ui_detail::ButtonCaptionRect(widget);
  EXPECT_EQ(caption.left(), 16);
  EXPECT_EQ(caption.right(), 55);
  EXPECT_LE(QFontMetrics(widget->font()).horizontalAdvance(QStringLiteral("Rankles")), caption.width());
  EXPECT_EQ(QApplication::font().hintingPreference(), QFont::PreferFullHinting);
  // Not a button: no caption rectangle.
  EXPECT_TRUE(win::ui_detail::ButtonCaptionRect(WidgetOf(frame)).isEmpty());
}

TEST_F(UiWindowTest, WrappedCaptionLinesAreOneCellApart) {
  QFont font = QApplication::font();
  ASSERT_EQ(font.pixelSize(), 12);
  EXPECT_EQ(win::ui_detail::CellLineHeight(font), 12);
  QImage image(120, 40, QImage::Format_ARGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Qt::black);
  const QString text = QStringLiteral("Wrapped（twice）");
  const int natural = QFontMetrics(font).horizontalAdvance(text);
  const QRect area(0, 0, natural * 2 / 3, 24);
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
  // Two lines of the 12-pixel face take 24 pixels, not twice the face's own line spacing.
  const QRect bounds = win::ui_detail::DrawCellText(painter, area, flags, text, false);
  EXPECT_EQ(bounds.top(), 0);
  EXPECT_EQ(bounds.height(), 24);
  EXPECT_LE(bounds.width(), area.width());
  // A mnemonic prefix is not drawn and "&&" is one ampersand: the same width as the plain text.
  EXPECT_EQ(win::ui_detail::DrawCellText(painter, QRect(0, 0, 200, 40), Qt::AlignLeft | Qt::TextWordWrap |
                                             Qt::TextShowMnemonic, QStringLiteral("A&&B &Cd\nx"), false)
                .width(),
            win::ui_detail::DrawCellText(painter, QRect(0, 0, 200, 40), Qt::AlignLeft | Qt::TextWordWrap,
                                         QStringLiteral("A&B Cd\nx"), false)
                .width());
  // Ink only inside the two cells.
  win::ui_detail::DrawCellText(painter, area, flags, text);
  painter.end();
  int inkTop = image.height();
  int inkBottom = -1;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qGray(image.pixel(x, y)) < 128) {
        inkTop = std::min(inkTop, y);
        inkBottom = std::max(inkBottom, y);
      }
    }
  }
  EXPECT_GE(inkTop, 0);
  EXPECT_LT(inkBottom, 24);
  EXPECT_GT(inkBottom, 12);  // the second line is there
}

// ---------------------------------------------------------------------------------------------
// Edit boxes

TEST_F(UiWindowTest, MultiLineEditShowsOneLinePerCellWithoutATopMargin) {
  const HWND frame = TopLevel();
  const HWND answer = Child(frame, "EDIT", win::ES_MULTILINE | win::ES_READONLY, 1, 8, 8, 424, 48,
                            win::WS_EX_CLIENTEDGE, "first\r\n \r\nlast gyp");
  win::LOGFONTA logFont;
  logFont.lfHeight = -14;
  const win::HFONT font = win::CreateFontIndirectA(&logFont);
  win::SendMessageA(answer, win::WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  win::ShowWindow(frame, win::SW_SHOW);
  win::ProcessPendingMessages();
  auto* edit = qobject_cast<QPlainTextEdit*>(WidgetOf(answer));
  ASSERT_NE(edit, nullptr);
  ASSERT_EQ(edit->font().pixelSize(), 14);
  EXPECT_EQ(edit->document()->documentMargin(), 0);
  QAbstractTextDocumentLayout* layout = edit->document()->documentLayout();
  qreal bottom = 0;
  int blocks = 0;
  for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next()) {
    bottom += layout->blockBoundingRect(block).height();
    ASSERT_GT(block.layout()->lineCount(), 0);
    const qreal left = block.layout()->lineAt(0).x();
    EXPECT_GE(left, 1);
    EXPECT_LE(left, 2);
    ++blocks;
  }
  EXPECT_EQ(blocks, 3);
  // Three 14-pixel lines fit the 44 pixels inside the edge.
  EXPECT_LE(bottom, 44);
  EXPECT_EQ(bottom, 42);
  win::DestroyWindow(answer);
  win::DeleteObject(font);
}

TEST_F(UiWindowTest, EditFilterRefusesLettersInTypedInputMethodAndPastedText) {
  const HWND frame = TopLevel();
  const HWND single = Child(frame, "EDIT", 0, 1);
  const HWND multi = Child(frame, "EDIT", win::ES_MULTILINE, 2);
  auto integerText = [](char16_t c) { return c == u'-' || (c >= u'0' && c <= u'9'); };
  for (HWND edit : {single, multi}) {
    ASSERT_TRUE(win::SetEditInputFilter(edit, integerText));
    QWidget* widget = WidgetOf(edit);
    TypeEach(widget, QStringLiteral("-a1Z2 "));
    EXPECT_EQ(TextOf(edit), "-12");
    // Control keys pass: backspace removes the last digit.
    TypeText(widget, QStringLiteral("\b"), Qt::Key_Backspace);
    EXPECT_EQ(TextOf(edit), "-1");
    CommitInputMethodText(widget, QString::fromUtf8("x3中"));
    EXPECT_EQ(TextOf(edit), "-13");
    // A paste is filtered character by character.
    Paste(widget, QStringLiteral("a1b2"));
    EXPECT_EQ(TextOf(edit), "-1312");
    // Text the program sets is not filtered.
    win::SetWindowTextA(edit, "abc");
    EXPECT_EQ(TextOf(edit), "abc");
    EXPECT_EQ(win::SendMessageA(edit, win::EM_GETSEL, 0, 0), 0);  // the caret starts at the start
    win::SendMessageA(edit, win::EM_SETSEL, 3, 3);
    TypeEach(widget, QStringLiteral("d4"));
    EXPECT_EQ(TextOf(edit), "abc4");
  }
  // Without a filter everything goes in.
  win::SetEditInputFilter(single, {});
  win::SetWindowTextA(single, "");
  TypeEach(WidgetOf(single), QStringLiteral("q-"));
  EXPECT_EQ(TextOf(single), "q-");
  EXPECT_FALSE(win::SetEditInputFilter(frame, {}));  // not an edit box
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
}

TEST_F(UiWindowTest, MaximumLengthCountsCharactersAlsoForChineseAndPastes) {
  const HWND frame = TopLevel();
  const HWND single = Child(frame, "EDIT", 0, 1);
  const HWND multi = Child(frame, "EDIT", win::ES_MULTILINE, 2);
  for (HWND edit : {single, multi}) {
    QWidget* widget = WidgetOf(edit);
    EXPECT_EQ(win::SendMessageA(edit, win::EM_GETLIMITTEXT, 0, 0), 32767);
    win::SendMessageA(edit, win::EM_LIMITTEXT, 2, 0);
    CommitInputMethodText(widget, QString::fromUtf8("中"));
    CommitInputMethodText(widget, QString::fromUtf8("文字"));
    EXPECT_EQ(TextOf(edit), kZhongWen);
    EXPECT_EQ(win::GetWindowTextLengthA(edit), 4);  // GBK bytes
    TypeEach(widget, QStringLiteral("9"));
    EXPECT_EQ(TextOf(edit), kZhongWen);
    // A paste is cut to the room left, after filtering.
    win::SetWindowTextA(edit, "");
    win::SetEditInputFilter(edit, [](char16_t c) { return c >= u'0' && c <= u'9'; });
    Paste(widget, QStringLiteral("a1b2c3"));
    EXPECT_EQ(TextOf(edit), "12");
    win::SetEditInputFilter(edit, {});
    // Replacing a selection frees its room.
    win::SendMessageA(edit, win::EM_SETSEL, 1, 2);
    TypeEach(widget, QStringLiteral("7"));
    EXPECT_EQ(TextOf(edit), "17");
    // The program's own text is not limited; 0 lifts the limit to the platform maximum.
    win::SetWindowTextA(edit, "12345");
    EXPECT_EQ(TextOf(edit), "12345");
    win::SendMessageA(edit, win::EM_LIMITTEXT, 0, 0);
    EXPECT_GE(win::SendMessageA(edit, win::EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFE);
  }
}

TEST_F(UiWindowTest, ReadOnlyEditRefusesTypingButSelectsAndCopies) {
  const HWND frame = TopLevel();
  const HWND single = Child(frame, "EDIT", win::ES_READONLY, 1);
  const HWND multi = Child(frame, "EDIT", win::ES_MULTILINE | win::ES_READONLY, 2);
  for (HWND edit : {single, multi}) {
    QWidget* widget = WidgetOf(edit);
    win::SetWindowTextA(edit, "answer");
    TypeEach(widget, QStringLiteral("x"));
    Paste(widget, QStringLiteral("pasted"));
    EXPECT_EQ(TextOf(edit), "answer");
    win::SendMessageA(edit, win::EM_SETSEL, 1, 4);
    win::DWORD start = 99;
    win::DWORD end = 99;
    EXPECT_EQ(win::SendMessageA(edit, win::EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end)),
              win::MAKELPARAM(1, 4));
    EXPECT_EQ(start, 1u);
    EXPECT_EQ(end, 4u);
    QApplication::clipboard()->clear();
    win::SendMessageA(edit, win::WM_COPY, 0, 0);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("nsw"));
    QApplication::clipboard()->clear();
    TypeText(widget, QString(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("nsw"));
    // Select all, then a negative start removes the selection.
    win::SendMessageA(edit, win::EM_SETSEL, 0, -1);
    win::SendMessageA(edit, win::EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(end - start, 6u);
    win::SendMessageA(edit, win::EM_SETSEL, static_cast<WPARAM>(-1), 0);
    win::SendMessageA(edit, win::EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, end);
    // And it becomes editable again.
    win::SendMessageA(edit, win::EM_SETREADONLY, FALSE, 0);
    win::SendMessageA(edit, win::EM_SETSEL, 6, 6);
    TypeEach(widget, QStringLiteral("!"));
    EXPECT_EQ(TextOf(edit), "answer!");
  }
}

TEST_F(UiWindowTest, EditStylesForPasswordCaseAlignmentAndReplaceSel) {
  const HWND frame = TopLevel();
  const HWND password = Child(frame, "EDIT", win::ES_PASSWORD, 1);
  auto* line = qobject_cast<QLineEdit*>(WidgetOf(password));
  EXPECT_EQ(line->echoMode(), QLineEdit::Password);
  EXPECT_EQ(line->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, line), '*');
  win::SendMessageA(password, win::EM_SETPASSWORDCHAR, '#', 0);
  EXPECT_EQ(line->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, line), '#');
  EXPECT_EQ(win::SendMessageA(password, win::EM_GETPASSWORDCHAR, 0, 0), '#');
  win::SetWindowTextA(password, "secret");
  win::SendMessageA(password, win::EM_SETSEL, 0, -1);
  QApplication::clipboard()->setText(QStringLiteral("before"));
  win::SendMessageA(password, win::WM_COPY, 0, 0);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
  win::SendMessageA(password, win::EM_SETPASSWORDCHAR, 0, 0);
  EXPECT_EQ(line->echoMode(), QLineEdit::Normal);

  const HWND upper = Child(frame, "EDIT", win::ES_UPPERCASE | win::ES_RIGHT, 2);
  TypeEach(WidgetOf(upper), QStringLiteral("ab"));
  Paste(WidgetOf(upper), QStringLiteral("cd"));
  EXPECT_EQ(TextOf(upper), "ABCD");
  EXPECT_TRUE(qobject_cast<QLineEdit*>(WidgetOf(upper))->alignment() & Qt::AlignRight);
  const HWND lower = Child(frame, "EDIT", win::ES_LOWERCASE | win::ES_CENTER, 3);
  TypeEach(WidgetOf(lower), QStringLiteral("XY"));
  EXPECT_EQ(TextOf(lower), "xy");

  win::SendMessageA(lower, win::EM_SETSEL, 1, 2);
  win::SendMessageA(lower, win::EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(kZhong));
  EXPECT_EQ(TextOf(lower), std::string("x") + kZhong);
}

TEST_F(UiWindowTest, ChangeNotificationsReachTheParent) {
  const HWND frame = TopLevel();
  const HWND single = Child(frame, "EDIT", 0, 11);
  const HWND multi = Child(frame, "EDIT", win::ES_MULTILINE, 12);
  g_seen.clear();
  TypeEach(WidgetOf(single), QStringLiteral("a"));
  TypeEach(WidgetOf(multi), QStringLiteral("b"));
  using Command = std::tuple<unsigned, unsigned, HWND>;
  EXPECT_EQ(Commands(), (std::vector<Command>{{11, win::EN_CHANGE, single}, {12, win::EN_CHANGE, multi}}));
  // Setting the text notifies for a single-line box only, as on Windows.
  g_seen.clear();
  win::SetWindowTextA(single, "x");
  win::SetWindowTextA(multi, "y");
  EXPECT_EQ(Commands(), (std::vector<Command>{{11, win::EN_CHANGE, single}}));
  // A refused keystroke changes nothing and tells nothing.
  win::SetEditInputFilter(single, [](char16_t) { return false; });
  g_seen.clear();
  TypeEach(WidgetOf(single), QStringLiteral("z"));
  EXPECT_TRUE(Commands().empty());
}

// ---------------------------------------------------------------------------------------------
// Buttons and statics

TEST_F(UiWindowTest, RadioButtonsFormGroupsAndClicksReachTheParent) {
  const HWND frame = TopLevel();
  const HWND r1 = Child(frame, "BUTTON", win::BS_AUTORADIOBUTTON | win::WS_GROUP, 1);
  const HWND r2 = Child(frame, "BUTTON", win::BS_AUTORADIOBUTTON, 2);
  const HWND r3 = Child(frame, "BUTTON", win::BS_AUTORADIOBUTTON | win::BS_LEFTTEXT, 3);
  const HWND other = Child(frame, "BUTTON", win::BS_AUTORADIOBUTTON | win::WS_GROUP, 4);
  auto check = [](HWND radio) { return win::SendMessageA(radio, win::BM_GETCHECK, 0, 0); };

  win::SendMessageA(r1, win::BM_SETCHECK, win::BST_CHECKED, 0);
  win::SendMessageA(other, win::BM_SETCHECK, win::BST_CHECKED, 0);
  // Setting the state does not touch the rest of the group.
  win::SendMessageA(r3, win::BM_SETCHECK, win::BST_INDETERMINATE, 0);
  EXPECT_EQ(check(r3), 2);
  EXPECT_EQ(check(r1), 1);

  g_seen.clear();
  qobject_cast<QAbstractButton*>(WidgetOf(r2))->click();
  EXPECT_EQ(check(r1), 0);
  EXPECT_EQ(check(r2), 1);
  EXPECT_EQ(check(r3), 0);
  EXPECT_EQ(check(other), 1);  // another group
  using Command = std::tuple<unsigned, unsigned, HWND>;
  EXPECT_EQ(Commands(), (std::vector<Command>{{2, win::BN_CLICKED, r2}}));

  // A click with the mouse goes the same way.
  g_seen.clear();
  QWidget* widget = WidgetOf(r1);
  const QPointF centre(widget->width() / 2.0, widget->height() / 2.0);
  QMouseEvent press(QEvent::MouseButtonPress, centre, widget->mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, centre, widget->mapToGlobal(centre), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QApplication::sendEvent(widget, &release);
  EXPECT_EQ(check(r1), 1);
  EXPECT_EQ(check(r2), 0);
  EXPECT_EQ(Commands(), (std::vector<Command>{{1, win::BN_CLICKED, r1}}));
}

TEST_F(UiWindowTest, PushButtonClickReachesTheParentWhichMayDestroyEverything) {
  const HWND frame = TopLevel();
  const HWND button = Child(frame, "BUTTON", win::BS_PUSHBUTTON | win::BS_MULTILINE, 0x1005, 8, 8, 176, 56, 0,
                            "\xC8\xB7\xB6\xA8");  // 确定
  EXPECT_EQ(qobject_cast<QAbstractButton*>(WidgetOf(button))->text(), QString::fromUtf8("确定"));
  EXPECT_EQ(win::SendMessageA(button, win::BM_GETCHECK, 0, 0), 0);
  g_override = [frame](HWND window, UINT message, WPARAM wParam, LPARAM, LRESULT&) {
    if (window == frame && message == win::WM_COMMAND && win::HIWORD(wParam) == win::BN_CLICKED) {
      win::DestroyWindow(frame);
      return true;
    }
    return false;
  };
  qobject_cast<QAbstractButton*>(WidgetOf(button))->click();
  EXPECT_FALSE(win::IsWindow(frame));
  EXPECT_FALSE(win::IsWindow(button));
  ASSERT_EQ(Commands().size(), 1u);
  EXPECT_EQ(Commands()[0], std::make_tuple(0x1005u, win::BN_CLICKED, button));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(UiWindowTest, StaticNotifiesClicksOnlyWithSsNotify) {
  const HWND frame = TopLevel();
  const HWND plain = Child(frame, "STATIC", 0, 1);
  const HWND notifying = Child(frame, "STATIC", win::SS_NOTIFY, 2);
  g_seen.clear();
  for (HWND label : {plain, notifying}) {
    QWidget* widget = WidgetOf(label);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), widget->mapToGlobal(QPointF(3, 3)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(3, 3), widget->mapToGlobal(QPointF(3, 3)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
  }
  using Command = std::tuple<unsigned, unsigned, HWND>;
  EXPECT_EQ(Commands(), (std::vector<Command>{{2, win::STN_CLICKED, notifying}}));
}

// A label of a registered class that paints itself: red background, white centred caption in a
// 20-pixel font, as a runtime label would.
TEST_F(UiWindowTest, RegisteredClassPaintsThroughWmPaint) {
  const HWND frame = TopLevel();
  const HWND label = Child(frame, "TestFrame", 0, 1, 10, 10, 120, 40);
  const win::HBRUSH red = win::CreateSolidBrush(win::RGB(255, 0, 0));
  win::LOGFONTA logFont;
  logFont.lfHeight = -20;
  const win::HFONT font = win::CreateFontIndirectA(&logFont);
  int measuredHeight = 0;
  int paints = 0;
  win::HDC usedDc = nullptr;
  g_override = [&](HWND window, UINT message, WPARAM, LPARAM, LRESULT&) {
    if (window != label || message != win::WM_PAINT) return false;
    ++paints;
    win::PAINTSTRUCT paint;
    const win::HDC dc = win::BeginPaint(window, &paint);
    EXPECT_NE(dc, nullptr);
    EXPECT_EQ(paint.rcPaint.right, 120);
    win::FillRect(dc, &paint.rcPaint, red);
    EXPECT_EQ(win::SetTextColor(dc, win::RGB(255, 255, 255)), win::RGB(0, 0, 0));
    EXPECT_EQ(win::SetBkMode(dc, win::TRANSPARENT), win::OPAQUE);
    EXPECT_EQ(win::SelectObject(dc, font), nullptr);
    win::RECT measure{0, 0, 120, 40};
    measuredHeight = win::DrawTextA(dc, "WWWW", -1, &measure, win::DT_CALCRECT | win::DT_SINGLELINE);
    win::RECT area = paint.rcPaint;
    win::DrawTextA(dc, "WWWW", -1, &area, win::DT_CENTER | win::DT_VCENTER | win::DT_SINGLELINE);
    usedDc = dc;
    EXPECT_TRUE(win::EndPaint(window, &paint));
    return true;
  };
  // Outside WM_PAINT there is no device context.
  win::PAINTSTRUCT outside;
  EXPECT_EQ(win::BeginPaint(label, &outside), nullptr);
  win::ShowWindow(frame, win::SW_SHOW);
  EXPECT_TRUE(win::UpdateWindow(label));
  const QImage image = WidgetOf(frame)->grab().toImage();
  EXPECT_GT(paints, 0);
  EXPECT_GE(measuredHeight, 20);
  EXPECT_LT(measuredHeight, 40);
  EXPECT_EQ(image.pixelColor(12, 12), QColor(255, 0, 0));
  int white = 0;
  for (int x = 10; x < 130; ++x) white += image.pixelColor(x, 30) == QColor(255, 255, 255) ? 1 : 0;
  EXPECT_GT(white, 4);  // the caption crosses the middle line
  // The device context died with EndPaint.
  win::RECT rect{0, 0, 5, 5};
  EXPECT_EQ(win::FillRect(usedDc, &rect, red), 0);
  EXPECT_EQ(win::SetTextColor(usedDc, 0), win::CLR_INVALID);
  // One that was never ended dies with its paint.
  g_override = [&](HWND window, UINT message, WPARAM, LPARAM, LRESULT&) {
    if (window != label || message != win::WM_PAINT) return false;
    win::PAINTSTRUCT paint;
    usedDc = win::BeginPaint(window, &paint);
    return true;
  };
  win::UpdateWindow(label);
  ASSERT_NE(usedDc, nullptr);
  EXPECT_EQ(win::FillRect(usedDc, &rect, red), 0);
  EXPECT_EQ(win::SetBkMode(usedDc, win::OPAQUE), 0);
  win::DeleteObject(red);
  win::DeleteObject(font);
}

TEST_F(UiWindowTest, SubclassedProcedureSeesMessagesAndChainsToTheOldOne) {
  const HWND frame = TopLevel();
  const HWND edit = Child(frame, "EDIT", 0, 1);
  static win::WindowProcedure s_previous = nullptr;
  static int s_seenSetText = 0;
  s_seenSetText = 0;
  s_previous = reinterpret_cast<win::WindowProcedure>(win::SetWindowLongPtrA(
      edit, win::GWLP_WNDPROC,
      reinterpret_cast<win::LONG_PTR>(+[](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == win::WM_SETTEXT) ++s_seenSetText;
        return win::CallWindowProcA(s_previous, window, message, wParam, lParam);
      })));
  ASSERT_NE(s_previous, nullptr);
  win::SetWindowTextA(edit, "abc");
  EXPECT_EQ(s_seenSetText, 1);
  EXPECT_EQ(TextOf(edit), "abc");
  EXPECT_EQ(win::SetWindowLongPtrA(edit, win::GWLP_USERDATA, 42), 0);
  EXPECT_EQ(win::GetWindowLongPtrA(edit, win::GWLP_USERDATA), 42);
  EXPECT_EQ(win::GetWindowLongPtrA(edit, win::GWLP_ID), 1);
}

}  // namespace
