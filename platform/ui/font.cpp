// Fonts, brushes, bitmaps and colours. GDI handles are numbers from a table, like window handles,
// so a deleted font, brush or bitmap is refused rather than read.
#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_map>
#include <variant>

#include "platform/ui/ui_private.h"
#include "platform/ui/window_private.h"

namespace win {

namespace {

struct FontObject {
  LOGFONTA logFont;
  QFont font;
};
struct BrushObject {
  COLORREF color;
};
struct BitmapObject {
  QImage image;  // 32 bits a pixel; shared with whoever is drawing it, so deletion frees nothing in use
};
struct GdiObject {
  std::variant<FontObject, BrushObject, BitmapObject> value;
  bool stock = false;
};

struct GdiTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, GdiObject> objects;
  uintptr_t nextHandle = 0x2A0010;  // apart from window handles; grows by 4, never reused
  uintptr_t defaultGuiFont = 0;
};

GdiTable& Table() {
  static auto* table = new GdiTable;  // never destroyed: handles may be used until process exit
  return *table;
}

uintptr_t Add(GdiTable& table, GdiObject object) {
  const uintptr_t handle = table.nextHandle;
  table.nextHandle += 4;
  table.objects.emplace(handle, std::move(object));
  return handle;
}

// Windows' cell height (a positive lfHeight) includes the internal leading; Qt sizes the em. The
// face's own proportion turns one into the other.
int PixelSizeForCellHeight(const QFont& font, int cellHeight) {
  QFont probe(font);
  probe.setPixelSize(100);
  const qreal height = QFontMetricsF(probe).height();
  if (height <= 0) return cellHeight;
  return std::max(1, static_cast<int>(std::lround(cellHeight * 100.0 / height)));
}

QFont FontFromLogFont(const LOGFONTA& logFont) {
  QFont font = QApplication::font();
  const size_t faceLength = strnlen(logFont.lfFaceName, sizeof logFont.lfFaceName);
  if (faceLength > 0) {
    font.setFamilies({ui_detail::GbkToDisplayText(std::string_view(logFont.lfFaceName, faceLength)),
                      QApplication::font().family()});
  }
  font.setStyleHint(QFont::SansSerif);
  if (logFont.lfHeight < 0) {
    font.setPixelSize(static_cast<int>(std::min<int64_t>(-static_cast<int64_t>(logFont.lfHeight), 4096)));
  } else if (logFont.lfHeight > 0) {
    font.setPixelSize(PixelSizeForCellHeight(font, std::min<LONG>(logFont.lfHeight, 4096)));
  }
  // Qt 6 weights are the OpenType (and Windows) scale; 0 is "don't care", the normal weight.
  const LONG weight = logFont.lfWeight == 0 ? 400 : std::clamp<LONG>(logFont.lfWeight, 1, 1000);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setItalic(logFont.lfItalic != 0);
  font.setUnderline(logFont.lfUnderline != 0);
  font.setStrikeOut(logFont.lfStrikeOut != 0);
  return font;
}

}  // namespace

namespace ui_detail {

QFont FontOf(HFONT font) {
  GdiTable& table = Table();
  std::lock_guard lock(table.mutex);
  const auto found = table.objects.find(reinterpret_cast<uintptr_t>(font));
  if (found != table.objects.end()) {
    if (const auto* object = std::get_if<FontObject>(&found->second.value)) return object->font;
  }
  return QApplication::font();
}

bool IsFont(HFONT font) {
  GdiTable& table = Table();
  std::lock_guard lock(table.mutex);
  const auto found = table.objects.find(reinterpret_cast<uintptr_t>(font));
  return found != table.objects.end() && std::holds_alternative<FontObject>(found->second.value);
}

bool BrushColor(HBRUSH brush, COLORREF* color) {
  GdiTable& table = Table();
  std::lock_guard lock(table.mutex);
  const auto found = table.objects.find(reinterpret_cast<uintptr_t>(brush));
  if (found == table.objects.end()) return false;
  const auto* object = std::get_if<BrushObject>(&found->second.value);
  if (object == nullptr) return false;
  *color = object->color;
  return true;
}

HBITMAP AddBitmap(QImage image) {
  GdiTable& table = Table();
  std::lock_guard lock(table.mutex);
  return reinterpret_cast<HBITMAP>(Add(table, GdiObject{BitmapObject{std::move(image)}}));
}

bool BitmapImage(HBITMAP bitmap, QImage* image) {
  GdiTable& table = Table();
  std::lock_guard lock(table.mutex);
  const auto found = table.objects.find(reinterpret_cast<uintptr_t>(bitmap));
  if (found == table.objects.end()) return false;
  const auto* object = std::get_if<BitmapObject>(&found->second.value);
  if (object == nullptr) return false;
  if (image != nullptr) *image = object->image;
  return true;
}

QColor ToQColor(COLORREF color) { return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF); }

}  // namespace ui_detail

