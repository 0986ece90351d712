// Real windows and the standard controls over Qt widgets, with the Windows shape: window classes
// with procedures, CreateWindowExA, the EDIT, BUTTON and STATIC classes, geometry in pixels with
// the outer size of a top-level window including its frame, visibility, focus, texts in GBK,
// fonts from LOGFONTA and colours as COLORREF. Windows live on the application's thread; handles
// come from the same registry as message-only windows, so a stale handle is refused, never used.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/ui/ui.h"
#include "platform/windows_types.h"

namespace win {

using ATOM = uint16_t;
using COLORREF = DWORD;
using LONG_PTR = intptr_t;
using BYTE = uint8_t;
using CHAR = char;
struct HFONT__;
using HFONT = HFONT__*;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;
struct HMENU__;
using HMENU = HMENU__*;
struct HDC__;
using HDC = HDC__*;
struct HCURSOR__;
using HCURSOR = HCURSOR__*;
struct HBITMAP__;
using HBITMAP = HBITMAP__*;
using HGDIOBJ = void*;
using HINSTANCE = HMODULE;

struct RECT {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
};
struct POINT {
  LONG x = 0;
  LONG y = 0;
};

inline constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) { return r | (g << 8) | (static_cast<DWORD>(b) << 16); }
inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
inline constexpr WPARAM MAKEWPARAM(unsigned low, unsigned high) { return (low & 0xFFFF) | ((high & 0xFFFF) << 16); }
inline constexpr LPARAM MAKELPARAM(unsigned low, unsigned high) {
  return static_cast<LPARAM>(static_cast<DWORD>((low & 0xFFFF) | ((high & 0xFFFF) << 16)));
}
inline constexpr unsigned LOWORD(uintptr_t value) { return value & 0xFFFF; }
inline constexpr unsigned HIWORD(uintptr_t value) { return (value >> 16) & 0xFFFF; }

// Window styles.
inline constexpr DWORD WS_OVERLAPPED = 0x00000000;
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_MINIMIZE = 0x20000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
inline constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
inline constexpr DWORD WS_MAXIMIZE = 0x01000000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_DLGFRAME = 0x00400000;
inline constexpr DWORD WS_CAPTION = WS_BORDER | WS_DLGFRAME;
inline constexpr DWORD WS_VSCROLL = 0x00200000;
inline constexpr DWORD WS_HSCROLL = 0x00100000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_THICKFRAME = 0x00040000;
inline constexpr DWORD WS_GROUP = 0x00020000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
inline constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
inline constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;
inline constexpr DWORD WS_EX_TOPMOST = 0x00000008;
inline constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
inline constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
inline constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
inline constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);

// Edit, button and static styles.
inline constexpr DWORD ES_LEFT = 0x0000;
inline constexpr DWORD ES_CENTER = 0x0001;
inline constexpr DWORD ES_RIGHT = 0x0002;
inline constexpr DWORD ES_MULTILINE = 0x0004;
inline constexpr DWORD ES_UPPERCASE = 0x0008;
inline constexpr DWORD ES_LOWERCASE = 0x0010;
inline constexpr DWORD ES_PASSWORD = 0x0020;
inline constexpr DWORD ES_AUTOVSCROLL = 0x0040;
inline constexpr DWORD ES_AUTOHSCROLL = 0x0080;
inline constexpr DWORD ES_NOHIDESEL = 0x0100;
inline constexpr DWORD ES_READONLY = 0x0800;
inline constexpr DWORD ES_WANTRETURN = 0x1000;
inline constexpr DWORD BS_PUSHBUTTON = 0x0000;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
inline constexpr DWORD BS_AUTORADIOBUTTON = 0x0009;
inline constexpr DWORD BS_TYPEMASK = 0x000F;
inline constexpr DWORD BS_LEFTTEXT = 0x0020;
inline constexpr DWORD BS_LEFT = 0x0100;
inline constexpr DWORD BS_RIGHT = 0x0200;
inline constexpr DWORD BS_CENTER = 0x0300;
inline constexpr DWORD BS_TOP = 0x0400;
inline constexpr DWORD BS_BOTTOM = 0x0800;
inline constexpr DWORD BS_VCENTER = 0x0C00;
inline constexpr DWORD BS_PUSHLIKE = 0x1000;
inline constexpr DWORD BS_MULTILINE = 0x2000;
inline constexpr DWORD BS_FLAT = 0x8000;
inline constexpr DWORD SS_LEFT = 0x0000;
inline constexpr DWORD SS_CENTER = 0x0001;
inline constexpr DWORD SS_RIGHT = 0x0002;
inline constexpr DWORD SS_SIMPLE = 0x000B;
inline constexpr DWORD SS_LEFTNOWORDWRAP = 0x000C;
inline constexpr DWORD SS_TYPEMASK = 0x001F;
inline constexpr DWORD SS_NOPREFIX = 0x0080;
inline constexpr DWORD SS_NOTIFY = 0x0100;
inline constexpr DWORD SS_CENTERIMAGE = 0x0200;

