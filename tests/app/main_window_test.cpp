// The main window's template: the data the program carries reads back to its description, with
// the controls, texts and the one event binding in place.
#include <gtest/gtest.h>

#include <cstring>

#include "app/main_window.h"
#include "app/program.h"
#include "common/gbk_print.h"
#include "runtime/windows/component_data.h"

namespace quorvane {
namespace {

using qvtest::Gbk;

const qv::WindowTemplate& MainTemplate(const qv::TemplateCollection& c) {
  const qv::WindowTemplate* t = c.Find(kMainWindowId);
  EXPECT_NE(t, nullptr);
  return *t;
}

TEST(MainWindowTemplate, CarriedDataReadsBackToTheDescription) {
  const qv::ProgramDescription& d = Description();
  ASSERT_GT(d.windowTemplateLength, 0);
  const auto read = qv::ReadTemplateCollection(d.windowTemplates, static_cast<size_t>(d.windowTemplateLength));
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, MainWindowTemplates());
}

// The template data has the size the program's data record gives it: 3092 bytes in all, 3056 of
// them in the unit block (its length field follows the window index, values A and B, the two
// empty texts and the unit count).
TEST(MainWindowTemplate, CarriedDataHasItsRecordedSizes) {
  const qv::ProgramDescription& d = Description();
  ASSERT_EQ(d.windowTemplateLength, 3092);
  int32_t unitBlockLength = 0;
  std::memcpy(&unitBlockLength, static_cast<const uint8_t*>(d.windowTemplates) + 32, 4);
  EXPECT_EQ(unitBlockLength, 3056);
  EXPECT_EQ(32 + 4 + unitBlockLength, d.windowTemplateLength);
}

TEST(MainWindowTemplate, HoldsTheWindowAndTwelveControlsInTemplateOrder) {
  const qv::TemplateCollection c = MainWindowTemplates();
  ASSERT_EQ(c.windows.size(), 1u);
  const qv::WindowTemplate& w = MainTemplate(c);
  ASSERT_EQ(w.units.size(), 13u);
  EXPECT_EQ(w.units[0].id, kMainWindowUnitId);
  const uint32_t order[] = {kChapterBoxId, 0x16015989, kCourseBoxId,  0x16015987, kVelmoraRadioId, kTandrelRadioId,
                            kTypeBoxId,    0x16012E10, kQueryButtonId, kAnswerBoxId, 0x16010003,      kQuestionBoxId};
  for (size_t i = 0; i < std::size(order); ++i) EXPECT_EQ(w.units[i + 1].id, order[i]) << i;

  auto window = qv::ReadWindowData(w.units[0].Record()->componentData);
  ASSERT_TRUE(window);
  EXPECT_EQ(Gbk(window->title), Gbk("Quorvane    By:Ostrel"));
  EXPECT_EQ(w.units[0].Record()->width, 442);
  EXPECT_EQ(w.units[0].Record()->height, 262);
  EXPECT_EQ(window->maximiseBox, 0);
  EXPECT_EQ(window->minimiseBox, 1);

  // Only the query button has an event handler: its click, at the handler table's first entry. The
  // window lists its load-complete events unbound.
  for (const qv::Unit& unit : w.units) {
    const auto& events = unit.Record()->events;
    if (unit.id == kQueryButtonId) {
      ASSERT_EQ(events.size(), 1u);
      EXPECT_EQ(events[0].number, 0);
      EXPECT_EQ(events[0].handlerOffset, kQueryClickHandlerOffset);
    } else if (unit.id == kMainWindowUnitId) {
      const std::vector<qv::UnitEvent> unbound = {{0, -1, std::nullopt}, {3, -1, std::nullopt}, {4, -1, std::nullopt}};
      EXPECT_EQ(events, unbound);
    } else {
      EXPECT_TRUE(events.empty()) << unit.id;
    }
    EXPECT_TRUE(unit.Record()->Visible());
    EXPECT_EQ(unit.Record()->TabStop(), unit.Record()->typeId != 0x0001000A && unit.id != kMainWindowUnitId);
  }
}

TEST(MainWindowTemplate, BoxesStartWithTheSampleQueryAndTheirModes) {
  const qv::TemplateCollection c = MainWindowTemplates();
  const qv::WindowTemplate& w = MainTemplate(c);
  auto edit = [&](uint32_t id) { return *qv::ReadEditBoxData(w.FindUnit(id)->Record()->componentData); };
  EXPECT_EQ(Gbk(edit(kQuestionBoxId).content), Gbk("指令系统中采用不同寻址方式的目的是"));
  const qv::EditBoxData type = edit(kTypeBoxId);
  EXPECT_EQ(type.content, "1");
  EXPECT_EQ(type.maxLength, 2);
  EXPECT_EQ(type.inputMode, 3);
  const qv::EditBoxData answer = edit(kAnswerBoxId);
  EXPECT_EQ(answer.inputMode, 1);
  EXPECT_EQ(answer.multiLine, 1);
  EXPECT_EQ(answer.textColour, qv::Rgb(0, 255, 0));
  EXPECT_EQ(answer.font.size(), 60u);
  EXPECT_EQ(Gbk(answer.content),
            Gbk("课程和章节默认不填，题目找不到在填。\r\n \r\n" + std::string(23, ' ') + "Quorvane  By:Ostrel"));
  EXPECT_TRUE(edit(kCourseBoxId).font.empty());  // the default GUI font

  EXPECT_EQ(qv::ReadRadioBoxData(w.FindUnit(kVelmoraRadioId)->Record()->componentData)->checked, 1);
  EXPECT_EQ(qv::ReadRadioBoxData(w.FindUnit(kTandrelRadioId)->Record()->componentData)->checked, 0);
}

}  // namespace
}  // namespace quorvane
