// Loading a window from its template, its controls' properties through the property entries, the
// events that reach the program's handlers, and the window going away again.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "common/qt_driver.h"
#include "platform/ui/window.h"
#include "runtime/errors.h"
#include "runtime/windows/component_data.h"
#include "runtime/windows/components.h"
#include "runtime/windows/events.h"
#include "runtime/memory/memory.h"
#include "runtime/windows/properties.h"
#include "runtime/windows/property_front.h"
#include "runtime/windows/window_loader.h"
#include "runtime/windows/window_registry.h"
#include "runtime/windows/window_template.h"

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
constexpr uint32_t kSecondWindowId = 0x52010003;

std::vector<int> g_calls;
void OnClick() { g_calls.push_back(-1); }
void OnLoad0() { g_calls.push_back(0); }
void OnLoad3() { g_calls.push_back(3); }
void OnLoad4() { g_calls.push_back(4); }
// Handlers of events with arguments and results, bound to the button's events 2 to 5.
EventSource g_source;
int64_t OnKey(intptr_t code, intptr_t shift) {
  g_source = CurrentEventSource();
  return code * 10 + shift;
}
void OnBump(intptr_t address) { *reinterpret_cast<int64_t*>(address) += 5; }
int64_t OnEight(intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e, intptr_t f, intptr_t g, intptr_t h) {
  int64_t digits = 0;
  for (intptr_t v : {a, b, c, d, e, f, g, h}) digits = digits * 10 + v;
  return digits;
}
void OnLoadSecond() { LoadProgramWindow(kSecondWindowId); }
using Handler = void (*)();
const Handler kHandlers[] = {&OnClick,
                             &OnLoad0,
                             &OnLoad3,
                             &OnLoad4,
                             reinterpret_cast<Handler>(&OnKey),
                             reinterpret_cast<Handler>(&OnBump),
                             reinterpret_cast<Handler>(&OnEight),
                             &OnLoadSecond};
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
                             {{0, Offset(0), {}}, {1, -1, {}}, {2, Offset(4), {}}, {3, Offset(5), {}},
                              {4, Offset(6), {}}, {5, Offset(7), {}}}));
  t.units.push_back(MakeUnit(kLabel, kLabelComponent, WriteComponentData(label), 100, 80, 120, 24));
  t.units[0].Record()->tag = "窗口标记";
  t.units[4].Record()->tag = "按钮标记";
  const int32_t hand = 14;  // the hand pointer over the button
  t.units[4].Record()->mousePointer.assign(reinterpret_cast<const uint8_t*>(&hand),
                                           reinterpret_cast<const uint8_t*>(&hand) + 4);
  return t;
}

