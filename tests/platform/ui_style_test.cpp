// Styles set after creation with SetWindowLongPtrA: the previous value returned, WS_VISIBLE and
// WS_DISABLED left alone, edit boxes, buttons and statics taking their presentation styles again,
// borders changing the client area inside the same outer rectangle, and the styles fixed at
// creation staying as they were.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/ui_private.h"
#include "platform/ui/window.h"
#include "platform/ui/window_private.h"
#include "platform/ui_support.h"

namespace {

using uitest::TextOf;
using uitest::WidgetOf;
using win::DWORD;
using win::FALSE;
using win::HWND;
using win::LONG_PTR;
using win::LPARAM;
using win::LRESULT;
using win::UINT;
using win::WPARAM;

std::vector<std::pair<HWND, LPARAM>> g_sizes;  // WM_SIZE seen by the test class

LRESULT SizeRecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == win::WM_SIZE) g_sizes.emplace_back(window, lParam);
  return win::DefWindowProcA(window, message, wParam, lParam);
}

void TypeEach(QWidget* widget, const QString& characters) {
  for (QChar c : characters) {
    QKeyEvent press(QEvent::KeyPress, c.toUpper().unicode(), Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, c.toUpper().unicode(), Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

bool IsDark(QColor c) { return qGray(c.rgb()) < 110; }

// The first and last columns of dark (text) pixels inside area, or (-1, -1).
std::pair<int, int> TextColumns(const QImage& image, const QRect& area) {
  int first = -1;
  int last = -1;
  for (int x = area.left(); x <= area.right(); ++x) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
      if (!IsDark(image.pixelColor(x, y))) continue;
      if (first < 0) first = x;
      last = x;
      break;
    }
  }
  return {first, last};
}

// The first and last rows of dark pixels inside area.
std::pair<int, int> TextRows(const QImage& image, const QRect& area) {
  int first = -1;
  int last = -1;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (!IsDark(image.pixelColor(x, y))) continue;
      if (first < 0) first = y;
      last = y;
      break;
    }
  }
  return {first, last};
}

win::RECT ClientOf(HWND window) {
  win::RECT rect{};
  win::GetClientRect(window, &rect);
  return rect;
}

win::RECT OuterOf(HWND window) {
  win::RECT rect{};
  win::GetWindowRect(window, &rect);
  return rect;
}

