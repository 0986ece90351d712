// Window texts: the default handling of WM_SETTEXT, WM_GETTEXT and WM_GETTEXTLENGTH, the text
// calls over them, and the conversion between GBK and the texts Qt shows.
#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/ui/ui_private.h"
#include "platform/ui/window_private.h"

namespace win {

namespace ui_detail {

std::string QStringToGbk(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  std::string out;
  if (utf8.isEmpty()) return out;
  IconvHandle converter("CP936", "UTF-8");
  if (!converter.IsValid()) {
    for (char c : utf8) out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    return out;
  }
  char buffer[512];
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = static_cast<size_t>(utf8.size());
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t result = iconv(converter.Get(), &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (result != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // A character GBK cannot hold: skip its UTF-8 bytes and put Windows' default character.
    out += '?';
    do {
      ++in;
      --inLeft;
    } while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
    iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

QString GbkToQString(const char* gbk) { return gbk != nullptr ? GbkToText(gbk) : QString(); }

LRESULT DefaultSetText(WindowBinding& binding, LPARAM lParam) {
  binding.SetText(GbkToQString(reinterpret_cast<LPCSTR>(lParam)));
  return TRUE;
}

LRESULT DefaultGetText(WindowBinding& binding, WPARAM wParam, LPARAM lParam) {
  auto* buffer = reinterpret_cast<char*>(lParam);
  if (buffer == nullptr || wParam == 0) return 0;
  const std::string text = QStringToGbk(binding.Text());
  // Cut at a character boundary: half a double-byte character would be another character.
  size_t length = 0;
  while (length < text.size()) {
    const size_t step = static_cast<unsigned char>(text[length]) >= 0x81 ? 2 : 1;
    if (length + step > wParam - 1) break;
    length += step;
  }
  length = std::min(length, text.size());
  text.copy(buffer, length);
  buffer[length] = '\0';
  return static_cast<LRESULT>(length);
}

LRESULT DefaultGetTextLength(WindowBinding& binding) {
  return static_cast<LRESULT>(QStringToGbk(binding.Text()).size());
}

}  // namespace ui_detail

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text != nullptr ? text : "")) != 0 ? TRUE
                                                                                                        : FALSE;
}

int GetWindowTextA(HWND window, LPSTR buffer, int maxCount) {
  if (buffer != nullptr && maxCount > 0) buffer[0] = '\0';
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (buffer == nullptr || maxCount <= 0) return 0;
  return static_cast<int>(SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND window) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return static_cast<int>(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0));
}

}  // namespace win