// Messages and notifications.
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_MOVE = 0x0003;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_SETFOCUS = 0x0007;
inline constexpr UINT WM_KILLFOCUS = 0x0008;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_SETFONT = 0x0030;
inline constexpr UINT WM_GETFONT = 0x0031;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_COPY = 0x0301;
inline constexpr UINT EM_GETSEL = 0x00B0;
inline constexpr UINT EM_SETSEL = 0x00B1;
inline constexpr UINT EM_REPLACESEL = 0x00C2;
inline constexpr UINT EM_LIMITTEXT = 0x00C5;
inline constexpr UINT EM_SETLIMITTEXT = EM_LIMITTEXT;
inline constexpr UINT EM_GETPASSWORDCHAR = 0x00D2;
inline constexpr UINT EM_SETPASSWORDCHAR = 0x00CC;
inline constexpr UINT EM_SETREADONLY = 0x00CF;
inline constexpr UINT EM_GETLIMITTEXT = 0x00D5;
inline constexpr UINT BM_GETCHECK = 0x00F0;
inline constexpr UINT BM_SETCHECK = 0x00F1;
inline constexpr UINT BM_CLICK = 0x00F5;
inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT STN_CLICKED = 0;
inline constexpr UINT EN_SETFOCUS = 0x0100;
inline constexpr UINT EN_KILLFOCUS = 0x0200;
inline constexpr UINT EN_CHANGE = 0x0300;
inline constexpr WPARAM BST_UNCHECKED = 0;
inline constexpr WPARAM BST_CHECKED = 1;
inline constexpr WPARAM BST_INDETERMINATE = 2;
inline constexpr WPARAM SIZE_RESTORED = 0;
inline constexpr WPARAM SIZE_MINIMIZED = 1;

// What WM_CREATE's lParam points to.
struct CREATESTRUCTA {
  void* lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

// Window classes. Class names compare without regard to ASCII case. hbrBackground may be a brush
// from CreateSolidBrush or a system colour index + 1, as on Windows; the window is filled with it.
// Icons, cursors, menus and the extra bytes are not kept.
struct WNDCLASSA {
  UINT style = 0;
  WindowProcedure lpfnWndProc = nullptr;
  int cbClsExtra = 0;
  int cbWndExtra = 0;
  HINSTANCE hInstance = nullptr;
  void* hIcon = nullptr;
  void* hCursor = nullptr;
  HBRUSH hbrBackground = nullptr;
  LPCSTR lpszMenuName = nullptr;
  LPCSTR lpszClassName = nullptr;
};
inline constexpr DWORD ERROR_TLW_WITH_WSCHILD = 1406;
inline constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
inline constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
inline constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
// Returns the class atom, or 0 (ERROR_CLASS_ALREADY_EXISTS, or ERROR_INVALID_PARAMETER for a class
// without name or procedure). "EDIT", "BUTTON", "STATIC" and "msctls_updown32" are built in and
// cannot be replaced.
ATOM RegisterClassA(const WNDCLASSA* windowClass);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);

