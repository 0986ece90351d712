// Placement of real windows (geometry with the frame of top-level windows, screen metrics),
// showing and hiding, enabling, activation and focus.
#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <utility>

#include "platform/ui/ui_private.h"
#include "platform/ui/window_private.h"

namespace win {

namespace ui_detail {

namespace {

QMargins FrameMargins(QWidget* widget) {
  QWindow* window = widget->windowHandle();
  return window != nullptr ? window->frameMargins() : QMargins();
}

WindowBinding* ParentBinding(WindowBinding& binding) {
  return binding.IsChild() && binding.parentHandle != nullptr ? FindBinding(binding.parentHandle) : nullptr;
}

// The screen position of the widget's top-left corner (of the client area for a top-level window,
// whose frame Qt keeps outside the widget).
QPoint WidgetOriginOnScreen(QWidget* widget) {
  QWidget* top = widget->window();
  return top->geometry().topLeft() + widget->mapTo(top, QPoint(0, 0));
}

QPoint ClientOriginOnScreen(WindowBinding& binding) {
  const int border = binding.IsChild() ? binding.BorderWidth() : 0;
  return WidgetOriginOnScreen(binding.Widget()) + QPoint(border, border);
}

QRect OuterRectOnScreen(WindowBinding& binding) {
  QWidget* widget = binding.Widget();
  if (binding.IsChild()) return QRect(WidgetOriginOnScreen(widget), widget->size());
  return widget->geometry().marginsAdded(FrameMargins(widget));
}

}  // namespace

// Places the window: for a child, outer is in the parent's client coordinates; for a top-level
// window it is on the screen and includes the frame, so the widget gets what the frame leaves.
void SetOuterGeometry(WindowBinding& binding, const QRect& outer) {
  QWidget* widget = binding.Widget();
  const QRect sized(outer.topLeft(), QSize(std::max(outer.width(), 0), std::max(outer.height(), 0)));
  if (binding.IsChild()) {
    const WindowBinding* parent = ParentBinding(binding);
    const int border = parent != nullptr ? parent->BorderWidth() : 0;
    widget->setGeometry(sized.translated(border, border));
    return;
  }
  const QMargins margins = FrameMargins(widget);
  QRect client = sized.marginsRemoved(margins);
  client.setSize(client.size().expandedTo(QSize(0, 0)));
  // A frame without a sizing border cannot be dragged to another size.
  if ((binding.windowStyle & WS_THICKFRAME) == 0) {
    widget->setFixedSize(client.size());
  } else {
    widget->setMinimumSize(0, 0);
    widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  widget->setGeometry(client);
  widget->setProperty("qvAppliedMargins", QVariant::fromValue(margins));
  widget->setProperty("qvOuter", sized);
}

namespace {

// A window manager tells the frame only once the window is on screen; the outer size asked for
// is kept by giving the client area what the real frame leaves.
void KeepOuterSizeAfterShow(WindowBinding& binding) {
  QWidget* widget = binding.Widget();
  if (binding.IsChild()) return;
  const QVariant applied = widget->property("qvAppliedMargins");
  if (!applied.isValid() || applied.value<QMargins>() == FrameMargins(widget)) return;
  SetOuterGeometry(binding, widget->property("qvOuter").toRect());
}

void Activate(QWidget* top) {
  top->raise();
  top->activateWindow();
}

HWND HandleOf(QWidget* widget) {
  WindowBinding* binding = BindingOfWidget(widget);
  return binding != nullptr ? binding->handle : nullptr;
}

}  // namespace

}  // namespace ui_detail

using ui_detail::FindBinding;
using ui_detail::WindowBinding;

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  (void)repaint;  // Qt repaints what changed either way
  return SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  // HWND_TOPMOST (-1) and HWND_NOTOPMOST (-2) only bring the window up here.
  const auto insertValue = reinterpret_cast<intptr_t>(insertAfter);
  const bool topmostRequest = insertValue == -1 || insertValue == -2;
  if ((flags & SWP_NOZORDER) == 0 && insertAfter != HWND_TOP && insertAfter != HWND_BOTTOM && !topmostRequest &&
      FindBinding(insertAfter) == nullptr) {
    return FALSE;  // checked before anything changes
  }
  QWidget* widget = binding->Widget();
  // The current rectangle in the coordinates the caller speaks: parent client or screen.
  QRect outer = ui_detail::OuterRectOnScreen(*binding);
  if (binding->IsChild()) {
    if (WindowBinding* parent = ui_detail::ParentBinding(*binding)) {
      outer.translate(-ui_detail::ClientOriginOnScreen(*parent));
    }
  }
  const QRect before = outer;
  if ((flags & SWP_NOMOVE) == 0) outer.moveTo(x, y);
  if ((flags & SWP_NOSIZE) == 0) outer.setSize(QSize(std::max(width, 0), std::max(height, 0)));
  if (outer != before) ui_detail::SetOuterGeometry(*binding, outer);
  if ((flags & SWP_NOZORDER) == 0) {
    if (insertAfter == HWND_TOP || topmostRequest) {
      widget->raise();
    } else if (insertAfter == HWND_BOTTOM) {
      widget->lower();
    } else {
      WindowBinding* above = FindBinding(insertAfter);
      if (above != binding && above->Widget()->parentWidget() == widget->parentWidget()) {
        widget->stackUnder(above->Widget());
      }
    }
  }
  if (flags & SWP_HIDEWINDOW) widget->hide();
  if (flags & SWP_SHOWWINDOW) ShowWindow(window, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
  if (!binding->IsChild() && (flags & SWP_NOACTIVATE) == 0 && (flags & SWP_NOZORDER) == 0 && widget->isVisible()) {
    ui_detail::Activate(widget);
  }
  if (outer.size() != before.size()) {
    const QSize client = binding->IsChild() ? widget->size() - QSize(2, 2) * binding->BorderWidth() : widget->size();
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.width(), client.height()));
  }
  if (outer.topLeft() != before.topLeft()) {
    QPoint client = binding->IsChild() ? outer.topLeft() : ui_detail::ClientOriginOnScreen(*binding);
    if (binding->IsChild()) client += QPoint(binding->BorderWidth(), binding->BorderWidth());
    SendMessageA(window, WM_MOVE, 0, MAKELPARAM(client.x(), client.y()));
  }
  return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const QRect outer = ui_detail::OuterRectOnScreen(*binding);
  *rect = RECT{outer.left(), outer.top(), outer.left() + outer.width(), outer.top() + outer.height()};
  return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  QSize size = binding->Widget()->size();
  if (binding->IsChild()) size = (size - QSize(2, 2) * binding->BorderWidth()).expandedTo(QSize(0, 0));
  *rect = RECT{0, 0, size.width(), size.height()};
  return TRUE;
}

