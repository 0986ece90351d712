// The typed front over the property entries for the program's own code: it reads and writes a
// control's property by window id and unit id as a text or a number, with ownership in the type,
// so that no caller turns 64-bit values into addresses by hand. The properties are not arrays
// (member index -1). The lookups and their runtime errors are those of the property entries; a
// property read or written as a type it does not have is the runtime error "数据或数组类型不匹配".
#pragma once

#include <cstdint>

#include "runtime/memory/owned.h"

namespace qv {

// A text property (an edit box's content, a caption, the tag) as a fresh owned text; a property
// the component lacks reads as the empty text.
OwnedText ReadTextProperty(uint32_t windowId, uint32_t unitId, int32_t property);
// A number or flag property (a radio box's checked state reads 0 or 1); a property the component
// lacks reads as 0.
int64_t ReadNumberProperty(uint32_t windowId, uint32_t unitId, int32_t property);
// Writes a borrowed GBK text (null is the empty text) to a text property.
void WriteTextProperty(uint32_t windowId, uint32_t unitId, int32_t property, const char* gbk);

}  // namespace qv
