#include "runtime/windows/components.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "platform/codepage/codepage.h"
#include "runtime/windows/component_data.h"

namespace qv {
namespace {

using win::DWORD;
using win::HWND;

constexpr const char* kWindowClass = "WTWindow";
constexpr const char* kLabelClass = "_RT_Label";

std::span<const unsigned char> DataOf(const UnitRecord& record) {
  return std::span(record.componentData.data(), record.componentData.size());
}

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Characters [start, end) of a GBK text, counted as the edit box counts them (UTF-16 units).
std::string SliceCharacters(const std::string& text, int32_t start, int32_t end) {
  std::u16string wide(text.size(), u'\0');
  const int n = win::MultiByteToWideChar(win::CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         reinterpret_cast<win::LPWSTR>(wide.data()), static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  const auto from = static_cast<size_t>(std::clamp<int32_t>(start, 0, static_cast<int32_t>(wide.size())));
  const auto to = static_cast<size_t>(std::clamp<int32_t>(end, static_cast<int32_t>(from), static_cast<int32_t>(wide.size())));
  if (to == from) return {};
  std::string bytes((to - from) * 2, '\0');
  const int m = win::WideCharToMultiByte(win::CP_ACP, 0, reinterpret_cast<win::LPCWSTR>(wide.data() + from),
                                         static_cast<int>(to - from), bytes.data(), static_cast<int>(bytes.size()),
                                         nullptr, nullptr);
  bytes.resize(m > 0 ? static_cast<size_t>(m) : 0);
  return bytes;
}

// Numeric properties are int32 values; colours keep their bits.
PropertyValue Number(uint32_t n) { return {PropertyValue::Kind::Number, static_cast<int32_t>(n), {}}; }
PropertyValue Flag(bool b) { return {PropertyValue::Kind::Bool, b ? 1 : 0, {}}; }
PropertyValue Text(std::string s) { return {PropertyValue::Kind::Text, 0, std::move(s)}; }
PropertyValue ByteSet(std::string s) { return {PropertyValue::Kind::ByteSet, 0, std::move(s)}; }

void SetColours(HWND window, uint32_t text, uint32_t background) {
  win::SetControlColors(window, StoredColour(text), StoredColour(background));
}

// The extended style of an edit box border.
// Creates a control of the component at its stored position, as child childId of the window.
HWND CreateChildControl(const ComponentCreation& c, DWORD exStyle, const char* className, const std::string& text,
                        DWORD style) {
  const UnitRecord& r = *c.record;
  return win::CreateWindowExA(exStyle, className, text.c_str(), style, r.left, r.top, r.width, r.height, c.parent,
                              reinterpret_cast<win::HMENU>(static_cast<intptr_t>(c.childId)), nullptr, nullptr);
}

DWORD EditBorderExStyle(int32_t border) {
  switch (border) {
    case 1: return win::WS_EX_CLIENTEDGE;
    case 2: return win::WS_EX_DLGMODALFRAME;
    case 3: return win::WS_EX_STATICEDGE;
    case 4: return win::WS_EX_CLIENTEDGE | win::WS_EX_DLGMODALFRAME;
    default: return 0;
  }
}

// The label paints its own caption: background from its colours, then the text in its text colour
// and font, wrapped at word breaks.
class Label;
win::LRESULT LabelProcedure(HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam);

void RegisterRuntimeClasses(win::WindowProcedure windowProcedure) {
  static bool windowClass = false, labelClass = false;
  if (!windowClass && windowProcedure != nullptr) {
    win::WNDCLASSA c;
    c.lpfnWndProc = windowProcedure;
    c.lpszClassName = kWindowClass;
    windowClass = win::RegisterClassA(&c) != 0;
  }
  if (!labelClass) {
    win::WNDCLASSA c;
    c.lpfnWndProc = &LabelProcedure;
    c.lpszClassName = kLabelClass;
    labelClass = win::RegisterClassA(&c) != 0;
  }
}

class WindowComponent final : public Component {
 public:
  WindowComponent(const ComponentCreation& c, WindowData data)
      : Component(c.windowId, c.unitId, kWindowComponent), m_data(std::move(data)) {}

  bool Create(const ComponentCreation& c) {
    const UnitRecord& r = *c.record;
    DWORD style = win::WS_CLIPCHILDREN | (c.style & win::WS_DISABLED);
    DWORD exStyle = 0;
    const bool resizable = m_data.border == 1 || m_data.border == 3 || m_data.border == 5;
    if (m_data.border == 0) {
      style |= win::WS_POPUP;
    } else {
      style |= win::WS_CAPTION;
      if (resizable) style |= win::WS_THICKFRAME;
      if (m_data.border == 3 || m_data.border == 4) exStyle |= win::WS_EX_TOOLWINDOW;
      if (m_data.border == 5 || m_data.border == 6) exStyle |= win::WS_EX_CLIENTEDGE;
      if (m_data.controlBox == 1) style |= win::WS_SYSMENU;
      if (m_data.minimiseBox == 1) style |= win::WS_MINIMIZEBOX;
      if (m_data.maximiseBox == 1) style |= win::WS_MAXIMIZEBOX;
    }
    if (m_data.startPosition == 2) style |= win::WS_MINIMIZE;
    if (m_data.startPosition == 3 && resizable) style |= win::WS_MAXIMIZE;
    int left = r.left, top = r.top;
    if (m_data.startPosition == 1) {
      left = (win::GetSystemMetrics(win::SM_CXSCREEN) - r.width) / 2;
      top = (win::GetSystemMetrics(win::SM_CYSCREEN) - r.height) / 2;
    }
    const char* className = m_data.className.empty() ? kWindowClass : m_data.className.c_str();
    HWND window = win::CreateWindowExA(exStyle, className, m_data.title.c_str(), style, left, top, r.width, r.height,
                                       nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) return false;
    Attach(window);
    win::SendMessageA(window, win::WM_SETFONT,
                      reinterpret_cast<win::WPARAM>(win::GetStockObject(win::DEFAULT_GUI_FONT)), 0);
    win::SetControlColors(window, win::CLR_INVALID, StoredColour(m_data.backgroundColour));
    ReplacePicture(AsString(m_data.picture));
    if (m_data.further[kTopMostField] != 0)
      win::SetWindowPos(window, reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), 0, 0, 0, 0,
                        win::SWP_NOMOVE | win::SWP_NOSIZE | win::SWP_NOACTIVATE);
    // The frame may have taken part of the size: the outer size is the stored one.
    win::SetWindowPos(window, nullptr, 0, 0, r.width, r.height,
                      win::SWP_NOMOVE | win::SWP_NOZORDER | win::SWP_NOACTIVATE);
    return true;
  }

  bool GetProperty(int32_t k, PropertyValue& v) const override {
    switch (k) {
      case 0: v = Text(WindowText()); return true;
      case 1: v = Number(m_data.border); return true;
      case 2: v = Number(m_data.backgroundColour); return true;
      case 3: v = ByteSet(AsString(m_data.picture)); return true;
      case 4: v = Number(m_data.pictureMode); return true;
      case 7: v = Flag(m_data.controlBox == 1); return true;
      case 8: v = Flag(m_data.maximiseBox == 1); return true;
      case 9: v = Flag(m_data.minimiseBox == 1); return true;
      case 10: v = Number(m_data.startPosition); return true;
      case 11: v = Flag(m_data.movable != 0); return true;
      case 12: v = Flag(m_data.further[kTopMostField] != 0); return true;
      case 13: v = Text(m_data.className); return true;
      default: return false;
    }
  }

  // Title, colour, picture and top-most take effect at once; the frame, the boxes, the start
  // position, movability and the class are creation values: the window keeps what it was made
  // with, and the property answers the new value.
  bool SetProperty(int32_t k, const PropertyValue& v) override {
    const auto number = static_cast<int32_t>(v.number);
    switch (k) {
      case 0: return win::SetWindowTextA(Handle(), v.bytes.c_str()) != 0;
      case 1: m_data.border = number; return true;
      case 2:
        m_data.backgroundColour = static_cast<uint32_t>(number);
        win::SetControlColors(Handle(), win::CLR_INVALID, StoredColour(m_data.backgroundColour));
        break;
      case 3:
        m_data.picture.assign(v.bytes.begin(), v.bytes.end());
        ReplacePicture(v.bytes);
        break;
      case 4: m_data.pictureMode = number; break;
      case 7: m_data.controlBox = number != 0 ? 1 : 0; return true;
      case 8: m_data.maximiseBox = number != 0 ? 1 : 0; return true;
      case 9: m_data.minimiseBox = number != 0 ? 1 : 0; return true;
      case 10: m_data.startPosition = number; return true;
      case 11: m_data.movable = number != 0 ? 1 : 0; return true;
      case 12: {
        m_data.further[kTopMostField] = number != 0 ? 1 : 0;
        const auto after = reinterpret_cast<HWND>(static_cast<intptr_t>(number != 0 ? -1 : -2));
        win::SetWindowPos(Handle(), after, 0, 0, 0, 0, win::SWP_NOMOVE | win::SWP_NOSIZE | win::SWP_NOACTIVATE);
        return true;
      }
      case 13: m_data.className = v.bytes; return true;
      default: return false;
    }
    win::InvalidateRect(Handle(), nullptr, 1);
    return true;
  }

  // The picture over the background: 0 at the top left, 1 stretched over the client area,
  // 2 centred, 3 tiled.
  bool Paint() override {
    win::PAINTSTRUCT paint{};
    win::HDC dc = win::BeginPaint(Handle(), &paint);
    if (dc == nullptr) return true;
    win::BITMAP size;
    if (Picture() != nullptr && win::GetObjectA(Picture(), sizeof size, &size) == sizeof size && size.bmWidth > 0 &&
        size.bmHeight > 0) {
      win::RECT client;
      win::GetClientRect(Handle(), &client);
      const int w = size.bmWidth, h = size.bmHeight;
      switch (m_data.pictureMode) {
        case 1: win::DrawBitmap(dc, Picture(), 0, 0, client.right, client.bottom); break;
        case 2: win::DrawBitmap(dc, Picture(), (client.right - w) / 2, (client.bottom - h) / 2, w, h); break;
        case 3:
          for (int y = 0; y < client.bottom; y += h)
            for (int x = 0; x < client.right; x += w) win::DrawBitmap(dc, Picture(), x, y, w, h);
          break;
        default: win::DrawBitmap(dc, Picture(), 0, 0, w, h); break;
      }
    }
    win::EndPaint(Handle(), &paint);
    return true;
  }

 private:
  // The first of the window's further stored fields says whether it stays above other windows.
  static constexpr int kTopMostField = 0;
  WindowData m_data;
};

class EditBox final : public Component {
 public:
  EditBox(const ComponentCreation& c, EditBoxData data)
      : Component(c.windowId, c.unitId, kEditBoxComponent), m_data(std::move(data)), m_parent(c.parent),
        m_childId(c.childId), m_creationStyle(c.style) {}
  ~EditBox() override { DestroySpin(); }

