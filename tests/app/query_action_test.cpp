// The answer query end to end: the real main window, driven with keys and mouse clicks, posts to a
// service on 127.0.0.1 and shows what its reply says. Each case checks the request the service got
// and the answer box afterwards.
#include <gtest/gtest.h>


#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "app/main_window.h"
#include "app/program.h"
#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "common/qt_driver.h"
#include "platform/ui/ui.h"
#include "platform/ui/window.h"
#include "runtime/memory/memory.h"
#include "runtime/startup.h"
#include "runtime/windows/components.h"
#include "runtime/windows/properties.h"
#include "runtime/windows/window_loader.h"
#include "tests/app/query_service.h"
#include "tests/app/query_test_host.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using qvtest::Gbk;
using qvtest::QueryService;

// UTF-8 bytes of a literal (this file's narrow literals are GBK).
std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// The percent-escaped UTF-8 of the sample question, as the HTTP service puts it on the wire.
constexpr const char* kSampleQuestionPath =
    "%E6%8C%87%E4%BB%A4%E7%B3%BB%E7%BB%9F%E4%B8%AD%E9%87%87%E7%94%A8%E4%B8%8D%E5%90%8C%E5%AF%BB%E5%9D%80%E6%96%B9"
    "%E5%BC%8F%E7%9A%84%E7%9B%AE%E7%9A%84%E6%98%AF";


class QueryActionTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    qvtest::DismissBoxesAndReport();  // a runtime error ends the run with its box text, not a hang
    qv::InitialiseRuntime(Description());
    qv::LoadWindow(kMainWindowId);
    win::ProcessPendingMessages();  // the window shows and paints before anyone can click
  }
  static void TearDownTestSuite() { qv::ShutdownRuntime(0); }
  void SetUp() override { qvtest::SetAnswerServicePort(service.Port()); }

  static win::HWND Control(uint32_t unit) {
    qv::Component* c = qv::FindLiveComponent(kMainWindowId, unit);
    return c != nullptr ? c->Handle() : nullptr;
  }
  static std::string Read(uint32_t unit) {
    char* text = reinterpret_cast<char*>(static_cast<intptr_t>(qv::ReadProperty(kMainWindowId, unit, 8, -1)));
    std::string result = text ? text : "";
    qv::RuntimeFree(text);
    return result;
  }
  static std::string Answer() { return Read(kAnswerBoxId); }
  // Replaces the box's text by typing, as a user would: select everything, then type over it.
  static void Type(uint32_t box, const std::u16string& text) {
    const win::HWND control = Control(box);
    win::SendMessageA(control, win::EM_SETSEL, 0, static_cast<win::LPARAM>(-1));
    if (text.empty())
      qvtest::PressBackspace(control);
    else
      qvtest::TypeCharacters(control, text);
  }
  static void Fill(const std::u16string& question, const std::u16string& course, const std::u16string& chapter,
                   const std::u16string& type) {
    Type(kQuestionBoxId, question);
    Type(kCourseBoxId, course);
    Type(kChapterBoxId, chapter);
    Type(kTypeBoxId, type);
  }
  static void Choose(uint32_t radio) { qvtest::ClickControl(Control(radio)); }
  static void Query() { qvtest::ClickControl(Control(kQueryButtonId)); }

  // The request that the last click sent.
  qvtest::CapturedRequest LastRequest() {
    const auto requests = service.Requests();
    return requests.empty() ? qvtest::CapturedRequest{} : requests.back();
  }

  QueryService service;
};

// What the boxes hold, what the service sends back, and what must come of it.
struct QueryCase {
  const char* name;
  std::u16string question, course, chapter, type;
  uint32_t platform;
  std::string reply;          // UTF-8
  std::string requestTarget;  // the address as it reached the service
  std::string body;           // GBK
  std::string answer;         // GBK
};

