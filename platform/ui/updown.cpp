// The up-down control, class "msctls_updown32": two arrow buttons that step a 32-bit position
// within a range, optionally shown in and read back from a buddy window's text. The buddy is
// known only by its handle and looked up in the registry at every use, so a buddy destroyed
// before the control is never touched again.
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ui/window_private.h"

namespace win::ui_detail {

namespace {

// Windows gives a new control the range 100..0 (minimum above maximum) and the position 0.
constexpr int kDefaultMinimum = 100;
constexpr int kDefaultMaximum = 0;

// Which arrow: "up" moves toward the maximum, whatever way the range runs. The right arrow of a
// horizontal control is its up arrow.
enum class Arrow { None, Up, Down };

// The position as the buddy shows it: decimal, with "," between groups of three digits when
// grouped (the separator of the Chinese locale).
std::string PositionText(int position, bool grouped) {
  const int64_t wide = position;  // -INT_MIN does not fit an int
  const std::string digits = std::to_string(wide < 0 ? -wide : wide);
  std::string text = wide < 0 ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (grouped && i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

// The number in a buddy's text: blanks around it, an optional sign, then decimal digits among
// which thousands separators may stand. Anything else, or a value beyond 32 bits, is no number.
std::optional<int> ParsePositionText(const std::string& text) {
  size_t at = text.find_first_not_of(" \t");
  const size_t end = text.find_last_not_of(" \t");
  if (at == std::string::npos) return std::nullopt;
  bool negative = false;
  if (text[at] == '-' || text[at] == '+') negative = text[at++] == '-';
  int64_t value = 0;
  bool anyDigit = false;
  for (; at <= end; ++at) {
    const char c = text[at];
    if (c == ',') continue;
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
    anyDigit = true;
  }
  if (!anyDigit) return std::nullopt;
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int>(value);
}

class UpDownWidget : public QWidget, public WindowBinding {
 public:
  UpDownWidget() {
    // Clicking the arrows leaves the keyboard focus where it is, usually in the buddy.
    setFocusPolicy(Qt::NoFocus);
  }

  QWidget* Widget() override { return this; }
  void SetText(const QString& text) override { m_text = text; }
  QString Text() const override { return m_text; }

  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    switch (message) {
      case WM_CREATE:
        // The window created just before this one sits directly above it in the stacking order.
        if (windowStyle & UDS_AUTOBUDDY) SetBuddy(GetWindow(handle, GW_HWNDPREV));
        result = 0;
        return true;
      case UDM_SETBUDDY:
        result = reinterpret_cast<LRESULT>(SetBuddy(reinterpret_cast<HWND>(wParam)));
        return true;
      case UDM_GETBUDDY:
        result = reinterpret_cast<LRESULT>(m_buddy);
        return true;
      case UDM_SETRANGE32:
        m_minimum = static_cast<int32_t>(wParam);
        m_maximum = static_cast<int32_t>(lParam);
        result = 0;
        return true;
      case UDM_GETRANGE32:
        if (wParam != 0) *reinterpret_cast<int*>(wParam) = m_minimum;
        if (lParam != 0) *reinterpret_cast<int*>(lParam) = m_maximum;
        result = 0;
        return true;
      case UDM_SETPOS32: {
        const int previous = m_position;
        m_position = static_cast<int>(std::clamp<int64_t>(static_cast<int32_t>(lParam), Lowest(), Highest()));
        WriteBuddy();
        result = previous;
        return true;
      }
      case UDM_GETPOS32: {
        const bool read = ReadBuddy();
        if (lParam != 0) *reinterpret_cast<BOOL*>(lParam) = read ? FALSE : TRUE;
        result = m_position;
        return true;
      }
      default:
        return false;
    }
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const bool horizontal = (windowStyle & UDS_HORZ) != 0;
    for (Arrow arrow : {Arrow::Up, Arrow::Down}) {
      const QRect area = ArrowRect(arrow);
      const bool pressed = arrow == m_pressed;
      QStyleOptionButton panel;
      panel.initFrom(this);
      panel.rect = area;
      panel.state |= pressed ? QStyle::State_Sunken : QStyle::State_Raised;
      style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &panel, &painter, this);
      QStyleOption indicator;
      indicator.initFrom(this);
      indicator.rect = area.adjusted(2, 2, -2, -2).translated(pressed ? 1 : 0, pressed ? 1 : 0);
      const bool up = arrow == Arrow::Up;
      QStyle::PrimitiveElement element = up ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown;
      if (horizontal) element = up ? QStyle::PE_IndicatorArrowRight : QStyle::PE_IndicatorArrowLeft;
      style()->drawPrimitive(element, &indicator, &painter, this);
    }
  }

  // The control steps when the button goes down, as Windows' does.
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    m_pressed = ArrowAt(event->position().toPoint());
    update();
    CallbackScope scope;
    Step(m_pressed);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    m_pressed = Arrow::None;
    update();
  }