  bool Create(const ComponentCreation& c) {
    const UnitRecord& r = *c.record;
    HWND window = NewWindow(r.left, r.top, r.width, r.height, m_data.content);
    if (window == nullptr) return false;
    Attach(window);
    Configure();
    if (m_data.selectionStart != 0 || m_data.selectionLength != 0)
      win::SendMessageA(window, win::EM_SETSEL, static_cast<win::WPARAM>(std::max(0, m_data.selectionStart)),
                        std::max(0, m_data.selectionStart) + std::max(0, m_data.selectionLength));
    return true;
  }

  bool GetProperty(int32_t k, PropertyValue& v) const override {
    switch (k) {
      case 0: v = Text(WindowText()); return true;
      case 1: v = Number(m_data.border); return true;
      case 2: v = Number(m_data.textColour); return true;
      case 3: v = Number(m_data.backgroundColour); return true;
      case 4: v = ByteSet(AsString(m_data.font)); return true;
      case 5: v = Flag(m_data.hideSelection != 0); return true;
      case 6: v = Number(m_data.maxLength); return true;
      case 7: v = Flag(m_data.multiLine != 0); return true;
      case 8: v = Number(m_data.scrollBars); return true;
      case 9: v = Number(m_data.alignment); return true;
      case 10: v = Number(m_data.inputMode); return true;
      case 11: v = Number(static_cast<uint8_t>(m_data.passwordChar)); return true;
      case 12: v = Number(m_data.caseConversion); return true;
      case 13: v = Number(m_data.spinBuddy); return true;
      case 14: v = Number(m_data.spinMinimum); return true;
      case 15: v = Number(m_data.spinMaximum); return true;
      case 16: v = Number(static_cast<uint32_t>(SelectionOf().first)); return true;
      case 17: v = Number(static_cast<uint32_t>(SelectionOf().second - SelectionOf().first)); return true;
      case 18: v = Text(SelectedText()); return true;
      case 19: v = Text(m_data.text19); return true;
      case 20: v = Text(m_data.text20); return true;
      default: return false;
    }
  }

