// Window templates: the serialised description of every window of a program and its controls, as
// the development environment stores it in the program's static data. This header holds the data
// model, the reader and writer of the stored form, the lookups the window loader and the property
// entries use, and the program's own collection that start-up reads.
//
// Stored form (all integers 32-bit little-endian; a blob is an int32 length and that many bytes, a
// counted text is a blob of GBK text without NUL, a c-text is NUL-terminated):
//   collection  = window index blob (W window ids, then W placeholders), then W window templates
//   template    = value A, value B, counted text 1, counted text 2, unit count N, unit block blob
//   unit block  = N unit ids, N record offsets (relative to the first byte after the offsets), records
//   record      = int32 size S, then S bytes: a UnitRecord for the window and its components, a layout
//                 of its own for menu items
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "runtime/startup.h"

namespace qv {

using TemplateBytes = std::vector<uint8_t>;

// The top four bits of a unit id.
enum class UnitKind : uint8_t { Window = 0, Component = 1, MenuItem = 2, Unknown = 3 };
constexpr UnitKind UnitKindOf(uint32_t unitId) {
  const uint32_t kind = unitId >> 28;
  return kind <= 2 ? static_cast<UnitKind>(kind) : UnitKind::Unknown;
}

// Where an event handler lies: the program's code base plus the stored offset. A program built
// here makes its code base a table of handler function pointers, so the address names the table
// entry that holds the handler.
using HandlerAddress = const void*;

// Equality of the model types below compares every member, the live slots and resolved handlers
// included.
struct UnitEvent {
  int32_t number = 0;          // from 0: the component's own events; negative: the common events
  int32_t handlerOffset = -1;  // bytes from the program's code base; -1 = no handler
  // Filled in by ResolveHandlers; not part of the stored form.
  std::optional<HandlerAddress> handler;

  bool operator==(const UnitEvent&) const = default;
};

// The record of the window itself or of one of its components.
struct UnitRecord {
  static constexpr uint32_t kVisible = 1u << 0;
  static constexpr uint32_t kDisabled = 1u << 1;
  static constexpr uint32_t kTabStop = 1u << 2;

  uint32_t typeId = 0;  // high 16 bits the library, low 16 bits the component's number in it
  std::array<int32_t, 5> reservedA{};
  std::string name;    // GBK; empty for the window
  std::string remark;  // GBK
  int32_t left = 0, top = 0, width = 0, height = 0;
  uint32_t containerId = 0;  // 0 = directly on the window
  std::vector<uint32_t> childIds;
  TemplateBytes mousePointer;  // a pointer number, or -1 followed by cursor data
  std::string tag;             // GBK
  int32_t reservedB = 0;
  uint32_t flags = 0;
  int32_t tabOrder = 0;
  std::vector<UnitEvent> events;
  std::array<int32_t, 5> reservedC{};
  TemplateBytes componentData;  // int32 format version, then the component's own fields

  // Live objects while the window is loaded. The stored form holds 0 in their slots; they are
  // never written out.
  void* liveWindow = nullptr;
  void* liveCursor = nullptr;

  bool Visible() const { return (flags & kVisible) != 0; }
  bool Disabled() const { return (flags & kDisabled) != 0; }
  bool TabStop() const { return (flags & kTabStop) != 0; }
  // The first int32 of the component data, or none when the data is shorter than that.
  std::optional<int32_t> ComponentDataVersion() const;
  // The pointer number: the first int32 of the blob, its single byte when shorter, 0 when empty.
  int32_t MousePointerNumber() const;
  // The event with that number, or null.
  const UnitEvent* FindEvent(int32_t number) const;

  bool operator==(const UnitRecord&) const = default;
};

// A unit whose record this runtime does not interpret (menu items): its bytes as stored.
struct RawUnitRecord {
  TemplateBytes bytes;
  bool operator==(const RawUnitRecord&) const = default;
};

struct Unit {
  uint32_t id = 0;
  // A UnitRecord for window and component units, a RawUnitRecord for every other kind.
  std::variant<UnitRecord, RawUnitRecord> content;

