// The support routines program code reaches by index through the runtime entry table, and the
// allocation service whose failure the caller handles itself.
#include "runtime/support/support_routines.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "platform/heap/heap.h"
#include "runtime/commands/commands.h"
#include "runtime/memory/owned.h"
#include "runtime/startup.h"
#include "runtime/support/find_files.h"
#include "runtime/windows/window_template.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using qvtest::Gbk;

intptr_t Support(int32_t index, std::vector<intptr_t> arguments) {
  return RuntimeEntries().supportRoutine(index, static_cast<int32_t>(arguments.size()), arguments.data());
}

intptr_t Address(const void* p) { return reinterpret_cast<intptr_t>(p); }

TEST(AllocationService, ArgumentTwoTurnsAFailureIntoZero) {
  void* block = reinterpret_cast<void*>(RuntimeService(service::Allocate, 16, 1));
  ASSERT_NE(block, nullptr);
  RuntimeService(service::Free, Address(block), 0);
  EXPECT_EQ(RuntimeService(service::Allocate, intptr_t{1} << 40, 1), 0);
  EXPECT_EQ(RuntimeService(service::Allocate, -5, 1), 0);
  win::SetHeapAllocationLimitForTesting(1000);
  EXPECT_EQ(RuntimeService(service::Allocate, 5000, 1), 0);
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        RuntimeService(service::Allocate, 5000, 0);
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：分配 5000 字节内存失败!"));
  win::SetHeapAllocationLimitForTesting(0);
}

// Names found through the routine until it gives the empty text (at most 20).
std::vector<std::string> FoundNames(const std::string& pattern, int32_t attributes) {
  std::vector<std::string> names;
  intptr_t found = Support(support::FindFiles, {Address(pattern.c_str()), attributes});
  for (int i = 0; found != 0 && i < 20; ++i) {
    names.push_back(OwnedText::Adopt(reinterpret_cast<char*>(found)).c_str());
    found = Support(support::FindFiles, {});
  }
  return names;
}

TEST(SupportRoutines, FindFilesGivesOneNameAtATimeByAttributes) {
  std::string root = (fs::temp_directory_path() / "qv_support_XXXXXX").string();
  ASSERT_NE(mkdtemp(root.data()), nullptr);
  for (const char* name : {"b.TXT", "a.txt", ".h"}) std::ofstream(fs::path(root) / name) << "x";
  std::ofstream(fs::path(root) / u8"中.txt") << "x";
  fs::create_directory(fs::path(root) / "d");
  const std::string all = root + "\\*";
  struct Row {
    std::string pattern;
    int32_t attributes;
    std::vector<std::string> expected;
  } rows[] = {
      {all, 0, {".h", "a.txt", "b.TXT", "中.txt"}},
      {all, file_attribute::Directory, {"d"}},  // never . or ..
      {all, file_attribute::Hidden, {".h"}},
      {root + "\\*.txt", file_attribute::Hidden | file_attribute::Archive, {"a.txt", "b.TXT", "中.txt"}},
      {root + "\\nowhere\\*", 0, {}},
  };
  for (const Row& r : rows) {
    std::vector<Gbk> found, expected(r.expected.begin(), r.expected.end());
    for (const std::string& name : FoundNames(r.pattern, r.attributes)) found.emplace_back(name);
    EXPECT_EQ(found, expected) << r.pattern << " " << r.attributes;
    EXPECT_EQ(Support(support::FindFiles, {}), 0);  // the search has ended
  }
  // Ending a search early; a new pattern starts over.
  OwnedText first = OwnedText::Adopt(reinterpret_cast<char*>(Support(support::FindFiles, {Address(all.c_str()), 0})));
  EXPECT_EQ(Gbk(first.c_str()), Gbk(".h"));
  Support(support::EndFileSearch, {});
  EXPECT_EQ(Support(support::FindFiles, {Address("")}), 0);
  fs::remove_all(root);
}

TEST(SupportRoutines, PropertyRoutinesReachThePropertyEntries) {
  WindowTemplate t;
  t.windowId = 0x52010001;
  UnitRecord window, box;
  window.typeId = 0x00010001;
  box.typeId = 0x00010005;
  box.left = 10;
  t.units = {{0x06010000, window}, {0x16010001, box}};
  TemplateCollection c;
  c.windows.push_back(t);
  ProgramTemplates() = std::move(c);
  // The window is not loaded: common properties come from the record.
  EXPECT_EQ(Support(support::ReadProperty, {0x52010001, 0x16010001, 0, -1}), 10);
  Support(support::WriteProperty, {0x52010001, 0x16010001, 0, -1, 25, 0});
  EXPECT_EQ(Support(support::ReadProperty, {0x52010001, 0x16010001, 0, -1}), 25);
  const char tag[] = "标记";
  Support(support::WriteProperty, {0x52010001, 0x16010001, 4, -1, Address(tag) & 0xFFFFFFFF, Address(tag) >> 32});
  EXPECT_EQ(Gbk(ProgramTemplates().windows[0].units[1].Record()->tag), Gbk("标记"));
  ProgramTemplates() = {};
  EXPECT_EQ(Support(7, {1, 2}), 0);
  EXPECT_EQ(Support(-1, {}), 0);
}

TEST(SupportRoutinesDeathTest, InitialisationRunsWithADescriptionOnly) {
  static ProgramDescription description;
  description.buildValue = 41;
  EXPECT_EXIT(
      {
        const intptr_t without = Support(support::InitialiseRuntime, {});
        const intptr_t with = Support(support::InitialiseRuntime, {Address(&description)});
        std::fprintf(stderr, "results %d %d, build %d\n", static_cast<int>(without), static_cast<int>(with),
                     Runtime().buildValue);
        EndProgram(0);
      },
      testing::ExitedWithCode(0), "results 0 1, build 42");
}

}  // namespace
}  // namespace qv
