#include "runtime/windows/property_front.h"

#include "runtime/errors.h"
#include "runtime/windows/properties.h"

namespace qv {
namespace {

[[noreturn]] void TypeMismatch(uint32_t windowId, uint32_t unitId) {
  RaiseRuntimeError(static_cast<int32_t>(RuntimeErrorNumber::TypeMismatch), static_cast<int32_t>(windowId),
                    static_cast<int32_t>(unitId));
}

}  // namespace

OwnedText ReadTextProperty(uint32_t windowId, uint32_t unitId, int32_t property) {
  const std::optional<PropertyValue> value = ReadPropertyValue(windowId, unitId, property);
  if (!value) return {};
  if (value->kind != PropertyValue::Kind::Text) TypeMismatch(windowId, unitId);
  return OwnedText::Copy(value->bytes);
}

int64_t ReadNumberProperty(uint32_t windowId, uint32_t unitId, int32_t property) {
  const std::optional<PropertyValue> value = ReadPropertyValue(windowId, unitId, property);
  if (!value) return 0;
  if (value->kind != PropertyValue::Kind::Number && value->kind != PropertyValue::Kind::Bool)
    TypeMismatch(windowId, unitId);
  return value->number;
}

void WriteTextProperty(uint32_t windowId, uint32_t unitId, int32_t property, const char* gbk) {
  WritePropertyValue(windowId, unitId, property, {PropertyValue::Kind::Text, 0, gbk != nullptr ? gbk : ""});
}

}  // namespace qv
