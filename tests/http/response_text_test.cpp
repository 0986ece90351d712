// The charset step: the meta declaration within a page's first 1024 bytes decides how its bytes
// become text.
#include <gtest/gtest.h>

#include <string>

#include "common/gbk_print.h"
#include "http/code_pages.h"
#include "http/response_text.h"

namespace quorvane {
namespace {

using qvtest::Gbk;

std::string Decode(const std::string& body) {
  RegexObject regex;
  const qv::OwnedByteSet bytes = qv::OwnedByteSet::Copy(body);
  const qv::OwnedText text = DecodeResponseText(regex, bytes.view(), qv::OwnedText::Copy(body.c_str()));
  return std::string(text.view());
}

TEST(ResponseText, DeclarationDecidesTheDecoding) {
  const std::string utf8Answer = qvtest::Utf8(u8"答案");
  struct Row {
    const char* name;
    std::string body;
    std::string expected;
  };
  const Row rows[] = {
      {"GBK without a declaration", "<p>答案</p>", "<p>答案</p>"},
      {"utf-8 quoted", "<meta charset=\"utf-8\"><p>" + utf8Answer, "<meta charset=\"utf-8\"><p>答案"},
      {"UTF-8 unquoted in http-equiv", "<META http-equiv=Content-Type content=text/html;charset=UTF-8>" + utf8Answer,
       "<META http-equiv=Content-Type content=text/html;charset=UTF-8>答案"},
      // The exact GBK names keep the bytes, so a broken last character stays as it came.
      {"gb2312 keeps the bytes", "<meta content=\"text/html; charset=gb2312\">答\xB4", "<meta content=\"text/html; charset=gb2312\">答\xB4"},
      {"gbk keeps the bytes", "<meta charset='gbk'>\xB4", "<meta charset='gbk'>\xB4"},
      // Any other spelling goes through the stream, which turns the broken character into '?'.
      {"GBK in capitals is decoded", "<meta charset='GBK'>答\xB4", "<meta charset='GBK'>答?"},
      {"a declaration past 1024 bytes is ignored", std::string(1020, ' ') + "<meta charset=utf-8>" + utf8Answer,
       std::string(1020, ' ') + "<meta charset=utf-8>" + utf8Answer},
      {"text stops at a NUL", std::string("ab\0<meta charset=utf-8>", 23), "ab"},
  };
  for (const Row& r : rows) EXPECT_EQ(Gbk(Decode(r.body)), Gbk(r.expected)) << r.name;
}

TEST(ResponseText, UnknownCharsetTakesTheStreamsFallback) {
  // The stream keeps its own character set, UTF-16LE, when the declared name is unknown.
  const std::string body = "<meta charset=x-no-such-set>abcd";
  const std::string decoded = Decode(body);
  EXPECT_EQ(Gbk(decoded), Gbk(Utf16ToGbk(qv::OwnedByteSet::Copy(body).view()).c_str()));
  EXPECT_NE(decoded, body);
}

}  // namespace
}  // namespace quorvane
