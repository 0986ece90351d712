// The HTTP front, spoken to over loopback as the query window does: POST to the platform path
// followed by the percent-escaped question, a GBK form body, a UTF-8 JSON reply.
#include "tools/answer_service/http_front.h"

#include <httplib.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "tests/tools/answer_service/bank_fixture.h"

namespace qv::answers {
namespace {

using testing::TempBank;

constexpr const char* kFormType = "application/x-www-form-urlencoded";
const std::string kSample = "指令系统中采用不同寻址方式的目的是";

std::string Escaped(std::string_view utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    if (c > 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

struct Reply {
  int status = 0;
  int code = -1;
  std::string data;
  std::string msg;
};

class HttpFrontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bank.Import("vm\t计算机组成原理\t第七章\t1\t" + kSample + "\t缩短指令长度\n"
                            "tdl\t计算机组成原理\t第七章\t1\t" + kSample + "\t天德尔的答案\n"
                            "vm\t数据结构\t第三章\t1\t栈的特点是\t后进先出\n"
                            "vm\t数据结构\t第五章\t3\t栈的特点是\t第五章的栈\n"
                            "vm\t计算机网络\t\t1\t线路复用的方式有哪些\t网络课的答案\n"
                            "vm\tC10\t\t1\t线路复用的方式有哪些\tC10课的答案\n"
                            "tdl\t计算机网络\t\t14\t为什么?请说明理由\t问号之后也是题目\n")
                    .imported);
    service = std::make_unique<AnswerService>(bank.path());
    port = service->Bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    serving = std::thread([this] { service->Serve(); });
  }
  void TearDown() override {
    if (service) service->Stop();
    if (serving.joinable()) serving.join();
  }

