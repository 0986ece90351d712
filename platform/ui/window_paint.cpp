// Invalidation and repainting of real windows, the first-paint hook and the grab into a picture.
#include <QMetaObject>
#include <QPixmap>
#include <functional>
#include <mutex>

#include "platform/ui/ui_private.h"
#include "platform/ui/window_private.h"

namespace win {

namespace ui_detail {

namespace {

// The first-paint test hook, in a plain static so that it can be set before Qt is set up.
struct FirstPaintHook {
  std::mutex mutex;
  std::function<void(HWND)> hook;
};

FirstPaintHook& TheFirstPaintHook() {
  static auto* hook = new FirstPaintHook;  // never destroyed: windows may paint until process exit
  return *hook;
}

std::function<void(HWND)> CurrentFirstPaintHook() {
  FirstPaintHook& first = TheFirstPaintHook();
  std::lock_guard lock(first.mutex);
  return first.hook;
}

// True while GrabWindowToPngForTesting draws a window into a picture: that paint is not shown.
thread_local bool t_grabbing = false;

// Called at the first paint of a shown top-level window. Qt flushes the backing store to the
// screen right after the paints of the same update, so a call queued from the paint runs when the
// picture is there. The call is dropped with the widget, and skipped when the window was hidden
// or destroyed in between.
void ReportFirstPaintLater(QWidget* widget, HWND window) {
  QMetaObject::invokeMethod(
      widget,
      [widget, window] {
        WindowBinding* binding = PeekBinding(window);
        if (binding == nullptr || binding->Widget() != widget || !widget->isVisible()) return;
        if (const std::function<void(HWND)> hook = CurrentFirstPaintHook()) hook(window);
      },
      Qt::QueuedConnection);
}

}  // namespace

bool GrabInProgress() { return t_grabbing; }

void ReportFirstPaint(QWidget* widget, HWND window) {
  if (CurrentFirstPaintHook()) ReportFirstPaintLater(widget, window);
}

}  // namespace ui_detail

using ui_detail::FindBinding;
using ui_detail::WindowBinding;

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  QWidget* widget = binding->Widget();
  if (rect == nullptr) {
    widget->update();
  } else {
    const int border = binding->IsChild() ? binding->BorderWidth() : 0;
    widget->update(QRect(rect->left + border, rect->top + border, rect->right - rect->left, rect->bottom - rect->top));
  }
  return TRUE;
}

BOOL UpdateWindow(HWND window) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  binding->Widget()->repaint();
  return TRUE;
}

BOOL GrabWindowToPngForTesting(HWND window, LPCSTR path) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ui_detail::t_grabbing = true;
  const QPixmap picture = binding->Widget()->grab();
  ui_detail::t_grabbing = false;
  return picture.save(QString::fromLocal8Bit(path), "PNG") ? TRUE : FALSE;
}

void SetFirstPaintHookForTesting(std::function<void(HWND)> hook) {
  ui_detail::FirstPaintHook& first = ui_detail::TheFirstPaintHook();
  std::lock_guard lock(first.mutex);
  first.hook = std::move(hook);
}

}  // namespace win
