// Reading and writing the stored form of window templates, and the lookups over the data model.
// The reader trusts nothing: every length, count and offset is checked against the bytes that
// enclose it before anything is read or allocated.
#include "runtime/windows/window_template.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

namespace qv {
namespace {

constexpr size_t kInt32Size = 4;

// A read position inside one enclosing piece of data (the whole collection, a unit block, or one
// record). The first failure is kept with its offset into the whole data; later reads then fail too.
class Cursor {
 public:
  Cursor(std::span<const uint8_t> data, size_t baseOffset, TemplateReadFailure& failure)
      : data_(data), base_(baseOffset), failure_(failure) {}

  size_t Position() const { return pos_; }
  size_t Remaining() const { return data_.size() - pos_; }
  size_t AbsoluteOffset() const { return base_ + pos_; }
  bool AtEnd() const { return pos_ == data_.size(); }

  bool Fail(TemplateError error) { return FailAt(error, pos_); }
  bool FailAt(TemplateError error, size_t position) {
    failure_ = {error, base_ + position};
    return false;
  }

  bool Int32(int32_t& value) {
    if (Remaining() < kInt32Size) return Fail(TemplateError::Truncated);
    const uint8_t* p = data_.data() + pos_;
    value = static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                 static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
    pos_ += kInt32Size;
    return true;
  }
  bool UInt32(uint32_t& value) {
    int32_t v = 0;
    if (!Int32(v)) return false;
    value = static_cast<uint32_t>(v);
    return true;
  }
  bool Skip(size_t n) {
    if (Remaining() < n) return Fail(TemplateError::Truncated);
    pos_ += n;
    return true;
  }
  bool Bytes(size_t n, std::span<const uint8_t>& out) {
    if (Remaining() < n) return Fail(TemplateError::Truncated);
    out = data_.subspan(pos_, n);
    pos_ += n;
    return true;
  }
  // An int32 length that must be neither negative nor more than unitSize-sized items can fit in
  // what is left; the check comes before any allocation, so a huge count costs nothing.
  bool Count(size_t unitSize, size_t& count) {
    const size_t at = pos_;
    int32_t n = 0;
    if (!Int32(n)) return false;
    if (n < 0) return FailAt(TemplateError::NegativeLength, at);
    if (static_cast<uint64_t>(n) * unitSize > Remaining()) return FailAt(TemplateError::Truncated, at);
    count = static_cast<size_t>(n);
    return true;
  }
  bool Blob(std::span<const uint8_t>& out) {
    size_t n = 0;
    return Count(1, n) && Bytes(n, out);
  }
  bool Blob(TemplateBytes& out) {
    std::span<const uint8_t> bytes;
    if (!Blob(bytes)) return false;
    out.assign(bytes.begin(), bytes.end());
    return true;
  }
  bool CountedText(std::string& out) {
    std::span<const uint8_t> bytes;
    if (!Blob(bytes)) return false;
    out.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
  }
  bool CText(std::string& out) {
    const uint8_t* start = data_.data() + pos_;
    const void* nul = Remaining() == 0 ? nullptr : std::memchr(start, 0, Remaining());
    if (nul == nullptr) return Fail(TemplateError::MissingTerminator);
    const size_t n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - start);
    out.assign(reinterpret_cast<const char*>(start), n);
    pos_ += n + 1;
    return true;
  }
  template <size_t N>
  bool Int32s(std::array<int32_t, N>& values) {
    for (int32_t& v : values)
      if (!Int32(v)) return false;
    return true;
  }
  std::span<const uint8_t> Rest() {
    std::span<const uint8_t> rest = data_.subspan(pos_);
    pos_ = data_.size();
    return rest;
  }

