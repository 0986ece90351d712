// What a user does with the keyboard, the clipboard and an input method, and pictures made and
// read back, for tests above the platform layer. These tests are compiled for GBK texts, which
// Qt's headers cannot be, so Qt stays behind this header. Texts here are UTF-16.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>  // std::chrono: <chrono> itself cannot be compiled for GBK texts

#include "platform/ui/window.h"

namespace qvtest {

// Key presses delivered to the control as the window system delivers them.
void TypeCharacters(win::HWND control, const std::u16string& characters);
void PressBackspace(win::HWND control);
// A left-button click in the middle of the control, as the mouse delivers it.
void ClickControl(win::HWND control);
// The same click queued as the window system queues it, delivered when the window's thread next
// processes its input. The returned function may be called from any thread, once or more.
std::function<void()> QueuedClick(win::HWND control);
// A repaint of the control asked for as the window system asks for one, from any thread: the
// control is marked for repainting when the window's thread next handles its paint requests. The
// returned function may be called from any thread while the control exists.
std::function<void()> QueuedRepaint(win::HWND control);
// Counts the paint events that reach the control while it lives, with the time of each.
class PaintWatch {
 public:
  explicit PaintWatch(win::HWND control);
  ~PaintWatch();
  PaintWatch(const PaintWatch&) = delete;
  PaintWatch& operator=(const PaintWatch&) = delete;
  // Paint events that arrived in [from, to].
  int CountBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) const;

 private:
  struct Filter;
  std::unique_ptr<Filter> m_filter;
};
// Ctrl and a letter, such as 'C' to copy or 'V' to paste.
void PressControlKey(win::HWND control, char letter);
// Text an input method commits into the control.
void CommitInputMethodText(win::HWND control, const std::u16string& text);
void SetClipboardText(const std::u16string& text);
std::u16string ClipboardText();

// The bytes of an image file ("PNG", "BMP", ...) of one colour (0xRRGGBB).
std::string SolidImageFile(int width, int height, uint32_t rgb, const char* format = "PNG");
// The colour (0xRRGGBB) at a point of the window as it is drawn now; 0xFFFFFFFF when the window
// cannot be grabbed or the point lies outside.
uint32_t PixelOfWindow(win::HWND window, int x, int y);

}  // namespace qvtest
