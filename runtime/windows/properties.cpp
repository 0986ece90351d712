#include "runtime/windows/properties.h"

#include "runtime/errors.h"
#include "runtime/memory/memory.h"
#include "runtime/windows/window_template.h"

namespace qv {
namespace {

enum Common : int32_t { kLeft = 0, kTop, kWidth, kHeight, kTag, kVisible, kDisabled, kMousePointer, kFirstOwn };

bool IsCommon(int32_t property) { return property >= 0 && property < kFirstOwn; }

struct Target {
  uint32_t windowId = 0;
  uint32_t unitId = 0;
  UnitRecord* record = nullptr;
  Component* live = nullptr;  // null while the window is not loaded
};

// Property errors name the window and the unit they were asked about.
[[noreturn]] void PropertyError(const char* message, uint32_t windowId, uint32_t unitId) {
  ReportRuntimeError(message, 0, static_cast<int32_t>(windowId), static_cast<int32_t>(unitId));
}

// The unit's record and live component; the runtime errors for a window without template or a
// missing unit.
Target FindTarget(uint32_t windowId, uint32_t unitId) {
  WindowTemplate* t = ProgramTemplates().Find(windowId);
  if (t == nullptr) PropertyError(error_text::kComponentWindowNotLoaded, windowId, unitId);
  Unit* unit = unitId == 0 ? t->UnitAt(0) : t->FindUnit(unitId);
  UnitRecord* record = unit != nullptr ? unit->Record() : nullptr;
  // Menu items keep a record of their own, which no program here reads.
  if (record == nullptr) PropertyError(error_text::kWindowOrComponentMissing, windowId, unitId);
  auto* live = static_cast<Component*>(record->liveWindow);
  return {windowId, unitId, record, live != nullptr && live->Exists() ? live : nullptr};
}

// A component's own property needs its window loaded.
Component& LiveFor(const Target& target, const char* notLoaded) {
  if (target.live == nullptr) PropertyError(notLoaded, target.windowId, target.unitId);
  return *target.live;
}

PropertyValue Number(int64_t n) { return {PropertyValue::Kind::Number, n, {}}; }
PropertyValue Flag(bool b) { return {PropertyValue::Kind::Bool, b ? 1 : 0, {}}; }

// The live rectangle; left and top in the parent's client coordinates for a control, on the
// screen for a top-level window.
win::RECT LiveRect(const Component& live) {
  win::RECT rect;
  win::GetWindowRect(live.Handle(), &rect);
  if (win::HWND parent = win::GetParent(live.Handle()); parent != nullptr && live.TypeId() != kWindowComponent) {
    win::POINT corner{rect.left, rect.top};
    win::ScreenToClient(parent, &corner);
    rect.right += corner.x - rect.left;
    rect.bottom += corner.y - rect.top;
    rect.left = corner.x;
    rect.top = corner.y;
  }
  return rect;
}

PropertyValue ReadCommon(const Target& target, int32_t property) {
  const UnitRecord& r = *target.record;
  if (property == kTag) return {PropertyValue::Kind::Text, 0, r.tag};
  if (property == kMousePointer)
    return {PropertyValue::Kind::ByteSet, 0, std::string(r.mousePointer.begin(), r.mousePointer.end())};
  if (target.live == nullptr) {
    switch (property) {
      case kLeft: return Number(r.left);
      case kTop: return Number(r.top);
      case kWidth: return Number(r.width);
      case kHeight: return Number(r.height);
      case kVisible: return Flag(r.Visible());
      default: return Flag(r.Disabled());
    }
  }
  const win::RECT rect = LiveRect(*target.live);
  switch (property) {
    case kLeft: return Number(rect.left);
    case kTop: return Number(rect.top);
    case kWidth: return Number(rect.right - rect.left);
    case kHeight: return Number(rect.bottom - rect.top);
    case kVisible: return Flag(win::IsWindowVisible(target.live->Handle()) != 0);
    default: return Flag(win::IsWindowEnabled(target.live->Handle()) == 0);
  }
}

PropertyValue::Kind CommonKind(int32_t property) {
  switch (property) {
    case kTag: return PropertyValue::Kind::Text;
    case kMousePointer: return PropertyValue::Kind::ByteSet;
    case kVisible:
    case kDisabled: return PropertyValue::Kind::Bool;
    default: return PropertyValue::Kind::Number;
  }
}

void SetFlag(UnitRecord& r, uint32_t flag, bool on) { r.flags = on ? (r.flags | flag) : (r.flags & ~flag); }

void WriteCommon(const Target& target, int32_t property, const PropertyValue& value) {
  UnitRecord& r = *target.record;
  const auto number = static_cast<int32_t>(value.number);
  switch (property) {
    case kTag: r.tag = value.bytes; return;
    case kMousePointer:
      r.mousePointer.assign(value.bytes.begin(), value.bytes.end());
      if (target.live) target.live->TakePointer(r);
      return;
    case kVisible:
      SetFlag(r, UnitRecord::kVisible, number != 0);
      if (target.live) target.live->Show(number != 0);
      return;
    case kDisabled:
      SetFlag(r, UnitRecord::kDisabled, number != 0);
      if (target.live) target.live->Enable(number == 0);
      return;
    default: break;
  }
  if (target.live == nullptr) {
    (property == kLeft ? r.left : property == kTop ? r.top : property == kWidth ? r.width : r.height) = number;
    return;
  }
  win::RECT rect = LiveRect(*target.live);
  int left = rect.left, top = rect.top, width = rect.right - rect.left, height = rect.bottom - rect.top;
  (property == kLeft ? left : property == kTop ? top : property == kWidth ? width : height) = number;
  target.live->Place(left, top, width, height);
}

// The kind the property takes (its current value's kind), or none when the component lacks it.
std::optional<PropertyValue::Kind> KindForWrite(const Target& target, int32_t property) {
  if (IsCommon(property)) return CommonKind(property);
  Component& live = LiveFor(target, error_text::kWritePropertyWindowNotLoaded);
  PropertyValue current;
  if (property < 0 || !live.GetProperty(property - kFirstOwn, current)) return std::nullopt;
  return current.kind;
}

void Write(const Target& target, int32_t property, const PropertyValue& value) {
  if (IsCommon(property)) return WriteCommon(target, property, value);
  target.live->SetProperty(property - kFirstOwn, value);
}

std::string TextAt(uint64_t address) {
  const auto* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(address));
  return text != nullptr ? std::string(text) : std::string();
}

std::string ByteSetAt(uint64_t address) {
  const auto* block = reinterpret_cast<const void*>(static_cast<uintptr_t>(address));
  const size_t n = ByteSetLengthOf(block);
  return n == 0 ? std::string() : std::string(reinterpret_cast<const char*>(ByteSetData(block)), n);
}

int64_t AsAddress(const void* block) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(block)); }

