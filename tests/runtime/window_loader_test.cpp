// Loading a window from its template, its controls' properties through the property entries, the
// events that reach the program's handlers, and the window going away again.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "platform/ui/window.h"
#include "runtime/component_data.h"
#include "runtime/components.h"
#include "runtime/events.h"
#include "runtime/memory.h"
#include "runtime/properties.h"
#include "runtime/window_loader.h"
#include "runtime/window_registry.h"
#include "runtime/window_template.h"

namespace qv {
namespace {

using qvtest::Gbk;

constexpr uint32_t kWindowId = 0x52010001;
constexpr uint32_t kWindowUnit = 0x06010000;
constexpr uint32_t kNumberBox = 0x16010001;  // unit 1: integer input, at most 2 characters
constexpr uint32_t kFirstRadio = 0x16010002;
constexpr uint32_t kSecondRadio = 0x16010003;
constexpr uint32_t kButton = 0x16010004;
constexpr uint32_t kLabel = 0x16010005;  // unit 5: created first
constexpr int32_t kOwn = 8;              // the first component property

std::vector<int> g_calls;
void OnClick() { g_calls.push_back(-1); }
void OnLoad0() { g_calls.push_back(0); }
void OnLoad3() { g_calls.push_back(3); }
void OnLoad4() { g_calls.push_back(4); }
using Handler = void (*)();
const Handler kHandlers[] = {&OnClick, &OnLoad0, &OnLoad3, &OnLoad4};
constexpr int32_t Offset(int index) { return index * static_cast<int32_t>(sizeof(Handler)); }

Unit MakeUnit(uint32_t id, uint32_t type, Bytes data, int left, int top, int width, int height,
              std::vector<UnitEvent> events = {}) {
  UnitRecord r;
  r.typeId = type;
  r.left = left;
  r.top = top;
  r.width = width;
  r.height = height;
  r.flags = UnitRecord::kVisible | (type == kWindowComponent || type == kLabelComponent ? 0 : UnitRecord::kTabStop);
  r.events = std::move(events);
  r.componentData = std::move(data);
  return {id, r};
}

WindowTemplate TestTemplate() {
  WindowData window;
  window.title = "Test window";
  EditBoxData number;
  number.inputMode = 3;
  number.maxLength = 2;
  number.content = "1";
  RadioBoxData first, second;
  first.caption = "First";
  first.checked = 1;
  second.caption = "Second";
  ButtonData button;
  button.caption = "Go";
  LabelData label;
  label.caption = "Label";
  label.fields[LabelData::kTextColourField] = 0;
  label.fields[LabelData::kBackgroundColourField] = static_cast<int32_t>(kButtonFaceColour);

  WindowTemplate t;
  t.windowId = kWindowId;
  t.units.push_back(MakeUnit(kWindowUnit, kWindowComponent, WriteComponentData(window), 50, 50, 300, 200,
                             {{0, Offset(1), {}}, {3, Offset(2), {}}, {4, Offset(3), {}}}));
  t.units.push_back(MakeUnit(kNumberBox, kEditBoxComponent, WriteComponentData(number), 10, 20, 48, 24));
  t.units.push_back(MakeUnit(kFirstRadio, kRadioBoxComponent, WriteComponentData(first), 10, 50, 80, 24));
  t.units.push_back(MakeUnit(kSecondRadio, kRadioBoxComponent, WriteComponentData(second), 100, 50, 80, 24));
  t.units.push_back(MakeUnit(kButton, kButtonComponent, WriteComponentData(button), 10, 80, 80, 30,
                             {{0, Offset(0), {}}, {1, -1, {}}}));
  t.units.push_back(MakeUnit(kLabel, kLabelComponent, WriteComponentData(label), 100, 80, 120, 24));
  return t;
}

// Puts the template into the program's collection with its handlers resolved.
void UseTemplate(WindowTemplate t) {
  TemplateCollection c;
  c.windows.push_back(std::move(t));
  ResolveHandlers(c, kHandlers);
  ProgramTemplates() = std::move(c);
  InstallWindowLoader();
}

win::HWND Control(uint32_t unit) {
  Component* c = FindLiveComponent(kWindowId, unit);
  return c != nullptr ? c->Handle() : nullptr;
}

std::string TakeText(int64_t value) {
  char* text = reinterpret_cast<char*>(static_cast<intptr_t>(value));
  std::string result = text ? text : "";
  RuntimeFree(text);
  return result;
}

void WriteText(uint32_t unit, int32_t property, const char* text) {
  const auto address = reinterpret_cast<uintptr_t>(text);
  WriteProperty(kWindowId, unit, property, -1, static_cast<uint32_t>(address), static_cast<uint32_t>(address >> 32));
}

class WindowLoaderTest : public testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    UseTemplate(TestTemplate());
    ASSERT_TRUE(LoadProgramWindow(kWindowId));
    window = LoadedWindowHandle(kWindowId);
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    if (win::IsWindow(window)) win::DestroyWindow(window);
    ProgramTemplates() = {};
  }
  win::HWND window = nullptr;
};

