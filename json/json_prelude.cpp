#include "json/json_prelude.h"

#include <string>

#include "runtime/automation/automation_front.h"

namespace quorvane {

namespace c = qv::cmd;

// Notes on the script:
// - The three helpers are global function declarations, so that the texts sent through Eval find
//   them by name.
// - get__name_All walks with for-in, which also visits inherited enumerable members; members
//   whose value is a function are left out, which keeps the two methods added to Object.prototype
//   at the end out of every member list.
// - get__extend merges by the type of the target's member: strings, booleans and missing members
//   are overwritten, objects merged recursively, and a number makes it call concat, which plain
//   objects do not have (the merge then fails after the members before it were set).
// - The JSON part is installed only where the engine has no JSON of its own. Its serialiser
//   escapes quote, backslash, the C0 and C1 controls and a set of invisible characters (soft
//   hyphen, Arabic and Syriac format marks, Khmer vowel inherents, zero-width and direction marks,
//   line and paragraph separators, word joiners, the byte order mark, the specials block); its
//   parser turns NUL and the same invisible characters into escapes, makes sure that what is left
//   after removing escapes, values and opening brackets is punctuation only, and only then
//   evaluates the text. It is sent only to an engine that needs it, so that one with JSON of its
//   own does not pay for compiling it in every context.
namespace {

// The helpers the generated script texts call.
constexpr const char* kHelpers = R"JS(
function get__count(c) {
  return Object.prototype.toString.call(c) == '[object Array]' ? c.length : 0;
}
function get__name_All(a) {
  if (Object.prototype.toString.call(a) != '[object Object]') return '';
  var names = new Array();
  for (var key in a) {
    if (typeof a[key] != 'function') names.push(key);
  }
  return names.join('\r\n');
}
function get__extend(target, source) {
  if (Object.prototype.toString.call(target) == '[object Array]') {
    for (var i = 0; i < source.length; i++) target.push(source[i]);
    return target;
  }
  for (var obj in source) {
    switch (typeof target[obj]) {
      case 'string':
      case 'boolean':
      case 'undefined':
        target[obj] = source[obj];
        break;
      case 'number':
        target = target.concat(source);
        break;
      case 'object':
        target[obj] = get__extend(target[obj], source[obj]);
        break;
    }
  }
  return target;
}
)JS";

// JSON.stringify and JSON.parse (with Date.prototype.toJSON) for engines without them. Run as
// global code: `this` is the global object.
constexpr const char* kJsonPolyfill = R"JS((function (global) {
  if (typeof global.JSON != 'object' || global.JSON === null) global.JSON = {};
  var json = global.JSON;
  var classOf = function (v) { return Object.prototype.toString.call(v); };
  var owns = function (o, k) { return Object.prototype.hasOwnProperty.call(o, k); };
  var twoDigits = function (n) { return (n < 10 ? '0' : '') + n; };
  var unicodeEscape = function (ch) {
    var hex = ch.charCodeAt(0).toString(16);
    while (hex.length < 4) hex = '0' + hex;
    return '\\u' + hex;
  };
  var invisible = '\\u00ad\\u0600-\\u0604\\u070f\\u17b4\\u17b5\\u200c-\\u200f\\u2028-\\u202f\\u2060-\\u206f\\ufeff\\ufff0-\\uffff';
  var needsEscape = new RegExp('[\\\\"\\u0000-\\u001f\\u007f-\\u009f' + invisible + ']', 'g');
  var unsafeForEval = new RegExp('[\\u0000' + invisible + ']', 'g');
  var shortForms = { '\b': '\\b', '\t': '\\t', '\n': '\\n', '\f': '\\f', '\r': '\\r', '"': '\\"', '\\': '\\\\' };

  if (typeof Date.prototype.toJSON != 'function') {
    Date.prototype.toJSON = function () {
      if (!isFinite(this.valueOf())) return null;
      return this.getUTCFullYear() + '-' + twoDigits(this.getUTCMonth() + 1) + '-' + twoDigits(this.getUTCDate()) +
          'T' + twoDigits(this.getUTCHours()) + ':' + twoDigits(this.getUTCMinutes()) + ':' +
          twoDigits(this.getUTCSeconds()) + 'Z';
    };
    var primitive = function () { return this.valueOf(); };
    Boolean.prototype.toJSON = primitive;
    Number.prototype.toJSON = primitive;
    String.prototype.toJSON = primitive;
  }

  var quote = function (s) {
    return '"' + s.replace(needsEscape, function (ch) {
      return owns(shortForms, ch) ? shortForms[ch] : unicodeEscape(ch);
    }) + '"';
  };

