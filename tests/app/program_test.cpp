// The program from its process entry: it shows the main window from its template, runs the
// message loop while the window is open and ends with exit code 0 once the window is closed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "app/program.h"
#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "common/qt_driver.h"
#include "platform/ui/ui.h"
#include "platform/ui/window.h"
#include "runtime/memory/memory.h"
#include "runtime/windows/events.h"
#include "runtime/windows/properties.h"
#include "runtime/startup.h"
#include "runtime/windows/window_loader.h"

namespace quorvane {
namespace {

using qvtest::Gbk;

int g_cleanups = 0;
void CountCleanup(int32_t) { ++g_cleanups; }

// Runs once the loop idles with the window up: reports what it sees and closes the window.
void CloseMainWindow(void*) {
  const win::HWND window = qv::LoadedWindowHandle(kMainWindowId);
  std::fprintf(stderr, "window %s visible=%d\n", window ? "loaded" : "missing",
               window ? win::IsWindowVisible(window) : 0);
  // QV_MAIN_WINDOW_PNG names a file to keep a picture of the window in, for looking at it.
  if (const char* png = std::getenv("QV_MAIN_WINDOW_PNG"); png != nullptr && window != nullptr)
    std::fprintf(stderr, "grabbed %d\n", win::GrabWindowToPngForTesting(window, png));
  if (window != nullptr) win::SendMessageA(window, win::WM_CLOSE, 0, 0);
}

TEST(ProgramDeathTest, ShowsTheMainWindowAndEndsWithCodeZeroWhenItCloses) {
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        qv::AddIdleCallback(0, &CloseMainWindow, nullptr);
        qv::RegisterCleanup(&CountCleanup);
        static char name[] = "quorvane";
        static char* argv[2] = {name};
        const int code = ProgramMain(1, argv);
        qv::ShutdownRuntime(code);  // a second shutdown does nothing
        std::fprintf(stderr, "ended %d, clean-ups %d, windows left %d\n", code, g_cleanups,
                     qv::LoadedWindowHandle(kMainWindowId) != nullptr);
        std::exit(code);
      },
      testing::ExitedWithCode(0), "window loaded visible=1\n(grabbed 1\n)?ended 0, clean-ups 1, windows left 0\n");
}

// The main window as start-up loads it, in this process.
class MainWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    qv::InitialiseRuntime(Description());
    qv::LoadWindow(kMainWindowId);
  }
  static void TearDownTestSuite() { qv::ShutdownRuntime(0); }

  static win::HWND Control(uint32_t unit) {
    qv::Component* c = qv::FindLiveComponent(kMainWindowId, unit);
    return c != nullptr ? c->Handle() : nullptr;
  }
  static std::string Read(uint32_t unit, int32_t property) {
    char* text = reinterpret_cast<char*>(static_cast<intptr_t>(qv::ReadProperty(kMainWindowId, unit, property, -1)));
    std::string result = text ? text : "";
    qv::RuntimeFree(text);
    return result;
  }
  static void Write(uint32_t unit, int32_t property, const char* text) {
    const auto address = reinterpret_cast<uintptr_t>(text);
    qv::WriteProperty(kMainWindowId, unit, property, -1, static_cast<uint32_t>(address),
                      static_cast<uint32_t>(address >> 32));
  }
};

TEST_F(MainWindowTest, ControlsCarryTheirChildIdsAndTexts) {
  const win::HWND window = qv::LoadedWindowHandle(kMainWindowId);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(win::IsWindowVisible(window));
  EXPECT_EQ(win::GetDlgCtrlID(Control(kQuestionBoxId)), 100);
  EXPECT_EQ(win::GetDlgCtrlID(Control(kChapterBoxId)), 210);
  EXPECT_EQ(win::GetParent(Control(kQueryButtonId)), window);
  EXPECT_EQ(Gbk(Read(0, 8)), Gbk("Quorvane    By:Ostrel"));
  EXPECT_EQ(Gbk(Read(kQuestionBoxId, 8)), Gbk("指令系统中采用不同寻址方式的目的是"));
  EXPECT_EQ(Gbk(Read(kTypeBoxId, 8)), Gbk("1"));
  EXPECT_EQ(Gbk(Read(kQueryButtonId, 8 + 2)), Gbk("查询"));
  EXPECT_EQ(Gbk(Read(kVelmoraRadioId, 8 + 3)), Gbk("Velmora（Lianto）"));
  EXPECT_EQ(Gbk(Read(0x16010003, 8)), Gbk("题目"));
  EXPECT_EQ(qv::ReadProperty(kMainWindowId, 0, 2, -1), 442);
  EXPECT_EQ(qv::ReadProperty(kMainWindowId, 0, 3, -1), 262);
}

