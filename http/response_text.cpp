#include "http/response_text.h"

#include "http/dll_indices.h"
#include "runtime/automation/automation_front.h"
#include "runtime/commands/command_front.h"
#include "runtime/dll/dll_commands.h"

namespace quorvane {

using namespace qv;
namespace c = qv::cmd;

namespace {

// Only the start of a page is searched for its declaration.
constexpr int32_t kDeclarationWindow = 1024;

// Stream constants: byte and text data, read/write access.
constexpr int32_t kStreamTypeBinary = 1;
constexpr int32_t kStreamTypeText = 2;
constexpr int32_t kStreamModeReadWrite = 3;

// Decodes the bytes in the named character set into text. The calls' results are not checked one
// by one: what ReadText gives is the text. False, with text unchanged, when the stream object
// cannot be made.
bool DecodeWithStream(ByteSetView bytes, const char* charset, OwnedText& text) {
  OwnedObject stream;
  if (!c::ObjectCreate(stream, "Adodb.Stream")) return false;
  OwnedVariantHolder data;
  c::VariantSetValue(data, c::ByteSetValue(bytes));
  c::ObjectSetProperty(stream, "Type", c::IntValue(kStreamTypeBinary));
  c::ObjectSetProperty(stream, "Mode", c::IntValue(kStreamModeReadWrite));
  c::ObjectCall(stream, "Open");
  c::ObjectCall(stream, "Write", {c::ByAddress(data)});
  c::ObjectSetProperty(stream, "Position", c::IntValue(0));
  c::ObjectSetProperty(stream, "Type", c::IntValue(kStreamTypeText));
  c::ObjectSetProperty(stream, "Charset", c::TextValue(charset));
  text = c::ObjectCallText(stream, "ReadText");
  c::ObjectCall(stream, "Close");
  c::ObjectRelease(stream);
  c::VariantReset(data);
  return true;
}

}  // namespace

OwnedText DecodeResponseText(RegexObject& regex, ByteSetView bodyBytes, OwnedText bodyText) {
  CallDllCommand(http_dll::kCoInitialize, {nullptr});
  const OwnedText head = c::TextLeft(bodyText.c_str(), kDeclarationWindow);
  // The pattern begins with the letters "<meta", matched ignoring case. A head without them cannot
  // match, and the pattern would come back with no match: the same outcome without compiling it.
  const bool mayDeclare = c::FindText(head.c_str(), "<meta", {}, true) != -1;
  if (!mayDeclare || regex.ExecutePattern(kMetaCharsetPattern, head.c_str())) {
    const OwnedText charset = mayDeclare ? regex.GetSubMatchText(1, 1) : OwnedText();
    // The two GBK names, written exactly so, need no decoding: the bytes already are the text.
    if (!charset.empty() && charset.view() != "gbk" && charset.view() != "gb2312")
      DecodeWithStream(bodyBytes, charset.c_str(), bodyText);
    c::ProcessEvents();
  }
  CallDllCommand(http_dll::kCoUninitialize, {});
  return bodyText;
}

}  // namespace quorvane