 private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  size_t base_;
  TemplateReadFailure& failure_;
};

// One record of a window or component unit, exactly the record's bytes after its size field.
bool ReadUnitRecord(Cursor& in, UnitRecord& r) {
  int32_t liveSlot = 0;  // the writer's object pointers; meaningless once stored
  size_t childCount = 0, eventCount = 0;
  if (!in.UInt32(r.typeId) || !in.Int32s(r.reservedA) || !in.CText(r.name) || !in.CText(r.remark) ||
      !in.Int32(liveSlot) || !in.Int32(r.left) || !in.Int32(r.top) || !in.Int32(r.width) || !in.Int32(r.height) ||
      !in.Int32(liveSlot) || !in.UInt32(r.containerId) || !in.Count(kInt32Size, childCount))
    return false;
  r.childIds.resize(childCount);
  for (uint32_t& child : r.childIds)
    if (!in.UInt32(child)) return false;
  if (!in.Blob(r.mousePointer) || !in.CText(r.tag) || !in.Int32(r.reservedB) || !in.UInt32(r.flags) ||
      !in.Int32(r.tabOrder) || !in.Count(2 * kInt32Size, eventCount))
    return false;
  r.events.resize(eventCount);
  for (UnitEvent& event : r.events)
    if (!in.Int32(event.number) || !in.Int32(event.handlerOffset)) return false;
  if (!in.Int32s(r.reservedC)) return false;
  const std::span<const uint8_t> rest = in.Rest();
  r.componentData.assign(rest.begin(), rest.end());
  return true;
}

// The unit block of one template: ids, offsets, then the records the offsets point at. Records may
// lie in any order but must not share bytes: every record is copied out, so overlapping records
// would let a small block claim far more memory than it holds.
bool ReadUnitBlock(std::span<const uint8_t> block, size_t blockOffset, size_t unitCount, WindowTemplate& t,
                   TemplateReadFailure& failure) {
  Cursor in(block, blockOffset, failure);
  if (static_cast<uint64_t>(unitCount) * 2 * kInt32Size > block.size()) return in.Fail(TemplateError::Truncated);
  std::vector<int32_t> offsets(unitCount);
  t.units.resize(unitCount);
  for (Unit& unit : t.units)
    if (!in.UInt32(unit.id)) return false;
  for (int32_t& offset : offsets)
    if (!in.Int32(offset)) return false;

  const size_t recordsStart = in.Position();
  const std::span<const uint8_t> records = block.subspan(recordsStart);
  const auto offsetField = [&](size_t i) { return recordsStart - (unitCount - i) * kInt32Size; };

  struct Placed {
    size_t start = 0, end = 0, index = 0;
    std::span<const uint8_t> body;
  };
  std::vector<Placed> placed(unitCount);
  for (size_t i = 0; i < unitCount; ++i) {
    if (offsets[i] < 0 || static_cast<size_t>(offsets[i]) > records.size())
      return in.FailAt(TemplateError::BadRecordOffset, offsetField(i));
    const size_t start = static_cast<size_t>(offsets[i]);
    Cursor at(records.subspan(start), blockOffset + recordsStart + start, failure);
    if (!at.Blob(placed[i].body)) return false;
    placed[i].start = start;
    placed[i].end = start + at.Position();
    placed[i].index = i;
  }
  std::vector<const Placed*> byStart(unitCount);
  for (size_t i = 0; i < unitCount; ++i) byStart[i] = &placed[i];
  std::sort(byStart.begin(), byStart.end(), [](const Placed* a, const Placed* b) {
    return a->start != b->start ? a->start < b->start : a->index < b->index;
  });
  for (size_t k = 1; k < unitCount; ++k)
    if (byStart[k]->start < byStart[k - 1]->end)
      return in.FailAt(TemplateError::OverlappingRecords, offsetField(byStart[k]->index));

  for (size_t i = 0; i < unitCount; ++i) {
    Unit& unit = t.units[i];
    const std::span<const uint8_t> body = placed[i].body;
    if (unit.Kind() == UnitKind::Window || unit.Kind() == UnitKind::Component) {
      Cursor record(body, blockOffset + recordsStart + placed[i].start + kInt32Size, failure);
      if (!ReadUnitRecord(record, unit.content.emplace<UnitRecord>())) return false;
    } else {
      unit.content.emplace<RawUnitRecord>().bytes.assign(body.begin(), body.end());
    }
  }
  return true;
}

bool ReadWindowTemplate(Cursor& in, WindowTemplate& t, TemplateReadFailure& failure) {
  if (!in.Int32(t.valueA) || !in.Int32(t.valueB) || !in.CountedText(t.text1) || !in.CountedText(t.text2))
    return false;
  const size_t unitCountAt = in.Position();
  int32_t unitCount = 0;
  if (!in.Int32(unitCount)) return false;
  if (unitCount < 0) return in.FailAt(TemplateError::NegativeLength, unitCountAt);
  std::span<const uint8_t> block;
  if (!in.Blob(block)) return false;
  const size_t blockOffset = in.AbsoluteOffset() - block.size();
  return ReadUnitBlock(block, blockOffset, static_cast<size_t>(unitCount), t, failure);
}

// Little-endian output with the checks that keep the stored form readable.
class Output {
 public:
  TemplateBytes bytes;
  bool ok = true;

