#include "runtime/components.h"

#include <cstring>
#include <optional>
#include <span>

#include "runtime/component_data.h"

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
      case 7: v = Flag(m_data.controlBox == 1); return true;
      case 8: v = Flag(m_data.maximiseBox == 1); return true;
      case 9: v = Flag(m_data.minimiseBox == 1); return true;
      case 10: v = Number(m_data.startPosition); return true;
      default: return false;
    }
  }
  bool SetProperty(int32_t k, const PropertyValue& v) override {
    switch (k) {
      case 0: return win::SetWindowTextA(Handle(), v.bytes.c_str()) != 0;
      case 2:
        m_data.backgroundColour = static_cast<uint32_t>(v.number);
        win::SetControlColors(Handle(), win::CLR_INVALID, StoredColour(m_data.backgroundColour));
        win::InvalidateRect(Handle(), nullptr, 1);
        return true;
      default: return false;
    }
  }

 private:
  WindowData m_data;
};

class EditBox final : public Component {
 public:
  EditBox(const ComponentCreation& c, EditBoxData data)
      : Component(c.windowId, c.unitId, kEditBoxComponent), m_data(std::move(data)) {}

  bool Create(const ComponentCreation& c) {
    DWORD style = win::WS_CHILD | win::WS_CLIPSIBLINGS | c.style;
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
    HWND window = CreateChildControl(c, EditBorderExStyle(m_data.border), "EDIT", m_data.content, style);
    if (window == nullptr) return false;
    Attach(window);
    ApplyFont(AsString(m_data.font));
    SetColours(window, m_data.textColour, m_data.backgroundColour);
    // A password character turns masking on, so it is given only in password mode.
    if (m_data.inputMode == 2)
      win::SendMessageA(window, win::EM_SETPASSWORDCHAR, static_cast<uint8_t>(m_data.passwordChar), 0);
    ApplyLimit();
    ApplyInputMode();
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
      default: return false;
    }
  }

  bool SetProperty(int32_t k, const PropertyValue& v) override {
    HWND window = Handle();
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
      case 2: m_data.textColour = static_cast<uint32_t>(v.number); break;
      case 3: m_data.backgroundColour = static_cast<uint32_t>(v.number); break;
      case 4: m_data.font.assign(v.bytes.begin(), v.bytes.end()); ApplyFont(v.bytes); return true;
      case 6: m_data.maxLength = static_cast<int32_t>(v.number); ApplyLimit(); return true;
      case 10: {
        const bool wasReadOnly = m_data.inputMode == 1;
        m_data.inputMode = static_cast<int32_t>(v.number);
        if (wasReadOnly != (m_data.inputMode == 1))
          win::SendMessageA(window, win::EM_SETREADONLY, m_data.inputMode == 1, 0);
        win::SendMessageA(window, win::EM_SETPASSWORDCHAR,
                          m_data.inputMode == 2 ? static_cast<uint8_t>(m_data.passwordChar) : 0, 0);
        ApplyInputMode();
        return true;
      }
      case 11:
        m_data.passwordChar = static_cast<int16_t>(v.number & 0xFF);
        if (m_data.inputMode == 2)
          win::SendMessageA(window, win::EM_SETPASSWORDCHAR, static_cast<uint8_t>(m_data.passwordChar), 0);
        return true;
      default: return false;
    }
    SetColours(window, m_data.textColour, m_data.backgroundColour);
    win::InvalidateRect(window, nullptr, 1);
    return true;
  }

 private:
  void ApplyLimit() { win::SendMessageA(Handle(), win::EM_LIMITTEXT, static_cast<win::WPARAM>(m_data.maxLength), 0); }
  void ApplyInputMode() {
    const int32_t mode = m_data.inputMode;
    if (EditInputAccepts(mode, u'A')) {
      win::SetEditInputFilter(Handle(), {});
      return;
    }
    win::SetEditInputFilter(Handle(), [mode](char16_t c) { return EditInputAccepts(mode, c); });
  }

  EditBoxData m_data;
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
    return true;
  }

  win::COLORREF TextColour() const { return StoredColour(m_data.textColour()); }

  bool GetProperty(int32_t k, PropertyValue& v) const override {
    switch (k) {
      case 0: v = Text(WindowText()); return true;
      case 7: v = ByteSet(AsString(m_data.font)); return true;
      case 8: v = Number(m_data.textColour()); return true;
      case 9: v = Number(m_data.backgroundColour()); return true;
      case 10: v = ByteSet(AsString(m_data.picture)); return true;
      default:
        if (k >= 1 && k <= 6) {  // the leading stored fields, in their stored order
          v = Number(m_data.fields[k - 1]);
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
      default: return false;
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
  win::DrawTextA(dc, caption.c_str(), -1, &client, win::DT_LEFT | win::DT_WORDBREAK | win::DT_NOPREFIX);
  win::EndPaint(window, &paint);
  return 0;
}

DWORD ButtonAlignment(int32_t horizontal, int32_t vertical) {
  DWORD style = horizontal == 0 ? win::BS_LEFT : horizontal == 2 ? win::BS_RIGHT : win::BS_CENTER;
  style |= vertical == 0 ? win::BS_TOP : vertical == 2 ? win::BS_BOTTOM : win::BS_VCENTER;
  return style;
}

class Button final : public Component {
 public:
  Button(const ComponentCreation& c, ButtonData data)
      : Component(c.windowId, c.unitId, kButtonComponent), m_data(std::move(data)) {}

  bool Create(const ComponentCreation& c) {
    DWORD style = win::WS_CHILD | win::WS_CLIPSIBLINGS | win::BS_MULTILINE | c.style;
    style |= m_data.type == 1 ? win::BS_DEFPUSHBUTTON : win::BS_PUSHBUTTON;
    style |= ButtonAlignment(m_data.horizontalAlignment, m_data.verticalAlignment);
    HWND window = CreateChildControl(c, 0, "BUTTON", m_data.caption, style);
    if (window == nullptr) return false;
    Attach(window);
    ApplyFont(AsString(m_data.font));
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
    switch (k) {
      case 2: return win::SetWindowTextA(Handle(), v.bytes.c_str()) != 0;
      case 5: m_data.font.assign(v.bytes.begin(), v.bytes.end()); ApplyFont(v.bytes); return true;
      default: return false;
    }
  }

 private:
  ButtonData m_data;
};

class RadioBox final : public Component {
 public:
  RadioBox(const ComponentCreation& c, RadioBoxData data)
      : Component(c.windowId, c.unitId, kRadioBoxComponent), m_data(std::move(data)) {}

  bool Create(const ComponentCreation& c) {
    DWORD style = win::WS_CHILD | win::WS_CLIPSIBLINGS | win::BS_MULTILINE | win::BS_AUTORADIOBUTTON | c.style;
    if (c.startsGroup) style |= win::WS_GROUP;
    if (m_data.pushLike != 0) style |= win::BS_PUSHLIKE;
    if (m_data.flat != 0) style |= win::BS_FLAT;
    if (m_data.textLeft != 0) style |= win::BS_LEFTTEXT;
    style |= ButtonAlignment(m_data.horizontalAlignment, m_data.verticalAlignment);
    HWND window = CreateChildControl(c, 0, "BUTTON", m_data.caption, style);
    if (window == nullptr) return false;
    Attach(window);
    ApplyFont(AsString(m_data.font));
    SetColours(window, m_data.textColour, m_data.backgroundColour);
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
    switch (k) {
      case 3: return win::SetWindowTextA(Handle(), v.bytes.c_str()) != 0;
      case 7: m_data.textColour = static_cast<uint32_t>(v.number); break;
      case 8: m_data.backgroundColour = static_cast<uint32_t>(v.number); break;
      case 9: m_data.font.assign(v.bytes.begin(), v.bytes.end()); ApplyFont(v.bytes); return true;
      case 10:
        win::SendMessageA(Handle(), win::BM_SETCHECK, v.number != 0 ? win::BST_CHECKED : win::BST_UNCHECKED, 0);
        return true;
      default: return false;
    }
    SetColours(Handle(), m_data.textColour, m_data.backgroundColour);
    win::InvalidateRect(Handle(), nullptr, 1);
    return true;
  }

 private:
  RadioBoxData m_data;
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
  if (m_handle != nullptr && win::IsWindow(m_handle)) win::SetWindowLongPtrA(m_handle, win::GWLP_USERDATA, 0);
  if (m_font != nullptr) win::DeleteObject(m_font);
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