// Creates a window on the application's thread (another thread gets null with
// ERROR_ACCESS_DENIED). For WS_CHILD the parent is required (else ERROR_TLW_WITH_WSCHILD) and menu
// carries the control id; x, y are client coordinates of the parent. Otherwise x, y, width and
// height are the screen position and the OUTER size, frame included. A registered class gets
// WM_CREATE (lParam: CREATESTRUCTA*; -1 refuses the creation) before the call returns. A new child
// goes to the bottom of its siblings' stacking order, so that creation order is the order of the
// siblings from the top, as dialog navigation expects.
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
// WM_CLOSE destroys the window; WM_SETTEXT/WM_GETTEXT/WM_GETTEXTLENGTH work on the window text;
// WM_SETFONT/WM_GETFONT on its font; everything else answers 0.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// DestroyWindow (declared with the message-only windows) takes a real window down as Windows
// does: WM_DESTROY to the window and then to its children (all of them still exist then), then
// WM_NCDESTROY and invalidation from the innermost children outwards. Each window gets each
// message once, even when a procedure calls DestroyWindow again on the way.
BOOL IsWindow(HWND window);
// The parent of a child window; the owner of another window; null for neither.
HWND GetParent(HWND window);
// Returns the previous parent. A null new parent makes the window top-level.
HWND SetParent(HWND child, HWND newParent);
int GetDlgCtrlID(HWND window);
inline constexpr UINT GW_HWNDFIRST = 0;
inline constexpr UINT GW_HWNDLAST = 1;
inline constexpr UINT GW_HWNDNEXT = 2;
inline constexpr UINT GW_HWNDPREV = 3;
inline constexpr UINT GW_CHILD = 5;
// Siblings and children in stacking order, from the top.
HWND GetWindow(HWND window, UINT command);
inline constexpr int GWLP_WNDPROC = -4;
inline constexpr int GWLP_ID = -12;
inline constexpr int GWL_STYLE = -16;
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr int GWLP_USERDATA = -21;
// GWLP_WNDPROC (subclassing: the replaced procedure is returned, the caller chains to it),
// GWLP_ID and GWLP_USERDATA can be set. GWL_STYLE and GWL_EXSTYLE can be set too and return the
// previous styles: WS_VISIBLE and WS_DISABLED in them are left alone (ShowWindow and EnableWindow
// change those), as are WS_CHILD and WS_POPUP (SetParent changes those); the frame of a top-level
// window stays as created. The built-in controls take the presentation styles that Windows'
// controls read while they draw: edit alignment, case (for later input), ES_NOHIDESEL and
// ES_READONLY; button kind, text alignment, BS_LEFTTEXT, BS_PUSHLIKE, BS_FLAT, BS_MULTILINE;
// static alignment; the borders of WS_BORDER, WS_EX_CLIENTEDGE, WS_EX_STATICEDGE and
// WS_EX_DLGMODALFRAME (the client area shrinks or grows, the outer rectangle stays; WM_SIZE tells
// the new client size, and child windows keep their client coordinates). ES_MULTILINE,
// ES_PASSWORD and the scroll-bar styles of an edit box are fixed at creation, as on Windows:
// those bits keep their values. Unknown indexes fail with ERROR_INVALID_PARAMETER.
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LRESULT CallWindowProcA(WindowProcedure procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Geometry, in pixels. Rectangles of top-level windows include the frame the window manager
// draws (none under the offscreen platform); a child's rectangle is its whole control, while its
// client area leaves out the border of WS_BORDER or WS_EX_STATICEDGE (1 pixel), WS_EX_CLIENTEDGE
// (2 pixels) or WS_EX_DLGMODALFRAME (3 pixels, 5 with WS_EX_CLIENTEDGE).
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOREDRAW = 0x0008;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;
inline constexpr UINT SWP_SHOWWINDOW = 0x0040;
inline constexpr UINT SWP_HIDEWINDOW = 0x0080;
inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_BOTTOM = reinterpret_cast<HWND>(1);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
// insertAfter: HWND_TOP, HWND_BOTTOM or a sibling the window goes directly below.
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);
// A null window stands for the screen. Returns the horizontal offset in the low word and the
// vertical in the high word; 0 with an error for an invalid window.
int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count);
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
int GetSystemMetrics(int index);
inline constexpr UINT SPI_GETWORKAREA = 0x0030;
// SPI_GETWORKAREA only: the primary screen without task bars, into the RECT that param points to.
BOOL SystemParametersInfoA(UINT action, UINT uiParam, void* param, UINT winIni);

// Visibility, state and focus.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_SHOWNOACTIVATE = 4;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_SHOWMINNOACTIVE = 7;
inline constexpr int SW_SHOWNA = 8;
inline constexpr int SW_RESTORE = 9;
// Returns whether the window was visible before (its own visible flag).
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
BOOL IsIconic(HWND window);
// Returns whether the window was disabled before.
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL SetForegroundWindow(HWND window);
BOOL BringWindowToTop(HWND window);
HWND GetForegroundWindow();
HWND GetActiveWindow();
// Gives the keyboard focus to the window (activating its top-level window); returns the window
// that had it. A null window takes the focus away.
HWND SetFocus(HWND window);
HWND GetFocus();
BOOL SetWindowTextA(HWND window, LPCSTR text);
// Copies at most maxCount - 1 bytes and a NUL; returns the bytes copied (without the NUL).
int GetWindowTextA(HWND window, LPSTR buffer, int maxCount);
// The length in GBK bytes.
int GetWindowTextLengthA(HWND window);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL UpdateWindow(HWND window);