  void Int32(int32_t v) { UInt32(static_cast<uint32_t>(v)); }
  void UInt32(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                          static_cast<uint8_t>(v >> 24)};
    bytes.insert(bytes.end(), b, b + 4);
  }
  void Length(size_t n) {
    if (n > static_cast<size_t>(INT32_MAX)) ok = false;
    Int32(static_cast<int32_t>(std::min(n, static_cast<size_t>(INT32_MAX))));
  }
  void Raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    bytes.insert(bytes.end(), b, b + n);
  }
  void Blob(std::span<const uint8_t> b) {
    Length(b.size());
    Raw(b.data(), b.size());
  }
  void CountedText(const std::string& s) {
    Length(s.size());
    Raw(s.data(), s.size());
  }
  // A c-text cannot hold a NUL of its own: it would end the text early when read back.
  void CText(const std::string& s) {
    if (s.find('\0') != std::string::npos) ok = false;
    Raw(s.c_str(), s.size() + 1);
  }
  template <size_t N>
  void Int32s(const std::array<int32_t, N>& values) {
    for (int32_t v : values) Int32(v);
  }
};

void WriteRecordFields(Output& out, const UnitRecord& r) {
  out.UInt32(r.typeId);
  out.Int32s(r.reservedA);
  out.CText(r.name);
  out.CText(r.remark);
  out.Int32(0);  // live window slot
  out.Int32(r.left);
  out.Int32(r.top);
  out.Int32(r.width);
  out.Int32(r.height);
  out.Int32(0);  // live cursor slot
  out.UInt32(r.containerId);
  out.Length(r.childIds.size());
  for (uint32_t child : r.childIds) out.UInt32(child);
  out.Blob(r.mousePointer);
  out.CText(r.tag);
  out.Int32(r.reservedB);
  out.UInt32(r.flags);
  out.Int32(r.tabOrder);
  out.Length(r.events.size());
  for (const UnitEvent& e : r.events) {
    out.Int32(e.number);
    out.Int32(e.handlerOffset);
  }
  out.Int32s(r.reservedC);
  out.Raw(r.componentData.data(), r.componentData.size());
}

}  // namespace

std::optional<int32_t> UnitRecord::ComponentDataVersion() const {
  if (componentData.size() < kInt32Size) return std::nullopt;
  uint32_t v = 0;
  for (size_t i = 0; i < kInt32Size; ++i) v |= static_cast<uint32_t>(componentData[i]) << (8 * i);
  return static_cast<int32_t>(v);
}

int32_t UnitRecord::MousePointerNumber() const {
  if (mousePointer.empty()) return 0;
  if (mousePointer.size() < kInt32Size) return mousePointer[0];
  uint32_t v = 0;
  for (size_t i = 0; i < kInt32Size; ++i) v |= static_cast<uint32_t>(mousePointer[i]) << (8 * i);
  return static_cast<int32_t>(v);
}

const UnitEvent* UnitRecord::FindEvent(int32_t number) const {
  auto it = std::find_if(events.begin(), events.end(), [number](const UnitEvent& e) { return e.number == number; });
  return it == events.end() ? nullptr : &*it;
}

Unit* WindowTemplate::FindUnit(uint32_t unitId) {
  return const_cast<Unit*>(std::as_const(*this).FindUnit(unitId));
}
const Unit* WindowTemplate::FindUnit(uint32_t unitId) const {
  auto it = std::find_if(units.begin(), units.end(), [unitId](const Unit& u) { return u.id == unitId; });
  return it == units.end() ? nullptr : &*it;
}

WindowTemplate* TemplateCollection::Find(uint32_t windowId) {
  return const_cast<WindowTemplate*>(std::as_const(*this).Find(windowId));
}
const WindowTemplate* TemplateCollection::Find(uint32_t windowId) const {
  auto it = std::find_if(windows.begin(), windows.end(),
                         [windowId](const WindowTemplate& t) { return t.windowId == windowId; });
  return it == windows.end() ? nullptr : &*it;
}