// Puts the template into the program's collection with its handlers resolved, and a second window
// beside it.
void UseTemplate(WindowTemplate t) {
  TemplateCollection c;
  c.windows.push_back(std::move(t));
  c.windows.push_back(TestTemplate());
  c.windows.back().windowId = kSecondWindowId;
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

// The death-test matcher reads a regular expression: the box text is matched literally.
std::string Literal(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (std::strchr(".[]{}()*+?^$|\\", c) != nullptr) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// The whole error box of a report about a window and unit (UTF-8, as the capture prints it).
std::string ReportBox(int32_t number, const char* gbkMessage, uint32_t window, uint32_t unit,
                      const std::string& detailLines) {
  std::string text = qvtest::Utf8(u8"运行时出错!\r\n");
  if (number != 0) text += qvtest::Utf8(u8"\r\n错误代码：") + std::to_string(number) + "\r\n";
  text += qvtest::Utf8(u8"\r\n错误信息：") + qvtest::GbkToUtf8ForDisplay(gbkMessage) + "\r\n";
  text += qvtest::Utf8(u8"\r\n运行时错误相关信息值(在IDE中打开对应源程序后执行\"运行->到运行时错误相关位置\"菜单功能查看): ") +
          std::to_string(static_cast<int32_t>(window)) + ", " + std::to_string(static_cast<int32_t>(unit)) +
          detailLines + "\r\n";
  return qvtest::BoxMarker(qvtest::Utf8(u8"错误"), 0x10) + "\n" + Literal(text) + "\nEND-BOX";
}

TEST_F(WindowLoaderTest, RuntimeErrorsNameTheWindowAndTheComponent) {
  const std::string noWindow = qvtest::Utf8(u8"\r\n未找到所指定的窗口");
  const std::string windowLine = qvtest::Utf8(u8"\r\n所访问窗口的\"标记\"属性值: \"窗口标记\"");
  const std::string noUnit = windowLine + qvtest::Utf8(u8"\r\n未找到所指定的窗口组件");
  const std::string button = windowLine + qvtest::Utf8(u8"\r\n所访问窗口组件的\"标记\"属性值: \"按钮标记\"");
  const std::string radio = windowLine + qvtest::Utf8(u8"\r\n所访问窗口组件的\"标记\"属性值: \"\"");
  const char* mismatch = RuntimeErrorMessage(5);
  struct Row {
    std::function<void()> action;
    int32_t number;
    const char* message;
    uint32_t window, unit;
    std::string details;
  };
  const auto unloaded = [this](std::function<void()> then) {
    return [this, then] {
      win::DestroyWindow(window);
      then();
    };
  };
  EventArgument nine[9];
  const Row rows[] = {
      {unloaded([] { ReadProperty(kWindowId, kNumberBox, kOwn, -1); }), 0, error_text::kReadPropertyWindowNotLoaded,
       kWindowId, kNumberBox, noWindow},
      {unloaded([] { WriteText(kNumberBox, kOwn, "1"); }), 0, error_text::kWritePropertyWindowNotLoaded, kWindowId,
       kNumberBox, noWindow},
      {[] { ReadProperty(0x52010009, kNumberBox, 0, -1); }, 0, error_text::kComponentWindowNotLoaded, 0x52010009,
       kNumberBox, noWindow},
      {[] { RaiseEvent(0x52010009, kButton, 0); }, 0, error_text::kEventWindowNotFound, 0x52010009, kButton, noWindow},
      {[] { RaiseEvent(kWindowId, 0x16019999, 0); }, 0, error_text::kEventComponentNotFound, kWindowId, 0x16019999,
       noUnit},
      {[] { ReadProperty(kWindowId, 0x16019999, 0, -1); }, 0, error_text::kWindowOrComponentMissing, kWindowId,
       0x16019999, noUnit},
      {[&] { RaiseEvent(kWindowId, kButton, 2, nine, EventResult::Expected); }, 0, error_text::kEventComponentInvalid,
       kWindowId, kButton, button},
      {[] { ReadTextProperty(kWindowId, kFirstRadio, kOwn + 10); }, 5, mismatch, kWindowId, kFirstRadio, radio},
      {[] { ReadNumberProperty(kWindowId, kButton, kOwn + 2); }, 5, mismatch, kWindowId, kButton, button},
      {[] { WriteTextProperty(kWindowId, kButton, kOwn + 1, "1"); }, 5, mismatch, kWindowId, kButton, button},
  };
  for (const Row& r : rows) {
    EXPECT_EXIT(
        {
          qvtest::DismissBoxesAndReport();
          r.action();
        },
        testing::ExitedWithCode(255), ReportBox(r.number, r.message, r.window, r.unit, r.details))
        << qvtest::GbkToUtf8ForDisplay(r.message);
  }
}

TEST_F(WindowLoaderTest, EventsPassArgumentsAndReturnTheHandlersResult) {
  EventArgument key[] = {{7}, {1}};
  EXPECT_EQ(RaiseEvent(kWindowId, kButton, 2, key, EventResult::Expected), 71);
  EXPECT_EQ(g_source.windowId, kWindowId);
  EXPECT_EQ(g_source.unitId, kButton);
  EXPECT_EQ(CurrentEventSource().unitId, 0u);
  EventArgument negative[] = {{-3}, {0}};
  EXPECT_EQ(RaiseEvent(kWindowId, kButton, 2, negative, EventResult::Expected), -30);
  // By address the handler changes the argument; an event without a result gives 0.
  EventArgument bumped[] = {{37, ArgumentPassing::ByAddress}};
  EXPECT_EQ(RaiseEvent(kWindowId, kButton, 3, bumped, EventResult::None), 0);
  EXPECT_EQ(bumped[0].value, 42);
  EventArgument eight[8];
  for (int i = 0; i < 8; ++i) eight[i].value = i + 1;
  EXPECT_EQ(RaiseEvent(kWindowId, kButton, 4, eight, EventResult::Expected), 12345678);
  EXPECT_EQ(RaiseEvent(kWindowId, kButton, 1, key, EventResult::Expected), std::nullopt);  // no handler
  EventBlock block;
  EXPECT_EQ(RaiseEvent(kWindowId, kButton, 2, key, EventResult::Expected), std::nullopt);
}

TEST_F(WindowLoaderTest, TypedFrontReadsAndWritesTextsAndNumbers) {
  EXPECT_EQ(Gbk(ReadTextProperty(kWindowId, kNumberBox, kOwn).c_str()), Gbk("1"));
  WriteTextProperty(kWindowId, kNumberBox, kOwn, "答案：42");
  EXPECT_EQ(Gbk(ReadTextProperty(kWindowId, kNumberBox, kOwn).c_str()), Gbk("答案：42"));
  WriteTextProperty(kWindowId, kNumberBox, kOwn, nullptr);
  EXPECT_EQ(ReadTextProperty(kWindowId, kNumberBox, kOwn).get(), nullptr);
  EXPECT_EQ(ReadNumberProperty(kWindowId, kFirstRadio, kOwn + 10), 1);
  EXPECT_EQ(ReadNumberProperty(kWindowId, kSecondRadio, kOwn + 10), 0);
  EXPECT_EQ(ReadNumberProperty(kWindowId, kButton, 0), 10);
  WriteTextProperty(kWindowId, kButton, 4, "标记二");
  EXPECT_EQ(Gbk(ReadTextProperty(kWindowId, kButton, 4).c_str()), Gbk("标记二"));
  // A property the component lacks reads empty and takes nothing.
  EXPECT_TRUE(ReadTextProperty(kWindowId, kButton, kOwn + 6).empty());
  EXPECT_EQ(ReadNumberProperty(kWindowId, kButton, kOwn + 6), 0);
  WriteTextProperty(kWindowId, kButton, kOwn + 6, "x");
}

bool Within(win::HWND window, win::HWND top) {
  for (win::HWND w = window; w != nullptr; w = win::GetParent(w))
    if (w == top) return true;
  return false;
}

TEST_F(WindowLoaderTest, ASecondWindowLoadedFromAHandlerKeepsTheFocus) {
  win::ProcessPendingMessages();
  EXPECT_TRUE(Within(win::GetFocus(), window));
  win::SetFocus(Control(kButton));
  EXPECT_TRUE(RaiseEvent(kWindowId, kButton, 5));
  const win::HWND second = LoadedWindowHandle(kSecondWindowId);
  ASSERT_NE(second, nullptr);
  win::ProcessPendingMessages();
  EXPECT_EQ(win::GetActiveWindow(), second);
  EXPECT_TRUE(Within(win::GetFocus(), second));
  win::DestroyWindow(second);
}

// A byte set block owned by the runtime, as the program hands one to a property.
struct ByteSetArgument {
  explicit ByteSetArgument(const std::string& bytes) : block(NewByteSet(bytes.data(), bytes.size())) {}
  ~ByteSetArgument() { RuntimeFree(block); }
  void* block;
};

void WriteByteSet(uint32_t unit, int32_t property, const std::string& bytes) {
  ByteSetArgument argument(bytes);
  const auto address = reinterpret_cast<uintptr_t>(argument.block);
  WriteProperty(kWindowId, unit, property, -1, static_cast<uint32_t>(address), static_cast<uint32_t>(address >> 32));
}

std::string TakeByteSet(int64_t value) {
  void* block = reinterpret_cast<void*>(static_cast<intptr_t>(value));
  const size_t n = ByteSetLengthOf(block);
  std::string bytes = n == 0 ? std::string() : std::string(reinterpret_cast<const char*>(ByteSetData(block)), n);
  RuntimeFree(block);
  return bytes;
}

std::string PointerNumber(int32_t number) { return std::string(reinterpret_cast<const char*>(&number), 4); }

win::LONG_PTR StyleOf(win::HWND window) { return win::GetWindowLongPtrA(window, win::GWL_STYLE); }

// Every number and flag property of the five components reads back what was written.
TEST_F(WindowLoaderTest, NumberAndFlagPropertiesReadBackWhatWasWritten) {
  struct Case {
    uint32_t unit;
    int32_t k;
    int64_t value;
  };
  const Case cases[] = {
      {kWindowUnit, 1, 4}, {kWindowUnit, 2, 0x00112233}, {kWindowUnit, 4, 2}, {kWindowUnit, 7, 0},
      {kWindowUnit, 8, 1}, {kWindowUnit, 9, 0}, {kWindowUnit, 10, 0}, {kWindowUnit, 11, 0}, {kWindowUnit, 12, 1},
      {kNumberBox, 1, 3}, {kNumberBox, 2, 0x0000FF00}, {kNumberBox, 3, 0}, {kNumberBox, 5, 0}, {kNumberBox, 6, 5},
      {kNumberBox, 9, 2}, {kNumberBox, 10, 5}, {kNumberBox, 11, '#'}, {kNumberBox, 12, 2}, {kNumberBox, 14, -5},
      {kNumberBox, 15, 50},
      {kLabel, 1, 7}, {kLabel, 6, -3}, {kLabel, 8, 0x000000FF}, {kLabel, 9, 0x00FFFFFF},
      {kButton, 1, 1}, {kButton, 3, 0}, {kButton, 4, 2},
      {kFirstRadio, 1, 1}, {kFirstRadio, 2, 1}, {kFirstRadio, 4, 1}, {kFirstRadio, 5, 2}, {kFirstRadio, 6, 0},
      {kFirstRadio, 7, 0x00FF0000}, {kFirstRadio, 8, 0x00ABCDEF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.unit << " property " << std::dec << kOwn + c.k);
    WriteProperty(kWindowId, c.unit, kOwn + c.k, -1, static_cast<uint32_t>(c.value), 0);
    EXPECT_EQ(ReadProperty(kWindowId, c.unit, kOwn + c.k, -1), c.value);
  }
  // The controls follow their styles.
  EXPECT_EQ(StyleOf(Control(kNumberBox)) & (win::ES_RIGHT | win::ES_CENTER), win::ES_RIGHT);
  EXPECT_NE(StyleOf(Control(kNumberBox)) & win::ES_UPPERCASE, 0);
  EXPECT_NE(StyleOf(Control(kNumberBox)) & win::ES_NOHIDESEL, 0);
  EXPECT_EQ(win::GetWindowLongPtrA(Control(kNumberBox), win::GWL_EXSTYLE), win::WS_EX_STATICEDGE);
  EXPECT_EQ(StyleOf(Control(kButton)) & win::BS_TYPEMASK, win::BS_DEFPUSHBUTTON);
  EXPECT_EQ(StyleOf(Control(kButton)) & win::BS_VCENTER, win::BS_BOTTOM);
  EXPECT_EQ(StyleOf(Control(kButton)) & win::BS_CENTER, win::BS_LEFT);
  const auto radio = StyleOf(Control(kFirstRadio));
  EXPECT_EQ(radio & (win::BS_PUSHLIKE | win::BS_FLAT | win::BS_LEFTTEXT),
            win::BS_PUSHLIKE | win::BS_FLAT | win::BS_LEFTTEXT);
  EXPECT_EQ(radio & win::BS_TYPEMASK, win::BS_AUTORADIOBUTTON);
  // Properties a component lacks read as 0 and take nothing.
  EXPECT_EQ(ReadProperty(kWindowId, kButton, kOwn + 6, -1), 0);
  WriteProperty(kWindowId, kButton, kOwn + 6, -1, 1, 0);
  EXPECT_EQ(ReadProperty(kWindowId, kButton, kOwn + 6, -1), 0);
}

TEST_F(WindowLoaderTest, TextAndByteSetPropertiesReadBackWhatWasWritten) {
  WriteText(kNumberBox, kOwn + 19, "中 nineteen");
  WriteText(kNumberBox, kOwn + 20, "twenty");
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kNumberBox, kOwn + 19, -1)), "中 nineteen");
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kNumberBox, kOwn + 20, -1)), "twenty");
  WriteText(kWindowUnit, kOwn + 13, "OtherClass");
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kWindowUnit, kOwn + 13, -1)), "OtherClass");
  // Fonts: 60 bytes are a LOGFONT, anything else the default GUI font, and the bytes read back.
  win::LOGFONTA font;
  font.lfHeight = -20;
  const std::string fontBytes(reinterpret_cast<const char*>(&font), sizeof font);
  for (const auto& [unit, k] : std::vector<std::pair<uint32_t, int32_t>>{
           {kNumberBox, 4}, {kLabel, 7}, {kButton, 5}, {kFirstRadio, 9}}) {
    WriteByteSet(unit, kOwn + k, fontBytes);
    EXPECT_EQ(TakeByteSet(ReadProperty(kWindowId, unit, kOwn + k, -1)), fontBytes);
    auto* used = reinterpret_cast<win::HGDIOBJ>(win::SendMessageA(Control(unit), win::WM_GETFONT, 0, 0));
    win::LOGFONTA seen;
    ASSERT_EQ(win::GetObjectA(used, sizeof seen, &seen), static_cast<int>(sizeof seen));
    EXPECT_EQ(seen.lfHeight, -20);
    WriteByteSet(unit, kOwn + k, fontBytes.substr(0, 59));
    used = reinterpret_cast<win::HGDIOBJ>(win::SendMessageA(Control(unit), win::WM_GETFONT, 0, 0));
    EXPECT_EQ(used, win::GetStockObject(win::DEFAULT_GUI_FONT));
  }
}

