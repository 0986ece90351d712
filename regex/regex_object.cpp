#include "regex/regex_object.h"

#include "runtime/automation/automation_front.h"
#include "runtime/commands/command_front.h"
#include "runtime/dll/dll_commands.h"

namespace quorvane {

using namespace qv;
namespace c = qv::cmd;

RegexObject::RegexObject() {
  c::VariantSetValue(m_subject, c::IntValue(0));
  CallDllCommand(kDllCoInitialize, {nullptr});
}

RegexObject::RegexObject(const RegexObject& other) {
  c::ObjectAssign(m_regexp, other.m_regexp);
  c::ObjectAssign(m_matches, other.m_matches);
  c::VariantAssign(m_subject, other.m_subject);
  CallDllCommand(kDllCoInitialize, {nullptr});
}

RegexObject::~RegexObject() {
  c::ObjectRelease(m_regexp);
  c::ObjectRelease(m_matches);
  c::VariantReset(m_subject);
  CallDllCommand(kDllCoUninitialize, {});
}

bool RegexObject::ExecutePattern(const char* pattern, const char* subject, std::optional<bool> caseSensitive,
                                 std::optional<bool> multiline, std::optional<bool> global,
                                 std::optional<bool> quoteMark) {
  const bool ignoreCase = !caseSensitive.value_or(false);

  c::ObjectRelease(m_regexp);
  c::ObjectRelease(m_matches);
  c::ObjectCreate(m_regexp, "VBScript.RegExp");
  c::ObjectSetProperty(m_regexp, "IgnoreCase", c::BoolValue(ignoreCase));
  c::ObjectSetProperty(m_regexp, "Multiline", c::BoolValue(multiline.value_or(true)));
  // The object has no such property: the write fails without effect and a dot keeps not matching
  // line breaks.
  c::ObjectSetProperty(m_regexp, "Singleline", c::BoolValue(true));
  c::ObjectSetProperty(m_regexp, "Global", c::BoolValue(global.value_or(true)));

  OwnedText quoted;
  if (quoteMark.value_or(false)) quoted = c::ReplaceSubtext(pattern, "#引号", "\"", {}, {}, true);
  c::ObjectSetProperty(m_regexp, "Pattern", c::TextValue(quoteMark.value_or(false) ? quoted.c_str() : pattern));

  c::VariantSetValue(m_subject, c::TextValue(subject));
  m_matches = c::ObjectCallObject(m_regexp, "Execute", {c::VariantValue(m_subject)});
  return !c::ObjectIsEmpty(m_matches);
}

OwnedText RegexObject::GetPattern() const {
  if (c::ObjectIsEmpty(m_regexp)) return {};
  return c::ObjectGetText(m_regexp, "Pattern");
}

OwnedText RegexObject::ReplaceMatches(std::optional<const char*> replacement) const {
  OwnedVariantHolder temporary;
  c::VariantSetValue(temporary, c::TextValue(replacement.value_or("")));
  OwnedText result = c::ObjectCallText(m_regexp, "Replace", {c::VariantValue(m_subject), c::VariantValue(temporary)});
  c::VariantReset(temporary);
  return result;
}

int32_t RegexObject::GetMatchCount() const {
  if (c::ObjectIsEmpty(m_matches)) return 0;
  return static_cast<int32_t>(c::ObjectGetNumber(m_matches, "Count"));
}

void RegexObject::LocateInSubject(const OwnedObject& match, const char* text, int32_t* position) const {
  OwnedText subject = c::VariantToText(m_subject);
  const int32_t firstIndex = static_cast<int32_t>(c::ObjectGetNumber(match, "FirstIndex"));
  // FirstIndex counts UTF-16 units while the subject's bytes count two per Chinese character, so
  // the byte offset is never smaller: a search from the character index reaches the match. The
  // text is the subject's own substring, so the search is exact whatever the pattern's case
  // option; a case-blind search could stop early at a variant spelled differently.
  const int32_t found = c::FindText(subject.c_str(), text, firstIndex, false);
  *position = found - 1;
}

OwnedText RegexObject::GetMatchText(int32_t n, int32_t* position) const {
  OwnedObject match = c::ObjectGetObject(m_matches, "Item", {c::DoubleValue(n - 1.0)});
  OwnedVariantHolder value = c::ObjectGetVariant(match, "Value");
  OwnedText text = c::VariantToText(value);
  if (position) LocateInSubject(match, text.c_str(), position);
  return text;
}

OwnedText RegexObject::GetSubMatchText(int32_t n, int32_t k, int32_t* position) const {
  OwnedObject match = c::ObjectGetObject(m_matches, "Item", {c::DoubleValue(n - 1.0)});
  OwnedObject subMatches = c::ObjectGetObject(match, "SubMatches");
  OwnedVariantHolder value = c::ObjectGetVariant(subMatches, "Item", {c::DoubleValue(k - 1.0)});
  OwnedText text = c::VariantToText(value);
  if (position) LocateInSubject(match, text.c_str(), position);
  return text;
}

int32_t RegexObject::GetSubMatchCount() const {
  OwnedObject first = c::ObjectGetObject(m_matches, "Item", {c::IntValue(0)});
  OwnedObject subMatches = c::ObjectGetObject(first, "SubMatches");
  return static_cast<int32_t>(c::ObjectGetNumber(subMatches, "Count"));
}

}  // namespace quorvane