  // With UDS_ARROWKEYS the Up and Down keys typed into the buddy step the control instead.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || (windowStyle & UDS_ARROWKEYS) == 0) return false;
    // A control already destroyed (its widget waiting to be deleted) no longer listens.
    if (PeekBinding(handle) != this) return false;
    WindowBinding* buddy = PeekBinding(m_buddy);
    if (buddy == nullptr || watched != buddy->Widget()) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down) return false;
    CallbackScope scope;
    Step(key == Qt::Key_Up ? Arrow::Up : Arrow::Down);
    return true;
  }

 private:
  int64_t Lowest() const { return std::min(m_minimum, m_maximum); }
  int64_t Highest() const { return std::max(m_minimum, m_maximum); }

  // The upper (or, for UDS_HORZ, the right) half is the up arrow.
  QRect ArrowRect(Arrow arrow) const {
    if (windowStyle & UDS_HORZ) {
      const int half = width() / 2;
      return arrow == Arrow::Up ? QRect(half, 0, width() - half, height()) : QRect(0, 0, half, height());
    }
    const int half = height() / 2;
    return arrow == Arrow::Up ? QRect(0, 0, width(), half) : QRect(0, half, width(), height() - half);
  }
  Arrow ArrowAt(const QPoint& point) const { return ArrowRect(Arrow::Up).contains(point) ? Arrow::Up : Arrow::Down; }

  // Returns the previous buddy. The old buddy's keys are no longer watched; with an alignment
  // style the control moves into the new buddy's rectangle, which gives up the room.
  HWND SetBuddy(HWND buddy) {
    const HWND previous = m_buddy;
    if (WindowBinding* old = PeekBinding(previous)) old->Widget()->removeEventFilter(this);
    WindowBinding* binding = PeekBinding(buddy);
    m_buddy = binding != nullptr ? buddy : nullptr;
    if (binding == nullptr) return previous;
    binding->Widget()->installEventFilter(this);
    if (windowStyle & (UDS_ALIGNLEFT | UDS_ALIGNRIGHT)) AlignWithBuddy();
    return previous;
  }

  void AlignWithBuddy() {
    RECT buddyRect;
    if (!GetWindowRect(m_buddy, &buddyRect)) return;
    const int controlWidth = std::min<int>(width(), buddyRect.right - buddyRect.left);
    const bool left = (windowStyle & UDS_ALIGNLEFT) != 0;
    // Both rectangles in screen coordinates first, each then in its own parent's client area.
    POINT buddyCorner{left ? buddyRect.left + controlWidth : buddyRect.left, buddyRect.top};
    POINT controlCorner{left ? buddyRect.left : buddyRect.right - controlWidth, buddyRect.top};
    const int height = buddyRect.bottom - buddyRect.top;
    const int buddyWidth = buddyRect.right - buddyRect.left - controlWidth;
    MapWindowPoints(nullptr, GetParent(m_buddy), &buddyCorner, 1);
    MapWindowPoints(nullptr, IsChild() ? parentHandle : nullptr, &controlCorner, 1);
    constexpr UINT kKeepOrder = SWP_NOZORDER | SWP_NOACTIVATE;
    SetWindowPos(m_buddy, nullptr, buddyCorner.x, buddyCorner.y, buddyWidth, height, kKeepOrder);
    SetWindowPos(handle, nullptr, controlCorner.x, controlCorner.y, controlWidth, height, kKeepOrder);
  }

  // With UDS_SETBUDDYINT the buddy's text is the position: a number in the range there becomes
  // the position. Returns whether one was read.
  bool ReadBuddy() {
    if ((windowStyle & UDS_SETBUDDYINT) == 0 || PeekBinding(m_buddy) == nullptr) return false;
    const int length = GetWindowTextLengthA(m_buddy);
    std::string text(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
    text.resize(static_cast<size_t>(std::max(GetWindowTextA(m_buddy, text.data(), length + 1), 0)));
    const std::optional<int> value = ParsePositionText(text);
    if (!value || *value < Lowest() || *value > Highest()) return false;
    m_position = *value;
    return true;
  }

  void WriteBuddy() {
    if ((windowStyle & UDS_SETBUDDYINT) == 0 || PeekBinding(m_buddy) == nullptr) return;
    SetWindowTextA(m_buddy, PositionText(m_position, (windowStyle & UDS_NOTHOUSANDS) == 0).c_str());
  }

  // One step toward the maximum (Arrow::Up) or the minimum, starting from the buddy's number.
  // Past an end the position stays there, or with UDS_WRAP goes to the other end. The parent
  // hears of every step, also one that left the position where it was.
  void Step(Arrow arrow) {
    ReadBuddy();
    const int64_t delta = (arrow == Arrow::Up) == (m_maximum >= m_minimum) ? 1 : -1;
    const bool wraps = (windowStyle & UDS_WRAP) != 0;
    int64_t next = int64_t{m_position} + delta;
    if (next > Highest()) next = wraps ? Lowest() : Highest();
    if (next < Lowest()) next = wraps ? Highest() : Lowest();
    if (next != m_position) {
      m_position = static_cast<int>(next);
      WriteBuddy();
    }
    // The buddy's handlers may have destroyed this control meanwhile.
    if (PeekBinding(handle) != this || parentHandle == nullptr) return;
    const UINT scroll = (windowStyle & UDS_HORZ) ? WM_HSCROLL : WM_VSCROLL;
    SendMessageA(parentHandle, scroll, MAKEWPARAM(SB_THUMBPOSITION, static_cast<unsigned>(m_position)),
                 reinterpret_cast<LPARAM>(handle));
  }

  QString m_text;
  HWND m_buddy = nullptr;  // looked up in the registry at each use: the buddy may be gone
  int m_minimum = kDefaultMinimum;
  int m_maximum = kDefaultMaximum;
  int m_position = 0;
  Arrow m_pressed = Arrow::None;
};

}  // namespace

WindowBinding* CreateUpDownControl() { return new UpDownWidget; }

}  // namespace win::ui_detail
