// The up-down control: range and position, the buddy's text written and read back, stepping with
// the mouse and the arrow keys, wrapping, alignment against the buddy, the scroll notifications
// the parent receives, and a buddy or control destroyed before the other.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/ui/window.h"
#include "platform/ui/window_private.h"
#include "platform/ui_support.h"

namespace {

using uitest::TextOf;
using uitest::WidgetOf;
using win::DWORD;
using win::HWND;
using win::LPARAM;
using win::LRESULT;
using win::UINT;
using win::WPARAM;

// (message, wParam, lParam) of the scroll notifications the frame received.
using Scroll = std::tuple<UINT, WPARAM, LPARAM>;
std::vector<Scroll> g_scrolls;
// What the frame does on a scroll notification besides recording it; reset by the fixture.
std::function<void(HWND upDown)> g_onScroll;

LRESULT FrameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == win::WM_VSCROLL || message == win::WM_HSCROLL) {
    g_scrolls.emplace_back(message, wParam, lParam);
    if (g_onScroll) g_onScroll(reinterpret_cast<HWND>(lParam));
  }
  return win::DefWindowProcA(window, message, wParam, lParam);
}

int Position(HWND upDown, win::BOOL* error = nullptr) {
  return static_cast<int>(win::SendMessageA(upDown, win::UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(error)));
}

enum class Half { Up, Down };  // the upper or right half, the lower or left half

