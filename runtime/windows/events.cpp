#include "runtime/windows/events.h"

#include <array>
#include <utility>

#include "runtime/errors.h"
#include "runtime/windows/components.h"
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

// Runtime errors about an event name the window and the unit that raised it.
[[noreturn]] void EventError(const char* message, uint32_t windowId, uint32_t unitId) {
  ReportRuntimeError(message, 0, static_cast<int32_t>(windowId), static_cast<int32_t>(unitId));
}

using GenericHandler = void (*)();
template <size_t>
using Slot = intptr_t;

// Calls the handler in the shape of its event: as many intptr_t parameters as there are slots,
// returning int64_t when a result is expected.
template <size_t... I>
int64_t CallHandler(GenericHandler handler, EventResult result, const intptr_t* slots, std::index_sequence<I...>) {
  if (result == EventResult::Expected) return reinterpret_cast<int64_t (*)(Slot<I>...)>(handler)(slots[I]...);
  reinterpret_cast<void (*)(Slot<I>...)>(handler)(slots[I]...);
  return 0;
}

template <size_t... N>
int64_t CallHandlerWith(size_t count, GenericHandler handler, EventResult result, const intptr_t* slots,
                        std::index_sequence<N...>) {
  int64_t value = 0;
  // Exactly one of the calls matches the count.
  ((count == N ? (value = CallHandler(handler, result, slots, std::make_index_sequence<N>()), true) : false) || ...);
  return value;
}

}  // namespace

EventBlock::EventBlock() { ++BlockCount(); }
EventBlock::~EventBlock() { --BlockCount(); }

EventSource CurrentEventSource() { return Source(); }

std::optional<int64_t> RaiseEvent(uint32_t windowId, uint32_t unitId, int32_t eventNumber,
                                  std::span<EventArgument> arguments, EventResult result) {
  if (BlockCount() > 0) return std::nullopt;
  const WindowTemplate* t = ProgramTemplates().Find(windowId);
  if (t == nullptr) EventError(error_text::kEventWindowNotFound, windowId, unitId);
  const Unit* unit = unitId == 0 ? t->UnitAt(0) : t->FindUnit(unitId);
  const UnitRecord* record = unit != nullptr ? unit->Record() : nullptr;
  if (record == nullptr) EventError(error_text::kEventComponentNotFound, windowId, unitId);
  if (!ComponentCanRaiseEvents(record->typeId) || arguments.size() > kMaxEventArguments)
    EventError(error_text::kEventComponentInvalid, windowId, unitId);
  const UnitEvent* event = record->FindEvent(eventNumber);
  if (event == nullptr || !event->handler || *event->handler == nullptr) return std::nullopt;

  // The handler may load or close windows, which can change the template records: keep copies.
  const GenericHandler handler = *static_cast<const GenericHandler*>(*event->handler);
  std::array<intptr_t, kMaxEventArguments> slots{};
  for (size_t i = 0; i < arguments.size(); ++i) {
    EventArgument& a = arguments[i];
    slots[i] = a.passing == ArgumentPassing::ByAddress ? reinterpret_cast<intptr_t>(&a.value)
                                                       : static_cast<intptr_t>(a.value);
  }
  const EventSource previous = Source();
  Source() = {windowId, unit->id};
  const int64_t value = CallHandlerWith(arguments.size(), handler, result, slots.data(),
                                        std::make_index_sequence<kMaxEventArguments + 1>());
  Source() = previous;
  return value;
}

bool RaiseEvent(uint32_t windowId, uint32_t unitId, int32_t eventNumber) {
  return RaiseEvent(windowId, unitId, eventNumber, {}, EventResult::None).has_value();
}

}  // namespace qv
