#include "app/query_action.h"

#include <cstdint>

#include "app/answer_service.h"
#include "app/main_window.h"
#include "app/program.h"
#include "http/code_pages.h"
#include "http/name_value_list.h"
#include "http/web_request.h"
#include "json/json_object.h"
#include "runtime/commands/command_front.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/owned.h"
#include "runtime/windows/property_front.h"

namespace quorvane {
namespace {

using qv::OwnedByteSet;
using qv::OwnedText;

// Property numbers of the components this action touches.
constexpr int32_t kContentProperty = 8;   // an edit box's text
constexpr int32_t kCheckedProperty = 18;  // a radio box's checked state, 1 when checked
constexpr int32_t kPostMethod = 1;

constexpr const char* kFormContentType = "application/x-www-form-urlencoded";
constexpr const char* kBrowserAgent = "Mozilla/5.0 (Windows NT 6.1; WOW64; rv:46.0) Gecko/20100101 Firefox/46.0";

OwnedText ReadBox(uint32_t box) { return qv::ReadTextProperty(kMainWindowId, box, kContentProperty); }

bool IsChecked(uint32_t radio) { return qv::ReadNumberProperty(kMainWindowId, radio, kCheckedProperty) == 1; }

bool IsEmpty(const OwnedText& text) { return qv::CompareTexts(text.get(), "") == 0; }

}  // namespace

void QueryButtonClick() {
  // Both lists are this click's own; they are destroyed when it returns, whatever happened.
  NameValueList form;
  NameValueList headers;

  // The platform chosen now. When neither box is checked the previous click's base stays; the
  // two boxes form one group, so at most one of them is checked.
  if (IsChecked(kVelmoraRadioId)) ServiceBase() = OwnedText::Copy(VelmoraServiceBase());
  if (IsChecked(kTandrelRadioId)) ServiceBase() = OwnedText::Copy(TandrelServiceBase());

  // The question goes into the address as typed; escaping it is the request routine's and the HTTP
  // service's business.
  const OwnedText question = ReadBox(kQuestionBoxId);
  const OwnedText address = OwnedText::Adopt(qv::ConcatTexts(ServiceBase().get(), question.get()));
  const int32_t method = kPostMethod;

  const OwnedText type = ReadBox(kTypeBoxId);
  OwnedText course = ReadBox(kCourseBoxId);
  if (IsEmpty(course)) course = OwnedText::Copy("0");
  const OwnedText chapter = ReadBox(kChapterBoxId);
  if (!IsEmpty(chapter)) form.Add("chapter", chapter.get());
  form.Add("course", course.get());
  form.Add("type", type.get());
  // The values go out as they were typed, GBK bytes without escaping.
  const OwnedText formText = form.ToFormText();

  headers.Add("Content-type", kFormContentType);
  headers.Add("User-Agent", kBrowserAgent);
  const OwnedText headerText = headers.ToHeaderText();

  // The routine's own text result follows the page's charset declaration; the service always
  // answers in UTF-8, so the body bytes are decoded here instead.
  OwnedByteSet replyBody;
  WebRequestArguments request;
  request.method = method;
  request.postText = formText.get();
  request.extraHeaders = headerText.get();
  request.responseBytes = &replyBody;
  WebRequest(address.get(), request);

  // A zero byte in the body ends the text there; an empty body gives the empty text.
  OwnedText replyText = Utf8ToGbk(qv::cmd::ToText(replyBody.view()).get());

  if (IsEmpty(ReadBox(kQuestionBoxId))) {
    const OwnedText message = ReadJsonValue(replyText, "msg");
    qv::WriteTextProperty(kMainWindowId, kAnswerBoxId, kContentProperty, message.get());
  }
  if (!IsEmpty(ReadBox(kQuestionBoxId))) {
    const OwnedText data = ReadJsonValue(replyText, "data");
    const OwnedText answer = OwnedText::Adopt(qv::ConcatTexts("答案：", data.get()));
    qv::WriteTextProperty(kMainWindowId, kAnswerBoxId, kContentProperty, answer.get());
  }
}

}  // namespace quorvane
