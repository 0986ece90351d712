// The question bank: one SQLite database with a table of questions per platform and, beside each,
// an FTS5 trigram index over the normalised question. This is the one file that talks to SQLite;
// its failures become StoreError. Values only ever reach SQL through bound parameters; the table
// names are fixed by the platform, never taken from input.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace qv::answers {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Platform { kVelmora, kTandrel };
inline constexpr Platform kPlatforms[] = {Platform::kVelmora, Platform::kTandrel};

// "vm" and "tdl": the names in the service's paths and in the bank file.
std::string_view PlatformName(Platform platform);
std::optional<Platform> PlatformFromName(std::string_view name);

// One question of the bank. The *Norm members are the matching forms of their texts.
struct BankEntry {
  int64_t id = 0;
  std::string course;
  std::string chapter;
  int type = 0;
  std::string question;
  std::string answer;
  std::string questionNorm;
  std::string courseNorm;
  std::string chapterNorm;
};

struct ConnectionCloser {
  void operator()(sqlite3* db) const;
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

// Owns one prepared statement. Step() answers whether a row is ready; Reset() makes the statement
// reusable and clears its bindings.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&&) = delete;
  ~Statement();

  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, int64_t number);
  bool Step();
  void Run();  // steps a statement that yields no rows
  void Reset();
  std::string Text(int column) const;
  int64_t Integer(int column) const;

 private:
  sqlite3* m_db;
  sqlite3_stmt* m_stmt = nullptr;
};

class Store {
 public:
  enum class Access {
    kRead,   // the bank must exist; the connection is query-only
    kWrite,  // creates the file and its tables when missing
  };
  Store(const std::string& path, Access access);
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store();

  // Rows whose normalised question is exactly `questionNorm`, in the order they were imported.
  std::vector<BankEntry> FindByQuestion(Platform platform, std::string_view questionNorm);
  std::optional<BankEntry> FindById(Platform platform, int64_t id);
  // How many questions hold each trigram (three code points of normalised text, in UTF-8).
  std::vector<int64_t> QuestionsWithTrigrams(Platform platform, const std::vector<std::string>& trigrams);
  // The ids of the questions that hold the trigram.
  std::vector<int64_t> IdsWithTrigram(Platform platform, std::string_view trigram);
  int64_t Count(Platform platform);

  // Replaces the whole bank in one transaction: the bank stays as it was unless Commit() runs.
  class Replacement {
   public:
    enum class Outcome { kAdded, kDuplicate };
    explicit Replacement(Store& store);
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    ~Replacement();
    Outcome Add(Platform platform, const BankEntry& entry);
    void Commit();

   private:
    Store& m_store;
    bool m_open = false;
  };

 private:
  struct PlatformStatements;
  PlatformStatements& StatementsFor(Platform platform);
  void Execute(std::string_view sql);

  Connection m_db;
  std::vector<std::unique_ptr<PlatformStatements>> m_statements;
};

}  // namespace qv::answers
