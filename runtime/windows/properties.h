// The property entries through which program code reads and writes any property of any control
// by window id and unit id. Numbers 0 to 7 are common to all components (left, top, width, height,
// tag, visible, disabled, mouse pointer); 8 and up are the component's own properties.
//
// A window id without a template, a unit the window does not hold, and a component property of a
// window that is not loaded are runtime errors; their reports name the window and the unit.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/windows/components.h"

namespace qv {

// Member index -1 means the property is not an array (no property used here is one). A text or
// byte set result is a fresh runtime block owned by the caller, its address in the value; numbers
// and flags are the value itself. A property the component lacks reads as 0.
int64_t ReadProperty(uint32_t windowId, uint32_t unitId, int32_t property, int32_t member);
// low carries an int32, a flag or the low half of a text's or byte set's address; high the rest.
// The value is taken as the property's own type; a property the component lacks takes nothing.
void WriteProperty(uint32_t windowId, uint32_t unitId, int32_t property, int32_t member, uint32_t low,
                   uint32_t high);

// The same lookups with the value and its kind as they stand, for the typed front: none for a
// property the component lacks.
std::optional<PropertyValue> ReadPropertyValue(uint32_t windowId, uint32_t unitId, int32_t property);
// Writes a value whose kind must be the property's own; another kind is the runtime error
// "数据或数组类型不匹配" (number 5), naming the window and the unit.
void WritePropertyValue(uint32_t windowId, uint32_t unitId, int32_t property, const PropertyValue& value);

}  // namespace qv
