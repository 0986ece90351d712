#include "tools/answer_service/http_front.h"

#include <httplib.h>

#include <cctype>
#include <charconv>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>
#include <vector>

#include "tools/answer_service/matcher.h"
#include "tools/answer_service/normaliser.h"
#include "tools/answer_service/store.h"

namespace qv::answers {
namespace {

constexpr std::string_view kUsage =
    "请先输入题目再查询。题目接在 /vm/0/（Velmora）或 /tdl/0/（Tandrel）之后用 POST 提交；"
    "表单可带 course（课程，0 表示不限）、chapter（章节）、type（题型：1 单选题，2 多选题，"
    "3 填空题，4 问答题，14 判断题）来缩小查找范围。";
constexpr std::string_view kNotFound =
    "题库中没有找到这道题。请检查题目是否输入完整、有无错字，或换个平台再查。";

struct Reply {
  int status = 200;
  ReplyCode code = ReplyCode::kAnswered;
  std::string data;
  std::string msg;
};

Reply Problem(int status, std::string text) {
  ReplyCode code = status >= 500 ? ReplyCode::kServiceError : ReplyCode::kBadRequest;
  return Reply{status, code, text, text};
}

void Send(httplib::Response& res, const Reply& reply) {
  nlohmann::json body = {{"code", static_cast<int>(reply.code)}, {"data", reply.data}, {"msg", reply.msg}};
  res.status = reply.status;
  // Bank texts are checked UTF-8, but a reply must never fail to serialise: replace, do not throw.
  res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                  "application/json; charset=utf-8");
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Undoes the percent escapes of the question part of the address. A "%" that is not followed by
// two hex digits is kept as it is: clients send a typed "%" unescaped.
std::string PercentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct Form {
  std::string chapter;
  std::string course;
  std::string type;
};

// Reads "name=value&..." as sent by the query window: values are raw text, neither "&" nor "="
// inside them escaped. A part that does not start with a known name therefore continues the value
// before it ("chapter=C&C++" keeps "C&C++"); unknown fields before the first known one are ignored.
std::optional<Form> ParseForm(std::string_view body) {
  Form form;
  std::string* last = nullptr;
  if (body.empty()) return form;
  for (size_t start = 0; start <= body.size();) {
    size_t amp = body.find('&', start);
    std::string_view part = body.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
    start = amp == std::string_view::npos ? body.size() + 1 : amp + 1;
    size_t eq = part.find('=');
    std::string_view name = eq == std::string_view::npos ? std::string_view() : part.substr(0, eq);
    std::string* field = name == "chapter" ? &form.chapter
                         : name == "course" ? &form.course
                         : name == "type"   ? &form.type
                                            : nullptr;
    if (field) {
      *field = part.substr(eq + 1);
      last = field;
    } else if (last) {
      *last += '&';
      *last += part;
    } else if (eq == std::string_view::npos) {
      return std::nullopt;
    }
  }
  return form;
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return std::string(text);
}

bool DeclaresUtf8(std::string_view contentType) {
  std::string lower;
  for (char c : contentType) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("charset=utf-8") != std::string::npos || lower.find("charset=utf8") != std::string::npos;
}

std::string Percent(double share) { return std::to_string(static_cast<int>(share * 100 + 0.5)) + "%"; }

// One store and matcher per request in flight: a SQLite connection is used by one thread at a time.
class MatcherPool {
 public:
  explicit MatcherPool(std::string path) : m_path(std::move(path)) { Return(Create()); }

  struct Slot {
    explicit Slot(const std::string& path) : store(path, Store::Access::kRead), matcher(store) {}
    Store store;
    Matcher matcher;
  };

  Match Find(const Question& question) {
    std::unique_ptr<Slot> slot = Take();
    Match match = slot->matcher.Find(question);
    Return(std::move(slot));
    return match;
  }

 private:
  std::unique_ptr<Slot> Create() { return std::make_unique<Slot>(m_path); }
  std::unique_ptr<Slot> Take() {
    {
      std::lock_guard lock(m_mutex);
      if (!m_idle.empty()) {
        std::unique_ptr<Slot> slot = std::move(m_idle.back());
        m_idle.pop_back();
        return slot;
      }
    }
    return Create();
  }
  void Return(std::unique_ptr<Slot> slot) {
    std::lock_guard lock(m_mutex);
    m_idle.push_back(std::move(slot));
  }

