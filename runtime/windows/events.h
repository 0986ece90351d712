// Control events: a component raises an event by window id, unit id and event number, and the
// handler the template binds to it runs.
#pragma once

#include <cstdint>

namespace qv {

// Calls the handler bound to the event, if any; returns whether one ran. A window id without a
// template, a unit the window does not hold and a component that cannot raise events are runtime
// errors. Nothing happens while events are blocked.
bool RaiseEvent(uint32_t windowId, uint32_t unitId, int32_t eventNumber);

// Blocks event dispatch for its lifetime (nestable).
class EventBlock {
 public:
  EventBlock();
  ~EventBlock();
  EventBlock(const EventBlock&) = delete;
  EventBlock& operator=(const EventBlock&) = delete;
};

// The window and unit of the event whose handler runs now; both 0 outside a handler.
struct EventSource {
  uint32_t windowId = 0;
  uint32_t unitId = 0;
};
EventSource CurrentEventSource();

}  // namespace qv