  UnitKind Kind() const { return UnitKindOf(id); }
  UnitRecord* Record() { return std::get_if<UnitRecord>(&content); }
  const UnitRecord* Record() const { return std::get_if<UnitRecord>(&content); }

  bool operator==(const Unit&) const = default;
};

struct WindowTemplate {
  uint32_t windowId = 0;
  int32_t valueA = 0;
  int32_t valueB = 0;
  std::string text1;  // GBK
  std::string text2;  // GBK
  std::vector<Unit> units;  // unit 0 is the window itself, then its controls in template order

  // The unit at that index, or null past the end.
  Unit* UnitAt(size_t index) { return index < units.size() ? &units[index] : nullptr; }
  const Unit* UnitAt(size_t index) const { return index < units.size() ? &units[index] : nullptr; }
  // The first unit with that id, or null.
  Unit* FindUnit(uint32_t unitId);
  const Unit* FindUnit(uint32_t unitId) const;

  bool operator==(const WindowTemplate&) const = default;
};

struct TemplateCollection {
  std::vector<WindowTemplate> windows;  // in the order of the window index

  // The first template with that window id, or null.
  WindowTemplate* Find(uint32_t windowId);
  const WindowTemplate* Find(uint32_t windowId) const;

  bool operator==(const TemplateCollection&) const = default;
};

// Why reading failed, and where (the byte offset into the whole data of the field that failed).
enum class TemplateError : uint8_t {
  Truncated,          // a field, or the count of items it announces, runs past the end of its data
  NegativeLength,     // a length, size or count below 0
  BadWindowIndex,     // the window index length is not a multiple of 8
  BadRecordOffset,    // a unit record offset outside the records area
  OverlappingRecords, // two unit records share bytes
  MissingTerminator,  // a c-text without its NUL inside the record
  TrailingBytes,      // data left after the last window template
};
struct TemplateReadFailure {
  TemplateError error = TemplateError::Truncated;
  size_t offset = 0;
};

// Reads a whole collection. Every field is bounds-checked against its enclosing data; on any
// inconsistency the result is none and *failure (when given) says what and where. The placeholders
// of the window index and the live slots of the records are not kept. Records are located through
// their offsets wherever they lie inside the records area, as long as no two of them overlap; the
// data must end with the last template.
std::optional<TemplateCollection> ReadTemplateCollection(std::span<const uint8_t> data,
                                                         TemplateReadFailure* failure = nullptr);
inline std::optional<TemplateCollection> ReadTemplateCollection(const void* data, size_t length,
                                                                TemplateReadFailure* failure = nullptr) {
  if (data == nullptr && length != 0) return std::nullopt;
  return ReadTemplateCollection(std::span(static_cast<const uint8_t*>(data), length), failure);
}

// Writes the stored form: placeholders and live slots as 0, records one after another in unit
// order. None when the collection cannot be stored: a name, remark or tag holding a NUL, a size or
// count above the int32 range, or a unit whose content does not fit its kind (a UnitRecord under a
// menu-item id, raw bytes under a window or component id).
std::optional<TemplateBytes> WriteTemplateCollection(const TemplateCollection& collection);
// The bytes of one unit record as stored after its size field (none as above).
std::optional<TemplateBytes> WriteUnitRecord(const Unit& unit);

// Turns every stored handler offset into an address: -1 becomes no handler, any other offset the
// code base plus the offset.
void ResolveHandlers(TemplateCollection& collection, const void* codeBase);

// The program's collection: filled by start-up from the program description, emptied at shutdown.
// The window loader and the property entries work on it.
TemplateCollection& ProgramTemplates();

// Sets the template reader's read and release entries in services and leaves create as it is.
// Start-up does this itself when no read entry has been installed; the window loader builds its own
// services the same way and then adds create:
//   WindowTemplateServices s; AddWindowTemplateReader(s); s.create = ...; InstallWindowTemplateServices(s);
void AddWindowTemplateReader(WindowTemplateServices& services);

}  // namespace qv
