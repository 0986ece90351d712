#include "json/json_object.h"

#include <initializer_list>
#include <string>
#include <string_view>

#include "json/json_prelude.h"
#include "json/json_text.h"
#include "runtime/automation/automation_front.h"
#include "runtime/commands/command_front.h"
#include "runtime/dll/dll_commands.h"

namespace quorvane {

using namespace qv;
namespace c = qv::cmd;

namespace {

constexpr const char* kDocumentName = "da";

// Joins the pieces of a script text.
std::string Script(std::initializer_list<std::string_view> pieces) {
  size_t size = 0;
  for (std::string_view p : pieces) size += p.size();
  std::string s;
  s.reserve(size);
  for (std::string_view p : pieces) s += p;
  return s;
}

std::string_view View(const char* text) { return text ? std::string_view(text) : std::string_view(); }

// Strings that the stringify results pass through: every U+2400 back into one backslash.
constexpr std::string_view kRestoreBackslashes = R"(.replace(str_reg, '\\'))";

JsonValueType TypeOfClassText(std::string_view classText) {
  struct Entry {
    std::string_view text;
    JsonValueType type;
  };
  static constexpr Entry kClasses[] = {
      {"[object Boolean]", JsonValueType::Boolean}, {"[object Number]", JsonValueType::Number},
      {"[object Object]", JsonValueType::Object},   {"[object Array]", JsonValueType::Array},
      {"[object String]", JsonValueType::String},
  };
  for (const Entry& e : kClasses) {
    if (e.text == classText) return e.type;
  }
  return JsonValueType::Other;
}

}  // namespace

JsonObject::JsonObject() : m_name(OwnedText::Copy(kDocumentName)) { CreateContext(); }

JsonObject::JsonObject(const JsonObject& other) : m_name(OwnedText::Copy(other.m_name.view())) {
  // Each object holds one COM initialisation of its own, released by its destructor, so that the
  // thread stays initialised while any object exists.
  CallDllCommand(json_dll::kCoInitialize, {nullptr});
  m_comInitialised = true;
  c::ObjectAssign(m_control, other.m_control);
  other.m_fresh = false;
}

JsonObject::~JsonObject() {
  c::ObjectRelease(m_control);
  if (m_comInitialised) CallDllCommand(json_dll::kCoUninitialize, {});
}

bool JsonObject::EvalBool(const char* script) const {
  m_fresh = false;
  return c::ObjectCallBool(m_control, "Eval", {c::TextValue(script)});
}
OwnedText JsonObject::EvalText(const char* script) const {
  m_fresh = false;
  return c::ObjectCallText(m_control, "Eval", {c::TextValue(script)});
}
double JsonObject::EvalNumber(const char* script) const {
  m_fresh = false;
  return c::ObjectCallNumber(m_control, "Eval", {c::TextValue(script)});
}

void JsonObject::CreateContext() {
  // A context made again for Parse uses the initialisation this object already holds.
  if (!m_comInitialised) {
    CallDllCommand(json_dll::kCoInitialize, {nullptr});
    m_comInitialised = true;
  }
  if (!c::ObjectCreate(m_control, "MSScriptControl.ScriptControl")) return;
  c::ObjectSetProperty(m_control, "Language", c::TextValue("JavaScript"));
  AddPrelude(m_control);
  EvalBool(Script({"var ", m_name.view(),
                   " = {}, str_Code = String.fromCharCode(9216), str_reg = new RegExp(str_Code, 'g')"})
               .c_str());
  m_fresh = true;
}

void JsonObject::LoadDocument(const char* text) {
  const std::string_view json = View(text);
  // The empty text leaves the document undefined, as an expression with nothing in it would.
  if (json.empty()) {
    c::ObjectCallBool(m_control, "AddCode", {c::TextValue(Script({"var ", m_name.view(), " = undefined"}).c_str())});
    return;
  }
  // The reply is data, never script: it must be JSON, and it reaches the engine as a string
  // literal for the engine's JSON parser, so no part of it is ever compiled as code.
  if (json.size() > kLargestJsonText || !json_text::IsJsonText(json)) return;
  std::string load = Script({"var ", m_name.view(), " = JSON.parse("});
  json_text::AppendScriptStringLiteral(load, json);
  load += ')';
  c::ObjectCallBool(m_control, "AddCode", {c::TextValue(load.c_str())});
}

bool JsonObject::Parse(const char* text) {
  // Every parse starts in a fresh engine. One made by CreateContext and not used since is one.
  if (!c::ObjectIsEmpty(m_control) && !m_fresh) {
    c::ObjectRelease(m_control);
    CreateContext();
  }
  if (c::ObjectIsEmpty(m_control)) return false;
  EvalBool(Script({"var ", m_name.view(), " = null"}).c_str());
  LoadDocument(text);
  return EvalBool(Script({m_name.view(), " != null"}).c_str());
}

bool JsonObject::Clear() { return EvalBool(Script({m_name.view(), " = {}"}).c_str()); }

OwnedText JsonObject::ToJson() const {
  return EvalText(Script({"JSON.stringify(", m_name.view(), ")", kRestoreBackslashes}).c_str());
}

bool JsonObject::ResolvePath(OwnedText& path) const {
  if (c::TextBeginsWith(path.c_str(), m_name.c_str()) &&
      EvalBool(Script({path.view(), " != null"}).c_str())) {
    return true;
  }
  if (path.empty()) {
    path = OwnedText::Copy(m_name.view());
  } else if (c::TextBeginsWith(path.c_str(), "[")) {
    path = OwnedText::Copy(Script({m_name.view(), path.view()}));
  } else {
    path = OwnedText::Copy(Script({m_name.view(), ".", path.view()}));
  }
  return EvalBool(Script({path.view(), " != null"}).c_str());
}

OwnedText JsonObject::Resolved(const char* path, bool* present) const {
  OwnedText p = OwnedText::Copy(View(path));
  const bool there = ResolvePath(p);
  if (present) *present = there;
  return p;
}

bool JsonObject::SetText(const char* path, const char* value, bool asJson) {
  bool present = false;
  const OwnedText p = Resolved(path, &present);
  if (asJson) {
    const std::string_view v = View(value).empty() ? std::string_view("{}") : View(value);
    if (present) return EvalBool(Script({p.view(), " = get__extend(", p.view(), ", ", v, ")"}).c_str());
    return EvalBool(Script({p.view(), " = eval(", v, ")"}).c_str());
  }
  const OwnedText cr = c::CharFromCode(13);
  const OwnedText lf = c::CharFromCode(10);
  OwnedText escaped = c::ReplaceSubtext(value, "\\", "\\\\", {}, {}, true);
  escaped = c::ReplaceSubtext(escaped.c_str(), "'", "\\'", {}, {}, true);
  escaped = c::ReplaceSubtext(escaped.c_str(), "\"", "\\\"", {}, {}, true);
  escaped = c::ReplaceSubtext(escaped.c_str(), cr.c_str(), "\\r", {}, {}, true);
  escaped = c::ReplaceSubtext(escaped.c_str(), lf.c_str(), "\\n", {}, {}, true);
  return EvalBool(Script({p.view(), " = '", escaped.view(), R"('.replace(/\\/g, str_Code))"}).c_str());
}

bool JsonObject::SetExpression(const char* path, const char* expression) {
  const OwnedText p = Resolved(path);
  return EvalBool(Script({p.view(), " = eval(", View(expression), ")"}).c_str());
}

JsonValueType JsonObject::GetType(const char* path) const {
  const OwnedText p = Resolved(path);
  if (EvalBool(Script({p.view(), " == null"}).c_str())) return JsonValueType::Missing;
  const OwnedText classText = EvalText(Script({"Object.prototype.toString.call(", p.view(), ")"}).c_str());
  return TypeOfClassText(classText.view());
}

OwnedText JsonObject::GetText(const char* path, bool asJson) const {
  const OwnedText p = Resolved(path);
  if (asJson) return EvalText(Script({"JSON.stringify(", p.view(), ")", kRestoreBackslashes}).c_str());
  return EvalText(Script({p.view(), ".toString()", kRestoreBackslashes}).c_str());
}

int32_t JsonObject::GetMemberNames(OwnedArray& names, const char* path) const {
  const OwnedText p = Resolved(path);
  const OwnedText all = EvalText(Script({"get__name_All(", p.view(), ")"}).c_str());
  names = c::SplitText(all.c_str(), "\r\n");
  return static_cast<int32_t>(names.size());
}

int32_t JsonObject::GetCount(const char* path) const {
  const OwnedText p = Resolved(path);
  return c::ToInteger(EvalNumber(Script({"get__count(", p.view(), ")"}).c_str()));
}

JsonObject JsonObject::GetObject(const char* path) const {
  JsonObject copy;
  const OwnedText p = Resolved(path);
  const OwnedText json = EvalText(Script({"JSON.stringify(", p.view(), ")", kRestoreBackslashes}).c_str());
  copy.Parse(json.c_str());
  // The caller gets the only other reference to the copy's context; the temporary goes.
  return JsonObject(copy);
}

bool JsonObject::AddElement(const char* value, const char* path, bool raw) {
  const OwnedText p = Resolved(path);
  const std::string q = raw ? std::string(View(value)) : Script({"'", View(value), "'"});
  return EvalBool(Script({"if (Object.prototype.toString.call(", p.view(), ") != '[object Array]') { ", p.view(),
                          " = new Array() } ", p.view(), ".push(", q, ")"})
                      .c_str());
}

JsonObject JsonObject::GetElementObject(int32_t index, const char* path) const {
  JsonObject copy;
  const OwnedText p = Resolved(path);
  const OwnedText i = c::ToText(index);
  const OwnedText json =
      EvalText(Script({"JSON.stringify(", p.view(), "[", i.view(), "])", kRestoreBackslashes}).c_str());
  copy.Parse(json.c_str());
  return JsonObject(copy);
}

OwnedText JsonObject::GetElementText(int32_t index, const char* path, bool asJson) const {
  const OwnedText p = Resolved(path);
  const OwnedText i = c::ToText(index);
  if (asJson) {
    return EvalText(Script({"JSON.stringify(", p.view(), "[", i.view(), "])", kRestoreBackslashes}).c_str());
  }
  return EvalText(Script({p.view(), "[", i.view(), "]", kRestoreBackslashes}).c_str());
}

bool JsonObject::SetElement(int32_t index, const char* path, const char* value, bool raw) {
  const OwnedText p = Resolved(path);
  const OwnedText i = c::ToText(index);
  const std::string q = raw ? std::string(View(value)) : Script({"'", View(value), "'"});
  return EvalBool(Script({p.view(), "[", i.view(), "] = ", q}).c_str());
}

bool JsonObject::RemoveElement(int32_t index, const char* path) {
  const OwnedText p = Resolved(path);
  const OwnedText i = c::ToText(index);
  return EvalBool(Script({p.view(), ".splice(", i.view(), ", 1)"}).c_str());
}

bool JsonObject::RemoveMember(const char* path) {
  const OwnedText p = Resolved(path);
  return EvalBool(Script({"delete ", p.view()}).c_str());
}

bool JsonObject::SetNumber(const char* path, double value) {
  const OwnedText p = Resolved(path);
  const OwnedText v = c::ToText(value);
  return EvalBool(Script({p.view(), " = ", v.view()}).c_str());
}

double JsonObject::GetNumber(const char* path) const {
  const OwnedText p = Resolved(path);
  return EvalNumber(p.c_str());
}

OwnedText JsonObject::PathToJson(const char* path) const {
  const OwnedText p = Resolved(path);
  return EvalText(Script({"JSON.stringify(", p.view(), ")", kRestoreBackslashes}).c_str());
}

OwnedObject JsonObject::GetScriptControl() const {
  m_fresh = false;
  OwnedObject control;
  c::ObjectAssign(control, m_control);
  return control;
}

OwnedText ReadJsonValue(OwnedText& text, const char* path) {
  JsonObject json;
  bool wasJson = true;
  // A reply without line breaks is left as it is: there is nothing to remove.
  if (text.view().find_first_of("\r\n") != std::string_view::npos) {
    const OwnedText cr = c::CharFromCode(13);
    const OwnedText lf = c::CharFromCode(10);
    OwnedText stripped = c::ReplaceSubtext(text.c_str(), cr.c_str(), {}, {}, {}, true);
    stripped = c::ReplaceSubtext(stripped.c_str(), lf.c_str(), {}, {}, {}, true);
    // Removing line breaks can join what the reply kept apart (a line break inside a string, or
    // between two halves of a number), so the reply must have been JSON with them too.
    wasJson = text.size() <= kLargestJsonText && json_text::IsJsonText(text.view());
    text = std::move(stripped);
  }
  if (!wasJson || !json.Parse(text.c_str())) return OwnedText::Copy(kJsonParseFailed);

  switch (json.GetType(path)) {
    case JsonValueType::Boolean:
      return json.PathToJson(path);
    case JsonValueType::Number: {
      const JsonObject number = json.GetObject(path);
      return number.ToJson();
    }
    case JsonValueType::String:
      return json.GetText(path, false);
    default:
      return json.GetText(path, true);
  }
}

}  // namespace quorvane
