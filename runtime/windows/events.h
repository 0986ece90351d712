// Control events: a component raises an event by window id, unit id and event number, and the
// handler the template binds to it runs with the event's arguments.
//
// Handlers live in the program's code: the template names each by its address, an entry of the
// program's handler table, which holds the handler as a generic code address (void (*)()). The
// handler's real shape follows the event it is bound to: one intptr_t parameter per argument, and
// an int64_t result when the event expects one (void otherwise). A click, with neither, is plain
// void ().
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qv {

// How an argument reaches the handler: its value (sign-extended to pointer width), or the address
// of the argument's 64-bit value, through which the handler may change it.
enum class ArgumentPassing : uint8_t { ByValue, ByAddress };
struct EventArgument {
  int64_t value = 0;
  ArgumentPassing passing = ArgumentPassing::ByValue;
};
// Whether the event takes a result from its handler.
enum class EventResult : uint8_t { None, Expected };

// The most arguments an event carries.
inline constexpr size_t kMaxEventArguments = 8;

// Calls the handler bound to the event with the arguments. Returns none when no handler ran (the
// event has none bound, or events are blocked), else the handler's result (0 for events without
// one). Arguments passed by address hold the handler's changes afterwards. A window id without a
// template, a unit the window does not hold, a component that cannot raise events and more than
// kMaxEventArguments arguments are runtime errors that name the window and the unit.
std::optional<int64_t> RaiseEvent(uint32_t windowId, uint32_t unitId, int32_t eventNumber,
                                  std::span<EventArgument> arguments, EventResult result);
// An event without arguments or result; returns whether a handler ran.
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