  std::string m_path;
  std::mutex m_mutex;
  std::vector<std::unique_ptr<Slot>> m_idle;
};

Reply Answer(MatcherPool& pool, const httplib::Request& req) {
  std::string_view target = req.target;
  std::optional<Platform> platform;
  for (Platform candidate : kPlatforms) {
    std::string prefix = "/" + std::string(PlatformName(candidate)) + "/0/";
    if (target.substr(0, prefix.size()) == prefix) {
      platform = candidate;
      target.remove_prefix(prefix.size());
      break;
    }
  }
  if (!platform) return Problem(400, "地址不正确：题目应接在 /vm/0/ 或 /tdl/0/ 之后。");
  std::string text = PercentDecoded(target);
  if (!IsWellFormedUtf8(text) || text.find('\0') != std::string::npos) {
    return Problem(400, "地址中的题目不是有效的 UTF-8 文字，无法查找。");
  }

  std::string body;
  if (DeclaresUtf8(req.get_header_value("Content-Type"))) {
    if (!IsWellFormedUtf8(req.body)) return Problem(400, "表单声明为 UTF-8，但内容不是有效的 UTF-8 文字。");
    body = req.body;
  } else {
    std::optional<std::string> decoded = GbkToUtf8(req.body);
    if (!decoded) return Problem(400, "表单内容不是有效的 GBK 文字，无法读取课程、章节和题型。");
    body = std::move(*decoded);
  }
  std::optional<Form> form = ParseForm(body);
  if (!form) return Problem(400, "表单格式不正确：应为 chapter=章节&course=课程&type=题型。");

  Question question;
  question.platform = *platform;
  question.text = std::move(text);
  question.chapter = Trimmed(form->chapter);
  question.course = Trimmed(form->course);
  if (question.course == "0") question.course.clear();
  std::string type = Trimmed(form->type);
  if (!type.empty()) {
    int number = 0;
    auto [end, error] = std::from_chars(type.data(), type.data() + type.size(), number);
    if (error != std::errc() || end != type.data() + type.size()) {
      return Problem(400, "题型“" + type + "”不是数字：1 单选题，2 多选题，3 填空题，4 问答题，14 判断题。");
    }
    question.type = number;
  }

  if (question.text.empty()) return Reply{200, ReplyCode::kAnswered, std::string(kUsage), std::string(kUsage)};
  Match match = pool.Find(question);
  switch (match.kind) {
    case Match::Kind::kExact:
      return Reply{200, ReplyCode::kAnswered, match.entry.answer, "已找到答案"};
    case Match::Kind::kSimilar:
      return Reply{200, ReplyCode::kAnswered,
                   match.entry.answer + "（题库中没有完全相同的题目，这是最相近的题目“" + match.entry.question +
                       "”的答案，相似度 " + Percent(match.shared) + "）",
                   "按相近题目找到答案"};
    case Match::Kind::kNone:
      break;
  }
  return Reply{200, ReplyCode::kNotFound, std::string(kNotFound), "未找到答案"};
}

// Words for the statuses that the HTTP library sets itself, before any handler runs.
std::string StatusText(int status) {
  switch (status) {
    case 400: return "请求格式不正确，无法处理。";
    case 404: return "没有这个地址：请用 POST 提交到 /vm/0/ 或 /tdl/0/ 后接题目。";
    case 413: return "请求内容过大，无法处理：请只提交题目、课程、章节和题型。";
    case 414: return "题目太长，无法处理：请只输入题干。";
    default: return "请求无法处理（HTTP 状态 " + std::to_string(status) + "）。";
  }
}

}  // namespace

struct AnswerService::Impl {
  explicit Impl(std::string path) : pool(std::move(path)) {}
  MatcherPool pool;
  httplib::Server server;
  std::mutex mutex;
  bool bound = false;
  bool serving = false;  // Serve() is under way
  bool stopped = false;  // Stop() was called; a later Serve() returns at once
};

AnswerService::AnswerService(std::string bankPath) : m_impl(std::make_unique<Impl>(std::move(bankPath))) {
  httplib::Server& server = m_impl->server;
  server.set_payload_max_length(kMaxBodyBytes);
  // The question follows the platform path; [\s\S] also takes escaped line breaks.
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    Send(res, Answer(m_impl->pool, req));
  };
  server.Post(R"(/vm/0/[\s\S]*)", handler);
  server.Post(R"(/tdl/0/[\s\S]*)", handler);
  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        Send(res, Problem(res.status, StatusText(res.status)));
        return httplib::Server::HandlerResponse::Handled;
      }));
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
    std::string detail;
    try {
      if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
      detail = e.what();
    } catch (...) {
    }
    Send(res, Problem(500, "答案服务内部出错，请稍后再试。" + (detail.empty() ? "" : "（" + detail + "）")));
  });
}

AnswerService::~AnswerService() { Stop(); }

int AnswerService::Bind(const std::string& host, int port) {
  httplib::Server& server = m_impl->server;
  int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  m_impl->bound = bound > 0;
  return bound > 0 ? bound : -1;
}

bool AnswerService::Serve() {
  {
    std::lock_guard lock(m_impl->mutex);
    if (!m_impl->bound || m_impl->stopped) return false;
    m_impl->serving = true;
  }
  bool served = m_impl->server.listen_after_bind();
  std::lock_guard lock(m_impl->mutex);
  m_impl->serving = false;
  return served;
}

void AnswerService::Stop() {
  {
    std::lock_guard lock(m_impl->mutex);
    m_impl->stopped = true;
    if (!m_impl->serving) return;
  }
  // The server ignores a stop that comes before its accept loop has started, so wait for that.
  while (!m_impl->server.is_running()) {
    {
      std::lock_guard lock(m_impl->mutex);
      if (!m_impl->serving) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  m_impl->server.stop();
}

}  // namespace qv::answers