  Reply Post(const std::string& target, const std::string& body, const char* type = kFormType) {
    httplib::Client client("127.0.0.1", port);
    client.set_url_encode(false);
    client.set_read_timeout(10, 0);
    httplib::Headers headers = {
        {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; WOW64; rv:46.0) Gecko/20100101 Firefox/46.0"}};
    httplib::Result result = client.Post(target.c_str(), headers, body, type);
    Reply reply;
    if (!result) return reply;
    reply.status = result->status;
    nlohmann::json json = nlohmann::json::parse(result->body, nullptr, false);
    if (json.is_object()) {
      reply.code = json.value("code", -1);
      reply.data = json.value("data", "");
      reply.msg = json.value("msg", "");
    }
    return reply;
  }

  TempBank bank;
  std::unique_ptr<AnswerService> service;
  std::thread serving;
  int port = 0;
};

TEST_F(HttpFrontTest, AnswersBothPlatformsWithGbkFormFields) {
  struct Row {
    std::string target;
    std::string body;
    const char* data;
  } rows[] = {
      {"/vm/0/" + Escaped(kSample), "course=0&type=1", "缩短指令长度"},
      {"/tdl/0/" + Escaped(kSample), "course=0&type=", "天德尔的答案"},
      {"/vm/0/" + Escaped("栈的特点是"), "chapter=\xB5\xDA\xCE\xE5\xD5\xC2&course=0&type=", "第五章的栈"},
      {"/vm/0/" + Escaped("栈的特点是"), "chapter=\xB5\xDA\xC8\xFD\xD5\xC2&course=0&type=", "后进先出"},
      {"/vm/0/" + Escaped("栈的特点是"), "course=0&type=3", "第五章的栈"},
      // "0" means no course: taken as a course name it would pick the course "C10".
      {"/vm/0/" + Escaped("线路复用的方式有哪些"), "course=0&type=1", "网络课的答案"},
      {"/vm/0/" + Escaped("线路复用的方式有哪些"), "course=C10&type=1", "C10课的答案"},
      // An unescaped "?" belongs to the question, not to a query string.
      {"/tdl/0/" + Escaped("为什么") + "?" + Escaped("请说明理由"), "course=0&type=", "问号之后也是题目"},
      // A typed "%" that starts no escape is kept, and a space arrives as %20.
      {"/vm/0/" + Escaped(" 指令系统中采用不同寻址方式的目的是 ") + "%", "course=0&type=", "缩短指令长度"},
  };
  for (const Row& row : rows) {
    Reply reply = Post(row.target, row.body);
    EXPECT_EQ(reply.status, 200) << row.target;
    EXPECT_EQ(reply.code, 0) << row.target;
    EXPECT_EQ(reply.data, row.data) << row.target << " " << reply.data;
  }
}

TEST_F(HttpFrontTest, SimilarQuestionAnswerNamesTheQuestionItMatched) {
  Reply reply = Post("/vm/0/" + Escaped("指令系统中采用不同寻址方法的目的是"), "course=0&type=1");
  EXPECT_EQ(reply.code, 0);
  EXPECT_EQ(reply.data.rfind("缩短指令长度（", 0), 0u) << reply.data;
  EXPECT_NE(reply.data.find("“" + kSample + "”"), std::string::npos) << reply.data;
  EXPECT_NE(reply.data.find("相似度 80%"), std::string::npos) << reply.data;
}

TEST_F(HttpFrontTest, EmptyQuestionGetsUsageAndUnknownQuestionSaysSo) {
  Reply usage = Post("/vm/0/", "course=0&type=");
  EXPECT_EQ(usage.status, 200);
  EXPECT_EQ(usage.msg.rfind("请先输入题目再查询", 0), 0u) << usage.msg;
  EXPECT_NE(usage.msg.find("14 判断题"), std::string::npos);

  Reply unknown = Post("/tdl/0/" + Escaped("量子力学的基本假设有哪些"), "course=0&type=");
  EXPECT_EQ(unknown.status, 200);
  EXPECT_EQ(unknown.code, 1);
  EXPECT_EQ(unknown.data.rfind("题库中没有找到这道题", 0), 0u) << unknown.data;
}

TEST_F(HttpFrontTest, BadInputGetsAClearJsonReply) {
  std::string longQuestion;
  for (int i = 0; i < 10000; ++i) longQuestion += "题";
  struct Row {
    const char* name;
    std::string target;
    std::string body;
    const char* type;
    int status;
    const char* words;  // expected at the start of "data" and "msg"
  } rows[] = {
      {"ill-formed UTF-8", "/vm/0/%FF%FE", "course=0&type=", kFormType, 400, "地址中的题目不是有效的 UTF-8"},
      {"truncated UTF-8", "/vm/0/%E6%A0", "course=0&type=", kFormType, 400, "地址中的题目不是有效的 UTF-8"},
      {"NUL in the question", "/vm/0/a%00b", "course=0&type=", kFormType, 400, "地址中的题目不是有效的 UTF-8"},
      {"invalid GBK", "/vm/0/abc", "chapter=\x81\x20&course=0", kFormType, 400, "表单内容不是有效的 GBK"},
      {"GBK cut off", "/vm/0/abc", "course=0&type=1&chapter=\xB5", kFormType, 400, "表单内容不是有效的 GBK"},
      {"not a form", "/vm/0/abc", "hello", kFormType, 400, "表单格式不正确"},
      {"type not a number", "/vm/0/abc", "course=0&type=abc", kFormType, 400, "题型“abc”不是数字"},
      {"form over 8 KB", "/vm/0/abc", "course=" + std::string(9000, 'x'), kFormType, 413, "请求内容过大"},
      {"body over 1 MB", "/vm/0/abc", std::string((1 << 20) + 1, 'x'), "text/plain", 413, "请求内容过大"},
      {"10,000 characters", "/vm/0/" + Escaped(longQuestion), "course=0", kFormType, 414, "题目太长"},
      {"unknown path", "/xyz/0/abc", "course=0", kFormType, 404, "没有这个地址"},
  };
  for (const Row& row : rows) {
    Reply reply = Post(row.target, row.body, row.type);
    EXPECT_EQ(reply.status, row.status) << row.name;
    EXPECT_EQ(reply.code, 2) << row.name;
    EXPECT_EQ(reply.data.rfind(row.words, 0), 0u) << row.name << ": " << reply.data;
    EXPECT_EQ(reply.msg, reply.data) << row.name;
  }
  // A question as long as the request line allows is still looked up (and not found).
  std::string letters;
  for (int i = 0; i < 8100; ++i) letters += static_cast<char>('a' + i % 26);
  Reply longest = Post("/vm/0/" + letters, "course=0");
  EXPECT_EQ(longest.status, 200);
  EXPECT_EQ(longest.code, 1);
  // A value holding "&" keeps it; GET is not the query.
  EXPECT_EQ(Post("/vm/0/" + Escaped("栈的特点是"), "chapter=\xB5\xDA\xCE\xE5\xD5\xC2&x&course=0").data, "第五章的栈");
  httplib::Client client("127.0.0.1", port);
  httplib::Result get = client.Get("/vm/0/abc");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 404);
  EXPECT_NE(get->body.find("\"code\":2"), std::string::npos) << get->body;
}

TEST_F(HttpFrontTest, ConcurrentClientsEachGetTheirOwnAnswer) {
  struct Ask {
    std::string target;
    std::string data;
  };
  const std::vector<Ask> asks = {
      {"/vm/0/" + Escaped(kSample), "缩短指令长度"},
      {"/tdl/0/" + Escaped(kSample), "天德尔的答案"},
      {"/vm/0/" + Escaped("栈的特点是"), "后进先出"},
      {"/vm/0/%FF", "地址中的题目不是有效的 UTF-8 文字，无法查找。"},
  };
  std::vector<std::thread> clients;
  std::vector<int> wrong(8, 0);
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < 25; ++i) {
        const Ask& ask = asks[static_cast<size_t>(c + i) % asks.size()];
        if (Post(ask.target, "course=0&type=").data != ask.data) ++wrong[c];
      }
    });
  }
  for (std::thread& client : clients) client.join();
  for (int c = 0; c < 8; ++c) EXPECT_EQ(wrong[c], 0) << "client " << c;
}

TEST(AnswerService, StopsWhetherOrNotServingHasBegun) {
  TempBank bank;
  ASSERT_TRUE(bank.Import("vm\t\t\t1\t题目\t答案\n").imported);
  AnswerService early(bank.path());
  ASSERT_GT(early.Bind("127.0.0.1", 0), 0);
  early.Stop();
  EXPECT_FALSE(early.Serve());  // returns at once instead of serving for ever

  for (int round = 0; round < 20; ++round) {  // a stop racing the start of the accept loop
    AnswerService service(bank.path());
    ASSERT_GT(service.Bind("127.0.0.1", 0), 0);
    std::thread serving([&] { service.Serve(); });
    service.Stop();
    serving.join();
  }
  EXPECT_THROW(AnswerService(bank.path() + ".missing"), StoreError);
}

}  // namespace
}  // namespace qv::answers