  bool SetProperty(int32_t k, const PropertyValue& v) override {
    HWND window = Handle();
    const auto number = static_cast<int32_t>(v.number);
    switch (k) {
      case 0: {
        win::SetWindowTextA(window, v.bytes.c_str());
        // Setting the text counts as a change, as typing does. A single-line box reports it
        // itself; a multi-line one stays silent when the program sets its text, so it is sent here.
        if (HWND parent = win::GetParent(window); parent != nullptr && m_data.multiLine != 0)
          win::SendMessageA(parent, win::WM_COMMAND,
                            win::MAKEWPARAM(static_cast<unsigned>(win::GetDlgCtrlID(window)), win::EN_CHANGE),
                            reinterpret_cast<win::LPARAM>(window));
        return true;
      }
      case 1: m_data.border = number; ApplyStyles(); return true;
      case 2: m_data.textColour = static_cast<uint32_t>(number); break;
      case 3: m_data.backgroundColour = static_cast<uint32_t>(number); break;
      case 4: m_data.font.assign(v.bytes.begin(), v.bytes.end()); ApplyFont(v.bytes); return true;
      case 5: m_data.hideSelection = number != 0; ApplyStyles(); return true;
      case 6: m_data.maxLength = number; ApplyLimit(); return true;
      case 7: m_data.multiLine = number != 0; return Rebuild();
      case 8: m_data.scrollBars = number; return m_data.multiLine != 0 ? Rebuild() : true;
      case 9: m_data.alignment = number; ApplyStyles(); return true;
      case 10: {
        const bool wasReadOnly = m_data.inputMode == 1;
        const bool wasPassword = m_data.inputMode == 2;
        m_data.inputMode = number;
        // Windows fixes the password style at creation; a box leaving or entering password mode is
        // made anew.
        if (wasPassword != (m_data.inputMode == 2)) return Rebuild();
        if (wasReadOnly != (m_data.inputMode == 1))
          win::SendMessageA(window, win::EM_SETREADONLY, m_data.inputMode == 1, 0);
        ApplyInputMode();
        return true;
      }
      case 11:
        m_data.passwordChar = static_cast<int16_t>(number & 0xFF);
        if (m_data.inputMode == 2)
          win::SendMessageA(window, win::EM_SETPASSWORDCHAR, static_cast<uint8_t>(m_data.passwordChar), 0);
        return true;
      case 12: m_data.caseConversion = number; ApplyStyles(); return true;
      case 13: m_data.spinBuddy = number; ApplySpin(); return true;
      case 14: m_data.spinMinimum = number; ApplySpinRange(); return true;
      case 15: m_data.spinMaximum = number; ApplySpinRange(); return true;
      case 16: {
        const int32_t start = std::max(0, number);
        win::SendMessageA(window, win::EM_SETSEL, static_cast<win::WPARAM>(start), start);
        return true;
      }
      case 17: {
        const int32_t start = SelectionOf().first;
        const int64_t end = static_cast<int64_t>(start) + std::max(0, number);
        win::SendMessageA(window, win::EM_SETSEL, static_cast<win::WPARAM>(start),
                          static_cast<win::LPARAM>(std::min<int64_t>(end, INT32_MAX)));
        return true;
      }
      case 18: win::SendMessageA(window, win::EM_REPLACESEL, 1, reinterpret_cast<win::LPARAM>(v.bytes.c_str())); return true;
      case 19: m_data.text19 = v.bytes; return true;
      case 20: m_data.text20 = v.bytes; return true;
      default: return false;
    }
    SetColours(window, m_data.textColour, m_data.backgroundColour);
    win::InvalidateRect(window, nullptr, 1);
    return true;
  }

