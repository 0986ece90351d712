// The first-paint hook: it reports a shown top-level window once, with its handle, after the
// window has painted; hidden windows, child windows, pictures taken for tests and a removed hook
// report nothing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/ui/ui.h"
#include "platform/ui/window.h"

namespace {

using win::HWND;

std::vector<HWND> g_painted;   // windows whose procedure got WM_PAINT, in order
std::vector<HWND> g_reported;  // windows the hook was called with
bool g_paintedBeforeReport = false;  // the first reported window had had its WM_PAINT
HWND g_destroyAtPaint = nullptr;  // a window that destroys itself in its first WM_PAINT

win::LRESULT PaintRecordingProcedure(HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam) {
  if (message != win::WM_PAINT) return win::DefWindowProcA(window, message, wParam, lParam);
  g_painted.push_back(window);
  const win::LRESULT result = win::DefWindowProcA(window, message, wParam, lParam);
  if (window == g_destroyAtPaint) {
    g_destroyAtPaint = nullptr;
    win::DestroyWindow(window);
  }
  return result;
}

bool Contains(const std::vector<HWND>& windows, HWND window) {
  for (HWND seen : windows) {
    if (seen == window) return true;
  }
  return false;
}

class UiFirstPaintTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    win::InitialiseApplication();
    win::WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = PaintRecordingProcedure;
    windowClass.lpszClassName = "FirstPaintFrame";
    win::RegisterClassA(&windowClass);
  }
  void SetUp() override {
    g_painted.clear();
    g_reported.clear();
    g_paintedBeforeReport = false;
    g_destroyAtPaint = nullptr;
    win::SetFirstPaintHookForTesting([](HWND window) {
      if (g_reported.empty()) g_paintedBeforeReport = Contains(g_painted, window);
      g_reported.push_back(window);
    });
  }
  void TearDown() override {
    win::SetFirstPaintHookForTesting({});
    for (HWND window : m_windows) {
      if (win::IsWindow(window)) win::DestroyWindow(window);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  HWND TopLevel(win::DWORD visibility) {
    const HWND window = win::CreateWindowExA(0, "FirstPaintFrame", "frame",
                                             win::WS_CAPTION | win::WS_SYSMENU | visibility, 40, 30, 442, 262,
                                             nullptr, nullptr, nullptr, nullptr);
    m_windows.push_back(window);
    return window;
  }

  // Dispatches messages until done() holds or the limit has passed, then a little longer, so that
  // a call that should not come has had its chance.
  template <typename Done>
  static bool PumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(2)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool reached = false;
    while (!(reached = done()) && std::chrono::steady_clock::now() < deadline) {
      win::ProcessPendingMessages();
      QThread::msleep(5);
    }
    for (int pass = 0; pass < 10; ++pass) {
      win::ProcessPendingMessages();
      QThread::msleep(5);
    }
    return reached;
  }

  std::vector<HWND> m_windows;
};

TEST_F(UiFirstPaintTest, ShownTopLevelWindowIsReportedOnceAfterItsPaintAndHiddenOnesNever) {
  const HWND hidden = TopLevel(0);
  const HWND shown = TopLevel(win::WS_VISIBLE);
  const HWND child = win::CreateWindowExA(0, "FirstPaintFrame", "", win::WS_CHILD | win::WS_VISIBLE, 8, 8, 100, 50,
                                          shown, nullptr, nullptr, nullptr);
  ASSERT_NE(hidden, nullptr);
  ASSERT_NE(shown, nullptr);
  ASSERT_NE(child, nullptr);

  ASSERT_TRUE(PumpUntil([] { return !g_reported.empty(); }));
  EXPECT_EQ(g_reported, std::vector<HWND>{shown});
  // The report comes after the window's own paint, not at show time.
  EXPECT_TRUE(g_paintedBeforeReport);
  EXPECT_TRUE(Contains(g_painted, child));
  EXPECT_FALSE(Contains(g_painted, hidden));

  // Later paints of the same window are not first paints.
  const size_t paintsBefore = g_painted.size();
  win::InvalidateRect(shown, nullptr, win::TRUE);
  PumpUntil([&] { return g_painted.size() > paintsBefore; });
  win::UpdateWindow(shown);
  EXPECT_GT(g_painted.size(), paintsBefore);
  EXPECT_EQ(g_reported, std::vector<HWND>{shown});

  // The hidden window is reported when it is shown and paints, under its own handle.
  win::ShowWindow(hidden, win::SW_SHOW);
  ASSERT_TRUE(PumpUntil([] { return g_reported.size() == 2; }));
  EXPECT_EQ(g_reported, (std::vector<HWND>{shown, hidden}));
}

TEST_F(UiFirstPaintTest, PictureOfAHiddenWindowIsNoPaintOnTheScreen) {
  const HWND hidden = TopLevel(0);
  const std::string path = testing::TempDir() + "first_paint_hidden.png";
  ASSERT_TRUE(win::GrabWindowToPngForTesting(hidden, path.c_str()));
  std::remove(path.c_str());
  // The picture was drawn by the window's procedure, yet nothing is reported.
  EXPECT_TRUE(Contains(g_painted, hidden));
  PumpUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_TRUE(g_reported.empty());

  // Its first real paint is still reported.
  win::ShowWindow(hidden, win::SW_SHOW);
  ASSERT_TRUE(PumpUntil([] { return !g_reported.empty(); }));
  EXPECT_EQ(g_reported, std::vector<HWND>{hidden});
}

TEST_F(UiFirstPaintTest, RemovedHookIsNotCalledAndWindowDestroyedBeforeTheReportIsSkipped) {
  win::SetFirstPaintHookForTesting({});
  const HWND shown = TopLevel(win::WS_VISIBLE);
  ASSERT_TRUE(PumpUntil([&] { return Contains(g_painted, shown); }));
  EXPECT_TRUE(g_reported.empty());

  // A window destroyed by its own first WM_PAINT is gone before the report would run: the hook
  // must not get the stale handle.
  win::SetFirstPaintHookForTesting([](HWND window) { g_reported.push_back(window); });
  const HWND gone = TopLevel(0);
  g_destroyAtPaint = gone;
  win::ShowWindow(gone, win::SW_SHOW);
  ASSERT_TRUE(PumpUntil([&] { return Contains(g_painted, gone); }));
  EXPECT_FALSE(win::IsWindow(gone));
  EXPECT_TRUE(g_reported.empty());
}

}  // namespace
