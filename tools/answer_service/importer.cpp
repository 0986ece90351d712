#include "tools/answer_service/importer.h"

#include <charconv>
#include <map>
#include <string_view>
#include <optional>
#include <tuple>
#include <variant>

#include "tools/answer_service/normaliser.h"

namespace qv::answers {
namespace {

constexpr std::string_view kHeader = "platform\tcourse\tchapter\ttype\tquestion\tanswer";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

struct Parsed {
  Platform platform;
  BankEntry entry;
};

// Turns one line into an entry, or says what is wrong with it.
std::variant<Parsed, std::string> ParseLine(std::string_view line) {
  if (!IsWellFormedUtf8(line)) return std::string("not UTF-8 text");
  std::vector<std::string_view> fields = SplitTabs(line);
  if (fields.size() != 6) {
    return std::to_string(fields.size()) +
           " fields, expected 6 separated by tabs (platform, course, chapter, type, question, answer)";
  }
  Parsed parsed{};
  std::string_view platformName = Trim(fields[0]);
  std::optional<Platform> platform = PlatformFromName(platformName);
  if (!platform) return "unknown platform \"" + std::string(platformName) + "\" (use vm or tdl)";
  parsed.platform = *platform;
  std::string_view typeText = Trim(fields[3]);
  int type = 0;
  auto [end, error] = std::from_chars(typeText.data(), typeText.data() + typeText.size(), type);
  if (error != std::errc() || end != typeText.data() + typeText.size() || !IsKnownType(type)) {
    return "question type \"" + std::string(typeText) + "\" is not one of 1, 2, 3, 4, 14";
  }
  BankEntry& entry = parsed.entry;
  entry.course = Trim(fields[1]);
  entry.chapter = Trim(fields[2]);
  entry.type = type;
  entry.question = Trim(fields[4]);
  entry.answer = Trim(fields[5]);
  entry.questionNorm = NormaliseForMatching(entry.question);
  entry.courseNorm = NormaliseForMatching(entry.course);
  entry.chapterNorm = NormaliseForMatching(entry.chapter);
  if (entry.questionNorm.empty()) return std::string("the question is empty (or only punctuation)");
  if (entry.answer.empty()) return std::string("the answer is empty");
  return parsed;
}

}  // namespace

bool IsKnownType(int type) {
  return type == 1 || type == 2 || type == 3 || type == 4 || type == 14;
}

ImportReport ImportBank(Store& store, std::istream& tsv) {
  ImportReport report;
  std::string line;
  if (!std::getline(tsv, line)) {
    report.problems.push_back("line 1: the file is empty; nothing was imported");
    return report;
  }
  std::string_view header = line;
  if (header.substr(0, kByteOrderMark.size()) == kByteOrderMark) header.remove_prefix(kByteOrderMark.size());
  if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
  if (header != kHeader) {
    report.problems.push_back(
        "line 1: expected the header \"platform<TAB>course<TAB>chapter<TAB>type<TAB>question<TAB>answer\"; "
        "nothing was imported");
    return report;
  }

  // The key under which a question may appear once, and the line that brought it.
  using Key = std::tuple<Platform, std::string, std::string, std::string, int>;
  std::map<Key, size_t> seen;
  std::vector<Parsed> good;
  for (size_t number = 2; std::getline(tsv, line); ++number) {
    if (Trim(line).empty()) continue;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto parsed = ParseLine(line);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
      report.problems.push_back("line " + std::to_string(number) + ": " + *problem);
      continue;
    }
    Parsed& entry = std::get<Parsed>(parsed);
    Key key{entry.platform, entry.entry.questionNorm, entry.entry.courseNorm, entry.entry.chapterNorm,
            entry.entry.type};
    auto [it, fresh] = seen.emplace(std::move(key), number);
    if (!fresh) {
      report.problems.push_back("line " + std::to_string(number) + ": the same question as line " +
                                std::to_string(it->second) + " (same platform, course, chapter and type)");
      continue;
    }
    good.push_back(std::move(entry));
  }
  if (tsv.bad()) {
    report.problems.push_back("the file could not be read to its end; nothing was imported");
    return report;
  }
  if (good.empty()) {
    report.problems.push_back("no line could be imported; the bank was left as it was");
    return report;
  }

  try {
    Store::Replacement replacement(store);
    for (const Parsed& entry : good) {
      replacement.Add(entry.platform, entry.entry);
      ++report.added[entry.platform == Platform::kVelmora ? 0 : 1];
    }
    replacement.Commit();
    report.imported = true;
  } catch (const StoreError& error) {
    report.added[0] = report.added[1] = 0;
    report.problems.push_back(std::string(error.what()) + "; the bank was left as it was");
  }
  return report;
}

}  // namespace qv::answers
