// What the files of the user-interface stand-in share: the application on demand and the
// conversion of ANSI texts for Qt.
#pragma once

#include <iconv.h>

#include <QString>
#include <string_view>

namespace win::ui_detail {

// Creates the application object if nothing has yet (InitialiseApplication without arguments).
void EnsureApplication();

// Owns one iconv conversion descriptor; a failed open leaves it invalid.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (IsValid()) iconv_close(m_handle);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool IsValid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return m_handle; }

 private:
  iconv_t m_handle;
};

// GBK (code page 936) to a Qt string. A byte sequence that is not GBK becomes U+FFFD, so a damaged
// text still shows everything around the damage. CR LF and a lone CR become line feeds, the line
// breaks Qt draws.
QString GbkToDisplayText(std::string_view gbk);

}  // namespace win::ui_detail
