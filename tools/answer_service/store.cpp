#include "tools/answer_service/store.h"

#include <sqlite3.h>

#include <utility>

namespace qv::answers {
namespace {

[[noreturn]] void Fail(sqlite3* db, std::string_view what) {
  std::string message(what);
  if (db) message += std::string(": ") + sqlite3_errmsg(db);
  throw StoreError(message);
}

std::string TableOf(Platform platform) { return std::string(PlatformName(platform)) + "_questions"; }
std::string IndexOf(Platform platform) { return std::string(PlatformName(platform)) + "_trigrams"; }
std::string TermsOf(Platform platform) { return std::string(PlatformName(platform)) + "_trigram_terms"; }

// A trigram as an FTS5 string: in double quotes, a quote inside doubled.
std::string Quoted(std::string_view term) {
  std::string quoted = "\"";
  for (char c : term) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

constexpr std::string_view kEntryColumns =
    "q.id, q.course, q.chapter, q.type, q.question, q.answer, q.question_norm, q.course_norm, "
    "q.chapter_norm";

BankEntry ReadEntry(const Statement& row) {
  BankEntry entry;
  entry.id = row.Integer(0);
  entry.course = row.Text(1);
  entry.chapter = row.Text(2);
  entry.type = static_cast<int>(row.Integer(3));
  entry.question = row.Text(4);
  entry.answer = row.Text(5);
  entry.questionNorm = row.Text(6);
  entry.courseNorm = row.Text(7);
  entry.chapterNorm = row.Text(8);
  return entry;
}

}  // namespace

std::string_view PlatformName(Platform platform) {
  return platform == Platform::kVelmora ? "vm" : "tdl";
}

std::optional<Platform> PlatformFromName(std::string_view name) {
  for (Platform platform : kPlatforms) {
    if (PlatformName(platform) == name) return platform;
  }
  return std::nullopt;
}

void ConnectionCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

Statement::Statement(sqlite3* db, std::string_view sql) : m_db(db) {
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr) != SQLITE_OK) {
    Fail(db, "cannot prepare a query of the question bank");
  }
}

Statement::Statement(Statement&& other) noexcept
    : m_db(other.m_db), m_stmt(std::exchange(other.m_stmt, nullptr)) {}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

Statement& Statement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) !=
      SQLITE_OK) {
    Fail(m_db, "cannot bind a text");
  }
  return *this;
}

Statement& Statement::Bind(int index, int64_t number) {
  if (sqlite3_bind_int64(m_stmt, index, number) != SQLITE_OK) Fail(m_db, "cannot bind a number");
  return *this;
}

bool Statement::Step() {
  int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(m_db, "question bank query failed");
}

void Statement::Run() {
  while (Step()) {
  }
}

void Statement::Reset() {
  sqlite3_reset(m_stmt);
  sqlite3_clear_bindings(m_stmt);
}

std::string Statement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
  return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(m_stmt, column))) : std::string();
}

int64_t Statement::Integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

// The statements of one platform's table, prepared once per connection.
struct Store::PlatformStatements {
  Statement byQuestion;
  Statement byId;
  Statement termCount;
  Statement idsWithTerm;
  Statement count;
  std::optional<Statement> insert;
};

