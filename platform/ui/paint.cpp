// Device contexts for WM_PAINT over the QPainter of the paint in progress. A device context is a
// number valid from BeginPaint to EndPaint; any other number is refused.
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>
#include <cstring>
#include <string>
#include <unordered_map>

#include "platform/ui/ui_private.h"
#include "platform/ui/window_private.h"

namespace win {

namespace {

struct DeviceContext {
  HWND window = nullptr;
  QPainter* painter = nullptr;
  COLORREF textColor = RGB(0, 0, 0);
  COLORREF backColor = RGB(255, 255, 255);
  int backMode = OPAQUE;
  HGDIOBJ font = nullptr;
};

struct DeviceContexts {
  std::unordered_map<uintptr_t, DeviceContext> open;
  uintptr_t nextHandle = 0x3D0010;
};

// Painting happens on the application's thread only.
thread_local DeviceContexts t_contexts;

// A device context is usable only while its window's paint is in progress: one that was never
// ended (a procedure that forgot EndPaint) dies with its paint instead of keeping a stale painter.
DeviceContext* Find(HDC dc) {
  const auto found = t_contexts.open.find(reinterpret_cast<uintptr_t>(dc));
  if (found == t_contexts.open.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ui_detail::WindowBinding* binding = ui_detail::PeekBinding(found->second.window);
  if (binding == nullptr || binding->ActivePainter() != found->second.painter) {
    t_contexts.open.erase(found);
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &found->second;
}

bool BrushToColor(HBRUSH brush, COLORREF* color) {
  const auto value = reinterpret_cast<uintptr_t>(brush);
  if (value > 0 && value <= 31) {
    *color = GetSysColor(static_cast<int>(value - 1));
    return true;
  }
  return ui_detail::BrushColor(brush, color);
}

QRect ToQRect(const RECT& rect) { return QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1)); }

int ConvertDrawTextFormat(UINT format) {
  int flags = Qt::TextExpandTabs;
  if (format & DT_CENTER) {
    flags |= Qt::AlignHCenter;
  } else if (format & DT_RIGHT) {
    flags |= Qt::AlignRight;
  } else {
    flags |= Qt::AlignLeft;
  }
  if (format & DT_SINGLELINE) {
    flags |= Qt::TextSingleLine;
    flags |= (format & DT_VCENTER) ? Qt::AlignVCenter : (format & DT_BOTTOM) ? Qt::AlignBottom : Qt::AlignTop;
  } else {
    flags |= Qt::AlignTop;
    if (format & DT_WORDBREAK) flags |= Qt::TextWordWrap;
  }
  flags |= (format & DT_NOPREFIX) ? 0 : Qt::TextShowMnemonic;
  return flags;
}

}  // namespace

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  ui_detail::WindowBinding* binding = ui_detail::FindBinding(window);
  if (binding == nullptr) return nullptr;
  QPainter* painter = binding->ActivePainter();
  if (painter == nullptr || paint == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DeviceContext context;
  context.window = window;
  context.painter = painter;
  painter->setFont(binding->Widget()->font());
  const uintptr_t handle = t_contexts.nextHandle;
  t_contexts.nextHandle += 4;
  t_contexts.open.emplace(handle, context);
  *paint = PAINTSTRUCT{};
  paint->hdc = reinterpret_cast<HDC>(handle);
  GetClientRect(window, &paint->rcPaint);
  return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  if (paint == nullptr) return FALSE;
  const auto found = t_contexts.open.find(reinterpret_cast<uintptr_t>(paint->hdc));
  if (found == t_contexts.open.end() || found->second.window != window) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  t_contexts.open.erase(found);
  return TRUE;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  DeviceContext* context = Find(dc);
  COLORREF color = 0;
  if (context == nullptr || rect == nullptr || !BrushToColor(brush, &color)) return 0;
  context->painter->fillRect(ToQRect(*rect), ui_detail::ToQColor(color));
  return 1;
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
  DeviceContext* context = Find(dc);
  if (context == nullptr) return CLR_INVALID;
  const COLORREF previous = context->textColor;
  context->textColor = color;
  return previous;
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  DeviceContext* context = Find(dc);
  if (context == nullptr) return CLR_INVALID;
  const COLORREF previous = context->backColor;
  context->backColor = color;
  return previous;
}

int SetBkMode(HDC dc, int mode) {
  DeviceContext* context = Find(dc);
  if (context == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  const int previous = context->backMode;
  context->backMode = mode;
  return previous;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  DeviceContext* context = Find(dc);
  if (context == nullptr) return nullptr;
  if (!ui_detail::IsFont(static_cast<HFONT>(object))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const HGDIOBJ previous = context->font;
  context->font = object;
  context->painter->setFont(ui_detail::FontOf(static_cast<HFONT>(object)));
  return previous;
}

int DrawTextA(HDC dc, LPCSTR text, int count, RECT* rect, UINT format) {
  DeviceContext* context = Find(dc);
  if (context == nullptr || text == nullptr || rect == nullptr) return 0;
  // A count past the NUL stops at the NUL rather than reading beyond the text.
  const std::string bytes = count < 0 ? std::string(text) : std::string(text, strnlen(text, static_cast<size_t>(count)));
  const QString display = ui_detail::GbkToDisplayText(bytes);
  const int flags = ConvertDrawTextFormat(format);
  QPainter& painter = *context->painter;
  const QRect area = ToQRect(*rect);
  const QRect bounds = ui_detail::DrawCellText(painter, area, flags, display, false);
  if (format & DT_CALCRECT) {
    rect->right = rect->left + bounds.width();
    rect->bottom = rect->top + bounds.height();
    return bounds.height();
  }
  // Windows clips the text to the rectangle.
  painter.save();
  painter.setClipRect(area, Qt::IntersectClip);
  if (context->backMode == OPAQUE) painter.fillRect(bounds.intersected(area), ui_detail::ToQColor(context->backColor));
  painter.setPen(ui_detail::ToQColor(context->textColor));
  ui_detail::DrawCellText(painter, area, flags, display);
  painter.restore();
  return bounds.height();
}

BOOL DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y, int width, int height) {
  DeviceContext* context = Find(dc);
  if (context == nullptr) return FALSE;
  QImage image;
  if (!ui_detail::BitmapImage(bitmap, &image)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (width == 0 || height == 0) return TRUE;
  QPainter& painter = *context->painter;
  painter.save();
  // StretchBlt's default mode picks pixels rather than blending them; a negative size mirrors.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.translate(x, y);
  painter.scale(width < 0 ? -1 : 1, height < 0 ? -1 : 1);
  painter.drawImage(QRect(0, 0, std::abs(width), std::abs(height)), image);
  painter.restore();
  return TRUE;
}

}  // namespace win

namespace win::ui_detail {

int CellLineHeight(const QFont& font) {
  const int natural = QFontMetrics(font).lineSpacing();
  const int cell = font.pixelSize();
  return std::max(1, cell > 0 ? std::min(cell, natural) : natural);
}

QRect DrawCellText(QPainter& painter, const QRect& area, int flags, const QString& text, bool draw) {
  const bool wrap = (flags & (Qt::TextWordWrap | Qt::TextWrapAnywhere)) != 0;
  if ((flags & Qt::TextSingleLine) != 0 || (!wrap && !text.contains(QLatin1Char('\n')))) {
    // One line: its place does not depend on the line spacing.
    const QRect bounds = painter.boundingRect(area, flags, text);
    if (draw) painter.drawText(area, flags, text);
    return bounds;
  }
  const QFont font = painter.font();
  // The mnemonic prefix: "&&" is an ampersand, "&x" an underlined x.
  QString shown;
  std::vector<int> underlined;
  if ((flags & (Qt::TextShowMnemonic | Qt::TextHideMnemonic)) != 0) {
    for (qsizetype i = 0; i < text.size(); ++i) {
      if (text.at(i) == QLatin1Char('&') && i + 1 < text.size()) {
        ++i;
        if (text.at(i) != QLatin1Char('&') && (flags & Qt::TextShowMnemonic) != 0) {
          underlined.push_back(static_cast<int>(shown.size()));
        }
      }
      shown += text.at(i);
    }
  } else {
    shown = text;
  }
  QTextOption option;
  option.setAlignment(Qt::Alignment(flags & Qt::AlignHorizontal_Mask));
  option.setWrapMode((flags & Qt::TextWrapAnywhere) != 0 ? QTextOption::WrapAnywhere
                     : wrap                              ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                                         : QTextOption::NoWrap);
  const int step = CellLineHeight(font);
  std::vector<std::unique_ptr<QTextLayout>> layouts;
  int lines = 0;
  qsizetype start = 0;
  while (start <= shown.size()) {
    qsizetype end = shown.indexOf(QLatin1Char('\n'), start);
    if (end < 0) end = shown.size();
    auto layout = std::make_unique<QTextLayout>(shown.mid(start, end - start), font, painter.device());
    layout->setTextOption(option);
    QList<QTextLayout::FormatRange> formats;
    for (int position : underlined) {
      if (position < start || position >= end) continue;
      QTextLayout::FormatRange range;
      range.start = static_cast<int>(position - start);
      range.length = 1;
      range.format.setFontUnderline(true);
      formats.append(range);
    }
    layout->setFormats(formats);
    layout->beginLayout();
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
      line.setLineWidth(std::max(0, area.width()));
      // The face's own line is centred on the cell.
      const qreal offset = (step - line.height()) / 2;
      line.setPosition(QPointF(0, lines * step + offset));
      ++lines;
    }
    layout->endLayout();
    layouts.push_back(std::move(layout));
    start = end + 1;
  }
  const int total = lines * step;
  int top = area.top();
  if (flags & Qt::AlignVCenter) top = area.top() + (area.height() - total) / 2;
  if (flags & Qt::AlignBottom) top = area.bottom() + 1 - total;
  qreal left = area.right() + 1;
  qreal right = area.left();
  for (const auto& layout : layouts) {
    for (int i = 0; i < layout->lineCount(); ++i) {
      const QRectF natural = layout->lineAt(i).naturalTextRect();
      left = std::min(left, area.left() + natural.left());
      right = std::max(right, area.left() + natural.right());
    }
    if (draw) layout->draw(&painter, QPointF(area.left(), top));
  }
  if (right < left) left = right = area.left();
  return QRect(QPoint(static_cast<int>(std::floor(left)), top),
               QPoint(static_cast<int>(std::ceil(right)) - 1, top + total - 1));
}

}  // namespace win::ui_detail