// Fonts: a LOGFONTA of exactly the Windows layout. A negative lfHeight is the character height in
// pixels, a positive one the cell height, 0 the default size; an empty face name lets the system
// choose, which here is the face of the default GUI font.
struct LOGFONTA {
  LONG lfHeight = 0;
  LONG lfWidth = 0;
  LONG lfEscapement = 0;
  LONG lfOrientation = 0;
  LONG lfWeight = 0;
  BYTE lfItalic = 0;
  BYTE lfUnderline = 0;
  BYTE lfStrikeOut = 0;
  BYTE lfCharSet = 0;
  BYTE lfOutPrecision = 0;
  BYTE lfClipPrecision = 0;
  BYTE lfQuality = 0;
  BYTE lfPitchAndFamily = 0;
  CHAR lfFaceName[32] = {};
};
static_assert(sizeof(LOGFONTA) == 60, "LOGFONTA must keep the Windows layout");
HFONT CreateFontIndirectA(const LOGFONTA* logFont);
// Fonts, brushes and bitmaps; stock objects are not deleted (TRUE all the same, as on Windows).
// A deleted handle is refused from then on (ERROR_INVALID_HANDLE); handles are never reused.
BOOL DeleteObject(HGDIOBJ object);
inline constexpr int DEFAULT_GUI_FONT = 17;
// DEFAULT_GUI_FONT: the application's default GUI font.
HGDIOBJ GetStockObject(int which);
// For a font: copies its LOGFONTA when size is at least 60; for a bitmap: fills a BITMAP when size
// is at least sizeof(BITMAP). Returns the bytes copied; 0 (ERROR_INVALID_PARAMETER) for a smaller
// or null buffer.
int GetObjectA(HGDIOBJ object, int size, void* buffer);
HBRUSH CreateSolidBrush(COLORREF color);

// Colours: the system colours of the Windows classic theme that the program was designed with.
inline constexpr int COLOR_WINDOW = 5;
inline constexpr int COLOR_WINDOWTEXT = 8;
inline constexpr int COLOR_BTNFACE = 15;
inline constexpr int COLOR_BTNSHADOW = 16;
inline constexpr int COLOR_GRAYTEXT = 17;
inline constexpr int COLOR_BTNTEXT = 18;
inline constexpr int COLOR_BTNHIGHLIGHT = 20;
inline constexpr int COLOR_3DDKSHADOW = 21;
inline constexpr int COLOR_3DLIGHT = 22;
DWORD GetSysColor(int index);

// Stand-in for answering WM_CTLCOLOREDIT / WM_CTLCOLORSTATIC / WM_CTLCOLORBTN: instead of the
// parent returning a brush at every paint, the colours are set once on the window. text is the
// text colour, background fills the control (for an edit box the area behind the text); CLR_INVALID
// keeps the system colour. Works for every real window, including registered classes, whose
// background it fills. Push buttons keep the system's face, as themed Windows buttons do.
BOOL SetControlColors(HWND window, COLORREF text, COLORREF background);

// Edit boxes: typed characters, committed input-method text and pasted or dropped text pass
// through accept, character by character; control characters (below 32) always pass. A paste is
// filtered the same way: "a1b2" pasted into a box that accepts digits inserts "12". The case
// styles apply afterwards and the maximum length last, so a paste is cut to the room left.
// Texts set by the program (WM_SETTEXT, EM_REPLACESEL) are not filtered or limited, as on Windows.
// An empty function removes the filter.
BOOL SetEditInputFilter(HWND edit, std::function<bool(char16_t)> accept);