  void Show(bool visible) override {
    Component::Show(visible);
    if (m_spin != nullptr) win::ShowWindow(m_spin, visible ? win::SW_SHOWNA : win::SW_HIDE);
  }
  void Enable(bool enabled) override {
    Component::Enable(enabled);
    if (m_spin != nullptr) win::EnableWindow(m_spin, enabled);
  }
  void OnLoadComplete() override {
    m_loadComplete = true;
    ApplySpin();
  }
  // The stacking order of the controls is settled now: the spin goes back directly below its box.
  void OnWindowUp() override {
    if (m_spin != nullptr)
      win::SetWindowPos(m_spin, Handle(), 0, 0, 0, 0, win::SWP_NOMOVE | win::SWP_NOSIZE | win::SWP_NOACTIVATE);
  }
  void Place(int left, int top, int width, int height) override {
    // The spin control sits inside the box's rectangle; it is taken out while the box moves and
    // put back against its new right edge.
    const bool spin = m_spin != nullptr;
    DestroySpin();
    Component::Place(left, top, width, height);
    if (spin) ApplySpin();
  }

 private:
  // Styles that follow the fields; the multi-line and password styles are fixed at creation.
  DWORD Style() const {
    DWORD style = win::WS_CHILD | win::WS_CLIPSIBLINGS | (m_creationStyle & win::WS_TABSTOP);
    if (m_data.multiLine != 0) {
      style |= win::ES_MULTILINE | win::ES_AUTOVSCROLL | win::ES_WANTRETURN;
      if (m_data.scrollBars & 1) style |= win::WS_HSCROLL | win::ES_AUTOHSCROLL;  // no wrapping then
      if (m_data.scrollBars & 2) style |= win::WS_VSCROLL;
    } else {
      style |= win::ES_AUTOHSCROLL;
    }
    if (m_data.hideSelection == 0) style |= win::ES_NOHIDESEL;
    if (m_data.alignment == 1) style |= win::ES_CENTER;
    if (m_data.alignment == 2) style |= win::ES_RIGHT;
    if (m_data.inputMode == 1) style |= win::ES_READONLY;
    if (m_data.inputMode == 2) style |= win::ES_PASSWORD;
    if (m_data.caseConversion == 1) style |= win::ES_LOWERCASE;
    if (m_data.caseConversion == 2) style |= win::ES_UPPERCASE;
    if (m_data.border == 5) style |= win::WS_BORDER;
    return style;
  }

  // The box's parent: where the loader put it (a container, perhaps), or the window it is made on.
  HWND Parent() const { return Handle() != nullptr ? win::GetParent(Handle()) : m_parent; }

  HWND NewWindow(int left, int top, int width, int height, const std::string& text) const {
    return win::CreateWindowExA(EditBorderExStyle(m_data.border), "EDIT", text.c_str(),
                                Style() | (m_creationStyle & win::WS_DISABLED), left, top, width, height, Parent(),
                                reinterpret_cast<win::HMENU>(static_cast<intptr_t>(m_childId)), nullptr, nullptr);
  }

  // Everything the window takes from the fields after it is made.
  void Configure() {
    ApplyFont(AsString(m_data.font));
    SetColours(Handle(), m_data.textColour, m_data.backgroundColour);
    // A password character turns masking on, so it is given only in password mode.
    if (m_data.inputMode == 2)
      win::SendMessageA(Handle(), win::EM_SETPASSWORDCHAR, static_cast<uint8_t>(m_data.passwordChar), 0);
    ApplyLimit();
    ApplyInputMode();
    ApplySpin();
  }

  // The box made anew with the current fields, keeping its text, place and state.
  bool Rebuild() {
    win::RECT rect;
    win::GetWindowRect(Handle(), &rect);
    win::POINT corner{rect.left, rect.top};
    if (Parent() != nullptr) win::ScreenToClient(Parent(), &corner);
    DestroySpin();
    HWND window = NewWindow(corner.x, corner.y, rect.right - rect.left, rect.bottom - rect.top, WindowText());
    if (window == nullptr) {
      ApplySpin();
      return false;
    }
    ReplaceWindow(window);
    Configure();
    return true;
  }

  void ApplyStyles() { Restyle(Style(), EditBorderExStyle(m_data.border)); }

  void ApplyLimit() { win::SendMessageA(Handle(), win::EM_LIMITTEXT, static_cast<win::WPARAM>(m_data.maxLength), 0); }

  void ApplyInputMode() {
    const int32_t mode = m_data.inputMode;
    if (EditInputAccepts(mode, u'A')) {
      win::SetEditInputFilter(Handle(), {});
      return;
    }
    win::SetEditInputFilter(Handle(), [mode](char16_t c) { return EditInputAccepts(mode, c); });
  }

  // A spin buddy is an up-down control against the right edge of a single-line box; it writes its
  // position into the box and steps from the number there.
  void ApplySpin() {
    const bool wanted = m_data.spinBuddy != 0 && m_data.multiLine == 0;
    if (!wanted) {
      DestroySpin();
      return;
    }
    // The spin is made once the window's controls all stand where they belong.
    if (!m_loadComplete || (m_spin != nullptr && win::IsWindow(m_spin))) return;
    DWORD style = win::WS_CHILD | win::UDS_SETBUDDYINT | win::UDS_ALIGNRIGHT | win::UDS_ARROWKEYS |
                  win::UDS_NOTHOUSANDS;
    if (win::IsWindowVisible(Handle())) style |= win::WS_VISIBLE;
    if (!win::IsWindowEnabled(Handle())) style |= win::WS_DISABLED;
    m_spin = win::CreateWindowExA(0, "msctls_updown32", "", style, 0, 0, 0, 0, Parent(), nullptr, nullptr, nullptr);
    if (m_spin == nullptr) return;
    m_spinWidthTaken = true;
    // The up-down control joins the box in the stacking order, directly below it.
    win::SetWindowPos(m_spin, Handle(), 0, 0, 0, 0, win::SWP_NOMOVE | win::SWP_NOSIZE | win::SWP_NOACTIVATE);
    win::SendMessageA(m_spin, win::UDM_SETBUDDY, reinterpret_cast<win::WPARAM>(Handle()), 0);
    ApplySpinRange();
  }

