// Real windows: classes and creation, destruction, the default procedure, parents and the order
// of siblings. Placement and showing are in window_geometry.cpp, styles and colours in
// window_style.cpp, texts in window_text.cpp, invalidation and the first-paint hook in
// window_paint.cpp.
#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QThread>
#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <vector>

#include "platform/ui/ui_private.h"
#include "platform/ui/window_private.h"

namespace win {

namespace ui_detail {

namespace {

thread_local int t_callbackDepth = 0;

struct WindowClass {
  ATOM atom = 0;
  WindowProcedure procedure = nullptr;
  COLORREF background = CLR_INVALID;  // CLR_INVALID: no background brush
};

struct ClassTable {
  std::mutex mutex;  // classes may be registered from any thread
  std::map<std::string, WindowClass> classes;  // by upper-case name
  ATOM nextAtom = 0xC000;                      // where Windows numbers registered classes
};

ClassTable& Classes() {
  static auto* table = new ClassTable;  // never destroyed: windows may be created until process exit
  return *table;
}

std::string UpperName(LPCSTR name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool OnApplicationThread() {
  QCoreApplication* application = QCoreApplication::instance();
  return application != nullptr && QThread::currentThread() == application->thread();
}

// A window of a registered class: the procedure does the work, the widget reports what happens.
class ProcedureWidget : public QWidget, public WindowBinding {
 public:
  explicit ProcedureWidget(COLORREF classBackground) : m_classBackground(classBackground) {}

  QWidget* Widget() override { return this; }
  void SetText(const QString& text) override {
    m_text = text;
    if (isWindow()) setWindowTitle(DisplayLineBreaks(text));
  }
  QString Text() const override { return m_text; }
  void ApplyColors() override {
    const COLORREF saved = backColor;
    if (backColor == CLR_INVALID) backColor = m_classBackground;
    WindowBinding::ApplyColors();
    backColor = saved;
  }

 protected:
  // The close box asks the procedure; the window goes only when it is destroyed.
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    CallbackScope scope;
    SendMessageA(handle, WM_CLOSE, 0, 0);
  }
  QPainter* ActivePainter() override { return m_painter; }
  // The procedure paints through BeginPaint; what it leaves alone shows the background.
  void paintEvent(QPaintEvent*) override {
    if (!m_firstPaintSeen && isWindow() && !GrabInProgress()) {
      m_firstPaintSeen = true;
      ReportFirstPaint(this, handle);
    }
    QPainter painter(this);
    const int border = BorderWidth();
    if (border > 0) {
      QStyleOptionFrame frame;
      frame.initFrom(this);
      frame.lineWidth = border;
      frame.state |= QStyle::State_Sunken;
      style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
      painter.setClipRect(rect().adjusted(border, border, -border, -border));
    }
    painter.translate(border, border);  // the procedure paints in client coordinates
    m_painter = &painter;
    {
      CallbackScope scope;
      SendMessageA(handle, WM_PAINT, 0, 0);
    }
    m_painter = nullptr;
  }
  void mousePressEvent(QMouseEvent* event) override { SendMouse(WM_LBUTTONDOWN, event); }
  void mouseReleaseEvent(QMouseEvent* event) override { SendMouse(WM_LBUTTONUP, event); }
  void focusInEvent(QFocusEvent* event) override {
    QWidget::focusInEvent(event);
    CallbackScope scope;
    SendMessageA(handle, WM_SETFOCUS, 0, 0);
  }
  void focusOutEvent(QFocusEvent* event) override {
    QWidget::focusOutEvent(event);
    CallbackScope scope;
    SendMessageA(handle, WM_KILLFOCUS, 0, 0);
  }

 private:
  void SendMouse(UINT message, QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint client = event->position().toPoint() - QPoint(BorderWidth(), BorderWidth());
    CallbackScope scope;
    SendMessageA(handle, message, 0, MAKELPARAM(client.x(), client.y()));
  }

  QString m_text;
  COLORREF m_classBackground;
  QPainter* m_painter = nullptr;
  bool m_firstPaintSeen = false;  // a top-level window reports its first paint once
};

void CollectDescendants(QWidget* widget, std::vector<HWND>& order) {
  for (QObject* child : widget->children()) {
    auto* childWidget = qobject_cast<QWidget*>(child);
    if (childWidget == nullptr) continue;
    auto* binding = dynamic_cast<WindowBinding*>(childWidget);
    if (binding != nullptr && PeekBinding(binding->handle) == binding) order.push_back(binding->handle);
    CollectDescendants(childWidget, order);
  }
}

}  // namespace

CallbackScope::CallbackScope() { ++t_callbackDepth; }
CallbackScope::~CallbackScope() { --t_callbackDepth; }
bool CallbackScope::Active() { return t_callbackDepth > 0; }

WindowBinding::~WindowBinding() {
  if (handle != nullptr && PeekBinding(handle) == this) UnregisterWindow(handle);
}

bool WindowBinding::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

WindowBinding* BindingOfWidget(QWidget* widget) {
  for (; widget != nullptr; widget = widget->parentWidget()) {
    auto* binding = dynamic_cast<WindowBinding*>(widget);
    if (binding != nullptr && PeekBinding(binding->handle) == binding) return binding;
  }
  return nullptr;
}

// The registered children of a widget, in stacking order from the top (Qt keeps the top last).
std::vector<WindowBinding*> ChildrenFromTop(QWidget* widget) {
  std::vector<WindowBinding*> children;
  const QObjectList& list = widget->children();
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    auto* childWidget = qobject_cast<QWidget*>(*it);
    if (childWidget == nullptr || childWidget->isWindow()) continue;
    auto* binding = dynamic_cast<WindowBinding*>(childWidget);
    if (binding != nullptr && PeekBinding(binding->handle) == binding) children.push_back(binding);
  }
  return children;
}

void NotifyParent(WindowBinding& control, UINT code) {
  if (!control.IsChild() || control.parentHandle == nullptr) return;
  CallbackScope scope;
  SendMessageA(control.parentHandle, WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(control.id), code),
               reinterpret_cast<LPARAM>(control.handle));
}