TEST_F(WindowLoaderTest, CreatesControlsInReverseOrderAndStacksThemInTemplateOrder) {
  // Child ids grow by 10 from the last unit to the first.
  EXPECT_EQ(win::GetDlgCtrlID(Control(kLabel)), 100);
  EXPECT_EQ(win::GetDlgCtrlID(Control(kButton)), 110);
  EXPECT_EQ(win::GetDlgCtrlID(Control(kNumberBox)), 140);
  std::vector<win::HWND> stacked;
  for (win::HWND c = win::GetWindow(window, win::GW_CHILD); c != nullptr; c = win::GetWindow(c, win::GW_HWNDNEXT))
    stacked.push_back(c);
  EXPECT_EQ(stacked, (std::vector<win::HWND>{Control(kNumberBox), Control(kFirstRadio), Control(kSecondRadio),
                                              Control(kButton), Control(kLabel)}));
  for (win::HWND c : stacked) EXPECT_TRUE(win::IsWindowVisible(c));
  EXPECT_TRUE(win::IsWindowVisible(window));
  // The window is registered and its record holds the live object.
  ASSERT_NE(FindLoadedWindow(kWindowId), nullptr);
  EXPECT_EQ(FindLoadedWindow(kWindowId)->FindUnit(kButton)->id, kButton);
  EXPECT_NE(ProgramTemplates().Find(kWindowId)->FindUnit(kButton)->Record()->liveWindow, nullptr);
  // Load-complete events ran in their order.
  EXPECT_EQ(g_calls, (std::vector<int>{0, 3, 4}));
}

TEST_F(WindowLoaderTest, LoadingAgainOnlyActivates) {
  ASSERT_TRUE(LoadProgramWindow(kWindowId));
  EXPECT_EQ(LoadedWindowHandle(kWindowId), window);
  EXPECT_EQ(g_calls, (std::vector<int>{0, 3, 4}));  // no second round of load events
  EXPECT_FALSE(LoadProgramWindow(0x52010002));
}

TEST_F(WindowLoaderTest, WindowIsCentredWithItsStoredOuterSizeAndTitle) {
  EXPECT_EQ(ReadProperty(kWindowId, 0, 2, -1), 300);
  EXPECT_EQ(ReadProperty(kWindowId, 0, 3, -1), 200);
  EXPECT_EQ(ReadProperty(kWindowId, kWindowUnit, 0, -1), (win::GetSystemMetrics(win::SM_CXSCREEN) - 300) / 2);
  EXPECT_EQ(ReadProperty(kWindowId, kWindowUnit, 1, -1), (win::GetSystemMetrics(win::SM_CYSCREEN) - 200) / 2);
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, 0, kOwn + 0, -1)), "Test window");
}

