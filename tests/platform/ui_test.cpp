// The user-interface stand-in: application set-up, the message loop's idle and quit behaviour,
// message boxes seen through the test hook, and message-only windows across threads.
#include <gtest/gtest.h>
#include <time.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/ui.h"
#include "platform/ui/ui_private.h"

namespace {

using namespace std::chrono_literals;
using win::DWORD;
using win::HWND;
using win::LPARAM;
using win::LRESULT;
using win::UINT;
using win::WPARAM;

constexpr int kTimedOut = -12345;

// Ends the running loop with kTimedOut if a test would otherwise wait forever.
class LoopWatchdog {
 public:
  explicit LoopWatchdog(std::chrono::milliseconds limit = 5s) {
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [] { win::PostQuitMessage(kTimedOut); });
    m_timer.start(limit);
  }

 private:
  QTimer m_timer;
};

void Post(std::function<void()> work) { QMetaObject::invokeMethod(qApp, std::move(work), Qt::QueuedConnection); }

// Posts to the application thread from any thread.
void PostQuitToApplicationThread(int code) {
  QMetaObject::invokeMethod(qApp, [code] { win::PostQuitMessage(code); }, Qt::QueuedConnection);
}

// Runs work on a new thread; Wait gives up after a bound instead of hanging the test.
class Worker {
 public:
  explicit Worker(std::function<void()> work)
      : m_thread([this, work = std::move(work)] {
          work();
          m_done = true;
        }) {}
  ~Worker() {
    if (m_thread.joinable()) m_thread.detach();
  }
  bool Done() const { return m_done; }
  bool Wait(std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!m_done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    if (!m_done) return false;
    m_thread.join();
    return true;
  }