// Painting of registered classes. Whenever the window needs drawing its procedure gets WM_PAINT;
// between BeginPaint and EndPaint it draws through the device context in client coordinates, over
// the background already filled with the class brush or the colours of SetControlColors. A device
// context is valid only there: afterwards, and outside WM_PAINT, the calls fail.
struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
// brush: from CreateSolidBrush or a system colour index + 1.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// Return the previous value, or CLR_INVALID / 0 for an invalid device context.
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;
int SetBkMode(HDC dc, int mode);
// Fonts only here; returns the font selected before (null for the window's own font).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
inline constexpr UINT DT_LEFT = 0x0000;
inline constexpr UINT DT_CENTER = 0x0001;
inline constexpr UINT DT_RIGHT = 0x0002;
inline constexpr UINT DT_VCENTER = 0x0004;
inline constexpr UINT DT_BOTTOM = 0x0008;
inline constexpr UINT DT_WORDBREAK = 0x0010;
inline constexpr UINT DT_SINGLELINE = 0x0020;
inline constexpr UINT DT_CALCRECT = 0x0400;
inline constexpr UINT DT_NOPREFIX = 0x0800;
// Draws GBK text (count -1: up to the NUL) in the rectangle; returns the height of the text, or 0
// on failure. DT_VCENTER and DT_BOTTOM take effect with DT_SINGLELINE, as on Windows; DT_CALCRECT
// only measures, widening or narrowing rect to the text.
int DrawTextA(HDC dc, LPCSTR text, int count, RECT* rect, UINT format);

// Bitmaps. Windows programs keep pictures as the bytes of an image file; this makes a bitmap of
// such bytes (BMP, PNG, JPEG, GIF or ICO; the first frame of an animation, the first image of an
// icon). Null for bytes that are no image (ERROR_INVALID_DATA); the bytes are not kept. DeleteObject
// frees it; GetObjectA of a bitmap fills a BITMAP: bmType 0, the size in pixels, 32 bits a pixel
// (bmWidthBytes = 4 * bmWidth), one plane and no bmBits.
struct BITMAP {
  LONG bmType = 0;
  LONG bmWidth = 0;
  LONG bmHeight = 0;
  LONG bmWidthBytes = 0;
  uint16_t bmPlanes = 0;
  uint16_t bmBitsPixel = 0;
  void* bmBits = nullptr;
};
HBITMAP CreateBitmapFromImageData(const void* data, DWORD size);
// Draws the bitmap into the rectangle (x, y, width, height) of a device context between
// BeginPaint and EndPaint, stretched when the sizes differ, as StretchBlt with SRCCOPY would:
// pixels picked, not blended; a negative width or height mirrors. Transparent parts of a PNG,
// GIF or icon let what is already there show through. FALSE (ERROR_INVALID_HANDLE) for an invalid
// device context or a deleted bitmap.
BOOL DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y, int width, int height);
// Buttons and radio boxes show a bitmap given with BM_SETIMAGE (wParam IMAGE_BITMAP, lParam the
// bitmap; returns the previous one) beside their caption, left of it, as themed Windows buttons
// do; a null bitmap removes it. The button does not own the bitmap: one deleted while the button
// still has it is no longer drawn. Another wParam, or a handle that is no live bitmap, is refused
// (0, the image stays). BM_GETIMAGE (wParam IMAGE_BITMAP) returns the bitmap set.
inline constexpr UINT BM_GETIMAGE = 0x00F6;
inline constexpr UINT BM_SETIMAGE = 0x00F7;
inline constexpr WPARAM IMAGE_BITMAP = 0;

// Mouse pointers. The system cursors by their ids (instance null, name MAKEINTRESOURCE of the id);
// they are shared and never destroyed. Unknown ids give null (ERROR_RESOURCE_NAME_NOT_FOUND).
inline const LPCSTR IDC_ARROW = reinterpret_cast<LPCSTR>(32512);
inline const LPCSTR IDC_IBEAM = reinterpret_cast<LPCSTR>(32513);
inline const LPCSTR IDC_WAIT = reinterpret_cast<LPCSTR>(32514);
inline const LPCSTR IDC_CROSS = reinterpret_cast<LPCSTR>(32515);
inline const LPCSTR IDC_UPARROW = reinterpret_cast<LPCSTR>(32516);
inline const LPCSTR IDC_SIZENWSE = reinterpret_cast<LPCSTR>(32642);
inline const LPCSTR IDC_SIZENESW = reinterpret_cast<LPCSTR>(32643);
inline const LPCSTR IDC_SIZEWE = reinterpret_cast<LPCSTR>(32644);
inline const LPCSTR IDC_SIZENS = reinterpret_cast<LPCSTR>(32645);
inline const LPCSTR IDC_SIZEALL = reinterpret_cast<LPCSTR>(32646);
inline const LPCSTR IDC_NO = reinterpret_cast<LPCSTR>(32648);
inline const LPCSTR IDC_HAND = reinterpret_cast<LPCSTR>(32649);
inline const LPCSTR IDC_APPSTARTING = reinterpret_cast<LPCSTR>(32650);
inline const LPCSTR IDC_HELP = reinterpret_cast<LPCSTR>(32651);
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
// A cursor from the bytes of a .cur file (its hot spot kept; of several images the first 32-pixel
// one, else the first) or an .ico or other image file (hot spot at the centre). Null for bytes that
// are no image or a damaged .cur (ERROR_INVALID_DATA); the bytes are not kept.
HCURSOR CreateCursorFromFileData(const void* data, DWORD size);
inline constexpr DWORD ERROR_INVALID_CURSOR_HANDLE = 1402;
// Destroys a created cursor; system cursors are left alone (TRUE all the same). A destroyed or
// unknown handle is refused (ERROR_INVALID_CURSOR_HANDLE) here and by SetWindowCursor.
BOOL DestroyCursor(HCURSOR cursor);
// Stand-in for answering WM_SETCURSOR: the pointer shown while the mouse is over the window. Null
// gives the window its class cursor back (the I-beam over edit boxes, the arrow elsewhere). The
// window does not own the cursor; destroying a cursor that a window still shows gives that window
// its class cursor. As Windows' default WM_SETCURSOR asks the parent first, child windows that have
// no cursor of their own (all but edit boxes) show their parent's.
BOOL SetWindowCursor(HWND window, HCURSOR cursor);
// The cursor set with SetWindowCursor, or null.
HCURSOR GetWindowCursor(HWND window);

