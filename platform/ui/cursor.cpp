// Mouse pointers: the system cursors by id, cursors made of the bytes of .cur and image files, and
// the pointer a window shows. Cursor handles are numbers from a table of their own, never reused,
// so a destroyed cursor is refused rather than read. The table holds images, not QPixmaps, so that
// cursors can be made on any thread; the QCursor is built on the application's thread when a
// window takes it.
#include <QAbstractScrollArea>
#include <QBuffer>
#include <QByteArray>
#include <QCursor>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/ui/ui_private.h"
#include "platform/ui/window_private.h"

namespace win {

namespace {

struct CursorObject {
  bool system = false;
  Qt::CursorShape shape = Qt::ArrowCursor;  // a system cursor
  QImage image;                             // a created cursor
  QPoint hotSpot;
  std::vector<HWND> shownBy;  // windows given a created cursor (each checked before use)
};

struct CursorTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, CursorObject> cursors;
  std::unordered_map<uintptr_t, uintptr_t> systemById;
  uintptr_t nextHandle = 0x5C0010;  // apart from window and GDI handles; grows by 4, never reused
};

CursorTable& Table() {
  static auto* table = new CursorTable;  // never destroyed: handles may be used until process exit
  return *table;
}

bool SystemShape(uintptr_t id, Qt::CursorShape* shape) {
  switch (id) {
    case 32512: *shape = Qt::ArrowCursor; return true;          // IDC_ARROW
    case 32513: *shape = Qt::IBeamCursor; return true;          // IDC_IBEAM
    case 32514: *shape = Qt::WaitCursor; return true;           // IDC_WAIT
    case 32515: *shape = Qt::CrossCursor; return true;          // IDC_CROSS
    case 32516: *shape = Qt::UpArrowCursor; return true;        // IDC_UPARROW
    case 32642: *shape = Qt::SizeFDiagCursor; return true;      // IDC_SIZENWSE
    case 32643: *shape = Qt::SizeBDiagCursor; return true;      // IDC_SIZENESW
    case 32644: *shape = Qt::SizeHorCursor; return true;        // IDC_SIZEWE
    case 32645: *shape = Qt::SizeVerCursor; return true;        // IDC_SIZENS
    case 32646: *shape = Qt::SizeAllCursor; return true;        // IDC_SIZEALL
    case 32648: *shape = Qt::ForbiddenCursor; return true;      // IDC_NO
    case 32649: *shape = Qt::PointingHandCursor; return true;   // IDC_HAND
    case 32650: *shape = Qt::BusyCursor; return true;           // IDC_APPSTARTING: arrow and hourglass
    case 32651: *shape = Qt::WhatsThisCursor; return true;      // IDC_HELP
    default: return false;
  }
}

uint16_t ReadU16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }
uint32_t ReadU32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

QImage ReadImage(const QByteArray& bytes, const char* format, int index) {
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return QImage();
  QImageReader reader(&buffer, format);
  reader.setAutoTransform(false);
  if (index > 0 && !reader.jumpToImage(index)) return QImage();
  return reader.read();
}

