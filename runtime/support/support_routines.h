// The support routines that program code reaches by index through the last runtime entry.
#pragma once

#include <cstdint>

namespace qv {

namespace support {
inline constexpr int32_t FindFiles = 0;          // pattern text, attributes -> fresh text or 0
inline constexpr int32_t EndFileSearch = 1;      // -
inline constexpr int32_t MakeArrayWritable = 2;  // element width, address of the array variable
inline constexpr int32_t RegisterAtExit = 3;     // clean-up routine
inline constexpr int32_t ReadProperty = 4;       // window id, unit id, property, member -> value
inline constexpr int32_t WriteProperty = 5;      // window id, unit id, property, member, low, high
inline constexpr int32_t InitialiseRuntime = 6;  // program description -> 1, or 0 without one
}  // namespace support

// Runs the support routine with that index. Arguments are pointer-wide, in the routine's order;
// those not given read as 0 (the empty text, a null address). Returns the routine's result, 0 for
// routines without one and for an index outside the table.
intptr_t SupportRoutine(int32_t index, int32_t argumentCount, const intptr_t* arguments);

}  // namespace qv
