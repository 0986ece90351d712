// Real windows: classes and creation, destruction, the default procedure, geometry with the frame
// of top-level windows, visibility, activation, focus and window texts.
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QThread>
#include <QWindow>
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

// A window of a registered class: the procedure does the work, the widget reports what happens.
class ProcedureWidget : public QWidget, public WindowBinding {
 public:
  explicit ProcedureWidget(COLORREF classBackground) : m_classBackground(classBackground) {}

  QWidget* Widget() override { return this; }
  void SetDisplayText(const QString& text) override {
    m_text = text;
    if (isWindow()) setWindowTitle(text);
  }
  QString DisplayText() const override { return m_text; }
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
    if (!m_firstPaintSeen && isWindow() && !t_grabbing) {
      m_firstPaintSeen = true;
      if (CurrentFirstPaintHook()) ReportFirstPaintLater(this, handle);
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

// A window manager tells the frame only once the window is on screen; the outer size asked for
// is kept by giving the client area what the real frame leaves.
void KeepOuterSizeAfterShow(WindowBinding& binding) {
  QWidget* widget = binding.Widget();
  if (binding.IsChild()) return;
  const QVariant applied = widget->property("qvAppliedMargins");
  if (!applied.isValid() || applied.value<QMargins>() == FrameMargins(widget)) return;
  SetOuterGeometry(binding, widget->property("qvOuter").toRect());
}

void CollectDescendants(QWidget* widget, std::vector<HWND>& order) {
  for (QObject* child : widget->children()) {
    auto* childWidget = qobject_cast<QWidget*>(child);
    if (childWidget == nullptr) continue;
    auto* binding = dynamic_cast<WindowBinding*>(childWidget);
    if (binding != nullptr && PeekBinding(binding->handle) == binding) order.push_back(binding->handle);
    CollectDescendants(childWidget, order);
  }
}

void Activate(QWidget* top) {
  top->raise();
  top->activateWindow();
}

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

HWND HandleOf(QWidget* widget) {
  WindowBinding* binding = BindingOfWidget(widget);
  return binding != nullptr ? binding->handle : nullptr;
}

}  // namespace

CallbackScope::CallbackScope() { ++t_callbackDepth; }
CallbackScope::~CallbackScope() { --t_callbackDepth; }
bool CallbackScope::Active() { return t_callbackDepth > 0; }

WindowBinding::~WindowBinding() {
  if (handle != nullptr && PeekBinding(handle) == this) UnregisterWindow(handle);
}

bool WindowBinding::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

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

std::string DisplayTextToGbk(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  std::string out;
  if (utf8.isEmpty()) return out;
  IconvHandle converter("CP936", "UTF-8");
  if (!converter.IsValid()) {
    for (char c : utf8) out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    return out;
  }
  char buffer[512];
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = static_cast<size_t>(utf8.size());
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t result = iconv(converter.Get(), &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (result != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // A character GBK cannot hold: skip its UTF-8 bytes and put Windows' default character.
    out += '?';
    do {
      ++in;
      --inLeft;
    } while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
    iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

QString GbkToQString(const char* gbk) { return gbk != nullptr ? GbkToDisplayText(gbk) : QString(); }

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
  binding->SetDisplayText(ui_detail::GbkToQString(windowName));
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
    case WM_SETTEXT:
      binding->SetDisplayText(ui_detail::GbkToQString(reinterpret_cast<LPCSTR>(lParam)));
      return TRUE;
    case WM_GETTEXT: {
      auto* buffer = reinterpret_cast<char*>(lParam);
      if (buffer == nullptr || wParam == 0) return 0;
      const std::string text = ui_detail::DisplayTextToGbk(binding->WindowsText());
      // Cut at a character boundary: half a double-byte character would be another character.
      size_t length = 0;
      while (length < text.size()) {
        const size_t step = static_cast<unsigned char>(text[length]) >= 0x81 ? 2 : 1;
        if (length + step > wParam - 1) break;
        length += step;
      }
      length = std::min(length, text.size());
      text.copy(buffer, length);
      buffer[length] = '\0';
      return static_cast<LRESULT>(length);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(ui_detail::DisplayTextToGbk(binding->WindowsText()).size());
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

LRESULT CallWindowProcA(WindowProcedure procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return procedure != nullptr ? procedure(window, message, wParam, lParam) : 0;
}

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

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text != nullptr ? text : "")) != 0 ? TRUE
                                                                                                        : FALSE;
}

int GetWindowTextA(HWND window, LPSTR buffer, int maxCount) {
  if (buffer != nullptr && maxCount > 0) buffer[0] = '\0';
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (buffer == nullptr || maxCount <= 0) return 0;
  return static_cast<int>(SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND window) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return static_cast<int>(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0));
}

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

BOOL SetControlColors(HWND window, COLORREF text, COLORREF background) {
  WindowBinding* binding = FindBinding(window);
  if (binding == nullptr) return FALSE;
  binding->textColor = text;
  binding->backColor = background;
  binding->ApplyColors();
  binding->Widget()->update();
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