  void ApplySpinRange() {
    if (m_spin == nullptr) return;
    win::SendMessageA(m_spin, win::UDM_SETRANGE32, static_cast<win::WPARAM>(m_data.spinMinimum), m_data.spinMaximum);
  }

  // Takes the spin control away and gives the box back the width it took.
  void DestroySpin() {
    if (m_spin == nullptr) return;
    win::RECT spin{}, box{};
    const bool sized = win::IsWindow(m_spin) && win::GetWindowRect(m_spin, &spin) && win::IsWindow(Handle()) &&
                       win::GetWindowRect(Handle(), &box);
    if (win::IsWindow(m_spin)) win::DestroyWindow(m_spin);
    m_spin = nullptr;
    if (sized && m_spinWidthTaken)
      win::SetWindowPos(Handle(), nullptr, 0, 0, (box.right - box.left) + (spin.right - spin.left),
                        box.bottom - box.top, win::SWP_NOMOVE | win::SWP_NOZORDER | win::SWP_NOACTIVATE);
    m_spinWidthTaken = false;
  }

  // The selection in characters, start before end.
  std::pair<int32_t, int32_t> SelectionOf() const {
    win::DWORD start = 0, end = 0;
    win::SendMessageA(Handle(), win::EM_GETSEL, reinterpret_cast<win::WPARAM>(&start),
                      reinterpret_cast<win::LPARAM>(&end));
    const auto a = static_cast<int32_t>(start), b = static_cast<int32_t>(end);
    return {std::min(a, b), std::max(a, b)};
  }

  std::string SelectedText() const {
    const auto [start, end] = SelectionOf();
    if (end <= start) return {};
    return SliceCharacters(WindowText(), start, end);
  }

  EditBoxData m_data;
  HWND m_parent;
  int m_childId;
  DWORD m_creationStyle;
  HWND m_spin = nullptr;
  bool m_spinWidthTaken = false;
  bool m_loadComplete = false;
};

class Label final : public Component {
 public:
  Label(const ComponentCreation& c, LabelData data)
      : Component(c.windowId, c.unitId, kLabelComponent), m_data(std::move(data)) {}

  bool Create(const ComponentCreation& c) {
    const DWORD style = win::WS_CHILD | win::WS_CLIPSIBLINGS | c.style;
    HWND window = CreateChildControl(c, 0, kLabelClass, m_data.caption, style);
    if (window == nullptr) return false;
    Attach(window);
    ApplyFont(AsString(m_data.font));
    SetColours(window, m_data.textColour(), m_data.backgroundColour());
    ReplacePicture(AsString(m_data.picture));
    return true;
  }

  win::COLORREF TextColour() const { return StoredColour(m_data.textColour()); }
  win::HBITMAP LabelPicture() const { return Picture(); }

  bool GetProperty(int32_t k, PropertyValue& v) const override {
    switch (k) {
      case 0: v = Text(WindowText()); return true;
      case 7: v = ByteSet(AsString(m_data.font)); return true;
      case 8: v = Number(m_data.textColour()); return true;
      case 9: v = Number(m_data.backgroundColour()); return true;
      case 10: v = ByteSet(AsString(m_data.picture)); return true;
      default:
        if (k >= 1 && k <= 6) {  // the leading stored fields, in their stored order
          v = Number(static_cast<uint32_t>(m_data.fields[k - 1]));
          return true;
        }
        return false;
    }
  }
  bool SetProperty(int32_t k, const PropertyValue& v) override {
    switch (k) {
      case 0: win::SetWindowTextA(Handle(), v.bytes.c_str()); break;
      case 7: m_data.font.assign(v.bytes.begin(), v.bytes.end()); ApplyFont(v.bytes); break;
      case 8: m_data.fields[LabelData::kTextColourField] = static_cast<int32_t>(v.number); break;
      case 9: m_data.fields[LabelData::kBackgroundColourField] = static_cast<int32_t>(v.number); break;
      case 10: m_data.picture.assign(v.bytes.begin(), v.bytes.end()); ReplacePicture(v.bytes); break;
      default:
        if (k < 1 || k > 6) return false;
        m_data.fields[k - 1] = static_cast<int32_t>(v.number);
        return true;
    }
    SetColours(Handle(), m_data.textColour(), m_data.backgroundColour());
    win::InvalidateRect(Handle(), nullptr, 1);
    return true;
  }

