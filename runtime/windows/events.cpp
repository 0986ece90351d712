#include "runtime/windows/events.h"

#include "runtime/windows/components.h"
#include "runtime/errors.h"
#include "runtime/windows/window_template.h"

namespace qv {
namespace {

int& BlockCount() {
  static int count = 0;
  return count;
}

EventSource& Source() {
  static EventSource source;
  return source;
}

}  // namespace

EventBlock::EventBlock() { ++BlockCount(); }
EventBlock::~EventBlock() { --BlockCount(); }

EventSource CurrentEventSource() { return Source(); }

bool RaiseEvent(uint32_t windowId, uint32_t unitId, int32_t eventNumber) {
  if (BlockCount() > 0) return false;
  const WindowTemplate* t = ProgramTemplates().Find(windowId);
  if (t == nullptr) ReportRuntimeError(error_text::kEventWindowNotFound, 0, 0, 0);
  const Unit* unit = unitId == 0 ? t->UnitAt(0) : t->FindUnit(unitId);
  const UnitRecord* record = unit != nullptr ? unit->Record() : nullptr;
  if (record == nullptr) ReportRuntimeError(error_text::kEventComponentNotFound, 0, 0, 0);
  if (!ComponentCanRaiseEvents(record->typeId)) ReportRuntimeError(error_text::kEventComponentInvalid, 0, 0, 0);
  const UnitEvent* event = record->FindEvent(eventNumber);
  if (event == nullptr || !event->handler || *event->handler == nullptr) return false;

  // The handler may load or close windows, which can change the template records: keep copies.
  const HandlerAddress address = *event->handler;
  const EventSource previous = Source();
  Source() = {windowId, unit->id};
  // The code base is a table of handler pointers; the address names the entry.
  (*static_cast<void (*const*)()>(address))();
  Source() = previous;
  return true;
}

}  // namespace qv