BOOL ClientToScreen(HWND window, POINT* point) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr || point == nullptr) return FALSE;
  const QPoint origin = ui_detail::ClientOriginOnScreen(*binding);
  point->x += origin.x();
  point->y += origin.y();
  return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr || point == nullptr) return FALSE;
  const QPoint origin = ui_detail::ClientOriginOnScreen(*binding);
  point->x -= origin.x();
  point->y -= origin.y();
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count) {
  QPoint offset;
  for (const auto& [window, sign] : {std::pair{from, 1}, std::pair{to, -1}}) {
    if (window == nullptr) continue;
    WindowBinding* binding = FindBinding(window);
    if (binding == nullptr) return 0;
    offset += sign * ui_detail::ClientOriginOnScreen(*binding);
  }
  for (UINT i = 0; points != nullptr && i < count; ++i) {
    points[i].x += offset.x();
    points[i].y += offset.y();
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<int>(MAKELPARAM(static_cast<unsigned>(offset.x()), static_cast<unsigned>(offset.y())));
}

int GetSystemMetrics(int index) {
  ui_detail::EnsureApplication();
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return 0;
  switch (index) {
    case SM_CXSCREEN: return screen->geometry().width();
    case SM_CYSCREEN: return screen->geometry().height();
    default: return 0;
  }
}

BOOL SystemParametersInfoA(UINT action, UINT, void* param, UINT) {
  ui_detail::EnsureApplication();
  QScreen* screen = QGuiApplication::primaryScreen();
  if (action != SPI_GETWORKAREA || param == nullptr || screen == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const QRect area = screen->availableGeometry();
  *static_cast<RECT*>(param) = RECT{area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
  return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  QWidget* widget = binding->Widget();
  const BOOL wasVisible = widget->isHidden() ? FALSE : TRUE;
  const bool topLevel = !binding->IsChild();
  switch (command) {
    case SW_HIDE:
      widget->hide();
      return wasVisible;
    case SW_SHOWNA:
    case SW_SHOWNOACTIVATE:
    case SW_SHOWMINNOACTIVE:
      if (topLevel) {
        // Some platforms (offscreen among them) activate every window they show; the window that
        // was active is given the activation back, which is what showing without activating means.
        const QPointer<QWidget> active = QApplication::activeWindow();
        widget->setAttribute(Qt::WA_ShowWithoutActivating, true);
        if (command == SW_SHOWMINNOACTIVE) {
          widget->showMinimized();
        } else if (command == SW_SHOWNOACTIVATE && widget->isMinimized()) {
          widget->showNormal();
        } else {
          widget->show();
        }
        widget->setAttribute(Qt::WA_ShowWithoutActivating, false);
        if (active != nullptr && active != widget) active->activateWindow();
      } else {
        widget->show();
      }
      break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
      if (topLevel) widget->showMinimized(); else widget->show();
      break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
      if (topLevel) {
        widget->showNormal();
        ui_detail::Activate(widget);
      } else {
        widget->show();
      }
      break;
    default:
      widget->show();
      if (topLevel) ui_detail::Activate(widget);
      break;
  }
  ui_detail::KeepOuterSizeAfterShow(*binding);
  return wasVisible;
}

BOOL IsWindowVisible(HWND window) {
  WindowBinding* binding = FindBinding(window);
  return binding != nullptr && binding->Widget()->isVisible() ? TRUE : FALSE;
}

BOOL IsIconic(HWND window) {
  WindowBinding* binding = FindBinding(window);
  return binding != nullptr && !binding->IsChild() && binding->Widget()->isMinimized() ? TRUE : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  QWidget* widget = binding->Widget();
  const BOOL wasDisabled = widget->testAttribute(Qt::WA_ForceDisabled) ? TRUE : FALSE;
  widget->setEnabled(enable != FALSE);
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND window) {
  WindowBinding* binding = FindBinding(window);
  // The window's own flag, as on Windows: a child of a disabled window still reports enabled.
  return binding != nullptr && !binding->Widget()->testAttribute(Qt::WA_ForceDisabled) ? TRUE : FALSE;
}

BOOL SetForegroundWindow(HWND window) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  ui_detail::Activate(binding->Widget()->window());
  return TRUE;
}

BOOL BringWindowToTop(HWND window) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  if (binding->IsChild()) {
    binding->Widget()->raise();
  } else {
    ui_detail::Activate(binding->Widget());
  }
  return TRUE;
}

HWND GetForegroundWindow() { return GetActiveWindow(); }

HWND GetActiveWindow() {
  if (!ApplicationExists()) return nullptr;
  return ui_detail::HandleOf(QApplication::activeWindow());
}

HWND SetFocus(HWND window) {
  const HWND previous = GetFocus();
  if (window == nullptr) {
    if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
    return previous;
  }
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return nullptr;
  QWidget* widget = binding->Widget();
  QWidget* top = widget->window();
  if (!top->isActiveWindow()) top->activateWindow();
  widget->setFocus(Qt::OtherFocusReason);
  return previous;
}

HWND GetFocus() {
  if (!ApplicationExists()) return nullptr;
  return ui_detail::HandleOf(QApplication::focusWidget());
}

}  // namespace win