  // The text of holder[key], or undefined when the value has none (undefined, a function).
  var write = function (holder, key, replacer, gap, indent) {
    var value = holder[key];
    if (value && typeof value == 'object' && typeof value.toJSON == 'function') value = value.toJSON(key);
    if (typeof replacer == 'function') value = replacer.call(holder, key, value);
    switch (typeof value) {
      case 'string':
        return quote(value);
      case 'number':
        return isFinite(value) ? String(value) : 'null';
      case 'boolean':
        return String(value);
      case 'object':
        break;
      default:
        return undefined;
    }
    if (value === null) return 'null';
    var inner = indent + gap;
    var parts = [];
    var i, k, text;
    if (classOf(value) == '[object Array]') {
      for (i = 0; i < value.length; i++) {
        text = write(value, i, replacer, gap, inner);
        parts.push(text === undefined ? 'null' : text);
      }
      if (parts.length == 0) return '[]';
      return gap ? '[\n' + inner + parts.join(',\n' + inner) + '\n' + indent + ']' : '[' + parts.join(',') + ']';
    }
    var member = function (k) {
      var text = write(value, k, replacer, gap, inner);
      if (text !== undefined) parts.push(quote(k) + (gap ? ': ' : ':') + text);
    };
    if (replacer && typeof replacer == 'object') {
      for (i = 0; i < replacer.length; i++) {
        if (typeof replacer[i] == 'string') member(replacer[i]);
      }
    } else {
      for (k in value) {
        if (owns(value, k)) member(k);
      }
    }
    if (parts.length == 0) return '{}';
    return gap ? '{\n' + inner + parts.join(',\n' + inner) + '\n' + indent + '}' : '{' + parts.join(',') + '}';
  };

  if (typeof json.stringify != 'function') {
    json.stringify = function (value, replacer, space) {
      // Indentation of up to ten spaces, or the first ten characters of a string.
      var gap = '';
      if (typeof space == 'number') {
        while (gap.length < space && gap.length < 10) gap += ' ';
      } else if (typeof space == 'string') {
        gap = space.slice(0, 10);
      }
      if (replacer && typeof replacer != 'function' &&
          (typeof replacer != 'object' || typeof replacer.length != 'number')) {
        throw new Error('JSON.stringify: bad replacer');
      }
      return write({ '': value }, '', replacer, gap, '');
    };
  }

  var revive = function (holder, key, reviver) {
    var value = holder[key];
    if (value && typeof value == 'object') {
      for (var k in value) {
        if (!owns(value, k)) continue;
        var revived = revive(value, k, reviver);
        if (revived === undefined) delete value[k]; else value[k] = revived;
      }
    }
    return reviver.call(holder, key, value);
  };

  if (typeof json.parse != 'function') {
    json.parse = function (text, reviver) {
      text = String(text).replace(unsafeForEval, unicodeEscape);
      var rest = text
          .replace(/\\(?:["\\\/bfnrt]|u[0-9a-fA-F]{4})/g, '@')
          .replace(/"[^"\\\n\r]*"|true|false|null|-?\d+(?:\.\d*)?(?:[eE][+\-]?\d+)?/g, ']')
          .replace(/(?:^|:|,)(?:\s*\[)+/g, '');
      if (!/^[\],:{}\s]*$/.test(rest)) throw new SyntaxError('JSON.parse: not JSON');
      var result = eval('(' + text + ')');
      return typeof reviver == 'function' ? revive({ '': result }, '', reviver) : result;
    };
  }
})(this);
)JS";

constexpr const char* kObjectMethods = R"JS(if (typeof Object.prototype.toJSONString != 'function') {
  Object.prototype.toJSONString = function (filter) { return JSON.stringify(this, filter); };
  Object.prototype.parseJSON = function (filter) { return JSON.parse(this, filter); };
}
)JS";

}  // namespace

void AddPrelude(const qv::OwnedObject& control) {
  static const std::string prelude = std::string(kHelpers) + kObjectMethods;
  c::ObjectCallBool(control, "AddCode", {c::TextValue(prelude.c_str())});
  const bool hasJson = c::ObjectCallBool(
      control, "Eval",
      {c::TextValue("typeof JSON == 'object' && JSON !== null && typeof JSON.stringify == 'function' && "
                    "typeof JSON.parse == 'function' && typeof Date.prototype.toJSON == 'function'")});
  if (!hasJson) c::ObjectCallBool(control, "AddCode", {c::TextValue(kJsonPolyfill)});
}

}  // namespace quorvane