TEST_F(WindowLoaderTest, CommonPropertiesOfAControlUseClientCoordinates) {
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 0, -1), 10);
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 1, -1), 80);
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 2, -1), 80);
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 3, -1), 30);
  WriteProperty(kWindowId, kButton, 1, -1, 90, 0);
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 1, -1), 90);
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 0, -1), 10);
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 5, -1), 1);
  WriteProperty(kWindowId, kButton, 5, -1, 0, 0);
  EXPECT_FALSE(win::IsWindowVisible(Control(kButton)));
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 5, -1), 0);
  WriteProperty(kWindowId, kButton, 6, -1, 1, 0);
  EXPECT_FALSE(win::IsWindowEnabled(Control(kButton)));
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 6, -1), 1);
  WriteText(kButton, 4, "tagged");
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kButton, 4, -1)), "tagged");
}

TEST_F(WindowLoaderTest, EditBoxContentReadsWhatIsThereAndCanBeEmptied) {
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kNumberBox, kOwn + 0, -1)), "1");
  WriteText(kNumberBox, kOwn + 0, "42");
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kNumberBox, kOwn + 0, -1)), "42");
  WriteText(kNumberBox, kOwn + 0, "");
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kNumberBox, kOwn + 0, -1)), "");
  WriteText(kNumberBox, kOwn + 0, "7");
  WriteText(kNumberBox, kOwn + 0, nullptr);  // a null text is the empty text
  EXPECT_EQ(win::GetWindowTextLengthA(Control(kNumberBox)), 0);
}

TEST_F(WindowLoaderTest, EditBoxKeepsItsStoredModeAndLimit) {
  EXPECT_EQ(ReadProperty(kWindowId, kNumberBox, kOwn + 10, -1), 3);
  EXPECT_EQ(ReadProperty(kWindowId, kNumberBox, kOwn + 6, -1), 2);
  EXPECT_EQ(win::SendMessageA(Control(kNumberBox), win::EM_GETLIMITTEXT, 0, 0), 2);
  // Only password mode masks the text.
  EXPECT_EQ(win::SendMessageA(Control(kNumberBox), win::EM_GETPASSWORDCHAR, 0, 0), 0);
  WriteProperty(kWindowId, kNumberBox, kOwn + 10, -1, 2, 0);
  EXPECT_EQ(win::SendMessageA(Control(kNumberBox), win::EM_GETPASSWORDCHAR, 0, 0), '*');
}

TEST_F(WindowLoaderTest, RadioBoxesFormOneGroupAndReportTheCheckedState) {
  EXPECT_EQ(ReadProperty(kWindowId, kFirstRadio, kOwn + 10, -1), 1);
  EXPECT_EQ(ReadProperty(kWindowId, kSecondRadio, kOwn + 10, -1), 0);
  win::SendMessageA(Control(kSecondRadio), win::BM_CLICK, 0, 0);
  EXPECT_EQ(ReadProperty(kWindowId, kFirstRadio, kOwn + 10, -1), 0);
  EXPECT_EQ(ReadProperty(kWindowId, kSecondRadio, kOwn + 10, -1), 1);
  // An indeterminate state is not the checked state.
  win::SendMessageA(Control(kSecondRadio), win::BM_SETCHECK, win::BST_INDETERMINATE, 0);
  EXPECT_EQ(ReadProperty(kWindowId, kSecondRadio, kOwn + 10, -1), 0);
  WriteProperty(kWindowId, kFirstRadio, kOwn + 10, -1, 1, 0);
  EXPECT_EQ(win::SendMessageA(Control(kFirstRadio), win::BM_GETCHECK, 0, 0), 1);
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kSecondRadio, kOwn + 3, -1)), "Second");
}

TEST_F(WindowLoaderTest, CaptionsOfButtonAndLabelAreProperties) {
  WriteText(kButton, kOwn + 2, "Stop");
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kButton, kOwn + 2, -1)), "Stop");
  WriteText(kLabel, kOwn + 0, "Other");
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kLabel, kOwn + 0, -1)), "Other");
  EXPECT_EQ(ReadProperty(kWindowId, kLabel, kOwn + 9, -1), static_cast<int32_t>(kButtonFaceColour));
}

