#include "common/qt_driver.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <vector>

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

// A left-button press and release at a point of a widget.
std::pair<std::unique_ptr<QMouseEvent>, std::unique_ptr<QMouseEvent>> ClickEvents(QPointF local, QPointF global) {
  return {std::make_unique<QMouseEvent>(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                                        Qt::NoModifier),
          std::make_unique<QMouseEvent>(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                                        Qt::NoModifier)};
}

}  // namespace

void TypeCharacters(win::HWND control, const std::u16string& characters) {
  for (QChar c : ToQString(characters)) SendKey(control, c.toUpper().unicode(), QString(c), Qt::NoModifier);
}

void PressBackspace(win::HWND control) { SendKey(control, Qt::Key_Backspace, QStringLiteral("\b"), Qt::NoModifier); }

void ClickControl(win::HWND control) {
  QWidget* widget = WidgetOf(control);
  if (widget == nullptr) return;
  const QPointF middle = QRectF(widget->rect()).center();
  auto [press, release] = ClickEvents(middle, widget->mapToGlobal(middle));
  QApplication::sendEvent(widget, press.get());
  QApplication::sendEvent(widget, release.get());
}

std::function<void()> QueuedClick(win::HWND control) {
  // The widget and the point are looked up now, on the window's thread; posting an event is safe
  // from any thread.
  // The control must outlive the calls.
  QWidget* widget = WidgetOf(control);
  if (widget == nullptr) return [] {};
  const QPointF middle = QRectF(widget->rect()).center();
  const QPointF global = widget->mapToGlobal(middle);
  return [widget, middle, global] {
    auto [press, release] = ClickEvents(middle, global);
    QApplication::postEvent(widget, press.release());
    QApplication::postEvent(widget, release.release());
  };
}

namespace {

// Asks its widget for a repaint when it receives a paint request, as the window system's expose
// handling does.
class RepaintRequester : public QObject {
 public:
  explicit RepaintRequester(QWidget* widget) : QObject(widget), m_widget(widget) {}
  bool event(QEvent* event) override {
    if (event->type() != QEvent::UpdateRequest) return QObject::event(event);
    m_widget->update();
    return true;
  }

 private:
  QWidget* m_widget;
};

}  // namespace

std::function<void()> QueuedRepaint(win::HWND control) {
  QWidget* widget = WidgetOf(control);
  if (widget == nullptr) return [] {};
  auto* requester = new RepaintRequester(widget);  // owned by the widget
  return [requester] { QApplication::postEvent(requester, new QEvent(QEvent::UpdateRequest)); };
}

struct PaintWatch::Filter : QObject {
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) times.push_back(std::chrono::steady_clock::now());
    return false;
  }
  QPointer<QWidget> widget;
  std::vector<std::chrono::steady_clock::time_point> times;
};

PaintWatch::PaintWatch(win::HWND control) : m_filter(std::make_unique<Filter>()) {
  m_filter->widget = WidgetOf(control);
  if (m_filter->widget) m_filter->widget->installEventFilter(m_filter.get());
}

PaintWatch::~PaintWatch() {
  if (m_filter->widget) m_filter->widget->removeEventFilter(m_filter.get());
}

int PaintWatch::CountBetween(std::chrono::steady_clock::time_point from,
                             std::chrono::steady_clock::time_point to) const {
  return static_cast<int>(std::count_if(m_filter->times.begin(), m_filter->times.end(),
                                        [&](auto t) { return t >= from && t <= to; }));
}

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