TEST_F(WindowLoaderTest, SelectionPropertiesCountCharactersOfGbkText) {
  WriteText(kLabel, kOwn, "x");  // unrelated control stays as it is
  // The number box takes digits from the user only; the program sets any text.
  WriteProperty(kWindowId, kNumberBox, kOwn + 6, -1, 0, 0);
  WriteText(kNumberBox, kOwn, "中文abc");
  WriteProperty(kWindowId, kNumberBox, kOwn + 16, -1, 1, 0);
  WriteProperty(kWindowId, kNumberBox, kOwn + 17, -1, 3, 0);
  EXPECT_EQ(ReadProperty(kWindowId, kNumberBox, kOwn + 16, -1), 1);
  EXPECT_EQ(ReadProperty(kWindowId, kNumberBox, kOwn + 17, -1), 3);
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kNumberBox, kOwn + 18, -1)), "文ab");
  WriteText(kNumberBox, kOwn + 18, "答");  // replaces the selection
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kNumberBox, kOwn, -1)), "中答c");
  // Setting the start puts the caret there with nothing selected; past the end is the end.
  WriteProperty(kWindowId, kNumberBox, kOwn + 16, -1, 99, 0);
  EXPECT_EQ(ReadProperty(kWindowId, kNumberBox, kOwn + 16, -1), 3);
  EXPECT_EQ(ReadProperty(kWindowId, kNumberBox, kOwn + 17, -1), 0);
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kNumberBox, kOwn + 18, -1)), "");
}

