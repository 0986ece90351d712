// The components of a window: the window itself, edit box, label, button and radio box. Each live
// component is a platform window plus the fields read from its unit record's component data; it
// answers the component properties (number 8 + k in the property entries) and keeps the window id
// and unit id its events are raised with.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/ui/window.h"
#include "runtime/windows/window_template.h"

namespace qv {

inline constexpr uint32_t kWindowComponent = 0x00010001;
inline constexpr uint32_t kEditBoxComponent = 0x00010005;
inline constexpr uint32_t kLabelComponent = 0x0001000A;
inline constexpr uint32_t kButtonComponent = 0x0001000B;
inline constexpr uint32_t kRadioBoxComponent = 0x0001000D;

// The value of a component property: numbers and flags in number, texts (GBK) and byte sets in
// bytes.
struct PropertyValue {
  enum class Kind : uint8_t { Number, Bool, Text, ByteSet };
  Kind kind = Kind::Number;
  int64_t number = 0;
  std::string bytes;
};

// What the loader hands to a component's create function.
struct ComponentCreation {
  uint32_t windowId = 0;
  uint32_t unitId = 0;
  const UnitRecord* record = nullptr;
  win::HWND parent = nullptr;  // null for the window itself
  int childId = 0;
  win::DWORD style = 0;        // WS_DISABLED / WS_TABSTOP from the record's flags
  bool startsGroup = false;    // a radio box that begins a run of radio boxes
};

class Component {
 public:
  Component(uint32_t windowId, uint32_t unitId, uint32_t typeId)
      : m_windowId(windowId), m_unitId(unitId), m_typeId(typeId) {}
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  uint32_t WindowId() const { return m_windowId; }
  uint32_t UnitId() const { return m_unitId; }
  uint32_t TypeId() const { return m_typeId; }
  win::HWND Handle() const { return m_handle; }
  bool Exists() const { return m_handle != nullptr && win::IsWindow(m_handle); }
  // The platform window is gone (destroyed from outside); the component no longer touches it.
  void Forget() { m_handle = nullptr; }

  // Component property k (property number 8 + k). False for a property the component lacks.
  virtual bool GetProperty(int32_t k, PropertyValue& value) const = 0;
  virtual bool SetProperty(int32_t k, const PropertyValue& value) = 0;

  // Showing, enabling and placing the control; a component with a companion window (an edit
  // box's spin buddy) takes it along.
  virtual void Show(bool visible);
  virtual void Enable(bool enabled);
  virtual void Place(int left, int top, int width, int height);
  // The loader's notices: every control of the window is made and in its container (the window
  // hears this after its controls), and, last, the window is shown.
  virtual void OnLoadComplete() {}
  virtual void OnWindowUp() {}
  // Draws what the component paints itself into its window (a window's picture); false when it
  // leaves the painting to the platform.
  virtual bool Paint() { return false; }

  // The mouse pointer: the cursor the template's pointer number or data makes, shown over the
  // control. The component owns it and destroys it when it is replaced or the component goes.
  void SetPointer(win::HCURSOR cursor);
  win::HCURSOR Pointer() const { return m_cursor; }
  // Makes the cursor of the record's mouse pointer and keeps it in the record's live cursor slot.
  void TakePointer(UnitRecord& record);

  // The component that owns a platform window, or null for other windows.
  static Component* FromHandle(win::HWND window);

 protected:
  // Remembers the window and lets FromHandle find the component.
  void Attach(win::HWND window);
  // Applies a stored font (a 60-byte LOGFONTA, anything else: the default GUI font) to the window
  // and keeps the created font until the next one or the end of the component.
  void ApplyFont(const std::string& stored);
  std::string WindowText() const;
  // New styles for the window (and extended styles when given), redrawn.
  void Restyle(win::DWORD style, std::optional<win::DWORD> exStyle = std::nullopt);
  // Replaces the component's picture with a bitmap of the stored image bytes (none for empty or
  // unreadable bytes) and returns it; the component owns it.
  win::HBITMAP ReplacePicture(const std::string& stored);
  win::HBITMAP Picture() const { return m_picture; }
  // Puts a new platform window in place of the current one: same place in the stacking order,
  // visibility, enabled state, focus and pointer; the old window is destroyed.
  void ReplaceWindow(win::HWND replacement);

 private:
  uint32_t m_windowId;
  uint32_t m_unitId;
  uint32_t m_typeId;
  win::HWND m_handle = nullptr;
  win::HFONT m_font = nullptr;  // created here; stock fonts are not kept
  win::HBITMAP m_picture = nullptr;
  win::HCURSOR m_cursor = nullptr;
};

// Whether the component type is one this runtime knows, and whether it may raise events.
bool IsKnownComponentType(uint32_t typeId);
bool ComponentCanRaiseEvents(uint32_t typeId);

// Creates the component of the record's type with its platform window. Null when the type is
// unknown, the component data cannot be read (a newer version included) or the platform refuses
// the window. The window component's procedure is given by the loader.
std::unique_ptr<Component> CreateComponent(const ComponentCreation& creation, win::WindowProcedure windowProcedure);

// COLORREF of a stored colour: the button-face value becomes the system colour.
win::COLORREF StoredColour(uint32_t colour);
// The font a stored font byte set stands for, with character set, precisions, quality and pitch
// replaced as the runtime does; null for the default GUI font (any length other than 60).
win::HFONT CreateStoredFont(const std::string& stored);
// The cursor a mouse pointer blob makes: an int32 pointer number (one byte when the blob is
// shorter than 4), or -1 followed by cursor data. Null for the default pointer (0), for unknown
// numbers and for unreadable cursor data.
win::HCURSOR CursorOfPointer(std::span<const unsigned char> pointer);
// Whether an edit box in that input mode accepts the typed character.
bool EditInputAccepts(int32_t inputMode, char16_t c);

}  // namespace qv