 private:
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

QMessageBox* ShownBox() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

QAbstractButton* ButtonLabelled(QMessageBox* box, const QString& label) {
  for (QAbstractButton* button : box->buttons()) {
    if (button->text() == label) return button;
  }
  return nullptr;
}

class UiTest : public testing::Test {
 protected:
  void SetUp() override {
    win::InitialiseApplication();
    win::SetMessageBoxHookForTesting({});
  }
  void TearDown() override {
    win::SetMessageBoxHookForTesting({});
    // A quit left by a failed test must not end the next test's loop at once.
    while (win::IsQuitMessagePending()) win::RunMessageLoop({});
    win::ProcessPendingMessages();
  }
};

// ---------------------------------------------------------------------------------------------
// Application

TEST(UiApplication, WithoutAnyDisplayDrawsOffscreenInsteadOfEnding) {
  EXPECT_EXIT(
      {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        win::InitialiseApplication();
        win::ExitProcess(QGuiApplication::platformName() == QStringLiteral("offscreen") ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(UiApplication, MessageBoxCreatesTheApplicationOnDemand) {
  EXPECT_EXIT(
      {
        const bool before = win::ApplicationExists();
        win::SetMessageBoxHookForTesting([](const win::MessageBoxSeen&) { return win::IDOK; });
        const int answer = win::MessageBoxA(nullptr, "x", "y", win::MB_OK);
        win::ExitProcess(!before && win::ApplicationExists() && answer == win::IDOK ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(UiTest, ApplicationIsCreatedOnceWithTheSystemGuiFont) {
  QCoreApplication* first = QCoreApplication::instance();
  char name[] = "other";
  char* argv[] = {name, nullptr};
  win::InitialiseApplication(1, argv);
  EXPECT_TRUE(win::ApplicationExists());
  EXPECT_EQ(QCoreApplication::instance(), first);

  const QFont font = QApplication::font();
  EXPECT_EQ(font.family(), QStringLiteral("WenQuanYi Micro Hei"));
  EXPECT_EQ(font.pixelSize(), 12);
  // The face must really be installed, or Chinese captions fall back to something else.
  EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("WenQuanYi Micro Hei"));
  EXPECT_TRUE(QFontMetrics(font).inFont(QChar(0x9519)));  // 错
}

// ---------------------------------------------------------------------------------------------
// Message loop

TEST_F(UiTest, IdleCountsFromZeroStopsAndRestartsAfterAMessage) {
  LoopWatchdog watchdog;
  QTimer message;
  message.setSingleShot(true);
  QObject::connect(&message, &QTimer::timeout, [] {});
  std::vector<int> counts;
  bool restarted = false;
  const int code = win::RunMessageLoop([&](int count) {
    counts.push_back(count);
    if (!restarted && count == 3) {
      restarted = true;
      message.start(20ms);
      return false;
    }
    if (restarted && count == 2) win::PostQuitMessage(5);
    return !(restarted && count == 2);
  });
  EXPECT_EQ(code, 5);
  EXPECT_EQ(counts, (std::vector<int>{0, 1, 2, 3, 0, 1, 2}));
  EXPECT_FALSE(win::IsQuitMessagePending());
}

double ProcessCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

TEST_F(UiTest, LoopSleepsWhenIdlingIsOver) {
  LoopWatchdog watchdog;
  // Measured from the idle pass that ends idling to the message that ends the wait.
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  double cpuAtIdleEnd = 0, cpuAtWake = 0;
  std::chrono::steady_clock::time_point wallAtIdleEnd, wallAtWake;
  QObject::connect(&wake, &QTimer::timeout, [&] {
    cpuAtWake = ProcessCpuMilliseconds();
    wallAtWake = std::chrono::steady_clock::now();
    win::PostQuitMessage(0);
  });
  int idleCalls = 0;
  EXPECT_EQ(win::RunMessageLoop([&](int) {
              ++idleCalls;
              wake.start(300ms);
              wallAtIdleEnd = std::chrono::steady_clock::now();
              cpuAtIdleEnd = ProcessCpuMilliseconds();
              return false;
            }),
            0);
  EXPECT_GE(wallAtWake - wallAtIdleEnd, 250ms);
  EXPECT_LT(cpuAtWake - cpuAtIdleEnd, 100.0) << "the loop spun instead of waiting";
  // The quit message arrived while idling was off; it ends the loop without another idle pass.
  EXPECT_EQ(idleCalls, 1);
}

TEST_F(UiTest, MessagesWaitingBeforeTheQuitAreDispatchedFirstAndIdleNeverRuns) {
  LoopWatchdog watchdog;
  std::vector<int> order;
  for (int i = 1; i <= 3; ++i) Post([&order, i] { order.push_back(i); });
  win::PostQuitMessage(9);
  EXPECT_TRUE(win::IsQuitMessagePending());
  int idleCalls = 0;
  EXPECT_EQ(win::RunMessageLoop([&](int) { return ++idleCalls, true; }), 9);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(idleCalls, 0);
  EXPECT_FALSE(win::IsQuitMessagePending());
}

TEST_F(UiTest, ProcessPendingMessagesLeavesTheQuitForTheLoop) {
  LoopWatchdog watchdog;
  std::vector<int> order;
  Post([&] { order.push_back(1); });
  Post([&] { order.push_back(2); });
  win::PostQuitMessage(4);
  win::ProcessPendingMessages();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(win::IsQuitMessagePending());
  win::ProcessPendingMessages();  // the quit is next: nothing to do, and it stays
  EXPECT_TRUE(win::IsQuitMessagePending());

  int idleCalls = 0;
  EXPECT_EQ(win::RunMessageLoop([&](int) { return ++idleCalls, true; }), 4);
  EXPECT_EQ(idleCalls, 0);
  EXPECT_FALSE(win::IsQuitMessagePending());
}

TEST_F(UiTest, ProcessPendingMessagesDispatchesMessagesPostedByHandlers) {
  std::vector<int> order;
  Post([&] {
    order.push_back(1);
    Post([&] {
      order.push_back(2);
      Post([&] { order.push_back(3); });
    });
  });
  win::ProcessPendingMessages();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(win::IsQuitMessagePending());
}

TEST_F(UiTest, ProcessPendingMessagesReturnsDespiteAZeroIntervalTimer) {
  int ticks = 0;
  QTimer busy;
  QObject::connect(&busy, &QTimer::timeout, [&] { ++ticks; });
  busy.start(0);
  win::ProcessPendingMessages();
  busy.stop();
  EXPECT_GT(ticks, 0);
}

TEST_F(UiTest, QuitCanBeReplacedUntilTakenAndPostedAgainAfterwards) {
  LoopWatchdog watchdog;
  win::PostQuitMessage(1);
  win::PostQuitMessage(2);
  EXPECT_EQ(win::RunMessageLoop({}), 2);
  EXPECT_FALSE(win::IsQuitMessagePending());
  Post([] { win::PostQuitMessage(3); });
  EXPECT_EQ(win::RunMessageLoop({}), 3);
}

TEST_F(UiTest, QuitOfAnotherThreadDoesNotEndThisLoop) {
  LoopWatchdog watchdog(300ms);
  Worker worker([] {
    win::PostQuitMessage(8);
    if (!win::IsQuitMessagePending()) std::abort();
  });
  ASSERT_TRUE(worker.Wait());
  EXPECT_FALSE(win::IsQuitMessagePending());
  EXPECT_EQ(win::RunMessageLoop({}), kTimedOut);
}

TEST_F(UiTest, DeferredDeletionsRunWhenTheLoopIdles) {
  LoopWatchdog watchdog;
  QPointer<QObject> object = new QObject;
  object->deleteLater();
  bool deletedBeforeIdle = false;
  win::RunMessageLoop([&](int) {
    deletedBeforeIdle = object.isNull();
    win::PostQuitMessage(0);
    return false;
  });
  EXPECT_TRUE(deletedBeforeIdle);
}

TEST_F(UiTest, QuitPostedInsideAModalBoxEndsTheOuterLoopAfterTheBox) {
  LoopWatchdog watchdog;
  win::SetMessageBoxHookForTesting([](const win::MessageBoxSeen&) {
    win::PostQuitMessage(3);
    return win::IDOK;
  });
  int answer = 0;
  const int code = win::RunMessageLoop([&](int count) {
    if (count == 0 && answer == 0) Post([&] { answer = win::MessageBoxA(nullptr, "x", "y", win::MB_OK); });
    return false;
  });
  EXPECT_EQ(code, 3);
  EXPECT_EQ(answer, win::IDOK);
}

// ---------------------------------------------------------------------------------------------
// Message boxes

TEST(UiGbkText, ConvertsForDisplay) {
  struct Row {
    std::string gbk;
    const char* utf8;
  };
  const Row rows[] = {
      {"", ""},
      {"\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!", "运行时出错!"},
      {"a\r\nb\r\n", "a\nb\n"},
      {"a\rb", "a\nb"},
      {"\x80", "€"},                         // code page 936 puts the euro sign here
      {"A\x81", "A\xEF\xBF\xBD"},            // a lead byte cut off at the end
      {"\x81\x20" "B", "\xEF\xBF\xBD B"},    // a lead byte without a valid trail byte
      {"\xFF\xB4\xED", "\xEF\xBF\xBD错"},    // not a GBK byte at all; the rest still converts
  };
  for (const Row& row : rows) {
    EXPECT_EQ(win::ui_detail::GbkToDisplayText(row.gbk).toStdString(), row.utf8) << row.utf8;
  }
  // Longer than one conversion buffer.
  std::string gbk, utf8;
  for (int i = 0; i < 1000; ++i) gbk += "\xB4\xED", utf8 += "错";
  EXPECT_EQ(win::ui_detail::GbkToDisplayText(gbk).toStdString(), utf8);
}

TEST_F(UiTest, MessageBoxShowsTheConvertedTextsAndTheHookSeesTheGbkOnes) {
  struct Row {
    UINT type;
    QMessageBox::Icon icon;
  };
  const Row rows[] = {
      {win::MB_OK | win::MB_ICONERROR, QMessageBox::Critical},
      {win::MB_OK | win::MB_ICONWARNING, QMessageBox::Warning},
      {win::MB_OK | win::MB_ICONINFORMATION, QMessageBox::Information},
      {win::MB_OK | win::MB_ICONQUESTION, QMessageBox::Question},
      {win::MB_OK, QMessageBox::NoIcon},
  };
  const char text[] = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n<b>2</b>";
  const char caption[] = "\xB4\xED\xCE\xF3";
  for (const Row& row : rows) {
    std::vector<win::MessageBoxSeen> seen;
    QString shownText, shownTitle;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QStringList labels;
    bool visible = false;
    win::SetMessageBoxHookForTesting([&](const win::MessageBoxSeen& box) {
      seen.push_back(box);
      if (QMessageBox* shown = ShownBox()) {
        visible = shown->isVisible();
        shownText = shown->text();
        shownTitle = shown->windowTitle();
        shownIcon = shown->icon();
        for (QAbstractButton* button : shown->buttons()) labels << button->text();
      }
      return win::IDOK;
    });
    EXPECT_EQ(win::MessageBoxA(nullptr, text, caption, row.type), win::IDOK);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, text);
    EXPECT_EQ(seen[0].caption, caption);
    EXPECT_EQ(seen[0].type, row.type);
    EXPECT_TRUE(visible);
    EXPECT_EQ(shownText, QString::fromUtf8("运行时出错!\n\n<b>2</b>"));
    EXPECT_EQ(shownTitle, QString::fromUtf8("错误"));
    EXPECT_EQ(shownIcon, row.icon) << row.type;
    EXPECT_EQ(labels, QStringList{QString::fromUtf8("确定")});
    EXPECT_EQ(ShownBox(), nullptr) << "the box must be gone after it answered";
  }
}

TEST_F(UiTest, MessageBoxWithNullTextsIsTitledError) {
  win::MessageBoxSeen seen{"unset", "unset", 99};
  QString title;
  win::SetMessageBoxHookForTesting([&](const win::MessageBoxSeen& box) {
    seen = box;
    if (QMessageBox* shown = ShownBox()) title = shown->windowTitle();
    return win::IDOK;
  });
  EXPECT_EQ(win::MessageBoxA(nullptr, nullptr, nullptr, win::MB_OK), win::IDOK);
  EXPECT_EQ(seen.text, "");
  EXPECT_EQ(seen.caption, "");
  EXPECT_EQ(seen.type, win::MB_OK);
  EXPECT_EQ(title, QString::fromUtf8("错误"));
}

TEST_F(UiTest, ButtonSetsShowTheirButtonsAndAnswerWithTheClickedOnesId) {
  struct Row {
    UINT type;
    std::vector<const char*> labels;
    const char* defaultLabel;
    const char* click;
    int expected;
  };
  const Row rows[] = {
      {win::MB_OK, {"确定"}, "确定", "确定", win::IDOK},
      {win::MB_OK | win::MB_DEFBUTTON3, {"确定"}, "确定", "确定", win::IDOK},  // beyond the buttons
      {win::MB_OKCANCEL, {"确定", "取消"}, "确定", "取消", win::IDCANCEL},
      {win::MB_ABORTRETRYIGNORE, {"中止(&A)", "重试(&R)", "忽略(&I)"}, "中止(&A)", "忽略(&I)", win::IDIGNORE},
      {win::MB_YESNOCANCEL | win::MB_DEFBUTTON2, {"是(&Y)", "否(&N)", "取消"}, "否(&N)", "否(&N)", win::IDNO},
      {win::MB_YESNOCANCEL | win::MB_DEFBUTTON3, {"是(&Y)", "否(&N)", "取消"}, "取消", "是(&Y)", win::IDYES},
      {win::MB_YESNO, {"是(&Y)", "否(&N)"}, "是(&Y)", "是(&Y)", win::IDYES},
      {win::MB_RETRYCANCEL, {"重试(&R)", "取消"}, "重试(&R)", "重试(&R)", win::IDRETRY},
      {win::MB_CANCELTRYCONTINUE, {"取消", "重试(&T)", "继续(&C)"}, "取消", "继续(&C)", win::IDCONTINUE},
  };
  for (const Row& row : rows) {
    QStringList labels;
    QString defaultLabel;
    win::SetMessageBoxHookForTesting([&](const win::MessageBoxSeen&) {
      QMessageBox* box = ShownBox();
      if (box == nullptr) return win::IDOK;
      for (QAbstractButton* button : box->buttons()) labels << button->text();
      if (box->defaultButton()) defaultLabel = box->defaultButton()->text();
      if (QAbstractButton* button = ButtonLabelled(box, QString::fromUtf8(row.click))) button->click();
      return 0;
    });
    EXPECT_EQ(win::MessageBoxA(nullptr, "q", "c", row.type | win::MB_ICONQUESTION), row.expected) << row.type;
    QStringList expectedLabels;
    for (const char* label : row.labels) expectedLabels << QString::fromUtf8(label);
    EXPECT_EQ(labels, expectedLabels) << row.type;
    EXPECT_EQ(defaultLabel, QString::fromUtf8(row.defaultLabel)) << row.type;
  }
}

TEST_F(UiTest, EscapeAndCloseAnswerCancelOrLoneOkAndAreRefusedOtherwise) {
  struct Row {
    UINT type;
    bool closes;
    int expected;
  };
  const Row rows[] = {
      {win::MB_OK, true, win::IDOK},
      {win::MB_OKCANCEL, true, win::IDCANCEL},
      {win::MB_YESNOCANCEL, true, win::IDCANCEL},
      {win::MB_YESNO, false, win::IDNO},
      {win::MB_ABORTRETRYIGNORE, false, win::IDABORT},
  };
  for (bool useEscape : {true, false}) {
    for (const Row& row : rows) {
      bool stillShown = false;
      win::SetMessageBoxHookForTesting([&](const win::MessageBoxSeen&) {
        QMessageBox* box = ShownBox();
        if (box == nullptr) return win::IDOK;
        if (useEscape) {
          QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
          QApplication::sendEvent(box, &escape);
        } else {
          box->close();
        }
        stillShown = box->isVisible();
        // A box that must be answered gets its first button.
        if (stillShown) box->buttons().front()->click();
        return 0;
      });
      const int answer = win::MessageBoxA(nullptr, "q", "c", row.type);
      if (row.closes) {
        EXPECT_FALSE(stillShown) << row.type << " escape=" << useEscape;
        EXPECT_EQ(answer, row.expected) << row.type << " escape=" << useEscape;
      } else {
        EXPECT_TRUE(stillShown) << row.type << " escape=" << useEscape;
        EXPECT_EQ(answer, row.type == win::MB_YESNO ? win::IDYES : win::IDABORT) << row.type;
      }
    }
  }
}

TEST_F(UiTest, UnknownButtonSetFailsWithoutShowingABox) {
  int hookCalls = 0;
  win::SetMessageBoxHookForTesting([&](const win::MessageBoxSeen&) { return ++hookCalls, win::IDOK; });
  for (UINT buttons : {0x7u, 0xFu}) {
    win::SetLastError(0xdeadbeef);
    EXPECT_EQ(win::MessageBoxA(nullptr, "q", "c", buttons | win::MB_ICONERROR), 0);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_MSGBOX_STYLE);
  }
  EXPECT_EQ(hookCalls, 0);
}

TEST_F(UiTest, BoxOpenedInsideAnotherBoxIsSeenAndDismissedFirst) {
  std::vector<std::string> seen;
  int innerAnswer = 0;
  win::SetMessageBoxHookForTesting([&](const win::MessageBoxSeen& box) {
    seen.push_back(box.text);
    if (box.text == "outer") {
      innerAnswer = win::MessageBoxA(nullptr, "inner", "c", win::MB_OKCANCEL);
      return win::IDOK;
    }
    return win::IDCANCEL;
  });
  EXPECT_EQ(win::MessageBoxA(nullptr, "outer", "c", win::MB_OK), win::IDOK);
  EXPECT_EQ(innerAnswer, win::IDCANCEL);
  EXPECT_EQ(seen, (std::vector<std::string>{"outer", "inner"}));
}

TEST_F(UiTest, MessageBoxFromAnotherThreadIsShownOnTheApplicationThread) {
  LoopWatchdog watchdog;
  const DWORD applicationThread = win::GetCurrentThreadId();
  std::atomic<DWORD> hookThread{0};
  win::SetMessageBoxHookForTesting([&](const win::MessageBoxSeen& box) {
    hookThread = win::GetCurrentThreadId();
    return box.text == "from worker" ? win::IDCANCEL : 0;
  });
  std::atomic<int> answer{0};
  std::unique_ptr<Worker> worker;
  const int code = win::RunMessageLoop([&](int) {
    if (!worker) {
      worker = std::make_unique<Worker>([&] {
        answer = win::MessageBoxA(nullptr, "from worker", "c", win::MB_OKCANCEL);
        PostQuitToApplicationThread(0);
      });
    }
    return false;
  });
  EXPECT_EQ(code, 0);
  ASSERT_TRUE(worker->Wait());
  EXPECT_EQ(answer, win::IDCANCEL);
  EXPECT_EQ(hookThread, applicationThread);
}

// ---------------------------------------------------------------------------------------------
// Message-only windows

std::atomic<int> g_calls{0};
std::atomic<DWORD> g_callThread{0};
std::atomic<HWND> g_callWindow{nullptr};

constexpr UINT kDestroySelf = win::WM_USER + 99;

LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ++g_calls;
  g_callThread = win::GetCurrentThreadId();
  g_callWindow = window;
  if (message == kDestroySelf) return win::DestroyWindow(window) ? 42 : -42;
  return static_cast<LRESULT>(message) * 1000 + static_cast<LRESULT>(wParam) + lParam;
}

class UiMessageWindowTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    g_calls = 0;
    g_callThread = 0;
    g_callWindow = nullptr;
  }
};

TEST_F(UiMessageWindowTest, SendOnTheOwnerThreadCallsTheProcedureDirectly) {
  HWND window = win::CreateMessageWindow(RecordingProcedure);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(win::SendMessageA(window, win::WM_USER + 1, 2, -3), (win::WM_USER + 1) * 1000 - 1);
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(g_callThread, win::GetCurrentThreadId());
  EXPECT_EQ(g_callWindow, window);
  HWND other = win::CreateMessageWindow(RecordingProcedure);
  EXPECT_NE(other, window);
  EXPECT_TRUE(win::DestroyWindow(other));
  EXPECT_TRUE(win::DestroyWindow(window));
}

TEST_F(UiMessageWindowTest, SendFromAnotherThreadRunsOnTheOwnerWhileItRunsTheLoop) {
  LoopWatchdog watchdog;
  HWND window = win::CreateMessageWindow(RecordingProcedure);
  std::atomic<LRESULT> result{0};
  std::atomic<DWORD> senderThread{0};
  std::unique_ptr<Worker> worker;
  const int code = win::RunMessageLoop([&](int) {
    if (!worker) {
      worker = std::make_unique<Worker>([&] {
        senderThread = win::GetCurrentThreadId();
        result = win::SendMessageA(window, win::WM_USER, 7, 8);
        PostQuitToApplicationThread(0);
      });
    }
    return false;
  });
  EXPECT_EQ(code, 0);
  ASSERT_TRUE(worker->Wait());
  EXPECT_EQ(result, win::WM_USER * 1000 + 15);
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(g_callThread, win::GetCurrentThreadId());
  EXPECT_NE(senderThread, win::GetCurrentThreadId());
  EXPECT_TRUE(win::DestroyWindow(window));
}

TEST_F(UiMessageWindowTest, SendReachesAnOwnerThatIsInsideAModalBox) {
  HWND window = win::CreateMessageWindow(RecordingProcedure);
  std::atomic<LRESULT> result{0};
  std::unique_ptr<Worker> worker;
  win::SetMessageBoxHookForTesting([&](const win::MessageBoxSeen&) {
    worker = std::make_unique<Worker>([&] { result = win::SendMessageA(window, win::WM_USER, 1, 1); });
    return 0;  // stays open; the timer below closes it once the worker is through
  });
  QTimer closer;
  const auto started = std::chrono::steady_clock::now();
  QObject::connect(&closer, &QTimer::timeout, [&] {
    QMessageBox* box = ShownBox();
    if (box && ((worker && worker->Done()) || std::chrono::steady_clock::now() - started > 5s)) box->close();
  });
  closer.start(10);
  EXPECT_EQ(win::MessageBoxA(nullptr, "modal", "c", win::MB_OK), win::IDOK);
  ASSERT_TRUE(worker && worker->Wait());
  EXPECT_EQ(result, win::WM_USER * 1000 + 2);
  EXPECT_EQ(g_callThread, win::GetCurrentThreadId());
  EXPECT_TRUE(win::DestroyWindow(window));
}

TEST_F(UiMessageWindowTest, DestroyedOrUnknownWindowsAnswerZeroFromAnyThread) {
  HWND window = win::CreateMessageWindow(RecordingProcedure);
  ASSERT_TRUE(win::DestroyWindow(window));
  const HWND bad[] = {window, nullptr, reinterpret_cast<HWND>(uintptr_t{0x1234})};
  for (HWND handle : bad) {
    win::SetLastError(0xdeadbeef);
    EXPECT_EQ(win::SendMessageA(handle, win::WM_USER, 1, 1), 0);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_WINDOW_HANDLE);
    win::SetLastError(0xdeadbeef);
    EXPECT_FALSE(win::DestroyWindow(handle));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_WINDOW_HANDLE);
    std::atomic<LRESULT> fromWorker{-1};
    Worker worker([&] { fromWorker = win::SendMessageA(handle, win::WM_USER, 1, 1); });
    ASSERT_TRUE(worker.Wait());
    EXPECT_EQ(fromWorker, 0);
  }
  EXPECT_EQ(g_calls, 0);
  win::SetLastError(0xdeadbeef);
  EXPECT_EQ(win::CreateMessageWindow(nullptr), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
}

TEST_F(UiMessageWindowTest, OnlyTheOwnerThreadMayDestroyTheWindow) {
  HWND window = win::CreateMessageWindow(RecordingProcedure);
  std::atomic<int> destroyed{-1};
  std::atomic<DWORD> error{0};
  Worker worker([&] {
    destroyed = win::DestroyWindow(window);
    error = win::GetLastError();
  });
  ASSERT_TRUE(worker.Wait());
  EXPECT_EQ(destroyed, win::FALSE);
  EXPECT_EQ(error, win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(win::SendMessageA(window, 1, 0, 0), 1000);
  EXPECT_TRUE(win::DestroyWindow(window));
}

TEST_F(UiMessageWindowTest, RequestWaitingWhenTheWindowIsDestroyedGetsZero) {
  HWND window = win::CreateMessageWindow(RecordingProcedure);
  std::atomic<bool> sending{false};
  std::atomic<LRESULT> result{-1};
  Worker worker([&] {
    sending = true;
    result = win::SendMessageA(window, win::WM_USER, 1, 1);
  });
  while (!sending) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(50ms);  // let the request reach the queue; this thread does not dispatch
  EXPECT_TRUE(win::DestroyWindow(window));
  ASSERT_TRUE(worker.Wait());
  EXPECT_EQ(result, 0);
  EXPECT_EQ(g_calls, 0);
  win::ProcessPendingMessages();
  EXPECT_EQ(g_calls, 0);
}

TEST_F(UiMessageWindowTest, WindowsOfAnEndedThreadAreDestroyed) {
  std::atomic<HWND> window{nullptr};
  Worker worker([&] { window = win::CreateMessageWindow(RecordingProcedure); });
  ASSERT_TRUE(worker.Wait());
  ASSERT_NE(window.load(), nullptr);
  // Nobody is left to answer: the send must fail at once instead of waiting for the ended thread.
  std::atomic<LRESULT> result{-1};
  std::atomic<DWORD> error{0};
  Worker sender([&] {
    result = win::SendMessageA(window, win::WM_USER, 1, 1);
    error = win::GetLastError();
  });
  ASSERT_TRUE(sender.Wait());
  EXPECT_EQ(result, 0);
  EXPECT_EQ(error, win::ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(g_calls, 0);
}

TEST_F(UiMessageWindowTest, ProcedureMayDestroyItsOwnWindowDuringASend) {
  // On the owner thread.
  HWND window = win::CreateMessageWindow(RecordingProcedure);
  EXPECT_EQ(win::SendMessageA(window, kDestroySelf, 0, 0), 42);
  EXPECT_EQ(win::SendMessageA(window, win::WM_USER, 0, 0), 0);

  // From another thread, while the owner dispatches.
  LoopWatchdog watchdog;
  window = win::CreateMessageWindow(RecordingProcedure);
  std::atomic<LRESULT> first{0}, second{-1};
  std::unique_ptr<Worker> worker;
  win::RunMessageLoop([&](int) {
    if (!worker) {
      worker = std::make_unique<Worker>([&] {
        first = win::SendMessageA(window, kDestroySelf, 0, 0);
        second = win::SendMessageA(window, win::WM_USER, 0, 0);
        PostQuitToApplicationThread(0);
      });
    }
    return false;
  });
  ASSERT_TRUE(worker->Wait());
  EXPECT_EQ(first, 42);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(g_calls, 2);
}

// ---------------------------------------------------------------------------------------------
// Threads and process exit

TEST(UiProcess, ThreadIdIsStablePerThreadAndDistinctAcrossThreads) {
  const DWORD mine = win::GetCurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(win::GetCurrentThreadId(), mine);
  DWORD other = 0, otherAgain = 1;
  std::thread([&] {
    other = win::GetCurrentThreadId();
    otherAgain = win::GetCurrentThreadId();
  }).join();
  EXPECT_EQ(other, otherAgain);
  EXPECT_NE(other, mine);
}

TEST(UiProcess, ExitProcessEndsWithTheCodeAfterFlushingTheStreams) {
  struct Row {
    UINT code;
    int status;
  };
  for (const Row row : {Row{0, 0}, Row{3, 3}, Row{static_cast<UINT>(-1), 255}, Row{256 + 7, 7}}) {
    EXPECT_EXIT(
        {
          // Fully buffered: the text only reaches the parent if ExitProcess flushes it.
          static char buffer[256];
          std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
          std::fputs("buffered before exit", stderr);
          win::ExitProcess(row.code);
        },
        testing::ExitedWithCode(row.status), "buffered before exit")
        << row.code;
  }
}

}  // namespace