TEST_F(WindowLoaderTest, ButtonClickRunsTheBoundHandler) {
  g_calls.clear();
  win::SendMessageA(Control(kButton), win::BM_CLICK, 0, 0);
  EXPECT_EQ(g_calls, std::vector<int>{-1});
  EXPECT_FALSE(RaiseEvent(kWindowId, kButton, 1));  // stored without handler
  EXPECT_FALSE(RaiseEvent(kWindowId, kButton, 7));  // not in the list
  {
    EventBlock block;
    EXPECT_FALSE(RaiseEvent(kWindowId, kButton, 0));
  }
  EXPECT_TRUE(RaiseEvent(kWindowId, kButton, 0));
  EXPECT_EQ(g_calls, (std::vector<int>{-1, -1}));
  EXPECT_EQ(CurrentEventSource().windowId, 0u);
}

TEST_F(WindowLoaderTest, ClosingTheWindowUnloadsItAndPropertiesFallBackToTheRecord) {
  win::SendMessageA(window, win::WM_CLOSE, 0, 0);
  EXPECT_FALSE(win::IsWindow(window));
  EXPECT_EQ(LoadedWindowHandle(kWindowId), nullptr);
  EXPECT_EQ(FindLoadedWindow(kWindowId), nullptr);
  EXPECT_EQ(ProgramTemplates().Find(kWindowId)->FindUnit(kButton)->Record()->liveWindow, nullptr);
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 1, -1), 80);
  WriteProperty(kWindowId, kButton, 1, -1, 95, 0);
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 1, -1), 95);
  // It loads again, from the changed record.
  ASSERT_TRUE(LoadProgramWindow(kWindowId));
  window = LoadedWindowHandle(kWindowId);
  EXPECT_EQ(ReadProperty(kWindowId, kButton, 1, -1), 95);
}

TEST_F(WindowLoaderTest, UnloadedWindowAndMissingIdsAreRuntimeErrors) {
  win::DestroyWindow(window);
  const std::string tail = "\r\n\r\n";
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        ReadProperty(kWindowId, kNumberBox, kOwn, -1);
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：读取组件属性时发现指定窗口尚未载入") + tail);
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        WriteText(kNumberBox, kOwn, "1");
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：修改组件属性时发现指定窗口尚未载入") + tail);
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        ReadProperty(0x52010009, kNumberBox, 0, -1);
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：未载入欲访问窗口组件所在的窗口") + tail);
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        RaiseEvent(0x52010009, kButton, 0);
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：未找到引发事件的窗口") + tail);
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        RaiseEvent(kWindowId, 0x16019999, 0);
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：未找到引发事件的窗口组件") + tail);
}

TEST(WindowLoader, EventOfAnUnknownComponentTypeIsInvalid) {
  WindowTemplate t = TestTemplate();
  t.units[4].Record()->typeId = 0x00010099;
  UseTemplate(std::move(t));
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        RaiseEvent(kWindowId, kButton, 0);
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：引发事件的窗口组件无效"));
  // Nor can it be created, so the window does not load and nothing stays behind.
  EXPECT_FALSE(LoadProgramWindow(kWindowId));
  EXPECT_EQ(FindLoadedWindow(kWindowId), nullptr);
  for (const Unit& unit : ProgramTemplates().Find(kWindowId)->units) EXPECT_EQ(unit.Record()->liveWindow, nullptr);
  ProgramTemplates() = {};
}

TEST(WindowLoader, ComponentDataOfANewerVersionFailsTheLoad) {
  WindowTemplate t = TestTemplate();
  Bytes& data = t.units[1].Record()->componentData;
  data[0] = EditBoxData::kVersion + 1;
  UseTemplate(std::move(t));
  EXPECT_FALSE(LoadProgramWindow(kWindowId));
  EXPECT_EQ(LoadedWindowHandle(kWindowId), nullptr);
  EXPECT_EQ(FindLoadedWindow(kWindowId), nullptr);
  ProgramTemplates() = {};
}

}  // namespace
}  // namespace qv