Store::Store(const std::string& path, Access access) {
  sqlite3* raw = nullptr;
  int flags = SQLITE_OPEN_READWRITE | (access == Access::kWrite ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  m_db.reset(raw);
  if (rc != SQLITE_OK) Fail(m_db.get(), "cannot open the question bank " + path);
  sqlite3_extended_result_codes(m_db.get(), 1);
  sqlite3_busy_timeout(m_db.get(), 5000);
  if (access == Access::kWrite) {
    // WAL lets a running service keep answering from the old bank while an import writes.
    Execute("PRAGMA journal_mode=WAL");
    for (Platform platform : kPlatforms) {
      std::string table = TableOf(platform);
      Execute("CREATE TABLE IF NOT EXISTS " + table +
              "(id INTEGER PRIMARY KEY, course TEXT NOT NULL, chapter TEXT NOT NULL, "
              "type INTEGER NOT NULL, question TEXT NOT NULL, answer TEXT NOT NULL, "
              "question_norm TEXT NOT NULL, course_norm TEXT NOT NULL, chapter_norm TEXT NOT NULL, "
              "UNIQUE(question_norm, course_norm, chapter_norm, type))");
      Execute("CREATE VIRTUAL TABLE IF NOT EXISTS " + IndexOf(platform) +
              " USING fts5(question_norm, content='" + table +
              "', content_rowid='id', tokenize='trigram case_sensitive 1')");
    }
  }
  // The index's term list, kept in this connection only, tells how common each trigram is.
  for (Platform platform : kPlatforms) {
    Execute("CREATE VIRTUAL TABLE IF NOT EXISTS temp." + TermsOf(platform) + " USING fts5vocab(main, " +
            IndexOf(platform) + ", row)");
  }
  if (access == Access::kRead) Execute("PRAGMA query_only=ON");
  // Preparing every reading statement now reports a file without a bank at open, not at the
  // first question.
  for (Platform platform : kPlatforms) {
    std::string table = TableOf(platform);
    std::string index = IndexOf(platform);
    std::string columns(kEntryColumns);
    m_statements.push_back(std::make_unique<PlatformStatements>(PlatformStatements{
        Statement(m_db.get(), "SELECT " + columns + " FROM " + table +
                                  " q WHERE q.question_norm = ?1 ORDER BY q.id"),
        Statement(m_db.get(), "SELECT " + columns + " FROM " + table + " q WHERE q.id = ?1"),
        Statement(m_db.get(), "SELECT doc FROM temp." + TermsOf(platform) + " WHERE term = ?1"),
        Statement(m_db.get(), "SELECT rowid FROM " + index + " WHERE " + index + " MATCH ?1"),
        Statement(m_db.get(), "SELECT count(*) FROM " + table),
        std::nullopt}));
  }
}

Store::~Store() = default;

void Store::Execute(std::string_view sql) {
  Statement(m_db.get(), sql).Run();
}

Store::PlatformStatements& Store::StatementsFor(Platform platform) {
  return *m_statements[platform == Platform::kVelmora ? 0 : 1];
}

std::vector<BankEntry> Store::FindByQuestion(Platform platform, std::string_view questionNorm) {
  Statement& query = StatementsFor(platform).byQuestion;
  query.Reset();
  query.Bind(1, questionNorm);
  std::vector<BankEntry> rows;
  while (query.Step()) rows.push_back(ReadEntry(query));
  query.Reset();
  return rows;
}

std::optional<BankEntry> Store::FindById(Platform platform, int64_t id) {
  Statement& query = StatementsFor(platform).byId;
  query.Reset();
  query.Bind(1, id);
  std::optional<BankEntry> entry;
  if (query.Step()) entry = ReadEntry(query);
  query.Reset();
  return entry;
}

std::vector<int64_t> Store::QuestionsWithTrigrams(Platform platform, const std::vector<std::string>& trigrams) {
  Statement& query = StatementsFor(platform).termCount;
  std::vector<int64_t> counts;
  for (const std::string& trigram : trigrams) {
    query.Reset();
    query.Bind(1, trigram);
    counts.push_back(query.Step() ? query.Integer(0) : 0);
  }
  query.Reset();
  return counts;
}

std::vector<int64_t> Store::IdsWithTrigram(Platform platform, std::string_view trigram) {
  Statement& query = StatementsFor(platform).idsWithTerm;
  query.Reset();
  query.Bind(1, Quoted(trigram));
  std::vector<int64_t> ids;
  while (query.Step()) ids.push_back(query.Integer(0));
  query.Reset();
  return ids;
}

int64_t Store::Count(Platform platform) {
  Statement& query = StatementsFor(platform).count;
  query.Reset();
  int64_t count = query.Step() ? query.Integer(0) : 0;
  query.Reset();
  return count;
}

Store::Replacement::Replacement(Store& store) : m_store(store) {
  // IMMEDIATE takes the write lock now, so a second import waits (up to the busy time-out) instead
  // of failing half-way.
  m_store.Execute("BEGIN IMMEDIATE");
  m_open = true;
  for (Platform platform : kPlatforms) m_store.Execute("DELETE FROM " + TableOf(platform));
}

Store::Replacement::~Replacement() {
  if (m_open) sqlite3_exec(m_store.m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

Store::Replacement::Outcome Store::Replacement::Add(Platform platform, const BankEntry& entry) {
  auto& statements = m_store.StatementsFor(platform);
  if (!statements.insert) {
    statements.insert.emplace(m_store.m_db.get(),
                              "INSERT OR IGNORE INTO " + TableOf(platform) +
                                  "(course, chapter, type, question, answer, question_norm, course_norm, "
                                  "chapter_norm) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  }
  Statement& insert = *statements.insert;
  insert.Reset();
  insert.Bind(1, entry.course).Bind(2, entry.chapter).Bind(3, int64_t{entry.type});
  insert.Bind(4, entry.question).Bind(5, entry.answer).Bind(6, entry.questionNorm);
  insert.Bind(7, entry.courseNorm).Bind(8, entry.chapterNorm);
  insert.Run();
  bool added = sqlite3_changes(m_store.m_db.get()) > 0;
  insert.Reset();
  return added ? Outcome::kAdded : Outcome::kDuplicate;
}

void Store::Replacement::Commit() {
  for (Platform platform : kPlatforms) {
    std::string index = IndexOf(platform);
    m_store.Execute("INSERT INTO " + index + "(" + index + ") VALUES('rebuild')");
  }
  m_store.Execute("COMMIT");
  m_open = false;
}

}  // namespace qv::answers