bool Same(const win::RECT& a, const win::RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class UiStyleTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    win::InitialiseApplication();
    win::WNDCLASSA windowClass;
    windowClass.lpfnWndProc = SizeRecordingProcedure;
    windowClass.lpszClassName = "StyleTestFrame";
    windowClass.hbrBackground = reinterpret_cast<win::HBRUSH>(static_cast<intptr_t>(win::COLOR_WINDOW + 1));
    win::RegisterClassA(&windowClass);
  }
  void SetUp() override { g_sizes.clear(); }
  void TearDown() override {
    for (HWND window : m_windows) {
      if (win::IsWindow(window)) win::DestroyWindow(window);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  HWND Frame() {
    const HWND window = win::CreateWindowExA(0, "StyleTestFrame", "frame", win::WS_CAPTION | win::WS_SYSMENU, 40, 40,
                                             400, 300, nullptr, nullptr, nullptr, nullptr);
    m_windows.push_back(window);
    return window;
  }
  static HWND Child(HWND parent, const char* className, DWORD style, int id, int x, int y, int width, int height,
                    const char* text = "", DWORD exStyle = 0) {
    return win::CreateWindowExA(exStyle, className, text, win::WS_CHILD | win::WS_VISIBLE | style, x, y, width, height,
                                parent, reinterpret_cast<win::HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
  }
  static LONG_PTR Style(HWND window) { return win::GetWindowLongPtrA(window, win::GWL_STYLE); }
  static LONG_PTR SetStyle(HWND window, DWORD style) { return win::SetWindowLongPtrA(window, win::GWL_STYLE, style); }
  static LONG_PTR SetExStyle(HWND window, DWORD exStyle) {
    return win::SetWindowLongPtrA(window, win::GWL_EXSTYLE, exStyle);
  }

  std::vector<HWND> m_windows;
};

TEST_F(UiStyleTest, SettingStylesReturnsThePreviousOnesAndLeavesVisibleAndDisabledAlone) {
  const HWND frame = Frame();
  const HWND button = Child(frame, "BUTTON", win::BS_PUSHBUTTON | win::WS_TABSTOP, 1, 10, 10, 100, 30, "Go");
  win::ShowWindow(frame, win::SW_SHOW);
  const LONG_PTR before = Style(button);
  EXPECT_TRUE(before & win::WS_VISIBLE);
  EXPECT_TRUE(before & win::WS_TABSTOP);

  win::SetLastError(12345);
  EXPECT_EQ(SetStyle(button, win::WS_CHILD | win::BS_DEFPUSHBUTTON | win::WS_DISABLED), before);
  EXPECT_EQ(win::GetLastError(), win::ERROR_SUCCESS);
  EXPECT_TRUE(win::IsWindowVisible(button));  // WS_VISIBLE missing: still shown
  EXPECT_TRUE(win::IsWindowEnabled(button));  // WS_DISABLED given: still enabled
  EXPECT_EQ(Style(button), static_cast<LONG_PTR>(win::WS_CHILD | win::WS_VISIBLE | win::BS_DEFPUSHBUTTON));

  win::EnableWindow(button, FALSE);
  EXPECT_EQ(SetStyle(button, win::WS_CHILD | win::WS_VISIBLE | win::BS_PUSHBUTTON),
            static_cast<LONG_PTR>(win::WS_CHILD | win::WS_VISIBLE | win::WS_DISABLED | win::BS_DEFPUSHBUTTON));
  EXPECT_FALSE(win::IsWindowEnabled(button));
  // WS_CHILD cannot be taken away here (SetParent does that).
  SetStyle(button, win::BS_PUSHBUTTON);
  EXPECT_TRUE(Style(button) & win::WS_CHILD);

  EXPECT_EQ(SetExStyle(button, win::WS_EX_STATICEDGE), 0);
  EXPECT_EQ(win::GetLastError(), win::ERROR_SUCCESS);
  EXPECT_EQ(win::GetWindowLongPtrA(button, win::GWL_EXSTYLE), static_cast<LONG_PTR>(win::WS_EX_STATICEDGE));
  EXPECT_EQ(SetExStyle(button, 0), static_cast<LONG_PTR>(win::WS_EX_STATICEDGE));

  // Stale windows and unknown indexes.
  const HWND gone = Child(frame, "STATIC", 0, 2, 0, 0, 10, 10);
  win::DestroyWindow(gone);
  EXPECT_EQ(SetStyle(gone, 0), 0);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(win::SetWindowLongPtrA(button, -99, 0), 0);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
}

TEST_F(UiStyleTest, EditBoxesTakeAlignmentReadOnlyAndCaseButNotTheirKindOrPassword) {
  const HWND frame = Frame();
  const HWND edit = Child(frame, "EDIT", win::ES_AUTOHSCROLL, 1, 10, 10, 200, 24, "abc");
  const HWND memo = Child(frame, "EDIT", win::ES_MULTILINE | win::WS_VSCROLL, 2, 10, 50, 200, 80, "one");
  auto* line = static_cast<QLineEdit*>(WidgetOf(edit));
  auto* text = static_cast<QPlainTextEdit*>(WidgetOf(memo));
  win::ShowWindow(frame, win::SW_SHOW);
  EXPECT_EQ(line->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);

  SetStyle(edit, win::WS_CHILD | win::WS_VISIBLE | win::ES_RIGHT);
  EXPECT_EQ(line->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  SetStyle(edit, win::WS_CHILD | win::WS_VISIBLE | win::ES_CENTER);
  EXPECT_EQ(line->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  SetStyle(memo, win::WS_CHILD | win::WS_VISIBLE | win::ES_MULTILINE | win::ES_RIGHT);
  EXPECT_EQ(text->document()->defaultTextOption().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  // The text already there moves to the right.
  text->document()->documentLayout()->blockBoundingRect(text->document()->firstBlock());
  EXPECT_GT(text->document()->firstBlock().layout()->lineAt(0).naturalTextRect().left(), 100);

  // Read-only on and off.
  SetStyle(edit, win::WS_CHILD | win::WS_VISIBLE | win::ES_READONLY);
  EXPECT_TRUE(line->isReadOnly());
  TypeEach(line, "x");
  EXPECT_EQ(TextOf(edit), "abc");
  SetStyle(memo, win::WS_CHILD | win::WS_VISIBLE | win::ES_MULTILINE | win::ES_READONLY);
  EXPECT_TRUE(text->isReadOnly());
  SetStyle(memo, win::WS_CHILD | win::WS_VISIBLE | win::ES_MULTILINE);
  EXPECT_FALSE(text->isReadOnly());
  EXPECT_TRUE(text->textInteractionFlags() & Qt::TextEditable);

  // Case styles act on later input; the text there stays.
  SetStyle(edit, win::WS_CHILD | win::WS_VISIBLE | win::ES_UPPERCASE);
  EXPECT_FALSE(line->isReadOnly());
  line->setCursorPosition(3);
  TypeEach(line, "de");
  EXPECT_EQ(TextOf(edit), "abcDE");
  SetStyle(edit, win::WS_CHILD | win::WS_VISIBLE | win::ES_LOWERCASE);
  TypeEach(line, "FG");
  EXPECT_EQ(TextOf(edit), "abcDEfg");

  // ES_MULTILINE, ES_PASSWORD and the scroll bars keep what they were at creation.
  SetStyle(edit, win::WS_CHILD | win::WS_VISIBLE | win::ES_PASSWORD | win::ES_MULTILINE);
  EXPECT_EQ(line->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(Style(edit) & (win::ES_PASSWORD | win::ES_MULTILINE | win::ES_AUTOHSCROLL),
            static_cast<LONG_PTR>(win::ES_AUTOHSCROLL));
  SetStyle(memo, win::WS_CHILD | win::WS_VISIBLE | win::WS_HSCROLL);
  EXPECT_EQ(Style(memo) & (win::ES_MULTILINE | win::WS_VSCROLL | win::WS_HSCROLL),
            static_cast<LONG_PTR>(win::ES_MULTILINE | win::WS_VSCROLL));
  EXPECT_EQ(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(text->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  // A password box stays one.
  const HWND secret = Child(frame, "EDIT", win::ES_PASSWORD, 3, 10, 150, 100, 24, "pw");
  SetStyle(secret, win::WS_CHILD | win::WS_VISIBLE);
  EXPECT_EQ(static_cast<QLineEdit*>(WidgetOf(secret))->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(Style(secret) & win::ES_PASSWORD);
}

TEST_F(UiStyleTest, NoHideSelectionDecidesWhetherAnUnfocusedSelectionShows) {
  const HWND frame = Frame();
  const HWND edit = Child(frame, "EDIT", 0, 1, 10, 10, 200, 24, "selected");
  QWidget* widget = WidgetOf(edit);
  win::SendMessageA(edit, win::EM_SETSEL, 0, -1);
  auto hidden = [&] {
    const QPalette palette = widget->palette();
    return palette.color(QPalette::Inactive, QPalette::Highlight) == palette.color(QPalette::Inactive, QPalette::Base);
  };
  EXPECT_TRUE(hidden());
  SetStyle(edit, win::WS_CHILD | win::WS_VISIBLE | win::ES_NOHIDESEL);
  EXPECT_FALSE(hidden());
  SetStyle(edit, win::WS_CHILD | win::WS_VISIBLE);
  EXPECT_TRUE(hidden());
}

TEST_F(UiStyleTest, BordersChangeTheClientAreaInsideTheSameOuterRectangle) {
  const HWND frame = Frame();
  const HWND edit = Child(frame, "EDIT", 0, 1, 10, 10, 100, 24);
  const HWND label = Child(frame, "STATIC", 0, 2, 10, 50, 100, 24, "label");
  const HWND panel = Child(frame, "StyleTestFrame", 0, 3, 150, 10, 200, 150);
  const HWND inner = Child(panel, "STATIC", 0, 4, 5, 6, 50, 20, "inner");
  win::ShowWindow(frame, win::SW_SHOW);
  auto* line = static_cast<QLineEdit*>(WidgetOf(edit));
  EXPECT_FALSE(line->hasFrame());
  const win::RECT editOuter = OuterOf(edit);
  EXPECT_EQ(ClientOf(edit).right, 100);

  SetExStyle(edit, win::WS_EX_CLIENTEDGE);
  EXPECT_EQ(line->textMargins(), QMargins(2, 2, 2, 2));  // the box draws the edge itself
  EXPECT_TRUE(Same(OuterOf(edit), editOuter));
  EXPECT_EQ(ClientOf(edit).right, 96);
  EXPECT_EQ(ClientOf(edit).bottom, 20);
  SetExStyle(edit, win::WS_EX_DLGMODALFRAME);
  EXPECT_EQ(ClientOf(edit).right, 94);
  SetExStyle(edit, win::WS_EX_DLGMODALFRAME | win::WS_EX_CLIENTEDGE);
  EXPECT_EQ(ClientOf(edit).right, 90);
  SetExStyle(edit, 0);
  EXPECT_FALSE(line->hasFrame());
  EXPECT_EQ(line->textMargins(), QMargins());
  EXPECT_EQ(ClientOf(edit).right, 100);
  SetStyle(edit, win::WS_CHILD | win::WS_VISIBLE | win::WS_BORDER);
  EXPECT_TRUE(line->hasFrame());
  EXPECT_EQ(ClientOf(edit).right, 98);
  EXPECT_TRUE(Same(OuterOf(edit), editOuter));

  SetExStyle(label, win::WS_EX_STATICEDGE);
  EXPECT_EQ(ClientOf(label).right, 98);

  // A window of a registered class: its children keep their client coordinates, and it hears of
  // its new client size.
  win::POINT before{0, 0};
  win::MapWindowPoints(inner, panel, &before, 1);
  const win::RECT panelOuter = OuterOf(panel);
  g_sizes.clear();
  SetExStyle(panel, win::WS_EX_CLIENTEDGE);
  EXPECT_TRUE(Same(OuterOf(panel), panelOuter));
  EXPECT_EQ(ClientOf(panel).right, 196);
  win::POINT after{0, 0};
  win::MapWindowPoints(inner, panel, &after, 1);
  EXPECT_EQ(after.x, before.x);
  EXPECT_EQ(after.y, before.y);
  EXPECT_EQ(after.x, 5);
  ASSERT_EQ(g_sizes.size(), 1u);
  EXPECT_EQ(g_sizes[0].first, panel);
  EXPECT_EQ(win::LOWORD(g_sizes[0].second), 196u);
  EXPECT_EQ(win::HIWORD(g_sizes[0].second), 146u);
  // The frame is drawn round the new client area.
  const QImage image = WidgetOf(panel)->grab().toImage();
  EXPECT_NE(image.pixelColor(0, 50), QColor(255, 255, 255));
  EXPECT_EQ(image.pixelColor(3, 50), QColor(255, 255, 255));
  // The same styles again change nothing and send nothing.
  g_sizes.clear();
  SetExStyle(panel, win::WS_EX_CLIENTEDGE);
  EXPECT_TRUE(g_sizes.empty());
}

TEST_F(UiStyleTest, ButtonsTakeTheirKindAlignmentAndLookFromTheStyle) {
  const HWND frame = Frame();
  const HWND button = Child(frame, "BUTTON", win::BS_PUSHBUTTON, 1, 10, 10, 200, 30, "Hi");
  win::ShowWindow(frame, win::SW_SHOW);
  QWidget* widget = WidgetOf(button);
  const QRect inside(4, 4, 192, 22);
  auto columns = [&] { return TextColumns(widget->grab().toImage(), inside); };
  const auto centred = columns();
  EXPECT_GT(centred.first, 80);
  EXPECT_LT(centred.second, 120);

  SetStyle(button, win::WS_CHILD | win::WS_VISIBLE | win::BS_LEFT);
  EXPECT_LT(columns().first, 20);
  SetStyle(button, win::WS_CHILD | win::WS_VISIBLE | win::BS_RIGHT);
  EXPECT_GT(columns().second, 180);
  SetStyle(button, win::WS_CHILD | win::WS_VISIBLE | win::BS_CENTER);
  EXPECT_EQ(columns(), centred);

  // Vertical alignment.
  const HWND tall = Child(frame, "BUTTON", win::BS_PUSHBUTTON, 2, 10, 50, 200, 80, "Tall");
  QWidget* tallWidget = WidgetOf(tall);
  const QRect tallInside(4, 4, 192, 72);
  const auto middle = TextRows(tallWidget->grab().toImage(), tallInside);
  SetStyle(tall, win::WS_CHILD | win::WS_VISIBLE | win::BS_TOP);
  const auto top = TextRows(tallWidget->grab().toImage(), tallInside);
  SetStyle(tall, win::WS_CHILD | win::WS_VISIBLE | win::BS_BOTTOM);
  const auto bottom = TextRows(tallWidget->grab().toImage(), tallInside);
  EXPECT_LT(top.first, middle.first - 10);
  EXPECT_GT(bottom.first, middle.first + 10);
  SetStyle(tall, win::WS_CHILD | win::WS_VISIBLE | win::BS_VCENTER);
  EXPECT_EQ(TextRows(tallWidget->grab().toImage(), tallInside), middle);

  // BS_MULTILINE: a long caption wraps onto more lines.
  win::SetWindowTextA(tall, "a caption far too long for one line of this button");
  SetStyle(tall, win::WS_CHILD | win::WS_VISIBLE | win::BS_PUSHBUTTON);
  const auto oneLine = TextRows(tallWidget->grab().toImage(), tallInside);
  SetStyle(tall, win::WS_CHILD | win::WS_VISIBLE | win::BS_PUSHBUTTON | win::BS_MULTILINE);
  const auto wrapped = TextRows(tallWidget->grab().toImage(), tallInside);
  EXPECT_GT(wrapped.second - wrapped.first, (oneLine.second - oneLine.first) * 3 / 2);

  // BS_FLAT and BS_DEFPUSHBUTTON change the look.
  const QImage raised = widget->grab().toImage();
  SetStyle(button, win::WS_CHILD | win::WS_VISIBLE | win::BS_FLAT);
  EXPECT_NE(widget->grab().toImage(), raised);
  SetStyle(button, win::WS_CHILD | win::WS_VISIBLE | win::BS_DEFPUSHBUTTON);
  EXPECT_EQ(Style(button) & win::BS_TYPEMASK, static_cast<LONG_PTR>(win::BS_DEFPUSHBUTTON));

  // The kind: a push button becomes a radio box (circle, caption beside it, checkable), then
  // BS_LEFTTEXT puts the caption left, BS_PUSHLIKE makes it look like a button again.
  SetStyle(button, win::WS_CHILD | win::WS_VISIBLE | win::BS_AUTORADIOBUTTON);
  EXPECT_EQ(win::ui_detail::ButtonCaptionRect(widget).left(), 16);
  win::SendMessageA(button, win::BM_SETCHECK, win::BST_CHECKED, 0);
  EXPECT_EQ(win::SendMessageA(button, win::BM_GETCHECK, 0, 0), static_cast<LRESULT>(win::BST_CHECKED));
  EXPECT_LT(columns().first, 40);
  SetStyle(button, win::WS_CHILD | win::WS_VISIBLE | win::BS_AUTORADIOBUTTON | win::BS_LEFTTEXT);
  EXPECT_EQ(win::ui_detail::ButtonCaptionRect(widget).left(), 0);
  SetStyle(button, win::WS_CHILD | win::WS_VISIBLE | win::BS_AUTORADIOBUTTON | win::BS_PUSHLIKE);
  EXPECT_EQ(win::ui_detail::ButtonCaptionRect(widget), widget->rect().adjusted(4, 3, -4, -3));
  // Checked, so pressed in: the caption one pixel down and right.
  EXPECT_EQ(columns(), std::make_pair(centred.first + 1, centred.second + 1));
  SetStyle(button, win::WS_CHILD | win::WS_VISIBLE | win::BS_PUSHBUTTON);
  EXPECT_EQ(win::SendMessageA(button, win::BM_GETCHECK, 0, 0), 0);
}

TEST_F(UiStyleTest, StaticsTakeTheirAlignment) {
  const HWND frame = Frame();
  const HWND label = Child(frame, "STATIC", win::SS_LEFT, 1, 10, 10, 200, 24, "Label");
  win::ShowWindow(frame, win::SW_SHOW);
  QWidget* widget = WidgetOf(label);
  auto columns = [&] { return TextColumns(widget->grab().toImage(), widget->rect()); };
  EXPECT_LT(columns().first, 5);
  SetStyle(label, win::WS_CHILD | win::WS_VISIBLE | win::SS_RIGHT);
  EXPECT_GT(columns().second, 190);
  SetStyle(label, win::WS_CHILD | win::WS_VISIBLE | win::SS_CENTER);
  const auto centred = columns();
  EXPECT_NEAR((centred.first + centred.second) / 2, 100, 4);
  SetStyle(label, win::WS_CHILD | win::WS_VISIBLE | win::SS_CENTER | win::SS_CENTERIMAGE);
  const auto rows = TextRows(widget->grab().toImage(), widget->rect());
  EXPECT_NEAR((rows.first + rows.second) / 2, 12, 3);
}

}  // namespace
