// Lookup time of the answer service's matcher in a generated bank.
//
//   answer_lookup_bench [--questions N] [--queries M]
//
// Generates N questions (100,000 by default) from course-question phrasing and random words,
// imports them into a fresh bank in the temporary directory, then times M lookups (1,000) of each
// kind through the same Matcher the service uses: exact (a bank question typed with different
// punctuation and width), fuzzy (a bank question with one or two characters changed) and
// unknown (a question that is not in the bank). It prints the median and 95th percentile of each,
// and how many lookups found the question they were made from, in wall-clock and
// processor time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "tools/answer_service/importer.h"
#include "tools/answer_service/matcher.h"
#include "tools/answer_service/normaliser.h"
#include "tools/answer_service/store.h"

namespace {

using namespace qv::answers;
using Clock = std::chrono::steady_clock;

constexpr const char32_t* kTemplates[] = {
    U"下列关于{}的说法中，正确的是",
    U"{}{}的主要作用是",
    U"在{}中，{}和{}的区别是什么？",
    U"简述{}的{}过程。",
    U"{}属于{}的{}。",
    U"{}是指{}{}，对吗？",
    U"以下哪一项不是{}的特点",
    U"{}采用{}的目的是",
};

class Generator {
 public:
  explicit Generator(unsigned seed) : m_random(seed) {
    for (int i = 0; i < 3000; ++i) {
      std::u32string word;
      int length = 2 + static_cast<int>(m_random() % 3);
      for (int k = 0; k < length; ++k) word += RandomHan();
      m_words.push_back(word);
    }
  }

  char32_t RandomHan() { return static_cast<char32_t>(0x4E00 + m_random() % 2500); }
  const std::u32string& RandomWord() { return m_words[m_random() % m_words.size()]; }

  std::u32string Question() {
    std::u32string_view shape = kTemplates[m_random() % std::size(kTemplates)];
    std::u32string text;
    for (size_t i = 0; i < shape.size(); ++i) {
      if (shape.substr(i, 2) == U"{}") {
        text += RandomWord();
        ++i;
      } else {
        text += shape[i];
      }
    }
    for (int extra = static_cast<int>(m_random() % 3); extra > 0; --extra) text += RandomWord();
    return text;
  }

  // Words only, none of the phrasing the bank's questions share.
  std::u32string Unknown() {
    std::u32string text;
    for (int words = 4 + static_cast<int>(m_random() % 4); words > 0; --words) text += RandomWord();
    return text;
  }

  // Changes one character of a short question, two of a longer one (never punctuation).
  std::u32string Misspelt(std::u32string text) {
    int changes = text.size() < 20 ? 1 : 2;
    while (changes > 0) {
      size_t at = m_random() % text.size();
      if (text[at] < 0x4E00) continue;
      text[at] = RandomHan();
      --changes;
    }
    return text;
  }

  std::mt19937& random() { return m_random; }

 private:
  std::mt19937 m_random;
  std::vector<std::u32string> m_words;
};

// Typed differently: full-width question mark and spaces added, punctuation dropped.
std::u32string Retyped(std::u32string text) {
  std::u32string out;
  for (char32_t c : text) {
    if (c == U'，' || c == U'。' || c == U'？') continue;
    out += c;
  }
  return U"  " + out + U" ？";
}

// The calling thread's processor time: on a busy machine it shows what a lookup costs when the
// wall-clock time includes waiting for a processor.
double ThreadCpuMicros() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

struct Timing {
  double median = 0;
  double p95 = 0;
};

Timing Summarise(std::vector<double> micros) {
  std::sort(micros.begin(), micros.end());
  return {micros[micros.size() / 2], micros[micros.size() * 95 / 100]};
}

}  // namespace

int main(int argc, char** argv) {
  size_t questions = 100000;
  size_t queries = 1000;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string arg = argv[i];
    if (arg == "--questions") questions = std::stoul(argv[i + 1]);
    else if (arg == "--queries") queries = std::stoul(argv[i + 1]);
  }
  std::filesystem::path bank =
      std::filesystem::temp_directory_path() / ("answer_lookup_bench-" + std::to_string(getpid()) + ".sqlite3");

  Generator generator(20240611);
  std::vector<std::u32string> texts;
  std::ostringstream tsv;
  tsv << "platform\tcourse\tchapter\ttype\tquestion\tanswer\n";
  for (size_t i = 0; i < questions; ++i) {
    texts.push_back(generator.Question());
    tsv << "vm\t课程" << (i % 40) << "\t第" << (i % 12 + 1) << "章\t" << (i % 4 + 1) << "\t" << ToUtf8(texts.back())
        << "\t答案" << i << "\n";
  }

  auto importStart = Clock::now();
  ImportReport report;
  {
    Store writer(bank.string(), Store::Access::kWrite);
    std::istringstream input(tsv.str());
    report = ImportBank(writer, input);
  }
  double importSeconds = std::chrono::duration<double>(Clock::now() - importStart).count();
  if (!report.imported) {
    std::fprintf(stderr, "import failed: %s\n", report.problems.empty() ? "?" : report.problems.back().c_str());
    return 1;
  }

  Store store(bank.string(), Store::Access::kRead);
  Matcher matcher(store);
  struct Kind {
    const char* name;
    std::vector<double> micros;
    std::vector<double> cpuMicros;
    size_t hits = 0;
  } kinds[] = {{"exact", {}, {}, 0}, {"fuzzy", {}, {}, 0}, {"unknown", {}, {}, 0}};
  for (size_t q = 0; q < queries; ++q) {
    size_t origin = generator.random()() % texts.size();
    std::u32string typed[] = {Retyped(texts[origin]), generator.Misspelt(texts[origin]), generator.Unknown()};
    for (int k = 0; k < 3; ++k) {
      Question question{Platform::kVelmora, ToUtf8(typed[k]), "", "", std::nullopt};
      double cpuStart = ThreadCpuMicros();
      auto start = Clock::now();
      Match match = matcher.Find(question);
      kinds[k].micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      kinds[k].cpuMicros.push_back(ThreadCpuMicros() - cpuStart);
      bool hit = k < 2 ? match.entry.questionNorm == NormaliseForMatching(ToUtf8(texts[origin]))
                       : match.kind == Match::Kind::kNone;
      kinds[k].hits += hit;
    }
  }

  std::printf("bank: %zu questions imported in %.1f s (%zu lines skipped)\n", report.added[0], importSeconds,
              report.problems.size());
  for (const Kind& kind : kinds) {
    Timing t = Summarise(kind.micros);
    Timing cpu = Summarise(kind.cpuMicros);
    std::printf("%-8s lookups: median %7.3f ms (cpu %7.3f ms), p95 %7.3f ms (cpu %7.3f ms), %zu/%zu %s\n",
                kind.name, t.median / 1000, cpu.median / 1000, t.p95 / 1000, cpu.p95 / 1000, kind.hits, queries,
                kind.name[0] == 'u' ? "found nothing" : "found their question");
  }
  std::filesystem::remove(bank);
  std::filesystem::remove(bank.string() + "-wal");
  std::filesystem::remove(bank.string() + "-shm");
  return 0;
}