// Up-down controls: the class "msctls_updown32" with the position kept in a 32-bit range. With
// UDS_SETBUDDYINT the buddy window's text shows the position in decimal (with thousands
// separators unless UDS_NOTHOUSANDS), and stepping starts from the number in the buddy's text.
// UDS_ALIGNRIGHT / UDS_ALIGNLEFT place the control against that side of the buddy, inside the
// buddy's old rectangle, which narrows by the control's width. Clicking the arrows (or the Up and
// Down keys in the buddy with UDS_ARROWKEYS) steps the position by one within the range (reversed
// ranges step the other way); UDS_WRAP wraps at the ends. Each step, also one that stays at an
// end, sends the parent WM_VSCROLL (or WM_HSCROLL for UDS_HORZ) with SB_THUMBPOSITION and the
// position in the high word, lParam the up-down control. A new control has the range 100..0 (minimum 100, maximum 0) and position 0;
// UDM_SETPOS32 clamps to the range. UDS_AUTOBUDDY takes the sibling just above the control in the
// stacking order (the window created before it) as buddy. UDM_GETPOS32 sets *lParam to FALSE
// after reading a number in the range from the buddy's text, TRUE when it cannot (no buddy, no
// UDS_SETBUDDYINT, not a number, out of range), and returns the position either way. A destroyed
// buddy is left alone.
inline constexpr DWORD UDS_WRAP = 0x0001;
inline constexpr DWORD UDS_SETBUDDYINT = 0x0002;
inline constexpr DWORD UDS_ALIGNRIGHT = 0x0004;
inline constexpr DWORD UDS_ALIGNLEFT = 0x0008;
inline constexpr DWORD UDS_AUTOBUDDY = 0x0010;
inline constexpr DWORD UDS_ARROWKEYS = 0x0020;
inline constexpr DWORD UDS_HORZ = 0x0040;
inline constexpr DWORD UDS_NOTHOUSANDS = 0x0080;
inline constexpr UINT UDM_SETBUDDY = WM_USER + 105;    // wParam the buddy; returns the previous one
inline constexpr UINT UDM_GETBUDDY = WM_USER + 106;
inline constexpr UINT UDM_SETRANGE32 = WM_USER + 111;  // wParam low, lParam high
inline constexpr UINT UDM_GETRANGE32 = WM_USER + 112;  // wParam int* low, lParam int* high
inline constexpr UINT UDM_SETPOS32 = WM_USER + 113;    // lParam the position; returns the previous one
inline constexpr UINT UDM_GETPOS32 = WM_USER + 114;    // lParam BOOL* error flag, or null
inline constexpr UINT WM_HSCROLL = 0x0114;
inline constexpr UINT WM_VSCROLL = 0x0115;
inline constexpr WPARAM SB_THUMBPOSITION = 4;

// Test hook: saves a picture of the window as drawn now (also offscreen) as a PNG file.
BOOL GrabWindowToPngForTesting(HWND window, LPCSTR path);
// Test hook: called once, on the application's thread, when a top-level window has been painted
// for the first time and its picture has gone to the screen (the offscreen platform included).
// An empty function removes the hook.
void SetFirstPaintHookForTesting(std::function<void(HWND)> hook);

}  // namespace win
