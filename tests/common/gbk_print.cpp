#include "common/gbk_print.h"

#include <iconv.h>

#include <cstdio>
#include <ostream>

namespace qvtest {

std::string GbkToUtf8ForDisplay(std::string_view gbk) {
  std::string out;
  iconv_t cd = iconv_open("UTF-8", "CP936");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(gbk);
  size_t i = 0;
  while (i < gbk.size()) {
    // Convert one character at a time so that a bad byte only affects itself.
    size_t len = (static_cast<unsigned char>(gbk[i]) >= 0x81 && i + 1 < gbk.size()) ? 2 : 1;
    char in[2] = {gbk[i], len == 2 ? gbk[i + 1] : '\0'};
    char buf[8];
    char* inp = in;
    char* outp = buf;
    size_t inLeft = len, outLeft = sizeof buf;
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1)) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned char>(gbk[i]));
      out += esc;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      ++i;
      continue;
    }
    out.append(buf, outp - buf);
    i += len;
  }
  iconv_close(cd);
  return out;
}

void PrintTo(const Gbk& text, std::ostream* os) { *os << '"' << GbkToUtf8ForDisplay(text.bytes) << '"'; }

}  // namespace qvtest