TEST_F(WindowLoaderTest, MultiLineAndPasswordModeMakeTheBoxAnewInItsPlace) {
  win::HWND before = Control(kNumberBox);
  WriteText(kNumberBox, kOwn, "12");
  WriteProperty(kWindowId, kNumberBox, 1, -1, 25, 0);
  win::ProcessPendingMessages();
  win::SetFocus(before);
  win::ProcessPendingMessages();
  ASSERT_EQ(win::GetFocus(), before);
  WriteProperty(kWindowId, kNumberBox, kOwn + 7, -1, 1, 0);
  win::ProcessPendingMessages();
  win::HWND after = Control(kNumberBox);
  ASSERT_NE(after, nullptr);
  EXPECT_FALSE(win::IsWindow(before));
  EXPECT_NE(StyleOf(after) & win::ES_MULTILINE, 0);
  EXPECT_EQ(TakeText(ReadProperty(kWindowId, kNumberBox, kOwn, -1)), "12");
  EXPECT_EQ(ReadProperty(kWindowId, kNumberBox, 1, -1), 25);
  EXPECT_EQ(ReadProperty(kWindowId, kNumberBox, 2, -1), 48);
  EXPECT_EQ(win::GetDlgCtrlID(after), 140);
  EXPECT_EQ(win::GetFocus(), after);
  EXPECT_EQ(win::GetWindow(window, win::GW_CHILD), after);  // still on top of its siblings
  EXPECT_EQ(win::SendMessageA(after, win::EM_GETLIMITTEXT, 0, 0), 2);
  // The filter came along: letters are refused from the user.
  EXPECT_EQ(ReadProperty(kWindowId, kNumberBox, kOwn + 10, -1), 3);
  // Password mode is fixed at creation too; the character masks only in that mode.
  WriteProperty(kWindowId, kNumberBox, kOwn + 7, -1, 0, 0);
  WriteProperty(kWindowId, kNumberBox, kOwn + 10, -1, 2, 0);
  EXPECT_NE(StyleOf(Control(kNumberBox)) & win::ES_PASSWORD, 0);
  EXPECT_EQ(win::SendMessageA(Control(kNumberBox), win::EM_GETPASSWORDCHAR, 0, 0), '*');
  WriteProperty(kWindowId, kNumberBox, kOwn + 10, -1, 0, 0);
  EXPECT_EQ(StyleOf(Control(kNumberBox)) & win::ES_PASSWORD, 0);
  EXPECT_EQ(win::SendMessageA(Control(kNumberBox), win::EM_GETPASSWORDCHAR, 0, 0), 0);
  // Hiding the box after all that still works on the live window.
  WriteProperty(kWindowId, kNumberBox, 5, -1, 0, 0);
  EXPECT_FALSE(win::IsWindowVisible(Control(kNumberBox)));
}