 private:
  LabelData m_data;
};

win::LRESULT LabelProcedure(HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam) {
  if (message != win::WM_PAINT) return win::DefWindowProcA(window, message, wParam, lParam);
  win::PAINTSTRUCT paint{};
  win::HDC dc = win::BeginPaint(window, &paint);
  if (dc == nullptr) return 0;
  const auto* label = dynamic_cast<const Label*>(Component::FromHandle(window));
  const auto font = reinterpret_cast<win::HGDIOBJ>(win::SendMessageA(window, win::WM_GETFONT, 0, 0));
  if (font != nullptr) win::SelectObject(dc, font);
  win::SetBkMode(dc, win::TRANSPARENT);
  win::SetTextColor(dc, label ? label->TextColour() : win::GetSysColor(win::COLOR_WINDOWTEXT));
  std::string caption(static_cast<size_t>(win::GetWindowTextLengthA(window)) + 1, '\0');
  caption.resize(static_cast<size_t>(win::GetWindowTextA(window, caption.data(), static_cast<int>(caption.size()))));
  win::RECT client;
  win::GetClientRect(window, &client);
  // The picture at its own size in the top left corner, the caption over it.
  win::BITMAP size;
  if (label != nullptr && label->LabelPicture() != nullptr &&
      win::GetObjectA(label->LabelPicture(), sizeof size, &size) == sizeof size)
    win::DrawBitmap(dc, label->LabelPicture(), 0, 0, size.bmWidth, size.bmHeight);
  win::DrawTextA(dc, caption.c_str(), -1, &client, win::DT_LEFT | win::DT_WORDBREAK | win::DT_NOPREFIX);
  win::EndPaint(window, &paint);
  return 0;
}

DWORD ButtonAlignment(int32_t horizontal, int32_t vertical) {
  DWORD style = horizontal == 0 ? win::BS_LEFT : horizontal == 2 ? win::BS_RIGHT : win::BS_CENTER;
  style |= vertical == 0 ? win::BS_TOP : vertical == 2 ? win::BS_BOTTOM : win::BS_VCENTER;
  return style;
}

// The button styles of the fields that may change while the button lives.
DWORD ButtonKindStyle(int32_t type) { return type == 1 ? win::BS_DEFPUSHBUTTON : win::BS_PUSHBUTTON; }

// Buttons and radio boxes: BUTTON windows that show their picture beside the caption.
class PictureButton : public Component {
 protected:
  using Component::Component;
  // The button lets go of the old bitmap before the component deletes it.
  void ShowStoredPicture(const std::string& stored) {
    win::SendMessageA(Handle(), win::BM_SETIMAGE, win::IMAGE_BITMAP, 0);
    win::SendMessageA(Handle(), win::BM_SETIMAGE, win::IMAGE_BITMAP,
                      reinterpret_cast<win::LPARAM>(ReplacePicture(stored)));
  }
};

class Button final : public PictureButton {
 public:
  Button(const ComponentCreation& c, ButtonData data)
      : PictureButton(c.windowId, c.unitId, kButtonComponent), m_data(std::move(data)), m_creationStyle(c.style) {}

  bool Create(const ComponentCreation& c) {
    HWND window = CreateChildControl(c, 0, "BUTTON", m_data.caption, Style() | (c.style & win::WS_DISABLED));
    if (window == nullptr) return false;
    Attach(window);
    ApplyFont(AsString(m_data.font));
    ShowStoredPicture(AsString(m_data.picture));
    return true;
  }

  bool GetProperty(int32_t k, PropertyValue& v) const override {
    switch (k) {
      case 0: v = ByteSet(AsString(m_data.picture)); return true;
      case 1: v = Number(m_data.type); return true;
      case 2: v = Text(WindowText()); return true;
      case 3: v = Number(m_data.horizontalAlignment); return true;
      case 4: v = Number(m_data.verticalAlignment); return true;
      case 5: v = ByteSet(AsString(m_data.font)); return true;
      default: return false;
    }
  }
  bool SetProperty(int32_t k, const PropertyValue& v) override {
    const auto number = static_cast<int32_t>(v.number);
    switch (k) {
      case 0:
        m_data.picture.assign(v.bytes.begin(), v.bytes.end());
        ShowStoredPicture(v.bytes);
        return true;
      case 1: m_data.type = number; break;
      case 2: return win::SetWindowTextA(Handle(), v.bytes.c_str()) != 0;
      case 3: m_data.horizontalAlignment = number; break;
      case 4: m_data.verticalAlignment = number; break;
      case 5: m_data.font.assign(v.bytes.begin(), v.bytes.end()); ApplyFont(v.bytes); return true;
      default: return false;
    }
    Restyle(Style());
    return true;
  }

 private:
  DWORD Style() const {
    return win::WS_CHILD | win::WS_CLIPSIBLINGS | win::BS_MULTILINE | (m_creationStyle & win::WS_TABSTOP) |
           ButtonKindStyle(m_data.type) | ButtonAlignment(m_data.horizontalAlignment, m_data.verticalAlignment);
  }

  ButtonData m_data;
  DWORD m_creationStyle;
};

class RadioBox final : public PictureButton {
 public:
  RadioBox(const ComponentCreation& c, RadioBoxData data)
      : PictureButton(c.windowId, c.unitId, kRadioBoxComponent), m_data(std::move(data)), m_creationStyle(c.style),
        m_startsGroup(c.startsGroup) {}

  bool Create(const ComponentCreation& c) {
    HWND window = CreateChildControl(c, 0, "BUTTON", m_data.caption, Style() | (c.style & win::WS_DISABLED));
    if (window == nullptr) return false;
    Attach(window);
    ApplyFont(AsString(m_data.font));
    SetColours(window, m_data.textColour, m_data.backgroundColour);
    ShowStoredPicture(AsString(m_data.picture));
    if (m_data.checked == 1) win::SendMessageA(window, win::BM_SETCHECK, win::BST_CHECKED, 0);
    return true;
  }

