// The application object: one QApplication for the whole process, created on first use.
#include <QApplication>
#include <QFont>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/ui.h"
#include "platform/ui/ui_private.h"

namespace win {

namespace {

// The system's default GUI face: a 12-pixel sans-serif face that covers Chinese, so that captions
// fit the control sizes the windows were designed with.
constexpr char kDefaultFontFamily[] = "WenQuanYi Micro Hei";
constexpr int kDefaultFontPixelSize = 12;

// QApplication keeps a reference to argc and pointers into argv for its whole life, and may remove
// the options it consumed; this copy lives as long as the application, that is to process end.
struct ApplicationArguments {
  int argc = 0;
  std::vector<std::string> texts;
  std::vector<char*> argv;
};

std::mutex g_creationMutex;
std::atomic<bool> g_created{false};

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

ApplicationArguments* CopyArguments(int argc, char** argv) {
  auto* arguments = new ApplicationArguments;
  for (int i = 0; argv != nullptr && i < argc && argv[i] != nullptr; ++i) arguments->texts.emplace_back(argv[i]);
  if (arguments->texts.empty()) arguments->texts.emplace_back(program_invocation_name);
  bool platformChosen = false;
  for (const std::string& text : arguments->texts) platformChosen = platformChosen || text == "-platform";
  // Without a display Qt's default platform ends the process. Drawing offscreen keeps the program
  // alive: boxes and windows still work, they are just not seen.
  if (!platformChosen && !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM")) {
    arguments->texts.emplace_back("-platform");
    arguments->texts.emplace_back("offscreen");
  }
  for (std::string& text : arguments->texts) arguments->argv.push_back(text.data());
  arguments->argc = static_cast<int>(arguments->texts.size());
  arguments->argv.push_back(nullptr);
  return arguments;
}

}  // namespace

void InitialiseApplication(int argc, char** argv) {
  std::lock_guard lock(g_creationMutex);
  if (g_created.load(std::memory_order_acquire)) return;
  if (QCoreApplication::instance() == nullptr) {
    ApplicationArguments* arguments = CopyArguments(argc, argv);
    // Never deleted: windows, boxes and message windows may be used until the process exits.
    new QApplication(arguments->argc, arguments->argv.data());
    QFont font(QString::fromLatin1(kDefaultFontFamily));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kDefaultFontPixelSize);
    // Glyphs snapped to whole pixels, as Windows draws its GUI face: narrower captions.
    font.setHintingPreference(QFont::PreferFullHinting);
    QApplication::setFont(font);
  }
  // The program ends when its message loop takes the quit message, not when Qt sees the last
  // window close (closing the only message box must not end anything).
  QGuiApplication::setQuitOnLastWindowClosed(false);
  g_created.store(true, std::memory_order_release);
}

bool ApplicationExists() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

namespace ui_detail {

void EnsureApplication() {
  if (!g_created.load(std::memory_order_acquire)) InitialiseApplication();
}

}  // namespace ui_detail

}  // namespace win

#if defined(__SANITIZE_ADDRESS__)
// fontconfig keeps a few blocks from parsing its configuration files (FcInitLoadConfigAndFonts,
// reached through Qt's font database) without a pointer to them, so LeakSanitizer would fail every
// process that shows text. Those blocks are fontconfig's, allocated once; nothing of ours is
// hidden by this rule. It lives here because this file is linked into every program that uses Qt
// through the platform layer.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
