// Small helpers the window tests share: the widget behind a window and a window's text.
#pragma once

#include <QWidget>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/ui/window.h"
#include "platform/ui/window_private.h"

namespace uitest {

inline QWidget* WidgetOf(win::HWND window) {
  win::ui_detail::WindowBinding* binding = win::ui_detail::FindBinding(window);
  return binding != nullptr ? binding->Widget() : nullptr;
}

// The window text in GBK; the buffer is filled with a marker first so that a missing NUL shows.
inline std::string TextOf(win::HWND window) {
  char buffer[256];
  std::memset(buffer, 0x55, sizeof buffer);
  const int length = win::GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, static_cast<size_t>(std::max(length, 0)));
}

}  // namespace uitest
