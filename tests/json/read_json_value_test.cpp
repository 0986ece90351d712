// ReadJsonValue as the query action uses it, and every document of the JSON test suite taken
// along the path a reply takes.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/gbk_print.h"
#include "json/json_object.h"
#include "json/json_test_support.h"
#include "runtime/commands/command_front.h"

namespace quorvane {
namespace {

using qvtest::Gbk;
namespace c = qv::cmd;

std::string Read(qv::OwnedText reply, const char* path) { return std::string(ReadJsonValue(reply, path).view()); }

TEST(ReadJsonValue, ReadsEachKindOfValue) {
  const struct {
    const char* reply;
    const char* path;
    const char* expected;
  } rows[] = {
      {R"({"msg":"ok","data":"x"})", "msg", "ok"},
      {R"({"msg":"ok","data":"x"})", "data", "x"},
      {R"({"data":null})", "data", "null"},
      {R"({"msg":"ok"})", "data", ""},
      {R"({"data":5})", "data", "5"},
      {R"({"data":-0.25e1})", "data", "-2.5"},
      // Numbers beyond the range of a double are refused, a limit RFC 8259 leaves to parsers.
      {R"({"data":1e400})", "data", kJsonParseFailed},
      {R"({"data":true,"msg":false})", "data", "true"},
      {R"({"data":true,"msg":false})", "msg", "false"},
      {R"({"data": {"a" : [1, "二", {}], "b": null}})", "data", R"({"a":[1,"二",{}],"b":null})"},
      {R"({"data":[]})", "data", "[]"},
      {R"({"data":"q\"b\\s\u4e2d\t"})", "data", "q\"b\\s中\t"},
      {R"({"data":"答案：C"})", "data", "答案：C"},
      {R"({"data":""})", "data", ""},
      {R"(["data"])", "data", ""},
      {R"({"data":{"data":"inner"}})", "data.data", "inner"},
      {R"({"data":"x"})", "", R"({"data":"x"})"},
      {"not json", "data", kJsonParseFailed},
      {"", "data", kJsonParseFailed},
      {"null", "data", kJsonParseFailed},
      {"{\"data\":\"new\nline\"}", "data", kJsonParseFailed},
      {"{\"data\":1\n2}", "data", kJsonParseFailed},
  };
  for (const auto& row : rows) EXPECT_EQ(Gbk(Read(qv::OwnedText::Copy(row.reply), row.path)), Gbk(row.expected)) << row.reply;
}

TEST(ReadJsonValue, StripsLineBreaksFromTheCallersText) {
  qv::OwnedText reply = qv::OwnedText::Copy("{\r\n  \"msg\": \"ok\",\r\n  \"data\": \"x\"\n}\r\n");
  EXPECT_EQ(Gbk(ReadJsonValue(reply, "data").c_str()), Gbk("x"));
  EXPECT_EQ(Gbk(reply.c_str()), Gbk("{  \"msg\": \"ok\",  \"data\": \"x\"}"));
  EXPECT_EQ(Gbk(ReadJsonValue(reply, "msg").c_str()), Gbk("ok"));
  // A reply that is refused is stripped all the same.
  qv::OwnedText bad = qv::OwnedText::Copy("a\r\nb");
  EXPECT_EQ(Gbk(ReadJsonValue(bad, "data").c_str()), Gbk(kJsonParseFailed));
  EXPECT_EQ(Gbk(bad.c_str()), Gbk("ab"));
}

TEST(ReadJsonValue, AScriptReplyRunsNothing) {
  for (const char* reply : {"(function () { while (true) {} })()", "{\"data\": (function () { while (1); })()}",
                            "eval('for(;;);')", "[1].concat((function(){for(;;);})())"}) {
    const double start = jsontest::Now();
    EXPECT_EQ(Gbk(Read(qv::OwnedText::Copy(reply), "data")), Gbk(kJsonParseFailed)) << reply;
    EXPECT_LT(jsontest::Now() - start, 1.0) << reply;
  }
}