// A .cur file: an ICONDIR of type 2 whose 16-byte entries carry the hot spot where an icon has
// its planes and bit count. Every field is checked against the size before it is read. The image
// chosen is the first 32-pixel one (the system's cursor size), else the first; Qt's icon reader
// decodes it from a copy that says "icon", with the hot-spot fields put back to icon values.
// Returns false for data that is no .cur at all; a broken .cur gives true and a null image.
bool ReadCurFile(const uint8_t* data, size_t size, QImage* image, QPoint* hotSpot) {
  constexpr size_t kHeader = 6;
  constexpr size_t kEntry = 16;
  if (size < kHeader || ReadU16(data) != 0 || ReadU16(data + 2) != 2) return false;
  const size_t count = ReadU16(data + 4);
  if (count == 0 || size < kHeader + count * kEntry) return true;
  size_t chosen = 0;
  for (size_t i = 0; i < count; ++i) {
    if (data[kHeader + i * kEntry] == 32) {
      chosen = i;
      break;
    }
  }
  const uint8_t* entry = data + kHeader + chosen * kEntry;
  const uint32_t length = ReadU32(entry + 8);
  const uint32_t offset = ReadU32(entry + 12);
  if (length == 0 || offset < kHeader + count * kEntry || offset >= size || length > size - offset) return true;
  QByteArray copy(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  copy[2] = 1;  // an icon directory
  for (size_t i = 0; i < count; ++i) {
    const qsizetype at = static_cast<qsizetype>(kHeader + i * kEntry);
    copy[at + 4] = 1;  // planes
    copy[at + 5] = 0;
    copy[at + 6] = 0;  // bit count: "see the image's header"
    copy[at + 7] = 0;
  }
  *image = ReadImage(copy, "ico", static_cast<int>(chosen));
  *hotSpot = QPoint(ReadU16(entry + 4), ReadU16(entry + 6));
  return true;
}

QCursor MakeQCursor(const CursorObject& object) {
  if (object.system) return QCursor(object.shape);
  return QCursor(QPixmap::fromImage(object.image), object.hotSpot.x(), object.hotSpot.y());
}

// The widgets that show a window's pointer: a scroll area (the multi-line edit box) shows it on
// its viewport as well.
std::vector<QWidget*> CursorTargets(ui_detail::WindowBinding& binding) {
  std::vector<QWidget*> targets{binding.Widget()};
  if (auto* area = qobject_cast<QAbstractScrollArea*>(binding.Widget())) targets.push_back(area->viewport());
  return targets;
}

constexpr char kClassCursor[] = "qvClassCursor";

// The class cursor is what the widget showed before the first SetWindowCursor (the I-beam Qt
// gives text boxes, else none: the parent's, in the end the arrow); it is kept on the widget.
void ShowCursor(ui_detail::WindowBinding& binding, const QCursor& cursor) {
  for (QWidget* widget : CursorTargets(binding)) {
    if (!widget->property(kClassCursor).isValid()) {
      widget->setProperty(kClassCursor, widget->testAttribute(Qt::WA_SetCursor) ? QVariant::fromValue(widget->cursor())
                                                                                 : QVariant(false));
    }
    widget->setCursor(cursor);
  }
}

void ShowClassCursor(ui_detail::WindowBinding& binding) {
  binding.cursorHandle = nullptr;
  for (QWidget* widget : CursorTargets(binding)) {
    const QVariant saved = widget->property(kClassCursor);
    if (!saved.isValid()) continue;
    if (saved.canConvert<QCursor>() && saved.typeId() == QMetaType::QCursor) {
      widget->setCursor(saved.value<QCursor>());
    } else {
      widget->unsetCursor();
    }
    widget->setProperty(kClassCursor, QVariant());
  }
}

bool IsLiveCursor(HCURSOR cursor) {
  CursorTable& table = Table();
  std::lock_guard lock(table.mutex);
  return table.cursors.count(reinterpret_cast<uintptr_t>(cursor)) != 0;
}

}  // namespace

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  const auto id = reinterpret_cast<uintptr_t>(name);
  Qt::CursorShape shape = Qt::ArrowCursor;
  // Only the system's cursors: a module's own cursor resources are not kept.
  if (instance != nullptr || id > 0xFFFF || !SystemShape(id, &shape)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  CursorTable& table = Table();
  std::lock_guard lock(table.mutex);
  const auto known = table.systemById.find(id);
  if (known != table.systemById.end()) return reinterpret_cast<HCURSOR>(known->second);
  const uintptr_t handle = table.nextHandle;
  table.nextHandle += 4;
  CursorObject object;
  object.system = true;
  object.shape = shape;
  table.cursors.emplace(handle, std::move(object));
  table.systemById.emplace(id, handle);
  return reinterpret_cast<HCURSOR>(handle);
}