  bool GetProperty(int32_t k, PropertyValue& v) const override {
    switch (k) {
      case 0: v = ByteSet(AsString(m_data.picture)); return true;
      case 1: v = Flag(m_data.pushLike != 0); return true;
      case 2: v = Flag(m_data.flat != 0); return true;
      case 3: v = Text(WindowText()); return true;
      case 4: v = Flag(m_data.textLeft != 0); return true;
      case 5: v = Number(m_data.horizontalAlignment); return true;
      case 6: v = Number(m_data.verticalAlignment); return true;
      case 7: v = Number(m_data.textColour); return true;
      case 8: v = Number(m_data.backgroundColour); return true;
      case 9: v = ByteSet(AsString(m_data.font)); return true;
      case 10:
        v = Flag(win::SendMessageA(Handle(), win::BM_GETCHECK, 0, 0) == static_cast<win::LRESULT>(win::BST_CHECKED));
        return true;
      default: return false;
    }
  }
  bool SetProperty(int32_t k, const PropertyValue& v) override {
    const auto number = static_cast<int32_t>(v.number);
    switch (k) {
      case 0:
        m_data.picture.assign(v.bytes.begin(), v.bytes.end());
        ShowStoredPicture(v.bytes);
        return true;
      case 1: m_data.pushLike = number != 0; return ApplyStyle();
      case 2: m_data.flat = number != 0; return ApplyStyle();
      case 3: return win::SetWindowTextA(Handle(), v.bytes.c_str()) != 0;
      case 4: m_data.textLeft = number != 0; return ApplyStyle();
      case 5: m_data.horizontalAlignment = number; return ApplyStyle();
      case 6: m_data.verticalAlignment = number; return ApplyStyle();
      case 7: m_data.textColour = static_cast<uint32_t>(number); break;
      case 8: m_data.backgroundColour = static_cast<uint32_t>(number); break;
      case 9: m_data.font.assign(v.bytes.begin(), v.bytes.end()); ApplyFont(v.bytes); return true;
      case 10:
        win::SendMessageA(Handle(), win::BM_SETCHECK, number != 0 ? win::BST_CHECKED : win::BST_UNCHECKED, 0);
        return true;
      default: return false;
    }
    SetColours(Handle(), m_data.textColour, m_data.backgroundColour);
    win::InvalidateRect(Handle(), nullptr, 1);
    return true;
  }

 private:
  DWORD Style() const {
    DWORD style = win::WS_CHILD | win::WS_CLIPSIBLINGS | win::BS_MULTILINE | win::BS_AUTORADIOBUTTON |
                  (m_creationStyle & win::WS_TABSTOP);
    if (m_startsGroup) style |= win::WS_GROUP;
    if (m_data.pushLike != 0) style |= win::BS_PUSHLIKE;
    if (m_data.flat != 0) style |= win::BS_FLAT;
    if (m_data.textLeft != 0) style |= win::BS_LEFTTEXT;
    return style | ButtonAlignment(m_data.horizontalAlignment, m_data.verticalAlignment);
  }

  bool ApplyStyle() {
    Restyle(Style());
    return true;
  }

