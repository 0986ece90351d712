// ANSI texts for Qt: GBK bytes to UTF-8 through iconv's CP936 table, which matches Windows code
// page 936 (0x80 is the euro sign).
#include <cerrno>
#include <string>

#include "platform/ui/ui_private.h"

namespace win::ui_detail {

namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";  // U+FFFD

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  if (gbk.empty()) return out;
  IconvHandle converter("UTF-8", "CP936");
  if (!converter.IsValid()) {
    // Without the table only ASCII can be trusted; everything else is shown as damaged.
    for (unsigned char c : gbk) out += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(kReplacementUtf8);
    return out;
  }
  // A GBK character of one or two bytes is at most three UTF-8 bytes.
  char buffer[512];
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t result = iconv(converter.Get(), &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (result != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ: an invalid sequence; EINVAL: a lead byte cut off at the end. Either way one byte is
    // shown as damaged and conversion resumes after it.
    out += kReplacementUtf8;
    ++in;
    --inLeft;
    iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

}  // namespace

QString GbkToText(std::string_view gbk) { return QString::fromUtf8(GbkToUtf8(gbk)); }

QString DisplayLineBreaks(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

QString GbkToDisplayText(std::string_view gbk) { return DisplayLineBreaks(GbkToText(gbk)); }

}  // namespace win::ui_detail
