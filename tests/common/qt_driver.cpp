#include "common/qt_driver.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTemporaryDir>

#include "platform/ui/window_private.h"

namespace qvtest {
namespace {

QString ToQString(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QWidget* WidgetOf(win::HWND control) {
  win::ui_detail::WindowBinding* binding = win::ui_detail::FindBinding(control);
  return binding != nullptr ? binding->Widget() : nullptr;
}

void SendKey(win::HWND control, int key, const QString& text, Qt::KeyboardModifiers modifiers) {
  QWidget* widget = WidgetOf(control);
  if (widget == nullptr) return;
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(widget, &release);
}

}  // namespace

void TypeCharacters(win::HWND control, const std::u16string& characters) {
  for (QChar c : ToQString(characters)) SendKey(control, c.toUpper().unicode(), QString(c), Qt::NoModifier);
}

void PressBackspace(win::HWND control) { SendKey(control, Qt::Key_Backspace, QStringLiteral("\b"), Qt::NoModifier); }

void PressControlKey(win::HWND control, char letter) {
  SendKey(control, QChar(letter).toUpper().unicode(), QString(), Qt::ControlModifier);
}

void CommitInputMethodText(win::HWND control, const std::u16string& text) {
  QWidget* widget = WidgetOf(control);
  if (widget == nullptr) return;
  QInputMethodEvent event;
  event.setCommitString(ToQString(text));
  QApplication::sendEvent(widget, &event);
}

void SetClipboardText(const std::u16string& text) { QApplication::clipboard()->setText(ToQString(text)); }

std::u16string ClipboardText() {
  const QString text = QApplication::clipboard()->text();
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

std::string SolidImageFile(int width, int height, uint32_t rgb, const char* format) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor::fromRgb(static_cast<QRgb>(rgb)));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return bytes.toStdString();
}

uint32_t PixelOfWindow(win::HWND window, int x, int y) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("grab.png"));
  if (!dir.isValid() || !win::GrabWindowToPngForTesting(window, path.toUtf8().constData())) return 0xFFFFFFFF;
  const QImage image(path);
  if (!image.valid(x, y)) return 0xFFFFFFFF;
  return image.pixel(x, y) & 0xFFFFFF;
}

}  // namespace qvtest
