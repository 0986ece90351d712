// A question bank in a file of its own under the temporary directory, filled from TSV text and
// removed (with its WAL files) at the end of the test.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>

#include "tools/answer_service/importer.h"
#include "tools/answer_service/store.h"

namespace qv::answers::testing {

inline constexpr const char* kHeader = "platform\tcourse\tchapter\ttype\tquestion\tanswer\n";

class TempBank {
 public:
  TempBank() {
    static std::atomic<int> counter{0};
    m_path = (std::filesystem::temp_directory_path() /
              ("answer_bank_test-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".sqlite3"))
                 .string();
  }
  ~TempBank() {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(m_path + suffix);
  }
  const std::string& path() const { return m_path; }

  // Imports `lines` (without the header) and returns the report.
  ImportReport Import(const std::string& lines) {
    Store store(m_path, Store::Access::kWrite);
    std::istringstream input(kHeader + lines);
    return ImportBank(store, input);
  }

 private:
  std::string m_path;
};

}  // namespace qv::answers::testing