TEST_F(WindowLoaderTest, SpinBuddyComesAndGoesWithTheBox) {
  win::HWND box = Control(kNumberBox);
  WriteProperty(kWindowId, kNumberBox, kOwn + 14, -1, 0, 0);
  WriteProperty(kWindowId, kNumberBox, kOwn + 15, -1, 20, 0);
  WriteProperty(kWindowId, kNumberBox, kOwn + 13, -1, 1, 0);
  win::HWND spin = win::GetWindow(box, win::GW_HWNDNEXT);
  ASSERT_NE(spin, nullptr);
  ASSERT_EQ(reinterpret_cast<win::HWND>(win::SendMessageA(spin, win::UDM_GETBUDDY, 0, 0)), box);
  int low = -1, high = -1;
  win::SendMessageA(spin, win::UDM_GETRANGE32, reinterpret_cast<win::WPARAM>(&low),
                    reinterpret_cast<win::LPARAM>(&high));
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 20);
  // It stands inside the box's old rectangle, at its right.
  win::RECT boxRect, spinRect;
  win::GetWindowRect(box, &boxRect);
  win::GetWindowRect(spin, &spinRect);
  EXPECT_EQ(boxRect.right, spinRect.left);
  EXPECT_EQ(spinRect.right - boxRect.left, 48);
  // It hides with the box and goes when the buddy is switched off, giving the width back.
  WriteProperty(kWindowId, kNumberBox, 5, -1, 0, 0);
  EXPECT_FALSE(win::IsWindowVisible(spin));
  WriteProperty(kWindowId, kNumberBox, 5, -1, 1, 0);
  EXPECT_TRUE(win::IsWindowVisible(spin));
  WriteProperty(kWindowId, kNumberBox, kOwn + 13, -1, 0, 0);
  EXPECT_FALSE(win::IsWindow(spin));
  EXPECT_EQ(ReadProperty(kWindowId, kNumberBox, 2, -1), 48);
  // Multi-line boxes have none.
  WriteProperty(kWindowId, kNumberBox, kOwn + 7, -1, 1, 0);
  WriteProperty(kWindowId, kNumberBox, kOwn + 13, -1, 1, 0);
  EXPECT_EQ(win::GetWindow(Control(kNumberBox), win::GW_HWNDNEXT), Control(kFirstRadio));
}

