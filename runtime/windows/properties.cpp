#include "runtime/windows/properties.h"

#include "runtime/windows/components.h"
#include "runtime/errors.h"
#include "runtime/memory/memory.h"
#include "runtime/windows/window_template.h"

namespace qv {
namespace {

enum Common : int32_t { kLeft = 0, kTop, kWidth, kHeight, kTag, kVisible, kDisabled, kMousePointer, kFirstOwn };

struct Target {
  UnitRecord* record = nullptr;
  Component* live = nullptr;  // null while the window is not loaded
};

// The unit's record and live component; the runtime errors for a window without template or a
// missing unit.
Target FindTarget(uint32_t windowId, uint32_t unitId) {
  WindowTemplate* t = ProgramTemplates().Find(windowId);
  if (t == nullptr) ReportRuntimeError(error_text::kComponentWindowNotLoaded, 0, 0, 0);
  Unit* unit = unitId == 0 ? t->UnitAt(0) : t->FindUnit(unitId);
  UnitRecord* record = unit != nullptr ? unit->Record() : nullptr;
  // Menu items keep a record of their own, which no program here reads.
  if (record == nullptr) ReportRuntimeError(error_text::kWindowOrComponentMissing, 0, 0, 0);
  auto* live = static_cast<Component*>(record->liveWindow);
  return {record, live != nullptr && live->Exists() ? live : nullptr};
}

int64_t AsAddress(const void* block) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(block)); }

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

int64_t ReadCommon(const Target& target, int32_t property) {
  const UnitRecord& r = *target.record;
  if (property == kTag) return AsAddress(NewText(r.tag));
  if (property == kMousePointer) return AsAddress(NewByteSet(r.mousePointer.data(), r.mousePointer.size()));
  if (target.live == nullptr) {
    switch (property) {
      case kLeft: return r.left;
      case kTop: return r.top;
      case kWidth: return r.width;
      case kHeight: return r.height;
      case kVisible: return r.Visible();
      default: return r.Disabled();
    }
  }
  const win::RECT rect = LiveRect(*target.live);
  switch (property) {
    case kLeft: return rect.left;
    case kTop: return rect.top;
    case kWidth: return rect.right - rect.left;
    case kHeight: return rect.bottom - rect.top;
    case kVisible: return win::IsWindowVisible(target.live->Handle()) != 0;
    default: return win::IsWindowEnabled(target.live->Handle()) == 0;
  }
}

void SetFlag(UnitRecord& r, uint32_t flag, bool on) { r.flags = on ? (r.flags | flag) : (r.flags & ~flag); }

std::string TextAt(uint64_t address) {
  const auto* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(address));
  return text != nullptr ? std::string(text) : std::string();
}

std::string ByteSetAt(uint64_t address) {
  const auto* block = reinterpret_cast<const void*>(static_cast<uintptr_t>(address));
  const size_t n = ByteSetLengthOf(block);
  return n == 0 ? std::string() : std::string(reinterpret_cast<const char*>(ByteSetData(block)), n);
}

void WriteCommon(const Target& target, int32_t property, uint64_t value) {
  UnitRecord& r = *target.record;
  const auto number = static_cast<int32_t>(static_cast<uint32_t>(value));
  switch (property) {
    case kTag: r.tag = TextAt(value); return;
    case kMousePointer: {
      const std::string bytes = ByteSetAt(value);
      r.mousePointer.assign(bytes.begin(), bytes.end());
      if (target.live) target.live->TakePointer(r);
      return;
    }
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

}  // namespace

int64_t ReadProperty(uint32_t windowId, uint32_t unitId, int32_t property, int32_t) {
  const Target target = FindTarget(windowId, unitId);
  if (property >= 0 && property < kFirstOwn) return ReadCommon(target, property);
  if (target.live == nullptr) ReportRuntimeError(error_text::kReadPropertyWindowNotLoaded, 0, 0, 0);
  PropertyValue value;
  if (property < 0 || !target.live->GetProperty(property - kFirstOwn, value)) return 0;
  switch (value.kind) {
    case PropertyValue::Kind::Text: return AsAddress(NewText(value.bytes));
    case PropertyValue::Kind::ByteSet: return AsAddress(NewByteSet(value.bytes.data(), value.bytes.size()));
    default: return value.number;
  }
}

void WriteProperty(uint32_t windowId, uint32_t unitId, int32_t property, int32_t, uint32_t low, uint32_t high) {
  const Target target = FindTarget(windowId, unitId);
  const uint64_t raw = (static_cast<uint64_t>(high) << 32) | low;
  if (property >= 0 && property < kFirstOwn) return WriteCommon(target, property, raw);
  if (target.live == nullptr) ReportRuntimeError(error_text::kWritePropertyWindowNotLoaded, 0, 0, 0);
  // The property's current value tells its type, and so how to take the new one.
  PropertyValue value;
  if (property < 0 || !target.live->GetProperty(property - kFirstOwn, value)) return;
  switch (value.kind) {
    case PropertyValue::Kind::Text: value.bytes = TextAt(raw); break;
    case PropertyValue::Kind::ByteSet: value.bytes = ByteSetAt(raw); break;
    case PropertyValue::Kind::Bool: value.number = low != 0; break;
    case PropertyValue::Kind::Number: value.number = static_cast<int32_t>(low); break;
  }
  target.live->SetProperty(property - kFirstOwn, value);
}

}  // namespace qv