// A left click in the middle of one half of the control.
void Click(HWND upDown, Half half) {
  QWidget* widget = WidgetOf(upDown);
  const bool horizontal = (win::GetWindowLongPtrA(upDown, win::GWL_STYLE) & win::UDS_HORZ) != 0;
  const double near = half == Half::Up ? 0.25 : 0.75;  // the up arrow is on top, or on the right
  const QPointF point = horizontal ? QPointF(widget->width() * (1 - near), widget->height() / 2.0)
                                   : QPointF(widget->width() / 2.0, widget->height() * near);
  QMouseEvent press(QEvent::MouseButtonPress, point, widget->mapToGlobal(point), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, point, widget->mapToGlobal(point), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QApplication::sendEvent(widget, &release);
}

void PressKey(HWND window, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(WidgetOf(window), &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(WidgetOf(window), &release);
}

// A child's rectangle in its parent's client coordinates, as (left, top, right, bottom).
std::tuple<int, int, int, int> RectInParent(HWND child) {
  win::RECT rect;
  win::GetWindowRect(child, &rect);
  win::MapWindowPoints(nullptr, win::GetParent(child), reinterpret_cast<win::POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right, rect.bottom};
}

Scroll ThumbPosition(UINT message, int position, HWND upDown) {
  return {message, win::MAKEWPARAM(win::SB_THUMBPOSITION, static_cast<unsigned>(position)),
          reinterpret_cast<LPARAM>(upDown)};
}

class UiUpDownTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    win::InitialiseApplication();
    win::WNDCLASSA frameClass;
    frameClass.lpfnWndProc = FrameProcedure;
    frameClass.lpszClassName = "UpDownTestFrame";
    win::RegisterClassA(&frameClass);
  }
  void SetUp() override {
    g_scrolls.clear();
    m_frame = win::CreateWindowExA(0, "UpDownTestFrame", "", win::WS_CAPTION, 50, 40, 300, 200, nullptr, nullptr,
                                   nullptr, nullptr);
    ASSERT_NE(m_frame, nullptr);
  }
  void TearDown() override {
    g_onScroll = nullptr;
    if (win::IsWindow(m_frame)) win::DestroyWindow(m_frame);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  HWND Child(const char* className, DWORD style, int x = 10, int y = 10, int width = 100, int height = 24) {
    return win::CreateWindowExA(0, className, "", win::WS_CHILD | win::WS_VISIBLE | style, x, y, width, height,
                                m_frame, nullptr, nullptr, nullptr);
  }
  // An edit box and, created right after it, an up-down control that takes it as buddy.
  std::pair<HWND, HWND> Spinner(DWORD upDownStyle, int low, int high, int position) {
    const HWND edit = Child("EDIT", 0);
    const HWND upDown =
        Child("msctls_updown32", win::UDS_AUTOBUDDY | win::UDS_SETBUDDYINT | upDownStyle, 120, 10, 16, 24);
    win::SendMessageA(upDown, win::UDM_SETRANGE32, static_cast<WPARAM>(low), high);
    win::SendMessageA(upDown, win::UDM_SETPOS32, 0, position);
    g_scrolls.clear();
    return {edit, upDown};
  }

  HWND m_frame = nullptr;
};

TEST_F(UiUpDownTest, IsBuiltInAndStartsWithTheReversedDefaultRange) {
  win::WNDCLASSA duplicate;
  duplicate.lpfnWndProc = FrameProcedure;
  duplicate.lpszClassName = "MSCTLS_UPDOWN32";
  win::SetLastError(0);
  EXPECT_EQ(win::RegisterClassA(&duplicate), 0);
  EXPECT_EQ(win::GetLastError(), win::ERROR_CLASS_ALREADY_EXISTS);

  const HWND upDown = Child("Msctls_UpDown32", 0);
  ASSERT_NE(upDown, nullptr);
  int low = 0x55555555;
  int high = 0x55555555;
  win::SendMessageA(upDown, win::UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
  EXPECT_EQ(std::pair(low, high), std::pair(100, 0));
  win::BOOL error = 0x55;
  EXPECT_EQ(Position(upDown, &error), 0);
  EXPECT_EQ(error, win::TRUE);  // no buddy to read from
  EXPECT_EQ(win::SendMessageA(upDown, win::UDM_GETBUDDY, 0, 0), 0);

  // Up means toward the maximum, 0: at 0 it stays, and the down arrow counts up.
  Click(upDown, Half::Up);
  EXPECT_EQ(Position(upDown), 0);
  Click(upDown, Half::Down);
  Click(upDown, Half::Down);
  Click(upDown, Half::Up);
  EXPECT_EQ(Position(upDown), 1);
}

TEST_F(UiUpDownTest, SetPosClampsToTheRangeAndReturnsThePreviousPosition) {
  const HWND upDown = Child("msctls_updown32", 0);
  struct Row {
    int low, high, requested, expected;
  };
  const Row rows[] = {{100, 0, 150, 100},         {100, 0, -5, 0},     {-10, 10, INT_MAX, 10},
                      {-10, 10, INT_MIN, -10},    {10, -10, 3, 3},     {10, -10, -11, -10},
                      {INT_MIN, INT_MAX, INT_MIN, INT_MIN}, {7, 7, 0, 7}};
  int previous = 0;
  for (const Row& row : rows) {
    win::SendMessageA(upDown, win::UDM_SETRANGE32, static_cast<WPARAM>(row.low), row.high);
    EXPECT_EQ(win::SendMessageA(upDown, win::UDM_SETPOS32, 0, row.requested), previous) << row.requested;
    EXPECT_EQ(Position(upDown), row.expected) << row.low << ".." << row.high << " <- " << row.requested;
    previous = row.expected;
  }
  // A new range leaves the position alone, even outside it.
  win::SendMessageA(upDown, win::UDM_SETRANGE32, 0, 5);
  EXPECT_EQ(Position(upDown), 7);
}

TEST_F(UiUpDownTest, BuddyShowsThePositionWithOrWithoutThousandsSeparators) {
  struct Row {
    DWORD style;
    int position;
    const char* expected;
  };
  const Row rows[] = {{0, 0, "0"},           {0, 999, "999"},       {0, 1000, "1,000"},
                      {0, -1234, "-1,234"},  {0, 123456, "123,456"}, {0, 1234567, "1,234,567"},
                      {0, INT_MIN, "-2,147,483,648"}, {0, INT_MAX, "2,147,483,647"},
                      {win::UDS_NOTHOUSANDS, 1234567, "1234567"}, {win::UDS_NOTHOUSANDS, -1000, "-1000"}};
  for (const Row& row : rows) {
    auto [edit, upDown] = Spinner(row.style, INT_MIN, INT_MAX, row.position);
    EXPECT_EQ(TextOf(edit), row.expected);
    win::BOOL error = 0x55;
    EXPECT_EQ(Position(upDown, &error), row.position);  // read back from the buddy
    EXPECT_EQ(error, win::FALSE) << row.expected;
  }
  // Without UDS_SETBUDDYINT the buddy's text is neither written nor read.
  const HWND edit = Child("EDIT", 0);
  const HWND plain = Child("msctls_updown32", win::UDS_AUTOBUDDY);
  win::SetWindowTextA(edit, "12");
  win::SendMessageA(plain, win::UDM_SETRANGE32, 0, 100);
  win::SendMessageA(plain, win::UDM_SETPOS32, 0, 50);
  EXPECT_EQ(TextOf(edit), "12");
  win::BOOL error = 0x55;
  EXPECT_EQ(Position(plain, &error), 50);
  EXPECT_EQ(error, win::TRUE);
}

TEST_F(UiUpDownTest, GetPosReadsTheBuddyTextAndFlagsWhatIsNoNumberInTheRange) {
  struct Row {
    const char* text;
    win::BOOL error;
    int position;  // the control stood at 40
  };
  const Row rows[] = {{"75", win::FALSE, 75},   {"1,000", win::FALSE, 1000}, {"-2,500", win::FALSE, -2500},
                      {" 12 ", win::FALSE, 12}, {"+3", win::FALSE, 3},       {"abc", win::TRUE, 40},
                      {"", win::TRUE, 40},      {"12x", win::TRUE, 40},      {"-", win::TRUE, 40},
                      {",", win::TRUE, 40},     {"5,001", win::TRUE, 40},    {"-5,001", win::TRUE, 40},
                      {"99999999999", win::TRUE, 40}};
  auto [edit, upDown] = Spinner(0, -5000, 5000, 40);
  for (const Row& row : rows) {
    win::SendMessageA(upDown, win::UDM_SETPOS32, 0, 40);
    win::SetWindowTextA(edit, row.text);
    win::BOOL error = 0x55;
    EXPECT_EQ(Position(upDown, &error), row.position) << '"' << row.text << '"';
    EXPECT_EQ(error, row.error) << '"' << row.text << '"';
  }
  win::SetWindowTextA(edit, "nothing");
  EXPECT_EQ(Position(upDown, nullptr), 40);  // no error flag asked for
}

TEST_F(UiUpDownTest, ClicksOnEachHalfStepTheBuddyAndNotifyTheParent) {
  auto [edit, upDown] = Spinner(0, 0, 2000, 998);
  Click(upDown, Half::Up);
  EXPECT_EQ(TextOf(edit), "999");
  Click(upDown, Half::Up);
  EXPECT_EQ(TextOf(edit), "1,000");
  Click(upDown, Half::Down);
  EXPECT_EQ(TextOf(edit), "999");
  EXPECT_EQ(g_scrolls, (std::vector<Scroll>{ThumbPosition(win::WM_VSCROLL, 999, upDown),
                                            ThumbPosition(win::WM_VSCROLL, 1000, upDown),
                                            ThumbPosition(win::WM_VSCROLL, 999, upDown)}));

  // Stepping starts from what the user typed into the buddy, separators and all; from an
  // unreadable text it starts at the last position.
  win::SetWindowTextA(edit, "1,500");
  Click(upDown, Half::Up);
  EXPECT_EQ(TextOf(edit), "1,501");
  win::SetWindowTextA(edit, "oops");
  Click(upDown, Half::Down);
  EXPECT_EQ(TextOf(edit), "1,500");
}

TEST_F(UiUpDownTest, HorizontalControlStepsWithTheRightAndLeftArrows) {
  auto [edit, upDown] = Spinner(win::UDS_HORZ, 0, 10, 5);
  win::SetWindowPos(upDown, nullptr, 0, 0, 32, 16, win::SWP_NOMOVE | win::SWP_NOZORDER);
  Click(upDown, Half::Up);  // the right half
  Click(upDown, Half::Down);
  Click(upDown, Half::Down);
  EXPECT_EQ(TextOf(edit), "4");
  EXPECT_EQ(g_scrolls, (std::vector<Scroll>{ThumbPosition(win::WM_HSCROLL, 6, upDown),
                                            ThumbPosition(win::WM_HSCROLL, 5, upDown),
                                            ThumbPosition(win::WM_HSCROLL, 4, upDown)}));
}

TEST_F(UiUpDownTest, WrapsAtBothEndsOnlyWithUdsWrap) {
  struct Row {
    DWORD style;
    int low, high, start;
    Half half;
    int expected;
  };
  constexpr DWORD kWrap = win::UDS_WRAP;
  const Row rows[] = {{0, 0, 3, 3, Half::Up, 3},           {0, 0, 3, 0, Half::Down, 0},
                      {kWrap, 0, 3, 3, Half::Up, 0},       {kWrap, 0, 3, 0, Half::Down, 3},
                      {kWrap, 0, 3, 1, Half::Up, 2},       {0, 5, 1, 1, Half::Up, 1},
                      {kWrap, 5, 1, 1, Half::Up, 5},       {kWrap, 5, 1, 5, Half::Down, 1},
                      {0, INT_MIN, INT_MAX, INT_MAX, Half::Up, INT_MAX},
                      {kWrap, INT_MIN, INT_MAX, INT_MAX, Half::Up, INT_MIN},
                      {kWrap, INT_MIN, INT_MAX, INT_MIN, Half::Down, INT_MAX}};
  for (const Row& row : rows) {
    auto [edit, upDown] = Spinner(row.style | win::UDS_NOTHOUSANDS, row.low, row.high, row.start);
    Click(upDown, row.half);
    EXPECT_EQ(TextOf(edit), std::to_string(row.expected)) << row.low << ".." << row.high << " from " << row.start;
    // The parent hears of the click even when the position stayed at an end.
    EXPECT_EQ(g_scrolls, std::vector<Scroll>{ThumbPosition(win::WM_VSCROLL, row.expected, upDown)});
    win::DestroyWindow(edit);
    win::DestroyWindow(upDown);
  }
}

TEST_F(UiUpDownTest, ArrowKeysInTheBuddyStepOnlyWithUdsArrowKeys) {
  auto [edit, upDown] = Spinner(win::UDS_ARROWKEYS, 0, 10, 5);
  PressKey(edit, Qt::Key_Up);
  EXPECT_EQ(TextOf(edit), "6");
  PressKey(edit, Qt::Key_Down);
  PressKey(edit, Qt::Key_Down);
  PressKey(edit, Qt::Key_Left);  // other keys stay with the edit box
  EXPECT_EQ(TextOf(edit), "4");
  EXPECT_EQ(g_scrolls.size(), 3u);

  // A buddy given up is no longer watched; the new one is.
  const HWND other = Child("EDIT", 0, 10, 50);
  EXPECT_EQ(win::SendMessageA(upDown, win::UDM_SETBUDDY, reinterpret_cast<WPARAM>(other), 0),
            reinterpret_cast<LRESULT>(edit));
  PressKey(edit, Qt::Key_Up);
  EXPECT_EQ(Position(upDown), 4);
  PressKey(other, Qt::Key_Up);
  EXPECT_EQ(TextOf(other), "5");

  auto [quietEdit, quiet] = Spinner(0, 0, 10, 5);
  PressKey(quietEdit, Qt::Key_Up);
  EXPECT_EQ(TextOf(quietEdit), "5");
  EXPECT_TRUE(g_scrolls.empty());
}

TEST_F(UiUpDownTest, AutoBuddyTakesTheWindowCreatedJustBeforeAndAlignsWithIt) {
  const HWND first = Child("msctls_updown32", win::UDS_AUTOBUDDY);
  EXPECT_EQ(win::SendMessageA(first, win::UDM_GETBUDDY, 0, 0), 0);  // nothing above it
  const HWND label = Child("STATIC", 0);
  const HWND withBuddy = Child("msctls_updown32", win::UDS_AUTOBUDDY);
  const HWND withoutBuddy = Child("msctls_updown32", 0);
  EXPECT_EQ(win::SendMessageA(withBuddy, win::UDM_GETBUDDY, 0, 0), reinterpret_cast<LRESULT>(label));
  EXPECT_EQ(win::SendMessageA(withoutBuddy, win::UDM_GETBUDDY, 0, 0), 0);

  // The control moves into the buddy's rectangle and takes its height; the buddy narrows.
  using Rect = std::tuple<int, int, int, int>;
  struct Row {
    DWORD style;
    Rect buddy, control;
  };
  const Row rows[] = {{win::UDS_ALIGNRIGHT, {20, 30, 104, 54}, {104, 30, 120, 54}},
                      {win::UDS_ALIGNLEFT, {36, 30, 120, 54}, {20, 30, 36, 54}},
                      {0, {20, 30, 120, 54}, {200, 100, 216, 140}}};
  for (const Row& row : rows) {
    const HWND edit = Child("EDIT", 0, 20, 30, 100, 24);
    const HWND upDown = Child("msctls_updown32", win::UDS_AUTOBUDDY | row.style, 200, 100, 16, 40);
    EXPECT_EQ(RectInParent(edit), row.buddy) << row.style;
    EXPECT_EQ(RectInParent(upDown), row.control) << row.style;
  }
}

TEST_F(UiUpDownTest, ABuddyDestroyedFirstIsNeverTouched) {
  auto [edit, upDown] = Spinner(win::UDS_ARROWKEYS, 0, 10, 5);
  win::DestroyWindow(edit);
  ASSERT_FALSE(win::IsWindow(edit));
  Click(upDown, Half::Up);
  Click(upDown, Half::Up);
  win::BOOL error = 0x55;
  EXPECT_EQ(Position(upDown, &error), 7);
  EXPECT_EQ(error, win::TRUE);
  EXPECT_EQ(win::SendMessageA(upDown, win::UDM_SETPOS32, 0, 2), 7);
  EXPECT_EQ(g_scrolls.size(), 2u);

  // The stale handle comes back from UDM_SETBUDDY, as Windows hands back the old handle.
  const HWND next = Child("EDIT", 0, 10, 50);
  EXPECT_EQ(win::SendMessageA(upDown, win::UDM_SETBUDDY, reinterpret_cast<WPARAM>(next), 0),
            reinterpret_cast<LRESULT>(edit));
  Click(upDown, Half::Down);
  EXPECT_EQ(TextOf(next), "1");
}

TEST_F(UiUpDownTest, AControlDestroyedFirstStopsWatchingItsBuddy) {
  // Destroyed by its parent while it notifies, the control's widget waits to be deleted, still
  // filtering the buddy's keys: those go to the buddy now.
  auto [edit, upDown] = Spinner(win::UDS_ARROWKEYS, 0, 10, 5);
  g_onScroll = [](HWND control) { win::DestroyWindow(control); };
  PressKey(edit, Qt::Key_Up);
  ASSERT_FALSE(win::IsWindow(upDown));
  EXPECT_EQ(TextOf(edit), "6");
  PressKey(edit, Qt::Key_Up);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  PressKey(edit, Qt::Key_Up);
  EXPECT_EQ(TextOf(edit), "6");
  EXPECT_EQ(g_scrolls.size(), 1u);
}

TEST_F(UiUpDownTest, DrawsAnArrowInEachHalf) {
  for (const bool horizontal : {false, true}) {
    const HWND upDown = Child("msctls_updown32", horizontal ? win::UDS_HORZ : 0, 10, 10, horizontal ? 40 : 20,
                              horizontal ? 20 : 40);
    const QImage image = WidgetOf(upDown)->grab().toImage();
    // The middle of each 20x20 half holds something darker than the button face: its arrow.
    for (const QPoint& origin : {QPoint(0, 0), horizontal ? QPoint(20, 0) : QPoint(0, 20)}) {
      int dark = 0;
      for (int y = 5; y < 15; ++y) {
        for (int x = 5; x < 15; ++x) dark += qGray(image.pixel(origin + QPoint(x, y))) < 96 ? 1 : 0;
      }
      EXPECT_GT(dark, 0) << horizontal << " " << origin.x() << "," << origin.y();
    }
  }
}

}  // namespace
