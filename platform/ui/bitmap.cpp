// Bitmaps made of the bytes of an image file. The image is decoded once, here, into 32 bits a
// pixel; the handle comes from the GDI table of fonts and brushes (font.cpp), so DeleteObject,
// GetObjectA and the check for a deleted handle work as for the other objects.
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include "platform/ui/window_private.h"

namespace win {

bool ui_detail::CheckImageFileBytes(const void* data, DWORD size) {
  if (data == nullptr && size != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (data == nullptr || size == 0 || size > static_cast<DWORD>(INT32_MAX)) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  return true;
}

HBITMAP CreateBitmapFromImageData(const void* data, DWORD size) {
  if (!ui_detail::CheckImageFileBytes(data, size)) return nullptr;
  // The reader works on the caller's bytes without a copy; it is done with them before returning.
  const QByteArray bytes = QByteArray::fromRawData(static_cast<const char*>(data), static_cast<qsizetype>(size));
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  QImageReader reader(&buffer);  // the format from the content: BMP, PNG, JPEG, GIF, ICO...
  reader.setAutoTransform(false);  // Windows draws the pixels as stored, EXIF orientation aside
  QImage image = reader.read();    // the first frame of an animation, the first image of an icon
  if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  image.convertTo(QImage::Format_ARGB32_Premultiplied);
  image.detach();  // owns its pixels, never the caller's bytes
  if (image.isNull()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return ui_detail::AddBitmap(std::move(image));
}

}  // namespace win