HFONT CreateFontIndirectA(const LOGFONTA* logFont) {
  if (logFont == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  ui_detail::EnsureApplication();
  GdiObject object{FontObject{*logFont, FontFromLogFont(*logFont)}};
  GdiTable& table = Table();
  std::lock_guard lock(table.mutex);
  return reinterpret_cast<HFONT>(Add(table, std::move(object)));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  GdiTable& table = Table();
  std::lock_guard lock(table.mutex);
  return reinterpret_cast<HBRUSH>(Add(table, GdiObject{BrushObject{color & 0x00FFFFFF}}));
}

BOOL DeleteObject(HGDIOBJ object) {
  GdiTable& table = Table();
  std::lock_guard lock(table.mutex);
  const auto found = table.objects.find(reinterpret_cast<uintptr_t>(object));
  if (found == table.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Windows that use a deleted font keep drawing with their copy of it.
  if (!found->second.stock) table.objects.erase(found);
  return TRUE;
}

HGDIOBJ GetStockObject(int which) {
  if (which != DEFAULT_GUI_FONT) return nullptr;
  ui_detail::EnsureApplication();
  GdiTable& table = Table();
  std::lock_guard lock(table.mutex);
  if (table.defaultGuiFont == 0) {
    const QFont font = QApplication::font();
    LOGFONTA logFont;
    logFont.lfHeight = -font.pixelSize();
    logFont.lfWeight = 400;
    logFont.lfCharSet = 1;  // DEFAULT_CHARSET
    const std::string face = ui_detail::QStringToGbk(font.family());
    face.copy(logFont.lfFaceName, std::min(face.size(), sizeof logFont.lfFaceName - 1));
    table.defaultGuiFont = Add(table, GdiObject{FontObject{logFont, font}, true});
  }
  return reinterpret_cast<HGDIOBJ>(table.defaultGuiFont);
}

int GetObjectA(HGDIOBJ object, int size, void* buffer) {
  GdiTable& table = Table();
  std::lock_guard lock(table.mutex);
  const auto found = table.objects.find(reinterpret_cast<uintptr_t>(object));
  if (found == table.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (const auto* bitmap = std::get_if<BitmapObject>(&found->second.value)) {
    if (buffer == nullptr || size < static_cast<int>(sizeof(BITMAP))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    BITMAP info;
    info.bmType = 0;
    info.bmWidth = bitmap->image.width();
    info.bmHeight = bitmap->image.height();
    info.bmWidthBytes = bitmap->image.width() * 4;  // 32 bits a pixel: rows are whole words already
    info.bmPlanes = 1;
    info.bmBitsPixel = 32;
    info.bmBits = nullptr;  // not a DIB section
    std::memcpy(buffer, &info, sizeof info);
    return sizeof(BITMAP);
  }
  const auto* font = std::get_if<FontObject>(&found->second.value);
  if (font == nullptr || buffer == nullptr || size < static_cast<int>(sizeof(LOGFONTA))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::memcpy(buffer, &font->logFont, sizeof(LOGFONTA));
  return sizeof(LOGFONTA);
}

DWORD GetSysColor(int index) {
  switch (index) {
    case COLOR_WINDOW: return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT: return RGB(0, 0, 0);
    case COLOR_BTNFACE: return RGB(240, 240, 240);
    case COLOR_GRAYTEXT: return RGB(109, 109, 109);
    case COLOR_BTNTEXT: return RGB(0, 0, 0);
    case COLOR_BTNSHADOW: return RGB(160, 160, 160);
    case COLOR_BTNHIGHLIGHT: return RGB(255, 255, 255);
    case COLOR_3DDKSHADOW: return RGB(105, 105, 105);
    case COLOR_3DLIGHT: return RGB(227, 227, 227);
    default: return 0;
  }
}

}  // namespace win