TEST_F(QueryActionTest, SendsTheBoxesAndShowsTheReply) {
  const std::u16string sample = u"指令系统中采用不同寻址方式的目的是";
  const QueryCase cases[] = {
      {"sample question with a chapter", sample, u"", u"第九章", u"1", kVelmoraRadioId,
       U8(u8R"({"code":1,"data":"缩短指令长度，扩大寻址空间","msg":"ok"})"), std::string("/vm/0/") + kSampleQuestionPath,
       "chapter=第九章&course=0&type=1", "答案：缩短指令长度，扩大寻址空间"},
      {"empty chapter: no field, course first", sample, u"计算机组成原理", u"", u"14", kVelmoraRadioId,
       R"({"data":"x"})", std::string("/vm/0/") + kSampleQuestionPath, "course=计算机组成原理&type=14", "答案：x"},
      {"empty type ends the body with type=", u"q", u"", u"", u"", kTandrelRadioId, R"({"data":"y"})",
       "/tdl/0/q", "course=0&type=", "答案：y"},
      {"& and = inside values go out unchanged", u"q", u"a&b=c", u"x=y", u"2", kVelmoraRadioId, R"({"data":"z"})",
       "/vm/0/q", "chapter=x=y&course=a&b=c&type=2", "答案：z"},
      {"empty question: the base alone, msg without prefix", u"", u"", u"", u"1", kVelmoraRadioId,
       U8(u8R"({"data":"d","msg":"请输入题目"})"), "/vm/0/", "course=0&type=1", "请输入题目"},
      {"spaces and Chinese in the question", u"a b 栈", u"", u"", u"1", kTandrelRadioId,
       U8(u8R"({"data":"先进后出"})"), "/tdl/0/a%20b%20%E6%A0%88", "course=0&type=1", "答案：先进后出"},
      {"reply that is not JSON", u"q", u"", u"", u"1", kVelmoraRadioId, "<html>502</html>", "/vm/0/q",
       "course=0&type=1", "答案：JSON解析失败"},
      {"reply without the member", u"q", u"", u"", u"1", kVelmoraRadioId, R"({"msg":"none"})", "/vm/0/q",
       "course=0&type=1", "答案："},
      {"empty question, reply without msg", u"", u"", u"", u"1", kVelmoraRadioId, R"({"data":"d"})", "/vm/0/",
       "course=0&type=1", ""},
      {"member that is null", u"q", u"", u"", u"1", kVelmoraRadioId, R"({"data":null})", "/vm/0/q",
       "course=0&type=1", "答案：null"},
      {"number and object members as JSON text", u"q", u"", u"", u"1", kVelmoraRadioId,
       R"({"data":{"a":[1,2.5]}})", "/vm/0/q", "course=0&type=1", "答案：{\"a\":[1,2.5]}"},
      {"a NUL byte ends the reply", u"q", u"", u"", u"1", kVelmoraRadioId,
       std::string(R"({"data":"cut"})") + '\0' + "trailing garbage", "/vm/0/q", "course=0&type=1", "答案：cut"},
      {"a NUL byte inside the JSON", u"q", u"", u"", u"1", kVelmoraRadioId,
       std::string(R"({"data":"c)") + '\0' + R"(ut"})", "/vm/0/q", "course=0&type=1", "答案：JSON解析失败"},
      {"a script expression is not run", u"q", u"", u"", u"1", kVelmoraRadioId,
       R"({"data":(function(){return "ran"})()})", "/vm/0/q", "course=0&type=1", "答案：JSON解析失败"},
      {"empty reply body", u"", u"", u"", u"1", kVelmoraRadioId, "", "/vm/0/", "course=0&type=1", "JSON解析失败"},
  };
  for (const QueryCase& c : cases) {
    SCOPED_TRACE(c.name);
    Fill(c.question, c.course, c.chapter, c.type);
    Choose(c.platform);
    service.SetReply(c.reply);
    const size_t before = service.Requests().size();
    Query();
    ASSERT_EQ(service.Requests().size(), before + 1);
    const qvtest::CapturedRequest request = LastRequest();
    EXPECT_EQ(request.requestLine, "POST " + c.requestTarget + " HTTP/1.1");
    EXPECT_EQ(Gbk(request.body), Gbk(c.body));
    EXPECT_EQ(Gbk(Answer()), Gbk(c.answer));
  }
}

TEST_F(QueryActionTest, SendsExactlyTheFormHeadersAndWhatTheHttpStackAdds) {
  Fill(u"q", u"", u"", u"1");
  Choose(kVelmoraRadioId);
  service.SetReply(R"({"data":"ok"})");
  Query();
  const qvtest::CapturedRequest request = LastRequest();
  EXPECT_EQ(request.requestLine, "POST /vm/0/q HTTP/1.1");
  // The action's two lines come first, then the request routine's defaults; the HTTP service adds
  // the host, the length and the connection lines wherever it puts them.
  const std::vector<std::string> ours = {
      "Content-Type: application/x-www-form-urlencoded",
      "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:46.0) Gecko/20100101 Firefox/46.0",
      "Accept: text/html, application/xhtml+xml, */*",
      "Accept-Encoding: gbk, GB2312",
      "Accept-Language: zh-cn",
      "Cache-Control: no-cache",
  };
  const std::vector<std::string> platform = {
      "Host: 127.0.0.1:" + std::to_string(service.Port()),
      "Content-Length: 15",
      "Connection: Keep-Alive",
  };
  std::vector<std::string> seenOurs, seenPlatform;
  for (const std::string& line : request.headers) {
    const bool added = std::find(platform.begin(), platform.end(), line) != platform.end();
    (added ? seenPlatform : seenOurs).push_back(line);
  }
  EXPECT_EQ(seenOurs, ours);
  EXPECT_EQ(seenPlatform.size(), platform.size());
  EXPECT_EQ(request.body, "course=0&type=1");
  EXPECT_EQ(Gbk(Answer()), Gbk("答案：ok"));
}

TEST_F(QueryActionTest, ThePlatformChosenAtEachClickPicksTheAddress) {
  service.SetReply(R"({"data":"x"})");
  Fill(u"q", u"", u"", u"1");
  Choose(kTandrelRadioId);
  Query();
  EXPECT_EQ(LastRequest().requestLine, "POST /tdl/0/q HTTP/1.1");
  Choose(kVelmoraRadioId);
  Query();
  EXPECT_EQ(LastRequest().requestLine, "POST /vm/0/q HTTP/1.1");
  Choose(kTandrelRadioId);
  Query();
  EXPECT_EQ(LastRequest().requestLine, "POST /tdl/0/q HTTP/1.1");
  // With neither box checked the previous click's platform stays.
  qv::WriteProperty(kMainWindowId, kTandrelRadioId, 18, -1, 0, 0);
  ASSERT_EQ(qv::ReadProperty(kMainWindowId, kVelmoraRadioId, 18, -1), 0);
  Query();
  EXPECT_EQ(LastRequest().requestLine, "POST /tdl/0/q HTTP/1.1");
  Choose(kVelmoraRadioId);
}

TEST_F(QueryActionTest, AnUnreachableServiceShowsAFailedParse) {
  qvtest::SetAnswerServicePort(qvtest::ClosedPort());
  Fill(u"q", u"", u"", u"1");
  Query();
  EXPECT_EQ(Gbk(Answer()), Gbk("答案：JSON解析失败"));
  Fill(u"", u"", u"", u"1");
  Query();
  EXPECT_EQ(Gbk(Answer()), Gbk("JSON解析失败"));
  EXPECT_TRUE(service.Requests().empty());
}

TEST_F(QueryActionTest, ASecondClickDuringASlowReplyRunsAndBothFinish) {
  Fill(u"q", u"", u"", u"1");
  Choose(kVelmoraRadioId);
  service.SetDelayMs(800);
  service.SetReplies({R"({"data":"first"})", R"({"data":"second"})"});
  // The user clicks again once the first request has reached the service, while its reply is on
  // the way.
  // Meanwhile the window is asked to repaint the answer box.
  const std::function<void()> secondClick = qvtest::QueuedClick(Control(kQueryButtonId));
  const std::function<void()> repaint = qvtest::QueuedRepaint(Control(kAnswerBoxId));
  service.OnRequest([&](size_t index) {
    if (index != 0) return;
    repaint();
    secondClick();
  });
  const qvtest::PaintWatch paints(Control(kAnswerBoxId));
  Query();
  const auto firstReturned = std::chrono::steady_clock::now();
  win::ProcessPendingMessages();  // a click still queued runs now
  ASSERT_TRUE(service.WaitForRequests(2, 5000));
  service.OnRequest(nullptr);
  const auto requests = service.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, requests[1].body);
  // The repaint happened while the first request still waited for its reply.
  EXPECT_GE(paints.CountBetween(requests[0].arrived, requests[0].arrived + 700ms), 1);
  // The run that finishes last writes last: a click taken while the first was waiting ran inside it
  // and finished before it.
  const bool nested = requests[1].arrived < firstReturned;
  std::printf("the second click ran %s\n", nested ? "inside the first one's request" : "after it");
  EXPECT_EQ(Gbk(Answer()), Gbk(nested ? "答案：first" : "答案：second"));
  service.SetDelayMs(0);
}

}  // namespace
}  // namespace quorvane