LRESULT BuiltInProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (WindowBinding* binding = FindBinding(window)) {
    LRESULT result = 0;
    if (binding->HandleMessage(message, wParam, lParam, result)) return result;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

BOOL DestroyRealWindow(HWND window) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  if (binding->destroyStarted) return TRUE;
  std::vector<HWND> order{window};
  CollectDescendants(binding->Widget(), order);
  for (HWND each : order) {
    if (WindowBinding* found = FindBinding(each)) found->destroyStarted = true;
  }
  QPointer<QWidget> widget = binding->Widget();
  widget->hide();
  // The window first, then its children: each still finds all of its children.
  for (HWND each : order) {
    if (IsRegisteredWindow(each)) SendMessageA(each, WM_DESTROY, 0, 0);
  }
  // Taken down from the innermost children outwards.
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if (!IsRegisteredWindow(*it)) continue;
    SendMessageA(*it, WM_NCDESTROY, 0, 0);
    UnregisterWindow(*it);
  }
  if (widget != nullptr) {
    // Deleting a widget under its own event handler (a click that closes the window) would pull
    // the handler's object away; such a widget goes once the handler has returned.
    if (CallbackScope::Active()) {
      widget->deleteLater();
    } else {
      delete widget.data();
    }
  }
  return TRUE;
}

}  // namespace ui_detail

