// The import command: replaces the question bank with the questions of a UTF-8 TSV file.
//
// The file starts with the header line "platform<TAB>course<TAB>chapter<TAB>type<TAB>question<TAB>
// answer"; each further line is one question with those six fields. Fields are trimmed of
// surrounding white space; course and chapter may be empty. A line that cannot be imported is
// reported with its line number and skipped. The good lines replace the whole bank in one
// transaction, so a failed import leaves the previous bank as it was.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "tools/answer_service/store.h"

namespace qv::answers {

struct ImportReport {
  bool imported = false;              // false: the bank was left as it was
  size_t added[2] = {0, 0};           // per platform, in the order of kPlatforms
  std::vector<std::string> problems;  // "line N: ..." for each skipped line, or why nothing was done
};

// The question-type numbers a bank line may carry: 1 single choice, 2 multiple choice, 3 fill in
// the blank, 4 open question, 14 true or false.
bool IsKnownType(int type);

// Reads the whole file, then writes its good lines. Storage failures are reported in the result.
ImportReport ImportBank(Store& store, std::istream& tsv);

}  // namespace qv::answers