HCURSOR CreateCursorFromFileData(const void* data, DWORD size) {
  if (!ui_detail::CheckImageFileBytes(data, size)) return nullptr;
  const auto* bytes = static_cast<const uint8_t*>(data);
  QImage image;
  QPoint hotSpot;
  if (!ReadCurFile(bytes, size, &image, &hotSpot)) {
    // Any other image (an .ico among them): the hot spot in the middle.
    const QByteArray view = QByteArray::fromRawData(static_cast<const char*>(data), static_cast<qsizetype>(size));
    image = ReadImage(view, nullptr, 0);
    hotSpot = QPoint(image.width() / 2, image.height() / 2);
  }
  if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  image.convertTo(QImage::Format_ARGB32_Premultiplied);
  image.detach();  // owns its pixels, never the caller's bytes
  // A hot spot outside the picture is taken to its nearest edge.
  hotSpot = QPoint(std::clamp(hotSpot.x(), 0, image.width() - 1), std::clamp(hotSpot.y(), 0, image.height() - 1));
  CursorObject object;
  object.image = std::move(image);
  object.hotSpot = hotSpot;
  CursorTable& table = Table();
  std::lock_guard lock(table.mutex);
  const uintptr_t handle = table.nextHandle;
  table.nextHandle += 4;
  table.cursors.emplace(handle, std::move(object));
  return reinterpret_cast<HCURSOR>(handle);
}

BOOL DestroyCursor(HCURSOR cursor) {
  std::vector<HWND> shownBy;
  {
    CursorTable& table = Table();
    std::lock_guard lock(table.mutex);
    const auto found = table.cursors.find(reinterpret_cast<uintptr_t>(cursor));
    if (found == table.cursors.end()) {
      SetLastError(ERROR_INVALID_CURSOR_HANDLE);
      return FALSE;
    }
    if (found->second.system) return TRUE;  // shared: never destroyed
    shownBy = std::move(found->second.shownBy);
    table.cursors.erase(found);
  }
  // The windows still showing it take their class cursor. (Windows of another thread find that
  // out when GetWindowCursor is next asked; meanwhile they show their own copy of the picture.)
  for (HWND window : shownBy) {
    ui_detail::WindowBinding* binding = ui_detail::PeekBinding(window);
    if (binding != nullptr && binding->cursorHandle == cursor) ShowClassCursor(*binding);
  }
  return TRUE;
}

BOOL SetWindowCursor(HWND window, HCURSOR cursor) {
  ui_detail::WindowBinding* binding = ui_detail::FindBinding(window);
  if (binding == nullptr) return FALSE;
  if (cursor == nullptr) {
    ShowClassCursor(*binding);
    return TRUE;
  }
  CursorObject copy;
  {
    CursorTable& table = Table();
    std::lock_guard lock(table.mutex);
    const auto found = table.cursors.find(reinterpret_cast<uintptr_t>(cursor));
    if (found == table.cursors.end()) {
      SetLastError(ERROR_INVALID_CURSOR_HANDLE);
      return FALSE;
    }
    CursorObject& object = found->second;
    if (!object.system && std::find(object.shownBy.begin(), object.shownBy.end(), window) == object.shownBy.end()) {
      object.shownBy.push_back(window);
    }
    copy.system = object.system;
    copy.shape = object.shape;
    copy.image = object.image;  // shared, not copied
    copy.hotSpot = object.hotSpot;
  }
  ShowCursor(*binding, MakeQCursor(copy));
  binding->cursorHandle = cursor;
  return TRUE;
}

HCURSOR GetWindowCursor(HWND window) {
  ui_detail::WindowBinding* binding = ui_detail::FindBinding(window);
  if (binding == nullptr) return nullptr;
  if (binding->cursorHandle != nullptr && !IsLiveCursor(binding->cursorHandle)) ShowClassCursor(*binding);
  SetLastError(ERROR_SUCCESS);
  return binding->cursorHandle;
}

}  // namespace win