TEST_F(WindowLoaderTest, MousePointersBecomeCursorsOverTheirControls) {
  EXPECT_EQ(win::GetWindowCursor(Control(kButton)), win::LoadCursorA(nullptr, win::IDC_HAND));
  EXPECT_EQ(win::GetWindowCursor(Control(kLabel)), nullptr);  // pointer 0: the class cursor
  EXPECT_EQ(ProgramTemplates().Find(kWindowId)->FindUnit(kButton)->Record()->liveCursor,
            win::LoadCursorA(nullptr, win::IDC_HAND));
  struct Case {
    std::string pointer;
    win::LPCSTR expected;
  };
  const Case cases[] = {
      {PointerNumber(3), win::IDC_IBEAM}, {PointerNumber(2), win::IDC_CROSS}, {std::string(1, '\x04'), win::IDC_WAIT},
      {PointerNumber(32646), win::IDC_SIZEALL}, {PointerNumber(0), nullptr}, {PointerNumber(99), nullptr},
      {std::string(), nullptr}, {PointerNumber(-1), nullptr}, {PointerNumber(-1) + "no image", nullptr}};
  for (const Case& c : cases) {
    WriteByteSet(kLabel, 7, c.pointer);
    EXPECT_EQ(TakeByteSet(ReadProperty(kWindowId, kLabel, 7, -1)), c.pointer);
    EXPECT_EQ(win::GetWindowCursor(Control(kLabel)),
              c.expected ? win::LoadCursorA(nullptr, c.expected) : nullptr);
  }
  // Cursor data of its own makes a cursor of the window's own.
  WriteByteSet(kLabel, 7, PointerNumber(-1) + qvtest::SolidImageFile(16, 16, 0xFF0000, "BMP"));
  win::HCURSOR own = win::GetWindowCursor(Control(kLabel));
  EXPECT_NE(own, nullptr);
  EXPECT_NE(own, win::LoadCursorA(nullptr, win::IDC_ARROW));
  // Closing the window takes the cursors down with the controls.
  win::DestroyWindow(window);
  EXPECT_EQ(ProgramTemplates().Find(kWindowId)->FindUnit(kLabel)->Record()->liveCursor, nullptr);
}

