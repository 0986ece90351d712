// The import command: bad lines reported by number and skipped, the bank replaced as a whole or
// not at all, and re-import.
#include "tools/answer_service/importer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "tests/tools/answer_service/bank_fixture.h"
#include "tools/answer_service/matcher.h"

namespace qv::answers {
namespace {

using testing::TempBank;

std::string AnswerIn(const TempBank& bank, const std::string& question, Platform platform = Platform::kVelmora) {
  Store store(bank.path(), Store::Access::kRead);
  return Matcher(store).Find(Question{platform, question, "", "", std::nullopt}).entry.answer;
}

int64_t CountIn(const TempBank& bank, Platform platform) {
  Store store(bank.path(), Store::Access::kRead);
  return store.Count(platform);
}

TEST(Import, ReportsBadLinesByNumberAndKeepsTheGoodOnes) {
  TempBank bank;
  ImportReport report = bank.Import(
      "vm\t数据结构\t第三章\t1\t栈的特点是\t后进先出\n"                // 2
      "vm\t数据结构\t1\t栈是线性表吗\t是\n"                           // 3: five fields
      "xx\t数据结构\t\t1\t队列的特点是\t先进先出\n"                   // 4: platform
      "vm\t\t\t5\t题型不对的题\t答案\n"                               // 5: type number
      "vm\t\t\tone\t题型不是数字\t答案\n"                             // 6: type text
      "vm\t\t\t1\t？？\t答案\n"                                       // 7: question empty after folding
      "vm\t\t\t1\t没有答案的题\t  \n"                                 // 8: answer empty
      "tdl\t\t\t1\t\xFF\xFE坏的编码\t答案\n"                          // 9: not UTF-8
      "vm\t数据结构\t第三章\t1\t栈的特点是？\t重复\n"                 // 10: same as line 2
      "\n"                                                           // 11: blank, ignored
      "tdl\t操作系统\t\t14\t银行家算法是一种避免死锁的算法\t正确\r\n"  // 12: CR LF is fine
      "vm\t操作系统\t第三章\t1\t栈的特点是\t另一门课的栈\n");         // 13: other course, not a repeat
  ASSERT_TRUE(report.imported);
  std::vector<std::string> expectedStarts = {"line 3: 5 fields", "line 4: unknown platform \"xx\"",
                                             "line 5: question type \"5\"", "line 6: question type \"one\"",
                                             "line 7: the question is empty", "line 8: the answer is empty",
                                             "line 9: not UTF-8", "line 10: the same question as line 2"};
  ASSERT_EQ(report.problems.size(), expectedStarts.size());
  for (size_t i = 0; i < expectedStarts.size(); ++i) {
    EXPECT_EQ(report.problems[i].rfind(expectedStarts[i], 0), 0u) << report.problems[i];
  }
  EXPECT_EQ(report.added[0], 2u);
  EXPECT_EQ(report.added[1], 1u);
  EXPECT_EQ(AnswerIn(bank, "栈的特点是"), "后进先出");
  EXPECT_EQ(AnswerIn(bank, "银行家算法是一种避免死锁的算法", Platform::kTandrel), "正确");
}

TEST(Import, ReimportReplacesTheBank) {
  TempBank bank;
  ASSERT_TRUE(bank.Import("vm\t\t\t1\t旧的题目一\t旧答案\nvm\t\t\t1\t旧的题目二\t旧答案\n").imported);
  const std::string next = "vm\t\t\t1\t新的题目\t新答案\ntdl\t\t\t1\t新的题目\t新答案\n";
  for (int round = 0; round < 2; ++round) {
    ImportReport report = bank.Import(next);
    ASSERT_TRUE(report.imported);
    EXPECT_TRUE(report.problems.empty());
    EXPECT_EQ(CountIn(bank, Platform::kVelmora), 1);
    EXPECT_EQ(CountIn(bank, Platform::kTandrel), 1);
    EXPECT_EQ(AnswerIn(bank, "新的题目"), "新答案");
    EXPECT_EQ(AnswerIn(bank, "旧的题目一"), "");
  }
}

TEST(Import, ImportsNothingWhenTheFileCannotBeUsed) {
  TempBank bank;
  ASSERT_TRUE(bank.Import("vm\t\t\t1\t原有的题目\t原有答案\n").imported);
  struct Row {
    const char* file;
    const char* problem;
  } rows[] = {
      {"", "line 1: the file is empty"},
      {"question\tanswer\nvm\t\t\t1\t新题\t新答案\n", "line 1: expected the header"},
      {"platform\tcourse\tchapter\ttype\tquestion\tanswer\nvm\t1\t2\n", "no line could be imported"},
  };
  for (const Row& row : rows) {
    Store store(bank.path(), Store::Access::kWrite);
    std::istringstream input(row.file);
    ImportReport report = ImportBank(store, input);
    EXPECT_FALSE(report.imported) << row.file;
    ASSERT_FALSE(report.problems.empty());
    EXPECT_NE(report.problems.back().find(row.problem), std::string::npos) << report.problems.back();
  }
  EXPECT_EQ(AnswerIn(bank, "原有的题目"), "原有答案");
}

TEST(Import, FailureHalfWayLeavesTheOldBank) {
  TempBank bank;
  ASSERT_TRUE(bank.Import("vm\t\t\t1\t原有的题目\t原有答案\n").imported);
  // A trigger makes the third insert fail, after two rows of the new bank were written.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(bank.path().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TRIGGER fail_third BEFORE INSERT ON vm_questions WHEN NEW.question = '第三题' "
                         "BEGIN SELECT RAISE(ABORT, 'disk trouble'); END",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  ImportReport report = bank.Import("vm\t\t\t1\t第一题\t一\nvm\t\t\t1\t第二题\t二\nvm\t\t\t1\t第三题\t三\n");
  EXPECT_FALSE(report.imported);
  EXPECT_EQ(report.added[0], 0u);
  ASSERT_FALSE(report.problems.empty());
  EXPECT_NE(report.problems.back().find("disk trouble"), std::string::npos) << report.problems.back();
  EXPECT_EQ(CountIn(bank, Platform::kVelmora), 1);
  EXPECT_EQ(AnswerIn(bank, "原有的题目"), "原有答案");
  EXPECT_EQ(AnswerIn(bank, "第一题"), "");
}

TEST(Import, ServiceCannotOpenAFileWithoutABank) {
  TempBank bank;
  EXPECT_THROW(Store(bank.path(), Store::Access::kRead), StoreError);  // no file
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(bank.path().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE x(y)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_THROW(Store(bank.path(), Store::Access::kRead), StoreError);  // a database, but not a bank
}

}  // namespace
}  // namespace qv::answers