bool IsNumeric(PropertyValue::Kind kind) {
  return kind == PropertyValue::Kind::Number || kind == PropertyValue::Kind::Bool;
}

}  // namespace

std::optional<PropertyValue> ReadPropertyValue(uint32_t windowId, uint32_t unitId, int32_t property) {
  const Target target = FindTarget(windowId, unitId);
  if (IsCommon(property)) return ReadCommon(target, property);
  Component& live = LiveFor(target, error_text::kReadPropertyWindowNotLoaded);
  PropertyValue value;
  if (property < 0 || !live.GetProperty(property - kFirstOwn, value)) return std::nullopt;
  return value;
}

int64_t ReadProperty(uint32_t windowId, uint32_t unitId, int32_t property, int32_t) {
  const std::optional<PropertyValue> value = ReadPropertyValue(windowId, unitId, property);
  if (!value) return 0;
  switch (value->kind) {
    case PropertyValue::Kind::Text: return AsAddress(NewText(value->bytes));
    case PropertyValue::Kind::ByteSet: return AsAddress(NewByteSet(value->bytes.data(), value->bytes.size()));
    default: return value->number;
  }
}

void WriteProperty(uint32_t windowId, uint32_t unitId, int32_t property, int32_t, uint32_t low, uint32_t high) {
  const Target target = FindTarget(windowId, unitId);
  const std::optional<PropertyValue::Kind> kind = KindForWrite(target, property);
  if (!kind) return;
  const uint64_t raw = (static_cast<uint64_t>(high) << 32) | low;
  PropertyValue value{*kind, 0, {}};
  switch (*kind) {
    case PropertyValue::Kind::Text: value.bytes = TextAt(raw); break;
    case PropertyValue::Kind::ByteSet: value.bytes = ByteSetAt(raw); break;
    case PropertyValue::Kind::Bool: value.number = low != 0; break;
    case PropertyValue::Kind::Number: value.number = static_cast<int32_t>(low); break;
  }
  Write(target, property, value);
}

void WritePropertyValue(uint32_t windowId, uint32_t unitId, int32_t property, const PropertyValue& value) {
  const Target target = FindTarget(windowId, unitId);
  const std::optional<PropertyValue::Kind> kind = KindForWrite(target, property);
  if (!kind) return;
  if (*kind != value.kind && !(IsNumeric(*kind) && IsNumeric(value.kind)))
    RaiseRuntimeError(static_cast<int32_t>(RuntimeErrorNumber::TypeMismatch), static_cast<int32_t>(windowId),
                      static_cast<int32_t>(unitId));
  PropertyValue converted = value;
  converted.kind = *kind;
  if (*kind == PropertyValue::Kind::Bool) converted.number = value.number != 0;
  if (*kind == PropertyValue::Kind::Number) converted.number = static_cast<int32_t>(value.number);
  Write(target, property, converted);
}

}  // namespace qv