// The main window's table, written out here, against what the loaded window shows: each control's
// id, place, size, text, font, colours and input mode.
TEST_F(MainWindowTest, LoadedControlsMatchTheWindowTable) {
  enum Kind { kEdit, kLabel, kRadio, kButton };
  constexpr uint32_t kFace = 0xFF000000;  // the button-face colour
  constexpr uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF, kGreen = 0x00FF00;
  const struct {
    uint32_t id;
    Kind kind;
    int left, top, width, height;
    std::string text;
    int fontHeight;  // 0: the default GUI font
    uint32_t textColour, backColour;
    int inputMode;
  } kTable[] = {
      {0x1601598A, kEdit, 144, 152, 96, 24, "", 0, kBlack, kWhite, 0},
      {0x16015989, kLabel, 16, 152, 120, 24, "章节(选填)如第九章：", 0, kBlack, kFace, 0},
      {0x16015988, kEdit, 96, 120, 144, 24, "", 0, kBlack, kWhite, 0},
      {0x16015987, kLabel, 16, 120, 64, 32, "课程(选填)：", 0, kBlack, kFace, 0},
      {0x16015986, kRadio, 96, 8, 104, 24, "Velmora（Lianto）", 0, kBlack, kFace, 0},
      {0x16015985, kRadio, 248, 8, 56, 24, "Tandrel", 0, kBlack, kFace, 0},
      {0x16012E12, kEdit, 360, 88, 48, 24, "1", 0, kBlack, kWhite, 3},
      {0x16012E10, kLabel, 8, 88, 336, 24, "单选题1 多选题 2填空题3 问答题4 判断题14(填数字)", -14, kBlack, kFace, 0},
      {0x16010005, kButton, 248, 120, 176, 56, "查询", 0, 0, 0, 0},
      {0x16010004, kEdit, 8, 184, 424, 48,
       "课程和章节默认不填，题目找不到在填。\r\n \r\n" + std::string(23, ' ') + "Quorvane  By:Ostrel", -14, kGreen, kBlack, 1},
      {0x16010003, kLabel, 8, 40, 56, 40, "题目", -24, kBlack, kFace, 0},
      {0x16010002, kEdit, 64, 40, 368, 40, "指令系统中采用不同寻址方式的目的是", 0, kBlack, kWhite, 0},
  };
  win::LOGFONTA guiFont;
  ASSERT_EQ(win::GetObjectA(win::GetStockObject(win::DEFAULT_GUI_FONT), sizeof guiFont, &guiFont), 60);
  const uint32_t face = win::GetSysColor(win::COLOR_BTNFACE);
  // The loader numbers the controls from the last one: 100 for the twelfth, 210 for the first.
  int childId = 210;
  for (const auto& row : kTable) {
    SCOPED_TRACE(testing::Message() << std::hex << row.id);
    const win::HWND control = Control(row.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(win::GetDlgCtrlID(control), childId);
    childId -= 10;
    win::RECT outer{};
    win::GetWindowRect(control, &outer);
    win::POINT origin{outer.left, outer.top};
    win::ScreenToClient(qv::LoadedWindowHandle(kMainWindowId), &origin);
    EXPECT_EQ(origin.x, row.left);
    EXPECT_EQ(origin.y, row.top);
    EXPECT_EQ(outer.right - outer.left, row.width);
    EXPECT_EQ(outer.bottom - outer.top, row.height);
    char text[256] = {};
    win::GetWindowTextA(control, text, sizeof text);
    EXPECT_EQ(Gbk(text), Gbk(row.text));
    win::LOGFONTA font;
    const auto fontHandle = reinterpret_cast<win::HGDIOBJ>(win::SendMessageA(control, win::WM_GETFONT, 0, 0));
    ASSERT_EQ(win::GetObjectA(fontHandle, sizeof font, &font), 60);
    EXPECT_EQ(font.lfHeight, row.fontHeight != 0 ? row.fontHeight : guiFont.lfHeight);
    EXPECT_EQ(font.lfWeight, row.fontHeight != 0 ? 400 : guiFont.lfWeight);
    if (row.kind == kButton) continue;
    // Colour properties: text then background, at the kind's own property numbers.
    const int32_t colours = row.kind == kEdit ? 10 : row.kind == kLabel ? 16 : 15;
    EXPECT_EQ(static_cast<uint32_t>(qv::ReadProperty(kMainWindowId, row.id, colours, -1)), row.textColour);
    EXPECT_EQ(static_cast<uint32_t>(qv::ReadProperty(kMainWindowId, row.id, colours + 1, -1)), row.backColour);
    if (row.kind == kRadio) continue;
    // The background as drawn, in the bottom right corner inside any border.
    const uint32_t back = row.backColour == kFace ? face : row.backColour;  // COLORREF: 0xBBGGRR
    EXPECT_EQ(qvtest::PixelOfWindow(control, row.width - 4, row.height - 4),
              ((back & 0xFF) << 16) | (back & 0xFF00) | ((back >> 16) & 0xFF));
    if (row.kind != kEdit) continue;
    EXPECT_EQ(qv::ReadProperty(kMainWindowId, row.id, 18, -1), row.inputMode);
    const auto style = static_cast<win::DWORD>(win::GetWindowLongPtrA(control, win::GWL_STYLE));
    EXPECT_EQ((style & win::ES_READONLY) != 0, row.inputMode == 1);
    EXPECT_EQ((style & win::ES_MULTILINE) != 0, row.id == kAnswerBoxId);
    const win::LRESULT limit = row.id == kTypeBoxId ? 2 : row.id == kAnswerBoxId ? 0xFFFFFFFF : 0x7FFFFFFE;
    EXPECT_EQ(win::SendMessageA(control, win::EM_GETLIMITTEXT, 0, 0), limit);
  }
}

TEST_F(MainWindowTest, WindowHasAFixedFrameWithAMinimiseBoxOnly) {
  const win::HWND window = qv::LoadedWindowHandle(kMainWindowId);
  ASSERT_NE(window, nullptr);
  char title[64] = {};
  win::GetWindowTextA(window, title, sizeof title);
  EXPECT_EQ(Gbk(title), Gbk("Quorvane    By:Ostrel"));
  const auto style = static_cast<win::DWORD>(win::GetWindowLongPtrA(window, win::GWL_STYLE));
  EXPECT_EQ(style & win::WS_CAPTION, win::WS_CAPTION);
  EXPECT_NE(style & win::WS_SYSMENU, 0u);
  EXPECT_NE(style & win::WS_MINIMIZEBOX, 0u);
  EXPECT_EQ(style & win::WS_MAXIMIZEBOX, 0u);
  EXPECT_EQ(style & win::WS_THICKFRAME, 0u);
  win::RECT outer{};
  win::GetWindowRect(window, &outer);
  EXPECT_EQ(outer.right - outer.left, 442);
  EXPECT_EQ(outer.bottom - outer.top, 262);
  EXPECT_EQ(outer.left, (win::GetSystemMetrics(win::SM_CXSCREEN) - 442) / 2);  // centred
}

TEST_F(MainWindowTest, BoxesAndRadiosAnswerThroughThePropertyEntries) {
  EXPECT_EQ(qv::ReadProperty(kMainWindowId, kVelmoraRadioId, 18, -1), 1);
  EXPECT_EQ(qv::ReadProperty(kMainWindowId, kTandrelRadioId, 18, -1), 0);
  win::SendMessageA(Control(kTandrelRadioId), win::BM_CLICK, 0, 0);
  EXPECT_EQ(qv::ReadProperty(kMainWindowId, kVelmoraRadioId, 18, -1), 0);
  EXPECT_EQ(qv::ReadProperty(kMainWindowId, kTandrelRadioId, 18, -1), 1);
  // Left and top are client coordinates of the window.
  EXPECT_EQ(qv::ReadProperty(kMainWindowId, kChapterBoxId, 0, -1), 144);
  EXPECT_EQ(qv::ReadProperty(kMainWindowId, kChapterBoxId, 1, -1), 152);
  Write(kAnswerBoxId, 8, "");
  EXPECT_EQ(Read(kAnswerBoxId, 8), "");
  Write(kAnswerBoxId, 8, "答案");
  EXPECT_EQ(Gbk(Read(kAnswerBoxId, 8)), Gbk("答案"));
  EXPECT_EQ(win::SendMessageA(Control(kTypeBoxId), win::EM_GETLIMITTEXT, 0, 0), 2);
}

TEST_F(MainWindowTest, TheTypeBoxTakesTwoDigitsOrMinusFromKeysPasteAndInputMethod) {
  const win::HWND box = Control(kTypeBoxId);
  Write(kTypeBoxId, 8, "1");
  win::SendMessageA(box, win::EM_SETSEL, 1, 1);  // the caret after the "1"
  qvtest::TypeCharacters(box, u"a");
  EXPECT_EQ(Read(kTypeBoxId, 8), "1");
  qvtest::TypeCharacters(box, u"4");
  EXPECT_EQ(Read(kTypeBoxId, 8), "14");
  qvtest::TypeCharacters(box, u"5");  // a third character does not fit
  EXPECT_EQ(Read(kTypeBoxId, 8), "14");
  qvtest::PressBackspace(box);
  EXPECT_EQ(Read(kTypeBoxId, 8), "1");
  qvtest::TypeCharacters(box, u"-");
  EXPECT_EQ(Read(kTypeBoxId, 8), "1-");
  // Pasted text goes through the same filter, character by character, and is cut to the room left.
  Write(kTypeBoxId, 8, "");
  qvtest::SetClipboardText(u"a1b2c3");
  qvtest::PressControlKey(box, 'V');
  EXPECT_EQ(Read(kTypeBoxId, 8), "12");
  // So does text committed by an input method.
  Write(kTypeBoxId, 8, "");
  qvtest::CommitInputMethodText(box, u"\u4e00x-9");
  EXPECT_EQ(Read(kTypeBoxId, 8), "-9");
  // The answer box takes nothing from the keyboard but lets its text be selected and copied.
  const win::HWND answer = Control(kAnswerBoxId);
  Write(kAnswerBoxId, 8, "copy me");
  qvtest::TypeCharacters(answer, u"x");
  EXPECT_EQ(Read(kAnswerBoxId, 8), "copy me");
  win::SendMessageA(answer, win::EM_SETSEL, 0, 4);
  qvtest::PressControlKey(answer, 'C');
  EXPECT_EQ(qvtest::ClipboardText(), u"copy");
}

TEST_F(MainWindowTest, TheQueryButtonsClickReachesItsHandler) {
  // The handler is the program's own; that it ran shows in the result.
  EXPECT_TRUE(qv::RaiseEvent(kMainWindowId, kQueryButtonId, 0));
  EXPECT_FALSE(qv::RaiseEvent(kMainWindowId, kAnswerBoxId, 0));  // no handler bound there
}

TEST(Program, DescriptionMatchesTheProgram) {
  const qv::ProgramDescription& d = Description();
  EXPECT_EQ(d.formatValue, 3);
  EXPECT_EQ(d.buildValue, 112204);
  EXPECT_EQ(d.dllCommandCount, 19);
  EXPECT_STREQ(d.dllLibraryNames[17], "Kernel32.dll");
  EXPECT_STREQ(d.dllFunctionNames[18], "WideCharToMultiByte");
  EXPECT_EQ(d.staticData, &kStaticData);
  EXPECT_EQ(Routines().startWindowId, 0x52010001u);
}

TEST(Program, StaticDataHoldsTheEmptyConstants) {
  qv::SetStaticDataRegion(Description().staticData, static_cast<size_t>(Description().staticDataLength));
  EXPECT_TRUE(qv::IsStaticData(kStaticData.emptyText));
  EXPECT_EQ(qv::ByteSetLengthOf(kStaticData.emptyByteSet), 0u);
  EXPECT_EQ(qv::ReadInt32(kStaticData.emptyByteSet), 1);
  qv::RuntimeFree(const_cast<char*>(kStaticData.emptyText));  // ignored
  qv::ClearStaticDataRegion();
}

}  // namespace
}  // namespace quorvane
