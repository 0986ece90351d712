#include "json/json_text.h"

#include <limits>

#include "json/json_object.h"
#include "runtime/dll/dll_commands.h"

namespace quorvane::json_text {
namespace {

constexpr int kSystemCodePage = 0;  // CP_ACP: the code page the script control decodes with

bool IsGbkLead(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// The text as the script control reads it, through the declared MultiByteToWideChar.
std::u16string DecodeAsTheControlDoes(std::string_view gbk) {
  std::u16string wide;
  if (gbk.empty() || gbk.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return wide;
  // One byte never gives more than one UTF-16 unit.
  wide.resize(gbk.size());
  const intptr_t n = qv::CallDllCommand(json_dll::kMultiByteToWideChar,
                                        {kSystemCodePage, 0, gbk.data(), static_cast<int>(gbk.size()),
                                         wide.data(), static_cast<int>(wide.size())});
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return wide;
}

}  // namespace

bool IsJsonText(std::string_view gbk) {
  const std::u16string wide = DecodeAsTheControlDoes(gbk);
  // A text that does not decode at all cannot be checked; nothing else decodes to nothing.
  if (wide.empty()) return false;
  return IsJsonUtf16(wide);
}

void AppendScriptStringLiteral(std::string& out, std::string_view gbk) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.reserve(out.size() + gbk.size() + gbk.size() / 16 + 8);
  out += '\'';
  // Bytes that stand for themselves are copied in runs; a run ends only at a byte to escape.
  size_t run = 0;
  size_t i = 0;
  while (i < gbk.size()) {
    const auto byte = static_cast<unsigned char>(gbk[i]);
    if (IsGbkLead(byte)) {
      if (i + 1 < gbk.size()) {
        i += 2;  // the character's second byte goes with it, whatever it is
        continue;
      }
      out.append(gbk, run, i - run);
      out += '?';
      run = ++i;
      continue;
    }
    if (byte >= 0x20 && byte != '\\' && byte != '\'') {
      ++i;
      continue;
    }
    out.append(gbk, run, i - run);
    if (byte >= 0x20) {
      out += '\\';
      out += static_cast<char>(byte);
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
    run = ++i;
  }
  out.append(gbk, run, gbk.size() - run);
  out += '\'';
}

}  // namespace quorvane::json_text