TEST_F(WindowLoaderTest, PicturesAreDrawnAndReadBack) {
  const std::string red = qvtest::SolidImageFile(8, 8, 0xFF0000);
  WriteByteSet(kLabel, kOwn + 10, red);
  EXPECT_EQ(TakeByteSet(ReadProperty(kWindowId, kLabel, kOwn + 10, -1)), red);
  WriteText(kLabel, kOwn, "");
  EXPECT_EQ(qvtest::PixelOfWindow(Control(kLabel), 3, 3), 0xFF0000u);
  // Bytes that are no picture show none and still read back.
  WriteByteSet(kLabel, kOwn + 10, "not a picture");
  EXPECT_NE(qvtest::PixelOfWindow(Control(kLabel), 3, 3), 0xFF0000u);
  EXPECT_EQ(TakeByteSet(ReadProperty(kWindowId, kLabel, kOwn + 10, -1)), "not a picture");

  const std::string blue = qvtest::SolidImageFile(10, 10, 0x0000FF, "BMP");
  WriteByteSet(kButton, kOwn + 0, blue);
  EXPECT_NE(win::SendMessageA(Control(kButton), win::BM_GETIMAGE, win::IMAGE_BITMAP, 0), 0);
  WriteByteSet(kButton, kOwn + 0, "");
  EXPECT_EQ(win::SendMessageA(Control(kButton), win::BM_GETIMAGE, win::IMAGE_BITMAP, 0), 0);
  WriteByteSet(kFirstRadio, kOwn + 0, blue);
  EXPECT_EQ(TakeByteSet(ReadProperty(kWindowId, kFirstRadio, kOwn + 0, -1)), blue);
  EXPECT_NE(win::SendMessageA(Control(kFirstRadio), win::BM_GETIMAGE, win::IMAGE_BITMAP, 0), 0);

  // The window's picture: mode 1 stretches it over the client area.
  WriteByteSet(kWindowUnit, kOwn + 3, qvtest::SolidImageFile(4, 4, 0x00FF00));
  WriteProperty(kWindowId, kWindowUnit, kOwn + 4, -1, 1, 0);
  win::RECT client;
  win::GetClientRect(window, &client);
  EXPECT_EQ(qvtest::PixelOfWindow(window, client.right - 3, client.bottom - 3), 0x00FF00u);
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

TEST(WindowLoader, SpinBuddyIsMadeWhereItsBoxEndsUpAndStaysDirectlyBelowIt) {
  for (const bool contained : {false, true}) {
    SCOPED_TRACE(contained ? "in a container" : "on the window");
    WindowTemplate t = TestTemplate();
    EditBoxData number;
    number.spinBuddy = 1;
    t.units[1].Record()->componentData = WriteComponentData(number);
    if (contained) t.units[1].Record()->containerId = kLabel;
    UseTemplate(std::move(t));
    ASSERT_TRUE(LoadProgramWindow(kWindowId));
    const win::HWND box = Control(kNumberBox);
    const win::HWND spin = win::GetWindow(box, win::GW_HWNDNEXT);
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(reinterpret_cast<win::HWND>(win::SendMessageA(spin, win::UDM_GETBUDDY, 0, 0)), box);
    EXPECT_EQ(win::GetParent(spin), contained ? Control(kLabel) : LoadedWindowHandle(kWindowId));
    EXPECT_TRUE(win::IsWindowVisible(spin));
    win::DestroyWindow(LoadedWindowHandle(kWindowId));
    ProgramTemplates() = {};
  }
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