using ui_detail::FindBinding;
using ui_detail::WindowBinding;

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr || windowClass->lpszClassName == nullptr ||
      windowClass->lpszClassName[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ui_detail::EnsureApplication();
  const std::string name = ui_detail::UpperName(windowClass->lpszClassName);
  ui_detail::ClassTable& table = ui_detail::Classes();
  std::lock_guard lock(table.mutex);
  if (name == "EDIT" || name == "BUTTON" || name == "STATIC" || name == "MSCTLS_UPDOWN32" ||
      table.classes.count(name) != 0) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  ui_detail::WindowClass entry;
  entry.atom = table.nextAtom++;
  entry.procedure = windowClass->lpfnWndProc;
  COLORREF background = CLR_INVALID;
  const auto brushValue = reinterpret_cast<uintptr_t>(windowClass->hbrBackground);
  if (brushValue > 0 && brushValue <= 31) {
    background = GetSysColor(static_cast<int>(brushValue - 1));  // a system colour index + 1
  } else if (windowClass->hbrBackground != nullptr) {
    ui_detail::BrushColor(windowClass->hbrBackground, &background);
  }
  entry.background = background;
  table.classes.emplace(name, entry);
  return entry.atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
  ui_detail::ClassTable& table = ui_detail::Classes();
  std::lock_guard lock(table.mutex);
  if (className == nullptr || table.classes.erase(ui_detail::UpperName(className)) == 0) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
  ui_detail::EnsureApplication();
  if (!ui_detail::OnApplicationThread()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (className == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool child = (style & WS_CHILD) != 0;
  if (child && parent == nullptr) {
    SetLastError(ERROR_TLW_WITH_WSCHILD);
    return nullptr;
  }
  WindowBinding* parentBinding = nullptr;
  if (parent != nullptr && (parentBinding = FindBinding(parent)) == nullptr) return nullptr;

  const std::string name = ui_detail::UpperName(className);
  WindowProcedure procedure = nullptr;
  WindowBinding* binding = ui_detail::CreateBuiltInControl(name, style, exStyle);
  if (binding != nullptr) {
    procedure = ui_detail::BuiltInProcedure;
  } else {
    ui_detail::WindowClass windowClass;
    {
      ui_detail::ClassTable& table = ui_detail::Classes();
      std::lock_guard lock(table.mutex);
      const auto found = table.classes.find(name);
      if (found == table.classes.end()) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
      }
      windowClass = found->second;
    }
    procedure = windowClass.procedure;
    binding = new ui_detail::ProcedureWidget(windowClass.background);
  }
  binding->windowStyle = style;
  binding->exStyle = exStyle;
  binding->parentHandle = parent;
  binding->id = child ? reinterpret_cast<LONG_PTR>(menu) : 0;
  QWidget* widget = binding->Widget();
  if (child) {
    widget->setParent(parentBinding->Widget());
    widget->lower();
  } else {
    // An owned window is a Qt child with window flags: it stays above its owner and goes with it.
    widget->setParent(parentBinding != nullptr ? parentBinding->Widget() : nullptr,
                      ui_detail::TopLevelFlags(style, exStyle));
  }
  binding->handle = ui_detail::RegisterWindow(procedure, binding);
  const HWND handle = binding->handle;
  binding->SetText(ui_detail::GbkToQString(windowName));
  binding->ApplyColors();
  if (!child) {
    if (x == CW_USEDEFAULT) x = y = 100;
    if (width == CW_USEDEFAULT) {
      width = 400;
      height = 300;
    }
    widget->winId();  // the platform window, so that the frame is known before the size is set
  }
  ui_detail::SetOuterGeometry(*binding, QRect(x, y, width, height));
  if (style & WS_DISABLED) widget->setEnabled(false);
  if (child) widget->setVisible(false);  // shown only with WS_VISIBLE, even when the parent is

  CREATESTRUCTA create{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style), windowName,
                       className, exStyle};
  const LRESULT created = SendMessageA(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
  if (!IsWindow(handle)) return nullptr;
  if (created == -1) {
    DestroyWindow(handle);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (style & WS_VISIBLE) ShowWindow(handle, child ? SW_SHOWNA : SW_SHOW);
  return handle;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return 0;
  switch (message) {
    case WM_SETTEXT: return ui_detail::DefaultSetText(*binding, lParam);
    case WM_GETTEXT: return ui_detail::DefaultGetText(*binding, wParam, lParam);
    case WM_GETTEXTLENGTH: return ui_detail::DefaultGetTextLength(*binding);
    case WM_SETFONT:
      binding->fontHandle = reinterpret_cast<HFONT>(wParam);
      binding->ApplyFont(ui_detail::FontOf(binding->fontHandle));
      if (lParam != 0) binding->Widget()->update();
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(binding->fontHandle);
    default:
      return 0;
  }
}

BOOL IsWindow(HWND window) { return window != nullptr && ui_detail::IsRegisteredWindow(window) ? TRUE : FALSE; }

HWND GetParent(HWND window) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return nullptr;
  // The owner of a top-level window counts as its parent only for a pop-up, as on Windows.
  return binding->IsChild() || (binding->windowStyle & WS_POPUP) ? binding->parentHandle : nullptr;
}

HWND SetParent(HWND child, HWND newParent) {
  WindowBinding* binding = FindBinding(child);
  if (binding == nullptr) return nullptr;
  WindowBinding* parentBinding = nullptr;
  if (newParent != nullptr) {
    parentBinding = FindBinding(newParent);
    if (parentBinding == nullptr) return nullptr;
    // A window cannot go inside itself or one of its own children.
    for (QWidget* up = parentBinding->Widget(); up != nullptr; up = up->parentWidget()) {
      if (up == binding->Widget()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
    }
  }
  const HWND previous = binding->parentHandle;
  QWidget* widget = binding->Widget();
  const bool wasShown = !widget->isHidden();
  const QPoint position = widget->pos();
  if (parentBinding != nullptr) {
    binding->windowStyle = (binding->windowStyle | WS_CHILD) & ~WS_POPUP;
    widget->setParent(parentBinding->Widget());
    widget->move(position);
  } else {
    binding->windowStyle &= ~WS_CHILD;
    widget->setParent(nullptr, ui_detail::TopLevelFlags(binding->windowStyle, binding->exStyle));
  }
  binding->parentHandle = newParent;
  // Qt hides a widget that changes parent; Windows keeps its visible flag.
  if (wasShown) widget->show();
  return previous;
}

int GetDlgCtrlID(HWND window) {
  WindowBinding* binding = FindBinding(window);
  return binding != nullptr && binding->IsChild() ? static_cast<int>(binding->id) : 0;
}

HWND GetWindow(HWND window, UINT command) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return nullptr;
  if (command == GW_CHILD) {
    const auto children = ui_detail::ChildrenFromTop(binding->Widget());
    return children.empty() ? nullptr : children.front()->handle;
  }
  QWidget* parentWidget = binding->Widget()->parentWidget();
  if (!binding->IsChild() || parentWidget == nullptr) return nullptr;
  const auto siblings = ui_detail::ChildrenFromTop(parentWidget);
  const auto self = std::find(siblings.begin(), siblings.end(), binding);
  switch (command) {
    case GW_HWNDFIRST: return siblings.front()->handle;
    case GW_HWNDLAST: return siblings.back()->handle;
    case GW_HWNDNEXT: return self + 1 < siblings.end() ? (*(self + 1))->handle : nullptr;
    case GW_HWNDPREV: return self > siblings.begin() ? (*(self - 1))->handle : nullptr;
    default: SetLastError(ERROR_INVALID_PARAMETER); return nullptr;
  }
}

LRESULT CallWindowProcA(WindowProcedure procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return procedure != nullptr ? procedure(window, message, wParam, lParam) : 0;
}

}  // namespace win
