#include "app/main_window.h"

#include "app/program.h"
#include "runtime/windows/component_data.h"

namespace quorvane {
namespace {

using qv::Rgb;

constexpr uint32_t kWindowType = 0x00010001;
constexpr uint32_t kEditBoxType = 0x00010005;
constexpr uint32_t kLabelType = 0x0001000A;
constexpr uint32_t kButtonType = 0x0001000B;
constexpr uint32_t kRadioBoxType = 0x0001000D;

constexpr uint32_t kVisible = qv::UnitRecord::kVisible;
constexpr uint32_t kTabStop = qv::UnitRecord::kTabStop;

struct Rect {
  int32_t left, top, width, height;
};

qv::Unit MakeUnit(uint32_t id, uint32_t typeId, const char* name, Rect r, uint32_t flags, qv::Bytes data) {
  qv::UnitRecord record;
  record.typeId = typeId;
  record.name = name;
  record.left = r.left;
  record.top = r.top;
  record.width = r.width;
  record.height = r.height;
  record.mousePointer = {0, 0, 0, 0};  // pointer number 0: no cursor of its own
  record.flags = flags;
  record.componentData = std::move(data);
  return {id, std::move(record)};
}

qv::Unit EditBox(uint32_t id, const char* name, Rect r, qv::EditBoxData data) {
  return MakeUnit(id, kEditBoxType, name, r, kVisible | kTabStop, qv::WriteComponentData(data));
}

qv::Unit Label(uint32_t id, const char* name, Rect r, const char* caption, qv::Bytes font) {
  qv::LabelData data;
  data.fields[qv::LabelData::kTextColourField] = static_cast<int32_t>(Rgb(0, 0, 0));
  data.fields[qv::LabelData::kBackgroundColourField] = static_cast<int32_t>(qv::kButtonFaceColour);
  data.font = std::move(font);
  data.caption = caption;
  return MakeUnit(id, kLabelType, name, r, kVisible, qv::WriteComponentData(data));
}

qv::Unit RadioBox(uint32_t id, const char* name, Rect r, const char* caption, bool checked) {
  qv::RadioBoxData data;
  data.caption = caption;
  data.checked = checked ? 1 : 0;
  return MakeUnit(id, kRadioBoxType, name, r, kVisible | kTabStop, qv::WriteComponentData(data));
}

// An edit box for one line of input: black on white, sunken edge, default font.
qv::EditBoxData InputBox(const char* content = "") {
  qv::EditBoxData data;
  data.content = content;
  return data;
}

}  // namespace

qv::TemplateCollection MainWindowTemplates() {
  qv::WindowData window;
  window.border = 2;  // fixed
  window.controlBox = 1;
  window.minimiseBox = 1;
  window.maximiseBox = 0;
  window.startPosition = 1;  // centred on the screen
  window.movable = 1;
  window.backgroundColour = qv::kButtonFaceColour;
  window.title = "Quorvane    By:Ostrel";

  qv::EditBoxData type = InputBox("1");
  type.maxLength = 2;
  type.inputMode = 3;  // integer text: "-" and digits

  qv::EditBoxData answer;
  answer.textColour = Rgb(0, 255, 0);
  answer.backgroundColour = Rgb(0, 0, 0);
  answer.multiLine = 1;
  answer.inputMode = 1;  // read-only
  answer.font = qv::StoredFont(-14);
  answer.content = std::string("课程和章节默认不填，题目找不到在填。\r\n \r\n") + std::string(23, ' ') +
                   "Quorvane  By:Ostrel";

  qv::ButtonData query;
  query.caption = "查询";

  qv::Unit queryButton =
      MakeUnit(kQueryButtonId, kButtonType, "按钮_查询", {248, 120, 176, 56}, kVisible | kTabStop,
               qv::WriteComponentData(query));
  queryButton.Record()->events.push_back({.number = 0, .handlerOffset = kQueryClickHandlerOffset, .handler = std::nullopt});

  // The window's record lists its three load-complete events without a handler (offset -1): the
  // loader looks them up and finds nothing to run.
  qv::Unit windowUnit =
      MakeUnit(kMainWindowUnitId, kWindowType, "", {50, 50, 442, 262}, kVisible, qv::WriteComponentData(window));
  for (const int32_t number : {0, 3, 4}) windowUnit.Record()->events.push_back({.number = number, .handlerOffset = -1, .handler = std::nullopt});

  qv::WindowTemplate main;
  main.windowId = kMainWindowId;
  main.valueA = 0x009C086C;
  main.valueB = 0x19010006;
  main.units.push_back(std::move(windowUnit));
  main.units.push_back(EditBox(kChapterBoxId, "编辑框_章节", {144, 152, 96, 24}, InputBox()));
  main.units.push_back(Label(0x16015989, "标签4", {16, 152, 120, 24}, "章节(选填)如第九章：", {}));
  main.units.push_back(EditBox(kCourseBoxId, "编辑框_课程", {96, 120, 144, 24}, InputBox()));
  main.units.push_back(Label(0x16015987, "标签3", {16, 120, 64, 32}, "课程(选填)：", {}));
  main.units.push_back(RadioBox(kVelmoraRadioId, "单选框_Velmora", {96, 8, 104, 24}, "Velmora（Lianto）", true));
  main.units.push_back(RadioBox(kTandrelRadioId, "单选框_Tandrel", {248, 8, 56, 24}, "Tandrel", false));
  main.units.push_back(EditBox(kTypeBoxId, "编辑框_类型", {360, 88, 48, 24}, type));
  main.units.push_back(Label(0x16012E10, "标签2", {8, 88, 336, 24},
                             "单选题1 多选题 2填空题3 问答题4 判断题14(填数字)", qv::StoredFont(-14)));
  main.units.push_back(std::move(queryButton));
  main.units.push_back(EditBox(kAnswerBoxId, "编辑框_答案", {8, 184, 424, 48}, answer));
  main.units.push_back(Label(0x16010003, "标签1", {8, 40, 56, 40}, "题目", qv::StoredFont(-24)));
  main.units.push_back(EditBox(kQuestionBoxId, "编辑框_题目", {64, 40, 368, 40},
                               InputBox("指令系统中采用不同寻址方式的目的是")));

  qv::TemplateCollection collection;
  collection.windows.push_back(std::move(main));
  return collection;
}

}  // namespace quorvane
