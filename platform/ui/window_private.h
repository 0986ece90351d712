// What the files of the real windows share: the binding between a handle and its widget, the
// registry hooks (one registry with the message-only windows), and the conversions for Qt.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/ui/window.h"

namespace win::ui_detail {

// The Windows side of one real window, kept by its widget (the widget classes derive from it).
// The registry points at it only while the handle is valid.
class WindowBinding {
 public:
  WindowBinding() = default;
  WindowBinding(const WindowBinding&) = delete;
  WindowBinding& operator=(const WindowBinding&) = delete;
  // A widget that goes away by another path (its Qt parent deleted) takes its handle along.
  virtual ~WindowBinding();

  virtual QWidget* Widget() = 0;
  // The window text exactly as the program or the user wrote it: line breaks keep their kind
  // (CR LF, a lone CR or a lone LF), whatever the control shows for them.
  virtual void SetText(const QString& text) = 0;
  virtual QString Text() const = 0;
  // Messages of the control class; returns true when handled.
  virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  virtual void ApplyFont(const QFont& font) { Widget()->setFont(font); }
  // Puts textColor/backColor (CLR_INVALID: the system's) into the widget's palette.
  virtual void ApplyColors();
  // The painter of the paint in progress (a registered class inside WM_PAINT), else null.
  virtual class QPainter* ActivePainter() { return nullptr; }
  // Called after SetWindowLongPtrA has changed windowStyle or exStyle (the styles before are
  // given): the control takes again what it derives from its styles (alignment, read-only,
  // frame...) and may put back bits that cannot change after creation. Repaints by default.
  virtual void StyleChanged(DWORD oldStyle, DWORD oldExStyle) {
    (void)oldStyle;
    (void)oldExStyle;
    Widget()->update();
  }
  // The width of the border around the client area.
  int BorderWidth() const;
  bool IsChild() const { return (windowStyle & WS_CHILD) != 0; }

  HWND handle = nullptr;
  HWND parentHandle = nullptr;  // the parent of a child window, the owner of another one
  DWORD windowStyle = 0;
  DWORD exStyle = 0;
  LONG_PTR id = 0;
  LONG_PTR userValue = 0;
  HFONT fontHandle = nullptr;
  COLORREF textColor = CLR_INVALID;
  COLORREF backColor = CLR_INVALID;
  HCURSOR cursorHandle = nullptr;  // from SetWindowCursor (cursor.cpp); not owned
  bool destroyStarted = false;
};

// Registry hooks (message_window.cpp).
HWND RegisterWindow(WindowProcedure procedure, WindowBinding* binding);
void UnregisterWindow(HWND window);
// The real window of the calling thread behind a handle; null with ERROR_INVALID_WINDOW_HANDLE.
WindowBinding* FindBinding(HWND window);
// The same without touching the last error, for lookups that are not the caller's request.
WindowBinding* PeekBinding(HWND window);
bool IsRegisteredWindow(HWND window);
// Swaps the window's procedure (a null replacement only reads it); returns the previous one.
WindowProcedure ReplaceProcedure(HWND window, WindowProcedure replacement);

// window.cpp
BOOL DestroyRealWindow(HWND window);
// The window a widget (or a widget inside a control) belongs to; null when none is registered.
WindowBinding* BindingOfWidget(QWidget* widget);
// The registered child windows of a widget, in stacking order from the top.
std::vector<WindowBinding*> ChildrenFromTop(QWidget* widget);
// Sends WM_COMMAND with the control's id and the code to the control's parent.
void NotifyParent(WindowBinding& control, UINT code);
// Counts the calls into procedures made from inside Qt event handlers: a widget deleted while one
// runs is deleted later, when its handler has returned.
class CallbackScope {
 public:
  CallbackScope();
  ~CallbackScope();
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
  static bool Active();
};

// window_geometry.cpp: places the window; for a child, outer is in the parent's client
// coordinates, for a top-level window it is on the screen and includes the frame.
void SetOuterGeometry(WindowBinding& binding, const QRect& outer);

// window_style.cpp: Qt's flags for a top-level window of these styles.
Qt::WindowFlags TopLevelFlags(DWORD style, DWORD exStyle);

// window_text.cpp: the default procedure's handling of WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH.
LRESULT DefaultSetText(WindowBinding& binding, LPARAM lParam);
LRESULT DefaultGetText(WindowBinding& binding, WPARAM wParam, LPARAM lParam);
LRESULT DefaultGetTextLength(WindowBinding& binding);

// window_paint.cpp: true while GrabWindowToPngForTesting draws a window into a picture (that
// paint is not shown); ReportFirstPaint hands the first paint of a shown top-level window to the
// first-paint hook, once the picture is on screen.
bool GrabInProgress();
void ReportFirstPaint(QWidget* widget, HWND window);

// controls.cpp: the built-in classes. Returns null for a class name that is not built in.
WindowBinding* CreateBuiltInControl(const std::string& upperClassName, DWORD style, DWORD exStyle);
// updown.cpp: the up-down control, class "msctls_updown32".
WindowBinding* CreateUpDownControl();
// The procedure of the built-in classes: the control's messages, then DefWindowProcA (window.cpp).
LRESULT BuiltInProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// font.cpp
QFont FontOf(HFONT font);  // the default GUI font for null or an unknown handle
bool IsFont(HFONT font);
bool BrushColor(HBRUSH brush, COLORREF* color);
// Bitmaps live in the same table: a bitmap is its image, in QImage::Format_ARGB32_Premultiplied.
HBITMAP AddBitmap(QImage image);
// Copies the (shared) image of a live bitmap; false for a deleted or unknown handle.
bool BitmapImage(HBITMAP bitmap, QImage* image);
QColor ToQColor(COLORREF color);
// bitmap.cpp: the bytes of an image file as a caller hands them over; false with the last error
// set (ERROR_INVALID_PARAMETER for null bytes of some size, ERROR_INVALID_DATA for none or too many).
bool CheckImageFileBytes(const void* data, DWORD size);

// Texts: GBK for the caller, QString for Qt, character for character both ways (null: empty).
// Characters GBK lacks become '?', as Windows' default character.
std::string QStringToGbk(const QString& text);
QString GbkToQString(const char* gbk);

}  // namespace win::ui_detail