  RadioBoxData m_data;
  DWORD m_creationStyle;
  bool m_startsGroup;
};

// Reads the component data, builds the component and its window; null on any failure.
template <typename T, typename Data>
std::unique_ptr<Component> Build(const ComponentCreation& c, std::optional<Data> data) {
  if (!data) return nullptr;
  auto component = std::make_unique<T>(c, std::move(*data));
  if (!component->Create(c)) return nullptr;
  return component;
}

}  // namespace

Component::~Component() {
  if (m_handle != nullptr && win::IsWindow(m_handle)) {
    win::SetWindowLongPtrA(m_handle, win::GWLP_USERDATA, 0);
    if (m_cursor != nullptr) win::SetWindowCursor(m_handle, nullptr);
    if (m_picture != nullptr) win::SendMessageA(m_handle, win::BM_SETIMAGE, win::IMAGE_BITMAP, 0);
  }
  if (m_font != nullptr) win::DeleteObject(m_font);
  if (m_picture != nullptr) win::DeleteObject(m_picture);
  if (m_cursor != nullptr) win::DestroyCursor(m_cursor);
}

void Component::Show(bool visible) { win::ShowWindow(m_handle, visible ? win::SW_SHOWNA : win::SW_HIDE); }
void Component::Enable(bool enabled) { win::EnableWindow(m_handle, enabled); }
void Component::Place(int left, int top, int width, int height) {
  win::MoveWindow(m_handle, left, top, width, height, 1);
}

void Component::Restyle(DWORD style, std::optional<DWORD> exStyle) {
  win::SetWindowLongPtrA(m_handle, win::GWL_STYLE, static_cast<win::LONG_PTR>(style));
  if (exStyle) win::SetWindowLongPtrA(m_handle, win::GWL_EXSTYLE, static_cast<win::LONG_PTR>(*exStyle));
  win::InvalidateRect(m_handle, nullptr, 1);
}

void Component::TakePointer(UnitRecord& record) {
  SetPointer(CursorOfPointer(record.mousePointer));
  record.liveCursor = m_cursor;
}

void Component::SetPointer(win::HCURSOR cursor) {
  if (cursor == m_cursor) return;
  if (m_handle != nullptr && win::IsWindow(m_handle)) win::SetWindowCursor(m_handle, cursor);
  if (m_cursor != nullptr) win::DestroyCursor(m_cursor);
  m_cursor = cursor;
}

win::HBITMAP Component::ReplacePicture(const std::string& stored) {
  win::HBITMAP picture =
      stored.empty() ? nullptr : win::CreateBitmapFromImageData(stored.data(), static_cast<win::DWORD>(stored.size()));
  if (m_picture != nullptr) win::DeleteObject(m_picture);
  m_picture = picture;
  if (m_handle != nullptr) win::InvalidateRect(m_handle, nullptr, 1);
  return picture;
}

void Component::ReplaceWindow(HWND replacement) {
  HWND old = m_handle;
  const bool focused = win::GetFocus() == old;
  win::SetWindowPos(replacement, old, 0, 0, 0, 0, win::SWP_NOMOVE | win::SWP_NOSIZE | win::SWP_NOACTIVATE);
  win::EnableWindow(replacement, win::IsWindowEnabled(old));
  if (m_cursor != nullptr) win::SetWindowCursor(replacement, m_cursor);
  const bool visible = win::IsWindowVisible(old) != 0;
  win::SetWindowLongPtrA(old, win::GWLP_USERDATA, 0);
  Attach(replacement);
  if (visible) win::ShowWindow(replacement, win::SW_SHOWNA);
  win::DestroyWindow(old);
  if (focused) win::SetFocus(replacement);
}

Component* Component::FromHandle(HWND window) {
  if (window == nullptr || !win::IsWindow(window)) return nullptr;
  return reinterpret_cast<Component*>(win::GetWindowLongPtrA(window, win::GWLP_USERDATA));
}

void Component::Attach(HWND window) {
  m_handle = window;
  win::SetWindowLongPtrA(window, win::GWLP_USERDATA, reinterpret_cast<win::LONG_PTR>(this));
}

void Component::ApplyFont(const std::string& stored) {
  win::HFONT font = CreateStoredFont(stored);
  const auto use = font != nullptr ? reinterpret_cast<win::WPARAM>(font)
                                   : reinterpret_cast<win::WPARAM>(win::GetStockObject(win::DEFAULT_GUI_FONT));
  win::SendMessageA(m_handle, win::WM_SETFONT, use, 1);
  if (m_font != nullptr) win::DeleteObject(m_font);
  m_font = font;
}

std::string Component::WindowText() const {
  std::string text(static_cast<size_t>(win::GetWindowTextLengthA(m_handle)) + 1, '\0');
  text.resize(static_cast<size_t>(win::GetWindowTextA(m_handle, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool IsKnownComponentType(uint32_t typeId) {
  switch (typeId) {
    case kWindowComponent:
    case kEditBoxComponent:
    case kLabelComponent:
    case kButtonComponent:
    case kRadioBoxComponent: return true;
    default: return false;
  }
}

bool ComponentCanRaiseEvents(uint32_t typeId) { return IsKnownComponentType(typeId); }

std::unique_ptr<Component> CreateComponent(const ComponentCreation& c, win::WindowProcedure windowProcedure) {
  if (c.record == nullptr) return nullptr;
  RegisterRuntimeClasses(windowProcedure);
  const auto data = DataOf(*c.record);
  switch (c.record->typeId) {
    case kWindowComponent: return Build<WindowComponent>(c, ReadWindowData(data));
    case kEditBoxComponent: return Build<EditBox>(c, ReadEditBoxData(data));
    case kLabelComponent: return Build<Label>(c, ReadLabelData(data));
    case kButtonComponent: return Build<Button>(c, ReadButtonData(data));
    case kRadioBoxComponent: return Build<RadioBox>(c, ReadRadioBoxData(data));
    default: return nullptr;
  }
}

win::COLORREF StoredColour(uint32_t colour) {
  return colour == kButtonFaceColour ? win::GetSysColor(win::COLOR_BTNFACE) : colour;
}

win::HFONT CreateStoredFont(const std::string& stored) {
  win::LOGFONTA font;
  if (stored.size() != sizeof font) return nullptr;
  std::memcpy(&font, stored.data(), sizeof font);
  font.lfCharSet = 1;  // the default character set: the system picks a face that has the text
  font.lfOutPrecision = 0;
  font.lfClipPrecision = 0;
  font.lfQuality = 2;  // proof quality
  font.lfPitchAndFamily = 0;
  return win::CreateFontIndirectA(&font);
}

win::HCURSOR CursorOfPointer(std::span<const unsigned char> pointer) {
  if (pointer.empty()) return nullptr;
  int32_t number = pointer[0];
  if (pointer.size() >= 4) std::memcpy(&number, pointer.data(), 4);
  if (number == -1) {
    const auto data = pointer.subspan(4);
    return data.empty() ? nullptr
                        : win::CreateCursorFromFileData(data.data(), static_cast<win::DWORD>(data.size()));
  }
  // Pointer numbers 1 to 14 name the system cursors (14, the hand, is the program's own on Windows;
  // the system's hand is the same picture).
  static const char* const kCursors[] = {
      nullptr,           win::IDC_ARROW,    win::IDC_CROSS,  win::IDC_IBEAM,  win::IDC_WAIT,
      win::IDC_HELP,     win::IDC_APPSTARTING, win::IDC_NO, win::IDC_SIZEALL, win::IDC_SIZENESW,
      win::IDC_SIZENS,   win::IDC_SIZENWSE, win::IDC_SIZEWE, win::IDC_UPARROW, win::IDC_HAND};
  if (number >= 1 && number <= 14) return win::LoadCursorA(nullptr, kCursors[number]);
  // A system cursor id selects that cursor; other numbers give none.
  if (number >= 32512 && number <= 32767)
    return win::LoadCursorA(nullptr, reinterpret_cast<const char*>(static_cast<intptr_t>(number)));
  return nullptr;
}

bool EditInputAccepts(int32_t inputMode, char16_t c) {
  if (c < 32) return true;
  const bool digit = c >= u'0' && c <= u'9';
  switch (inputMode) {
    case 3: case 6: case 7: case 8: return digit || c == u'-';
    case 4: case 9: case 10: return digit || c == u'-' || c == u'.';
    case 5: return digit;
    default: return true;
  }
}

}  // namespace qv
