// The property entries through which program code reads and writes any property of any control
// by window id and unit id. Numbers 0 to 7 are common to all components (left, top, width, height,
// tag, visible, disabled, mouse pointer); 8 and up are the component's own properties.
#pragma once

#include <cstdint>

namespace qv {

// Member index -1 means the property is not an array (no property used here is one). A text or
// byte set result is a fresh runtime block owned by the caller, its address in the value; numbers
// and flags are the value itself.
int64_t ReadProperty(uint32_t windowId, uint32_t unitId, int32_t property, int32_t member);
// low carries an int32, a flag or the low half of a text's or byte set's address; high the rest.
void WriteProperty(uint32_t windowId, uint32_t unitId, int32_t property, int32_t member, uint32_t low,
                   uint32_t high);

}  // namespace qv
