// MessageBoxA over QMessageBox, with the Windows button sets, icons and answers.
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <array>
#include <mutex>
#include <span>
#include <vector>

#include "platform/ui/ui.h"
#include "platform/ui/ui_private.h"

namespace win {

namespace {

constexpr UINT kButtonSetMask = 0x0000000F;
constexpr UINT kIconMask = 0x000000F0;
constexpr UINT kDefaultButtonMask = 0x00000F00;

struct ButtonSpec {
  int id;
  const char* label;  // UTF-8, as the Chinese system labels its message box buttons
};

struct ButtonSet {
  std::span<const ButtonSpec> buttons;
  int escapeId;  // the answer to Escape and the close box; 0 when the box must be answered
};

constexpr ButtonSpec kOk{IDOK, "确定"};
constexpr ButtonSpec kCancel{IDCANCEL, "取消"};
constexpr ButtonSpec kAbort{IDABORT, "中止(&A)"};
constexpr ButtonSpec kRetry{IDRETRY, "重试(&R)"};
constexpr ButtonSpec kIgnore{IDIGNORE, "忽略(&I)"};
constexpr ButtonSpec kYes{IDYES, "是(&Y)"};
constexpr ButtonSpec kNo{IDNO, "否(&N)"};
constexpr ButtonSpec kTryAgain{IDTRYAGAIN, "重试(&T)"};
constexpr ButtonSpec kContinue{IDCONTINUE, "继续(&C)"};

constexpr std::array kOkOnly{kOk};
constexpr std::array kOkCancel{kOk, kCancel};
constexpr std::array kAbortRetryIgnore{kAbort, kRetry, kIgnore};
constexpr std::array kYesNoCancel{kYes, kNo, kCancel};
constexpr std::array kYesNo{kYes, kNo};
constexpr std::array kRetryCancel{kRetry, kCancel};
constexpr std::array kCancelTryContinue{kCancel, kTryAgain, kContinue};

// Indexed by the MB_ button-set value.
const std::array<ButtonSet, 7> kButtonSets{{
    {kOkOnly, IDOK},
    {kOkCancel, IDCANCEL},
    {kAbortRetryIgnore, 0},
    {kYesNoCancel, IDCANCEL},
    {kYesNo, 0},
    {kRetryCancel, IDCANCEL},
    {kCancelTryContinue, IDCANCEL},
}};

QMessageBox::Icon ConvertIcon(UINT type) {
  switch (type & kIconMask) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

std::mutex g_hookMutex;
std::function<int(const MessageBoxSeen&)> g_hook;

std::function<int(const MessageBoxSeen&)> CurrentHook() {
  std::lock_guard lock(g_hookMutex);
  return g_hook;
}

// One box. The answer is the id of the button that closed it (Escape and the close box count as
// the escape button), or whatever the test hook answered.
class WindowsMessageBox : public QMessageBox {
 public:
  WindowsMessageBox(const ButtonSet& set, MessageBoxSeen seen) : m_set(set), m_seen(std::move(seen)) {
    setIcon(ConvertIcon(m_seen.type));
    setTextFormat(Qt::PlainText);
    const size_t defaultIndex = (m_seen.type & kDefaultButtonMask) >> 8;
    for (size_t i = 0; i < set.buttons.size(); ++i) {
      const ButtonSpec& spec = set.buttons[i];
      // One role for all keeps the buttons in the order Windows shows them.
      QPushButton* button = addButton(QString::fromUtf8(spec.label), QMessageBox::ActionRole);
      m_buttons.push_back({button, spec.id});
      if (i == (defaultIndex < set.buttons.size() ? defaultIndex : 0)) setDefaultButton(button);
      if (spec.id == set.escapeId) setEscapeButton(button);
    }
  }

  int Answer() const {
    if (m_hookAnswer != 0) return m_hookAnswer;
    for (const KnownButton& known : m_buttons) {
      if (known.button == clickedButton()) return known.id;
    }
    return m_set.escapeId;
  }

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    if (m_hookScheduled) return;
    m_hookScheduled = true;
    // Runs once the box's own loop is going, with the box on screen.
    QTimer::singleShot(0, this, [this] {
      const auto hook = CurrentHook();
      if (!hook) return;
      const int answer = hook(m_seen);
      if (answer != 0 && isVisible()) {
        m_hookAnswer = answer;
        done(answer);
      }
    });
  }

  // A box with neither Cancel nor a lone OK must be answered with one of its buttons: Escape and
  // the close box do nothing, as on Windows.
  void keyPressEvent(QKeyEvent* event) override {
    if (m_set.escapeId == 0 && event->matches(QKeySequence::Cancel)) return;
    QMessageBox::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    if (m_set.escapeId == 0) {
      event->ignore();
      return;
    }
    QMessageBox::closeEvent(event);
  }

 private:
  struct KnownButton {
    QAbstractButton* button;
    int id;
  };
  const ButtonSet& m_set;
  MessageBoxSeen m_seen;
  std::vector<KnownButton> m_buttons;
  bool m_hookScheduled = false;
  int m_hookAnswer = 0;
};

int ShowMessageBox(LPCSTR text, LPCSTR caption, UINT type) {
  const UINT setIndex = type & kButtonSetMask;
  if (setIndex >= kButtonSets.size()) {
    SetLastError(ERROR_INVALID_MSGBOX_STYLE);
    return 0;
  }
  MessageBoxSeen seen{text ? text : "", caption ? caption : "", type};
  WindowsMessageBox box(kButtonSets[setIndex], std::move(seen));
  // Windows titles a box without caption "Error", in the system's language.
  box.setWindowTitle(caption ? ui_detail::GbkToDisplayText(caption) : QString::fromUtf8("错误"));
  box.setText(ui_detail::GbkToDisplayText(text ? text : ""));
  box.exec();
  return box.Answer();
}

}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  // The owner only decides which window is disabled while the box is open; the box is modal for
  // the whole application either way, so it is not needed here.
  (void)owner;
  ui_detail::EnsureApplication();
  QCoreApplication* application = QCoreApplication::instance();
  if (QThread::currentThread() == application->thread()) return ShowMessageBox(text, caption, type);
  // Widgets live on the application's thread: the box is shown there and this thread waits.
  int answer = 0;
  DWORD error = ERROR_SUCCESS;
  QMetaObject::invokeMethod(
      application,
      [&] {
        answer = ShowMessageBox(text, caption, type);
        error = GetLastError();
      },
      Qt::BlockingQueuedConnection);
  if (answer == 0) SetLastError(error);
  return answer;
}

void SetMessageBoxHookForTesting(std::function<int(const MessageBoxSeen&)> hook) {
  std::lock_guard lock(g_hookMutex);
  g_hook = std::move(hook);
}

}  // namespace win
