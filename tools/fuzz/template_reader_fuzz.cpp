// Feeds arbitrary bytes to the window template reader. Whatever it accepts must write back, read
// back to the same collection, and write to the same bytes again; anything else must be refused
// without reading outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "runtime/windows/window_template.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qv::TemplateReadFailure failure;
  std::optional<qv::TemplateCollection> read = qv::ReadTemplateCollection(std::span(data, size), &failure);
  if (!read) {
    if (failure.offset > size) __builtin_trap();  // a failure is always placed inside the input
    return 0;
  }

  std::optional<qv::TemplateBytes> written = qv::WriteTemplateCollection(*read);
  if (!written) __builtin_trap();  // everything the reader accepts can be stored
  std::optional<qv::TemplateCollection> again = qv::ReadTemplateCollection(*written);
  if (!again || !(*again == *read)) __builtin_trap();
  std::optional<qv::TemplateBytes> rewritten = qv::WriteTemplateCollection(*again);
  if (!rewritten || *rewritten != *written) __builtin_trap();

  // The lookups and accessors the loader uses, over whatever came in.
  static const char code[16] = {};
  qv::ResolveHandlers(*read, code);
  for (const qv::WindowTemplate& t : read->windows) {
    if (read->Find(t.windowId) == nullptr) __builtin_trap();
    for (size_t i = 0; i <= t.units.size(); ++i) {
      const qv::Unit* unit = t.UnitAt(i);
      if ((unit == nullptr) != (i == t.units.size())) __builtin_trap();
      if (unit == nullptr) break;
      if (t.FindUnit(unit->id) == nullptr) __builtin_trap();
      if (const qv::UnitRecord* r = unit->Record()) {
        (void)r->ComponentDataVersion();
        (void)r->MousePointerNumber();
        for (const qv::UnitEvent& e : r->events)
          if (e.handler.has_value() == (e.handlerOffset == -1)) __builtin_trap();
      }
    }
  }
  return 0;
}
