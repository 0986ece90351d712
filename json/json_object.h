// JsonObject: a JSON document held in a JavaScript context of the "MSScriptControl.ScriptControl"
// automation object. The document lives in the context's global variable "da"; every read and
// change is a short script text handed to the control's Eval (or AddCode), built from the caller's
// path, which is script member-access syntax relative to the document ("msg", "list[2].title",
// "[0]", or the empty text for the whole document).
//
// Failures are silent: a script error makes that one call give its empty result (false, the empty
// text, 0, or -1 from GetType), and an object whose script control could not be created answers
// every call that way.
//
// Stored strings never hold a caller's backslash: SetText stores each one as U+2400, and every
// read and serialisation turns U+2400 back into a single backslash, so a JSON escape stored in a
// value comes out of ToJson verbatim.
#pragma once

#include <cstdint>

#include "runtime/automation/holders.h"
#include "runtime/memory/owned.h"

namespace quorvane {

// The program's declared DLL commands the JSON object calls, by index.
namespace json_dll {
inline constexpr int32_t kCoInitialize = 15;
inline constexpr int32_t kCoUninitialize = 16;
inline constexpr int32_t kMultiByteToWideChar = 17;
inline constexpr int32_t kWideCharToMultiByte = 18;
}  // namespace json_dll

// What GetType reports. There is no code 3.
enum class JsonValueType : int32_t {
  Missing = 0,  // undefined or null
  Boolean = 1,
  Number = 2,
  Object = 4,
  Array = 5,
  String = 6,
  Other = -1,  // a function, a date, a regular expression, or a path that cannot be read
};

// The text ReadJsonValue gives for a reply that is not JSON.
inline constexpr const char* kJsonParseFailed = "JSON解析失败";

// The largest text Parse accepts, in bytes. A reply of this size (as UTF-8 or GBK) parses and reads
// within the script context's memory; larger ones fail as invalid JSON does.
inline constexpr size_t kLargestJsonText = size_t{32} << 20;

class JsonObject {
 public:
  // Initialises COM for the calling thread and creates the context: an empty object document.
  JsonObject();
  // Shares the original's context: both read and change one and the same document.
  JsonObject(const JsonObject& other);
  JsonObject& operator=(const JsonObject&) = delete;
  ~JsonObject();

  // Creates the script control, loads the prelude and makes the document an empty object. When the
  // control cannot be created the object stays without a context.
  void CreateContext();
  // Replaces the whole document, in a fresh context, by the value of a JSON text (RFC 8259). True
  // when the document is then neither null nor undefined. Anything that is not JSON (script
  // expressions included) fails without running and leaves the document null; the empty text
  // leaves it undefined.
  bool Parse(const char* text);
  bool Clear();
  qv::OwnedText ToJson() const;
  // Stores value at path as a string; with asJson the value is script source that is merged into
  // the value present there or replaces a missing one (the empty value stands for "{}").
  bool SetText(const char* path = "", const char* value = "", bool asJson = false);
  bool SetExpression(const char* path = "", const char* expression = "");
  // Rewrites path in place into a full script expression and tells whether its value is neither
  // undefined nor null.
  bool ResolvePath(qv::OwnedText& path) const;
  JsonValueType GetType(const char* path = "") const;
  qv::OwnedText GetText(const char* path = "", bool asJson = false) const;
  // Fills names with the member names of the plain object at path and returns their number.
  int32_t GetMemberNames(qv::OwnedArray& names, const char* path = "") const;
  int32_t GetCount(const char* path = "") const;
  // An independent deep copy of the value at path, in a context of its own.
  JsonObject GetObject(const char* path = "") const;
  // Pushes value (quoted unless raw) onto the array at path, which replaces a non-array first.
  bool AddElement(const char* value = "", const char* path = "", bool raw = false);
  JsonObject GetElementObject(int32_t index = 0, const char* path = "") const;
  qv::OwnedText GetElementText(int32_t index = 0, const char* path = "", bool asJson = false) const;
  bool SetElement(int32_t index = 0, const char* path = "", const char* value = "", bool raw = false);
  bool RemoveElement(int32_t index = 0, const char* path = "");
  bool RemoveMember(const char* path = "");
  bool SetNumber(const char* path = "", double value = 0);
  double GetNumber(const char* path = "") const;
  qv::OwnedText PathToJson(const char* path = "") const;
  // A new reference to the context's script control, for running the caller's own script texts.
  qv::OwnedObject GetScriptControl() const;

 private:
  // The resolved form of a caller's path; the caller's text is left alone.
  qv::OwnedText Resolved(const char* path, bool* present = nullptr) const;
  bool EvalBool(const char* script) const;
  qv::OwnedText EvalText(const char* script) const;
  double EvalNumber(const char* script) const;
  // Loads the document from the JSON text; the context is fresh and holds "var da = null".
  void LoadDocument(const char* text);

  qv::OwnedText m_name;
  qv::OwnedObject m_control;
  bool m_comInitialised = false;
  // The context is as CreateContext left it: no script text has been sent to it since, and nobody
  // else holds it. Parse can then use it as the fresh engine it would otherwise make.
  mutable bool m_fresh = false;
};

// Reads the value at path from a JSON reply: a string as itself, a boolean as "true" or "false",
// anything else as its JSON text ("null" for null, the empty text for a missing member), and
// kJsonParseFailed when the reply is not JSON. Every CR and LF is removed from text first; the
// caller's variable keeps the stripped text.
qv::OwnedText ReadJsonValue(qv::OwnedText& text, const char* path);

}  // namespace quorvane
