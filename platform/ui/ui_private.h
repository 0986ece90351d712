// What the files of the user-interface stand-in share: the application on demand and the
// conversion of ANSI texts for Qt.
#pragma once

#include <iconv.h>

#include <QRect>
#include <QString>
#include <string_view>

class QFont;
class QPainter;
class QWidget;

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

// GBK (code page 936) to a Qt string, character for character. A byte sequence that is not GBK
// becomes U+FFFD, so a damaged text still shows everything around the damage.
QString GbkToText(std::string_view gbk);
// The line breaks Qt draws: CR LF and a lone CR become line feeds.
QString DisplayLineBreaks(QString text);
// GbkToText, then DisplayLineBreaks: a text that is only shown.
QString GbkToDisplayText(std::string_view gbk);

// The distance between two lines of text in a GDI-drawn caption: the font's pixel size (the cell
// height of a Windows GUI face), or the face's own line spacing where that is smaller.
int CellLineHeight(const QFont& font);

// Lays out text in area as QPainter::drawText does with the same Qt flags (alignment, word wrap,
// mnemonics, single line), but with lines CellLineHeight apart, as Windows draws captions. Draws
// with the painter's font and pen when draw is true; returns the rectangle the text takes.
QRect DrawCellText(QPainter& painter, const QRect& area, int flags, const QString& text, bool draw = true);

// The rectangle a BUTTON control draws its caption in, in its own coordinates; empty for other
// windows. Lets tests see that a caption has the room it needs.
QRect ButtonCaptionRect(QWidget* control);

}  // namespace win::ui_detail