TEST(ReadJsonValue, LargeRepliesReadAndOversizedOnesFailCleanly) {
  // A long list of records and the answer last: 32 MB of GBK (more as UTF-8).
  const std::string record = R"({"id":12345,"q":"题目：下列哪一项正确？ question text","a":"答案：C","ok":true},)";
  std::string reply = R"({"msg":"ok","list":[)";
  const size_t limit = size_t{32} << 20;
  while (reply.size() + record.size() + 32 < limit) reply += record;
  reply.back() = ']';
  reply += R"(,"data":"the answer"})";
  ASSERT_LE(reply.size(), limit);
  const size_t records = (reply.size() - 40) / record.size();
  const std::string last = "list[" + std::to_string(records - 1) + "].a";
  EXPECT_EQ(Gbk(Read(qv::OwnedText::Copy(reply), last.c_str())), Gbk("答案：C"));

  // Beyond the limit: refused like text that is not JSON, and the object stays usable.
  reply.insert(1, limit + 1 - reply.size(), ' ');
  EXPECT_EQ(Gbk(Read(qv::OwnedText::Copy(reply), "data")), Gbk(kJsonParseFailed));
  reply[1] = '\n';  // down to the limit only once the line break is gone
  EXPECT_EQ(Gbk(Read(qv::OwnedText::Copy(reply), "data")), Gbk(kJsonParseFailed));
  JsonObject json;
  EXPECT_FALSE(json.Parse(reply.c_str()));
  EXPECT_TRUE(json.Parse(R"({"data":"after"})"));
  EXPECT_EQ(Gbk(json.GetText("data").c_str()), Gbk("after"));
}

// ---- The JSON test suite (https://github.com/nst/JSONTestSuite): y_ documents are JSON, n_ ones
// are not, i_ ones may go either way.

std::vector<std::string> SuiteFiles() {
  std::vector<std::string> names;
  if (DIR* dir = opendir(QV_JSON_SUITE_DIR)) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string FileBytes(const std::string& name) {
  std::ifstream in(std::string(QV_JSON_SUITE_DIR) + "/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(ReadJsonValue, TheJsonTestSuiteAlongTheReplyPath) {
  const std::vector<std::string> files = SuiteFiles();
  ASSERT_EQ(files.size(), 318u);
  int parsed = 0;
  for (const std::string& name : files) {
    const std::string bytes = FileBytes(name);
    const double start = jsontest::Now();
    // The query action's path: the body bytes become text (ToText), UTF-8 becomes GBK (here through
    // the declared code-page commands; the action uses the HTTP library's Utf8ToGbk), and the
    // "data" member is read.
    const qv::OwnedByteSet body = qv::OwnedByteSet::Copy(bytes);
    const qv::OwnedText text = c::ToText(body.view());
    const std::string gbk = jsontest::Utf8ToGbkForTest(text.view());
    const std::string value = Read(qv::OwnedText::Copy(gbk), "data");
    JsonObject json;
    const bool parses = json.Parse(gbk.c_str());
    EXPECT_LT(jsontest::Now() - start, 1.0) << name;

    const bool failed = value == kJsonParseFailed;
    if (name == "n_multidigit_number_then_00.json") {
      // A text ends at its first NUL byte, so ToText hands on "123" of "123\0": the one document
      // of the suite whose NUL leaves JSON before it. Refusing such a body is up to the caller.
      EXPECT_EQ(Gbk(text.c_str()), Gbk("123"));
      EXPECT_TRUE(parses);
    } else if (name[0] == 'y' && name != "y_structure_lonely_null.json") {
      EXPECT_TRUE(parses) << name;
      EXPECT_FALSE(failed) << name;
    } else if (name[0] == 'n' || name == "y_structure_lonely_null.json") {
      EXPECT_FALSE(parses) << name;
      EXPECT_TRUE(failed) << name;
    }
    parsed += parses;
  }
  EXPECT_GE(parsed, 94);
}

}  // namespace
}  // namespace quorvane