std::optional<TemplateCollection> ReadTemplateCollection(std::span<const uint8_t> data,
                                                         TemplateReadFailure* failure) {
  TemplateReadFailure localFailure;
  TemplateReadFailure& f = failure ? *failure : localFailure;
  Cursor in(data, 0, f);

  std::span<const uint8_t> index;
  if (!in.Blob(index)) return std::nullopt;
  if (index.size() % (2 * kInt32Size) != 0) {
    in.FailAt(TemplateError::BadWindowIndex, 0);
    return std::nullopt;
  }
  const size_t windowCount = index.size() / (2 * kInt32Size);
  // Each template takes at least its six int32 fields, so a count that cannot fit fails here
  // before anything is allocated for it.
  if (static_cast<uint64_t>(windowCount) * 6 * kInt32Size > in.Remaining()) {
    in.FailAt(TemplateError::Truncated, 0);
    return std::nullopt;
  }

  TemplateCollection collection;
  collection.windows.resize(windowCount);
  for (size_t i = 0; i < windowCount; ++i) {
    WindowTemplate& t = collection.windows[i];
    const uint8_t* id = index.data() + i * kInt32Size;  // the placeholders after the ids are not kept
    t.windowId = static_cast<uint32_t>(id[0]) | static_cast<uint32_t>(id[1]) << 8 |
                 static_cast<uint32_t>(id[2]) << 16 | static_cast<uint32_t>(id[3]) << 24;
    if (!ReadWindowTemplate(in, t, f)) return std::nullopt;
  }
  if (!in.AtEnd()) {
    in.Fail(TemplateError::TrailingBytes);
    return std::nullopt;
  }
  return collection;
}

std::optional<TemplateBytes> WriteUnitRecord(const Unit& unit) {
  Output out;
  if (const UnitRecord* record = unit.Record()) {
    if (unit.Kind() != UnitKind::Window && unit.Kind() != UnitKind::Component) return std::nullopt;
    WriteRecordFields(out, *record);
  } else {
    // Window and component ids are read back as UnitRecords, so raw bytes under them would not
    // survive the round trip.
    if (unit.Kind() == UnitKind::Window || unit.Kind() == UnitKind::Component) return std::nullopt;
    const TemplateBytes& raw = std::get<RawUnitRecord>(unit.content).bytes;
    out.Raw(raw.data(), raw.size());
  }
  if (!out.ok || out.bytes.size() > static_cast<size_t>(INT32_MAX)) return std::nullopt;
  return std::move(out.bytes);
}

std::optional<TemplateBytes> WriteTemplateCollection(const TemplateCollection& collection) {
  Output out;
  const auto& windows = collection.windows;
  if (windows.size() > static_cast<size_t>(INT32_MAX) / (2 * kInt32Size)) return std::nullopt;
  out.Length(windows.size() * 2 * kInt32Size);
  for (const WindowTemplate& t : windows) out.UInt32(t.windowId);
  for (size_t i = 0; i < windows.size(); ++i) out.Int32(0);  // placeholders

  for (const WindowTemplate& t : windows) {
    out.Int32(t.valueA);
    out.Int32(t.valueB);
    out.CountedText(t.text1);
    out.CountedText(t.text2);
    out.Length(t.units.size());

    Output block;
    std::vector<TemplateBytes> records;
    records.reserve(t.units.size());
    for (const Unit& unit : t.units) {
      std::optional<TemplateBytes> record = WriteUnitRecord(unit);
      if (!record) return std::nullopt;
      records.push_back(std::move(*record));
    }
    for (const Unit& unit : t.units) block.UInt32(unit.id);
    size_t offset = 0;
    for (const TemplateBytes& record : records) {
      block.Length(offset);
      offset += kInt32Size + record.size();
    }
    for (const TemplateBytes& record : records) block.Blob(record);
    if (!block.ok) return std::nullopt;
    out.Blob(block.bytes);
  }
  if (!out.ok) return std::nullopt;
  return std::move(out.bytes);
}

void ResolveHandlers(TemplateCollection& collection, const void* codeBase) {
  const uintptr_t base = reinterpret_cast<uintptr_t>(codeBase);
  for (WindowTemplate& t : collection.windows)
    for (Unit& unit : t.units)
      if (UnitRecord* record = unit.Record())
        for (UnitEvent& event : record->events) {
          if (event.handlerOffset == -1) {
            event.handler.reset();
          } else {
            // Wrapping arithmetic: the offset is signed and the sum must not be pointer arithmetic
            // on an object the compiler knows nothing about.
            const uintptr_t address = base + static_cast<uintptr_t>(static_cast<intptr_t>(event.handlerOffset));
            event.handler = reinterpret_cast<HandlerAddress>(address);
          }
        }
}

}  // namespace qv
