// Styles of real windows: the Qt flags of a top-level window, the border width, style changes
// through SetWindowLongPtrA and the colours in the widget's palette.
#include <QApplication>
#include <QPalette>

#include "platform/ui/ui_private.h"
#include "platform/ui/window_private.h"

namespace win {

namespace ui_detail {

// Qt's flags for a top-level window of these styles. WS_OVERLAPPED (no WS_POPUP) always has a
// caption on Windows. There is no maximise button without WS_MAXIMIZEBOX.
Qt::WindowFlags TopLevelFlags(DWORD style, DWORD exStyle) {
  Qt::WindowFlags flags = (exStyle & WS_EX_TOOLWINDOW) ? Qt::Tool : Qt::Window;
  const bool caption = (style & WS_CAPTION) == WS_CAPTION || (style & WS_POPUP) == 0;
  if (caption) {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (style & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (style & WS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
    if (style & WS_MAXIMIZEBOX) flags |= Qt::WindowMaximizeButtonHint;
  } else {
    flags |= Qt::FramelessWindowHint;
  }
  if (exStyle & WS_EX_TOPMOST) flags |= Qt::WindowStaysOnTopHint;
  return flags;
}

namespace {

// GWL_STYLE / GWL_EXSTYLE: the new styles, WS_VISIBLE and WS_DISABLED (and WS_CHILD / WS_POPUP,
// which only SetParent changes here) left as they are. A border that changes moves the client
// area inside the same outer rectangle: the children keep their client coordinates.
LONG_PTR ChangeStyles(WindowBinding& binding, int index, LONG_PTR value) {
  const LONG_PTR previous = GetWindowLongPtrA(binding.handle, index);
  const DWORD oldStyle = binding.windowStyle;
  const DWORD oldExStyle = binding.exStyle;
  const int oldBorder = binding.BorderWidth();
  const auto styles = static_cast<DWORD>(value);
  if (index == GWL_STYLE) {
    constexpr DWORD kKept = WS_VISIBLE | WS_DISABLED | WS_CHILD | WS_POPUP;
    binding.windowStyle = (styles & ~kKept) | (oldStyle & kKept);
  } else {
    binding.exStyle = styles;
  }
  const HWND window = binding.handle;
  binding.StyleChanged(oldStyle, oldExStyle);
  const int border = binding.BorderWidth();
  if (border != oldBorder) {
    const QPoint shift(border - oldBorder, border - oldBorder);
    for (WindowBinding* child : ChildrenFromTop(binding.Widget())) {
      child->Widget()->move(child->Widget()->pos() + shift);
    }
    const QSize client = (binding.Widget()->size() - QSize(2, 2) * border).expandedTo(QSize(0, 0));
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.width(), client.height()));
  }
  if (WindowBinding* still = PeekBinding(window)) still->Widget()->update();
  SetLastError(ERROR_SUCCESS);  // a previous value of 0 is not an error
  return previous;
}

}  // namespace

int WindowBinding::BorderWidth() const {
  if (!IsChild()) return 0;  // a top-level window's border is part of its frame
  // The dialog frame (3 pixels) comes on top of a client edge, as Windows adds them up.
  if (exStyle & WS_EX_DLGMODALFRAME) return 3 + ((exStyle & WS_EX_CLIENTEDGE) ? 2 : 0);
  if (exStyle & WS_EX_CLIENTEDGE) return 2;
  if ((windowStyle & WS_BORDER) || (exStyle & WS_EX_STATICEDGE)) return 1;
  return 0;
}

void WindowBinding::ApplyColors() {
  QWidget* widget = Widget();
  QPalette palette = QApplication::palette(widget);
  if (textColor != CLR_INVALID) {
    const QColor color = ToQColor(textColor);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
      palette.setColor(group, QPalette::WindowText, color);
      palette.setColor(group, QPalette::Text, color);
      palette.setColor(group, QPalette::ButtonText, color);
    }
  }
  if (backColor != CLR_INVALID) {
    const QColor color = ToQColor(backColor);
    palette.setColor(QPalette::Window, color);
    palette.setColor(QPalette::Base, color);
  }
  widget->setAutoFillBackground(backColor != CLR_INVALID);
  widget->setPalette(palette);
}

}  // namespace ui_detail

using ui_detail::FindBinding;
using ui_detail::WindowBinding;

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return 0;
  switch (index) {
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(ui_detail::ReplaceProcedure(window, nullptr));
    case GWLP_ID: return binding->id;
    case GWLP_USERDATA: return binding->userValue;
    case GWL_STYLE: {
      DWORD style = binding->windowStyle & ~(WS_VISIBLE | WS_DISABLED);
      if (!binding->Widget()->isHidden()) style |= WS_VISIBLE;
      if (binding->Widget()->testAttribute(Qt::WA_ForceDisabled)) style |= WS_DISABLED;
      return static_cast<LONG_PTR>(style);
    }
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(binding->exStyle);
    default: SetLastError(ERROR_INVALID_PARAMETER); return 0;
  }
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return 0;
  LONG_PTR previous = 0;
  switch (index) {
    case GWLP_WNDPROC:
      if (value == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      return reinterpret_cast<LONG_PTR>(ui_detail::ReplaceProcedure(window, reinterpret_cast<WindowProcedure>(value)));
    case GWLP_ID: previous = binding->id; binding->id = value; break;
    case GWLP_USERDATA: previous = binding->userValue; binding->userValue = value; break;
    case GWL_STYLE:
    case GWL_EXSTYLE: return ui_detail::ChangeStyles(*binding, index, value);
    default: SetLastError(ERROR_INVALID_PARAMETER); return 0;
  }
  SetLastError(ERROR_SUCCESS);  // a previous value of 0 is not an error
  return previous;
}

BOOL SetControlColors(HWND window, COLORREF text, COLORREF background) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  binding->textColor = text;
  binding->backColor = background;
  binding->ApplyColors();
  binding->Widget()->update();
  return TRUE;
}

}  // namespace win
