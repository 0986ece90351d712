// Bitmaps from image-file bytes (each format, damaged data, GetObjectA, drawing through a device
// context and on buttons, deletion while a button has one) and mouse pointers (system cursors,
// .cur hot spots, damaged .cur files, stale handles, class cursors coming back).
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QBuffer>
#include <QCursor>
#include <QImage>
#include <QImageWriter>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <cstring>
#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/ui/window.h"
#include "platform/ui/window_private.h"
#include "platform/ui_support.h"

namespace {

using uitest::TextOf;
using uitest::WidgetOf;
using win::FALSE;
using win::HWND;
using win::LPARAM;
using win::LRESULT;
using win::TRUE;
using win::UINT;
using win::WPARAM;

std::function<void(HWND, win::HDC)> g_paint;  // what the test frame draws in WM_PAINT

LRESULT PaintingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == win::WM_PAINT && g_paint) {
    win::PAINTSTRUCT paint;
    const win::HDC dc = win::BeginPaint(window, &paint);
    g_paint(window, dc);
    win::EndPaint(window, &paint);
    return 0;
  }
  return win::DefWindowProcA(window, message, wParam, lParam);
}

QByteArray Encode(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
  return bytes;
}

QImage Solid(int width, int height, QColor color) {
  QImage image(width, height, QImage::Format_ARGB32);
  image.fill(color);
  return image;
}

// Four quadrants: red top-left, green top-right, blue bottom-left, yellow bottom-right.
QImage Quadrants(int size) {
  QImage image(size, size, QImage::Format_RGB32);
  const int half = size / 2;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      image.setPixelColor(x, y, y < half ? (x < half ? Qt::red : Qt::green) : (x < half ? Qt::blue : Qt::yellow));
    }
  }
  return image;
}

win::HBITMAP BitmapOf(const QByteArray& bytes) {
  return win::CreateBitmapFromImageData(bytes.constData(), static_cast<win::DWORD>(bytes.size()));
}

win::HCURSOR CursorOf(const QByteArray& bytes) {
  return win::CreateCursorFromFileData(bytes.constData(), static_cast<win::DWORD>(bytes.size()));
}

// A GIF of 1x1 frames: the first red, the second black (two-colour global table).
QByteArray TwoFrameGif() {
  const unsigned char bytes[] = {
      'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0,  // screen 1x1, 2-colour table
      0xFF, 0, 0, 0, 0, 0,                                    // red, black
      0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0,   // frame 1: index 0
      0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0,   // frame 2: index 1
      0x3B};
  return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// A .cur file made of Qt's .ico: type 2 and the hot spot where the icon keeps planes and bits.
QByteArray CurFile(const QImage& image, int hotX, int hotY) {
  QByteArray bytes = Encode(image, "ICO");
  EXPECT_GE(bytes.size(), 22);
  bytes[2] = 2;
  bytes[6 + 4] = static_cast<char>(hotX & 0xFF);
  bytes[6 + 5] = static_cast<char>(hotX >> 8);
  bytes[6 + 6] = static_cast<char>(hotY & 0xFF);
  bytes[6 + 7] = static_cast<char>(hotY >> 8);
  return bytes;
}

// One .cur of the single-image .cur files given, their entries in order.
QByteArray CurOfSeveral(const std::vector<QByteArray>& files) {
  const auto count = static_cast<int>(files.size());
  QByteArray directory(6 + 16 * count, '\0');
  directory[2] = 2;
  directory[4] = static_cast<char>(count);
  QByteArray images;
  for (int i = 0; i < count; ++i) {
    const QByteArray& file = files[static_cast<size_t>(i)];
    const auto u32 = [&](int at) {
      return static_cast<uint32_t>(static_cast<unsigned char>(file[at])) |
             (static_cast<uint32_t>(static_cast<unsigned char>(file[at + 1])) << 8) |
             (static_cast<uint32_t>(static_cast<unsigned char>(file[at + 2])) << 16) |
             (static_cast<uint32_t>(static_cast<unsigned char>(file[at + 3])) << 24);
    };
    const uint32_t length = u32(6 + 8);
    const uint32_t offset = u32(6 + 12);
    QByteArray entry = file.mid(6, 16);
    const uint32_t newOffset = static_cast<uint32_t>(directory.size() + images.size());
    for (int b = 0; b < 4; ++b) entry[12 + b] = static_cast<char>((newOffset >> (8 * b)) & 0xFF);
    directory.replace(6 + 16 * i, 16, entry);
    images += file.mid(offset, length);
  }
  return directory + images;
}

int CountPixels(const QImage& image, const QRect& area, const std::function<bool(QColor)>& match) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) count += match(image.pixelColor(x, y)) ? 1 : 0;
  }
  return count;
}

// The columns where pixels of a kind are, within area: [first, last], or (-1, -1).
std::pair<int, int> ColumnsOf(const QImage& image, const QRect& area, const std::function<bool(QColor)>& match) {
  int first = -1;
  int last = -1;
  for (int x = area.left(); x <= area.right(); ++x) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
      if (!match(image.pixelColor(x, y))) continue;
      if (first < 0) first = x;
      last = x;
      break;
    }
  }
  return {first, last};
}

bool IsGreen(QColor c) { return c.green() > 200 && c.red() < 40 && c.blue() < 40; }
bool IsDark(QColor c) { return qGray(c.rgb()) < 110; }
int CountGreen(const QImage& image) { return CountPixels(image, image.rect(), IsGreen); }

class UiBitmapCursorTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    win::InitialiseApplication();
    win::WNDCLASSA windowClass;
    windowClass.lpfnWndProc = PaintingProcedure;
    windowClass.lpszClassName = "BitmapTestFrame";
    windowClass.hbrBackground = reinterpret_cast<win::HBRUSH>(static_cast<intptr_t>(win::COLOR_WINDOW + 1));
    win::RegisterClassA(&windowClass);
  }
  void TearDown() override {
    g_paint = nullptr;
    for (HWND window : m_windows) {
      if (win::IsWindow(window)) win::DestroyWindow(window);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  HWND Frame(int width = 300, int height = 200) {
    const HWND window = win::CreateWindowExA(0, "BitmapTestFrame", "frame", win::WS_CAPTION | win::WS_SYSMENU, 40, 40,
                                             width, height, nullptr, nullptr, nullptr, nullptr);
    m_windows.push_back(window);
    return window;
  }
  static HWND Child(HWND parent, const char* className, win::DWORD style, int id, int x, int y, int width, int height,
                    const char* text = "") {
    return win::CreateWindowExA(0, className, text, win::WS_CHILD | win::WS_VISIBLE | style, x, y, width, height,
                                parent, reinterpret_cast<win::HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
  }

  std::vector<HWND> m_windows;
};

// ---------------------------------------------------------------------------------------------
// Bitmaps

TEST_F(UiBitmapCursorTest, EachImageFormatBecomesABitmapOfItsSize) {
  const QColor colour(200, 30, 40);
  struct Case {
    const char* format;
    QByteArray bytes;
    int width;
    int height;
  };
  const std::vector<Case> cases = {
      {"BMP", Encode(Solid(12, 10, colour), "BMP"), 12, 10},
      {"PNG", Encode(Solid(13, 7, colour), "PNG"), 13, 7},
      {"JPEG", Encode(Solid(16, 9, colour), "JPEG", 95), 16, 9},
      {"ICO", Encode(Solid(16, 16, colour), "ICO"), 16, 16},
      {"GIF", TwoFrameGif(), 1, 1},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.format);
    const win::HBITMAP bitmap = BitmapOf(each.bytes);
    ASSERT_NE(bitmap, nullptr);
    win::BITMAP info;
    info.bmBits = &info;
    ASSERT_EQ(win::GetObjectA(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.bmType, 0);
    EXPECT_EQ(info.bmWidth, each.width);
    EXPECT_EQ(info.bmHeight, each.height);
    EXPECT_EQ(info.bmWidthBytes, each.width * 4);
    EXPECT_EQ(info.bmPlanes, 1);
    EXPECT_EQ(info.bmBitsPixel, 32);
    EXPECT_EQ(info.bmBits, nullptr);
    QImage image;
    ASSERT_TRUE(win::ui_detail::BitmapImage(bitmap, &image));
    const QColor pixel = image.pixelColor(0, 0);
    // The GIF's first frame is red; JPEG is near the colour.
    const QColor expected = std::string(each.format) == "GIF" ? QColor(255, 0, 0) : colour;
    EXPECT_NEAR(pixel.red(), expected.red(), 6);
    EXPECT_NEAR(pixel.green(), expected.green(), 6);
    EXPECT_NEAR(pixel.blue(), expected.blue(), 6);
    EXPECT_TRUE(win::DeleteObject(bitmap));
  }
}

TEST_F(UiBitmapCursorTest, BytesThatAreNoImageGiveNullAndInvalidData) {
  win::SetLastError(0);
  EXPECT_EQ(win::CreateBitmapFromImageData(nullptr, 0), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_DATA);
  EXPECT_EQ(win::CreateBitmapFromImageData(nullptr, 10), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
  const char text[] = "this is not a picture at all, just words";
  win::SetLastError(0);
  EXPECT_EQ(win::CreateBitmapFromImageData(text, sizeof text), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_DATA);
  // A PNG or BMP cut inside its header.
  const QByteArray png = Encode(Solid(20, 20, Qt::blue), "PNG");
  EXPECT_EQ(BitmapOf(png.left(30)), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_DATA);
  const QByteArray bmp = Encode(Solid(20, 20, Qt::blue), "BMP");
  EXPECT_EQ(BitmapOf(bmp.left(20)), nullptr);
  // A BMP whose header claims an enormous picture.
  QByteArray huge = bmp;
  huge[18] = huge[19] = huge[20] = 0x7F;
  huge[22] = huge[23] = huge[24] = 0x7F;
  EXPECT_EQ(BitmapOf(huge), nullptr);

  // Every cut of every format, and random damage: whatever comes back is usable or null, and
  // nothing is read outside the bytes given (the sanitizer build watches).
  std::mt19937 random(1234);
  const QByteArray jpeg = Encode(Solid(16, 16, Qt::green), "JPEG");
  const QByteArray ico = Encode(Solid(16, 16, Qt::red), "ICO");
  for (const QByteArray& whole : {png, bmp, jpeg, ico, TwoFrameGif()}) {
    for (qsizetype length = 0; length < whole.size(); length += 1 + length / 16) {
      // A copy of exactly the cut, so that reading past it would leave the allocation.
      std::vector<char> cut(whole.begin(), whole.begin() + length);
      const win::HBITMAP bitmap = win::CreateBitmapFromImageData(cut.data(), static_cast<win::DWORD>(cut.size()));
      if (bitmap != nullptr) {
        win::BITMAP info;
        EXPECT_EQ(win::GetObjectA(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
        EXPECT_TRUE(win::DeleteObject(bitmap));
      }
    }
    for (int round = 0; round < 20; ++round) {
      std::vector<char> damaged(whole.begin(), whole.end());
      for (int i = 0; i < 4; ++i) damaged[random() % damaged.size()] = static_cast<char>(random());
      const win::HBITMAP bitmap =
          win::CreateBitmapFromImageData(damaged.data(), static_cast<win::DWORD>(damaged.size()));
      if (bitmap != nullptr) {
        EXPECT_TRUE(win::DeleteObject(bitmap));
      }
    }
  }
}

TEST_F(UiBitmapCursorTest, GetObjectOfABitmapNeedsRoomAndADeletedOneIsRefused) {
  const win::HBITMAP bitmap = BitmapOf(Encode(Solid(5, 3, Qt::red), "PNG"));
  ASSERT_NE(bitmap, nullptr);
  win::BITMAP info;
  EXPECT_EQ(win::GetObjectA(bitmap, sizeof info - 1, &info), 0);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(win::GetObjectA(bitmap, sizeof info, nullptr), 0);
  // A LOGFONTA-sized buffer is not a BITMAP... but a larger buffer is fine, 32 bytes are written.
  unsigned char large[64];
  std::memset(large, 0xAB, sizeof large);
  EXPECT_EQ(win::GetObjectA(bitmap, sizeof large, large), static_cast<int>(sizeof(win::BITMAP)));
  EXPECT_EQ(large[sizeof(win::BITMAP)], 0xAB);
  EXPECT_TRUE(win::DeleteObject(bitmap));
  EXPECT_FALSE(win::DeleteObject(bitmap));
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
  EXPECT_EQ(win::GetObjectA(bitmap, sizeof info, &info), 0);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
  // A font is not a bitmap, and a bitmap not a font for SelectObject.
  const win::HFONT font = static_cast<win::HFONT>(win::GetStockObject(win::DEFAULT_GUI_FONT));
  EXPECT_FALSE(win::ui_detail::BitmapImage(reinterpret_cast<win::HBITMAP>(font), nullptr));
}

TEST_F(UiBitmapCursorTest, DrawBitmapStretchesAndMirrorsInPaint) {
  const HWND frame = Frame();
  const win::HBITMAP bitmap = BitmapOf(Encode(Quadrants(4), "BMP"));
  const win::HBITMAP deleted = BitmapOf(Encode(Quadrants(4), "PNG"));
  ASSERT_NE(bitmap, nullptr);
  ASSERT_TRUE(win::DeleteObject(deleted));
  int paints = 0;
  win::BOOL drawnDeleted = TRUE;
  g_paint = [&](HWND, win::HDC dc) {
    ++paints;
    EXPECT_TRUE(win::DrawBitmap(dc, bitmap, 10, 10, 40, 40));   // stretched 10 times
    EXPECT_TRUE(win::DrawBitmap(dc, bitmap, 100, 10, -40, 40));  // mirrored: x from 60 to 100
    EXPECT_TRUE(win::DrawBitmap(dc, bitmap, 120, 10, 4, 4));     // as it is
    drawnDeleted = win::DrawBitmap(dc, deleted, 150, 10, 40, 40);
  };
  win::ShowWindow(frame, win::SW_SHOW);
  win::ProcessPendingMessages();
  const QImage image = WidgetOf(frame)->grab().toImage();
  ASSERT_GT(paints, 0);
  EXPECT_FALSE(drawnDeleted);
  EXPECT_EQ(image.pixelColor(11, 11), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(48, 11), QColor(Qt::green));
  EXPECT_EQ(image.pixelColor(11, 48), QColor(Qt::blue));
  EXPECT_EQ(image.pixelColor(48, 48), QColor(Qt::yellow));
  EXPECT_EQ(image.pixelColor(29, 29), QColor(Qt::red));  // picked, not blended, at the middle
  EXPECT_EQ(image.pixelColor(30, 30), QColor(Qt::yellow));
  EXPECT_EQ(image.pixelColor(62, 11), QColor(Qt::green));  // mirrored
  EXPECT_EQ(image.pixelColor(98, 11), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(121, 11), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(123, 13), QColor(Qt::yellow));
  EXPECT_EQ(image.pixelColor(124, 11), QColor(Qt::white));  // just outside
  EXPECT_EQ(image.pixelColor(160, 20), QColor(Qt::white));  // the deleted bitmap left no mark
  // Outside a paint there is no device context to draw into.
  EXPECT_FALSE(win::DrawBitmap(nullptr, bitmap, 0, 0, 4, 4));
  EXPECT_TRUE(win::DeleteObject(bitmap));
}

TEST_F(UiBitmapCursorTest, ButtonShowsItsBitmapLeftOfTheCaption) {
  const HWND frame = Frame();
  const HWND button = Child(frame, "BUTTON", win::BS_PUSHBUTTON, 1, 10, 10, 160, 32, "Caption");
  const HWND radio = Child(frame, "BUTTON", win::BS_AUTORADIOBUTTON, 2, 10, 60, 160, 24, "Radio");
  const win::HBITMAP green = BitmapOf(Encode(Solid(12, 12, QColor(0, 255, 0)), "PNG"));
  const win::HBITMAP other = BitmapOf(Encode(Solid(8, 8, QColor(0, 255, 0)), "BMP"));
  ASSERT_NE(green, nullptr);
  ASSERT_NE(other, nullptr);
  win::ShowWindow(frame, win::SW_SHOW);
  QWidget* widget = WidgetOf(button);
  const QRect inside(5, 5, 150, 22);

  const QImage plain = widget->grab().toImage();
  EXPECT_EQ(CountPixels(plain, plain.rect(), IsGreen), 0);
  const auto plainText = ColumnsOf(plain, inside, IsDark);
  ASSERT_GE(plainText.first, 0);

  EXPECT_EQ(win::SendMessageA(button, win::BM_SETIMAGE, win::IMAGE_BITMAP, reinterpret_cast<LPARAM>(green)), 0);
  EXPECT_EQ(win::SendMessageA(button, win::BM_GETIMAGE, win::IMAGE_BITMAP, 0), reinterpret_cast<LRESULT>(green));
  QImage image = widget->grab().toImage();
  EXPECT_EQ(CountPixels(image, image.rect(), IsGreen), 144);
  const auto picture = ColumnsOf(image, image.rect(), IsGreen);
  const auto text = ColumnsOf(image, inside, IsDark);
  EXPECT_EQ(picture.second - picture.first, 11);
  // Left of the caption, the two centred together: the caption moved right by half the image.
  EXPECT_LT(picture.second, text.first);
  EXPECT_NEAR(text.first - plainText.first, (12 + 4) / 2, 2);
  EXPECT_NEAR(picture.first - 5, 155 - text.second, 3);
  // Centred vertically.
  int top = -1;
  for (int y = 0; y < image.height() && top < 0; ++y) {
    if (IsGreen(image.pixelColor(picture.first, y))) top = y;
  }
  EXPECT_EQ(top, (32 - 12) / 2);

  // Another bitmap replaces it and the previous one comes back; null removes it.
  EXPECT_EQ(win::SendMessageA(button, win::BM_SETIMAGE, win::IMAGE_BITMAP, reinterpret_cast<LPARAM>(other)),
            reinterpret_cast<LRESULT>(green));
  image = widget->grab().toImage();
  EXPECT_EQ(CountPixels(image, image.rect(), IsGreen), 64);
  EXPECT_EQ(win::SendMessageA(button, win::BM_SETIMAGE, win::IMAGE_BITMAP, 0), reinterpret_cast<LRESULT>(other));
  EXPECT_EQ(win::SendMessageA(button, win::BM_GETIMAGE, win::IMAGE_BITMAP, 0), 0);
  image = widget->grab().toImage();
  EXPECT_EQ(CountPixels(image, image.rect(), IsGreen), 0);
  EXPECT_EQ(ColumnsOf(image, inside, IsDark), plainText);

  // Refused: another image type, a handle that is no bitmap.
  EXPECT_EQ(win::SendMessageA(button, win::BM_SETIMAGE, 1 /* IMAGE_ICON */, reinterpret_cast<LPARAM>(green)), 0);
  EXPECT_EQ(win::SendMessageA(button, win::BM_SETIMAGE, win::IMAGE_BITMAP, 0x12345678), 0);
  EXPECT_EQ(win::SendMessageA(button, win::BM_GETIMAGE, win::IMAGE_BITMAP, 0), 0);

  // A radio box puts it between the circle and the caption.
  win::SendMessageA(radio, win::BM_SETIMAGE, win::IMAGE_BITMAP, reinterpret_cast<LPARAM>(green));
  image = WidgetOf(radio)->grab().toImage();
  const auto radioPicture = ColumnsOf(image, image.rect(), IsGreen);
  const auto radioText = ColumnsOf(image, QRect(16, 0, 144, 24), IsDark);
  EXPECT_GE(radioPicture.first, 16);
  EXPECT_LT(radioPicture.second, radioText.first);
  // An image without caption.
  win::SetWindowTextA(button, "");
  win::SendMessageA(button, win::BM_SETIMAGE, win::IMAGE_BITMAP, reinterpret_cast<LPARAM>(green));
  image = widget->grab().toImage();
  EXPECT_NEAR(ColumnsOf(image, image.rect(), IsGreen).first, (160 - 12) / 2, 1);
  EXPECT_TRUE(win::DeleteObject(green));
  EXPECT_TRUE(win::DeleteObject(other));
}

TEST_F(UiBitmapCursorTest, ABitmapDeletedWhileAButtonHasItIsNoLongerDrawn) {
  const HWND frame = Frame();
  const HWND button = Child(frame, "BUTTON", win::BS_PUSHBUTTON, 1, 10, 10, 160, 32, "Go");
  win::HBITMAP green = BitmapOf(Encode(Solid(40, 20, QColor(0, 255, 0)), "BMP"));
  ASSERT_NE(green, nullptr);
  win::SendMessageA(button, win::BM_SETIMAGE, win::IMAGE_BITMAP, reinterpret_cast<LPARAM>(green));
  win::ShowWindow(frame, win::SW_SHOW);
  win::ProcessPendingMessages();
  EXPECT_GT(CountGreen(WidgetOf(frame)->grab().toImage()), 0);
  ASSERT_TRUE(win::DeleteObject(green));
  // New bitmaps never get the old handle.
  const win::HBITMAP later = BitmapOf(Encode(Solid(40, 20, QColor(0, 255, 0)), "PNG"));
  EXPECT_NE(later, green);
  win::InvalidateRect(button, nullptr, TRUE);
  win::UpdateWindow(button);
  win::ProcessPendingMessages();
  EXPECT_EQ(CountGreen(WidgetOf(frame)->grab().toImage()), 0);
  // The button still answers with the handle it was given, as Windows does.
  EXPECT_EQ(win::SendMessageA(button, win::BM_GETIMAGE, win::IMAGE_BITMAP, 0), reinterpret_cast<LRESULT>(green));
  win::DeleteObject(later);
}

// ---------------------------------------------------------------------------------------------
// Cursors

TEST_F(UiBitmapCursorTest, SystemCursorsHaveTheirShapesAndAreShared) {
  const HWND frame = Frame();
  const HWND label = Child(frame, "STATIC", 0, 1, 10, 10, 100, 20, "label");
  const std::vector<std::pair<win::LPCSTR, Qt::CursorShape>> cases = {
      {win::IDC_ARROW, Qt::ArrowCursor},         {win::IDC_IBEAM, Qt::IBeamCursor},
      {win::IDC_WAIT, Qt::WaitCursor},           {win::IDC_CROSS, Qt::CrossCursor},
      {win::IDC_UPARROW, Qt::UpArrowCursor},     {win::IDC_SIZENWSE, Qt::SizeFDiagCursor},
      {win::IDC_SIZENESW, Qt::SizeBDiagCursor},  {win::IDC_SIZEWE, Qt::SizeHorCursor},
      {win::IDC_SIZENS, Qt::SizeVerCursor},      {win::IDC_SIZEALL, Qt::SizeAllCursor},
      {win::IDC_NO, Qt::ForbiddenCursor},        {win::IDC_HAND, Qt::PointingHandCursor},
      {win::IDC_APPSTARTING, Qt::BusyCursor},    {win::IDC_HELP, Qt::WhatsThisCursor},
  };
  std::vector<win::HCURSOR> seen;
  for (const auto& [id, shape] : cases) {
    SCOPED_TRACE(reinterpret_cast<uintptr_t>(id));
    const win::HCURSOR cursor = win::LoadCursorA(nullptr, id);
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(win::LoadCursorA(nullptr, id), cursor);  // shared
    EXPECT_EQ(std::count(seen.begin(), seen.end(), cursor), 0);
    seen.push_back(cursor);
    ASSERT_TRUE(win::SetWindowCursor(label, cursor));
    EXPECT_EQ(win::GetWindowCursor(label), cursor);
    EXPECT_EQ(WidgetOf(label)->cursor().shape(), shape);
  }
  // System cursors are never destroyed.
  const win::HCURSOR wait = win::LoadCursorA(nullptr, win::IDC_WAIT);
  EXPECT_TRUE(win::DestroyCursor(wait));
  EXPECT_TRUE(win::SetWindowCursor(label, wait));
  EXPECT_EQ(WidgetOf(label)->cursor().shape(), Qt::WaitCursor);

  // Unknown ids, names and instances.
  win::SetLastError(0);
  EXPECT_EQ(win::LoadCursorA(nullptr, reinterpret_cast<win::LPCSTR>(1)), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_RESOURCE_NAME_NOT_FOUND);
  win::SetLastError(0);
  EXPECT_EQ(win::LoadCursorA(nullptr, "MYCURSOR"), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_RESOURCE_NAME_NOT_FOUND);
  win::SetLastError(0);
  EXPECT_EQ(win::LoadCursorA(reinterpret_cast<win::HINSTANCE>(0x400000), win::IDC_ARROW), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST_F(UiBitmapCursorTest, CurFileKeepsItsHotSpotAndOtherImagesCentreIt) {
  const HWND frame = Frame();
  const HWND label = Child(frame, "STATIC", 0, 1, 10, 10, 100, 20, "label");
  QWidget* widget = WidgetOf(label);

  const win::HCURSOR cur = CursorOf(CurFile(Quadrants(32), 5, 27));
  ASSERT_NE(cur, nullptr);
  ASSERT_TRUE(win::SetWindowCursor(label, cur));
  EXPECT_EQ(widget->cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(widget->cursor().hotSpot(), QPoint(5, 27));
  const QImage shown = widget->cursor().pixmap().toImage();
  ASSERT_EQ(shown.size(), QSize(32, 32));
  EXPECT_EQ(shown.pixelColor(2, 2), QColor(Qt::red));
  EXPECT_EQ(shown.pixelColor(30, 30), QColor(Qt::yellow));

  // A .cur of several sizes: the 32-pixel one, with its own hot spot.
  const win::HCURSOR several = CursorOf(CurOfSeveral(
      {CurFile(Solid(16, 16, Qt::blue), 1, 2), CurFile(Quadrants(32), 9, 10), CurFile(Solid(48, 48, Qt::blue), 3, 4)}));
  ASSERT_NE(several, nullptr);
  ASSERT_TRUE(win::SetWindowCursor(label, several));
  EXPECT_EQ(widget->cursor().hotSpot(), QPoint(9, 10));
  EXPECT_EQ(widget->cursor().pixmap().toImage().pixelColor(2, 2), QColor(Qt::red));
  EXPECT_TRUE(win::DestroyCursor(several));

  const win::HCURSOR ico = CursorOf(Encode(Quadrants(32), "ICO"));
  ASSERT_NE(ico, nullptr);
  win::SetWindowCursor(label, ico);
  EXPECT_EQ(widget->cursor().hotSpot(), QPoint(16, 16));
  const win::HCURSOR png = CursorOf(Encode(Solid(24, 10, Qt::red), "PNG"));
  ASSERT_NE(png, nullptr);
  win::SetWindowCursor(label, png);
  EXPECT_EQ(widget->cursor().hotSpot(), QPoint(12, 5));
  // A hot spot outside the picture is taken to its edge.
  const win::HCURSOR outside = CursorOf(CurFile(Solid(16, 16, Qt::red), 300, 2));
  ASSERT_NE(outside, nullptr);
  win::SetWindowCursor(label, outside);
  EXPECT_EQ(widget->cursor().hotSpot(), QPoint(15, 2));
  for (win::HCURSOR each : {cur, ico, png, outside}) EXPECT_TRUE(win::DestroyCursor(each));
}

TEST_F(UiBitmapCursorTest, DamagedCursorFilesAreRefusedWithoutReadingPastThem) {
  const QByteArray good = CurFile(Quadrants(32), 3, 4);
  auto refused = [](const std::vector<unsigned char>& bytes) {
    win::SetLastError(0);
    const win::HCURSOR cursor = win::CreateCursorFromFileData(bytes.data(), static_cast<win::DWORD>(bytes.size()));
    const bool ok = cursor == nullptr && win::GetLastError() == win::ERROR_INVALID_DATA;
    if (cursor != nullptr) win::DestroyCursor(cursor);
    return ok;
  };
  const std::vector<unsigned char> whole(good.begin(), good.end());
  // No entries; entries past the end; an image offset or length past the end; offset inside the
  // directory.
  EXPECT_TRUE(refused({0, 0, 2, 0, 0, 0}));
  EXPECT_TRUE(refused({0, 0, 2, 0, 5, 0, 32, 32, 0, 0, 1, 0, 1, 0}));
  std::vector<unsigned char> bytes = whole;
  bytes[6 + 12] = 0xFF;
  bytes[6 + 13] = 0xFF;
  EXPECT_TRUE(refused(bytes));
  bytes = whole;
  bytes[6 + 8] = 0xF0;
  bytes[6 + 11] = 0x7F;
  EXPECT_TRUE(refused(bytes));
  bytes = whole;
  bytes[6 + 12] = 2;
  bytes[6 + 13] = bytes[6 + 14] = bytes[6 + 15] = 0;
  EXPECT_TRUE(refused(bytes));
  EXPECT_TRUE(refused({0, 0, 2, 0}));
  EXPECT_EQ(win::CreateCursorFromFileData(nullptr, 4), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
  // Every cut of a good file, as its own allocation so that reading past it would be caught.
  for (size_t length = 0; length < whole.size(); ++length) {
    const std::vector<unsigned char> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    const win::HCURSOR cursor = win::CreateCursorFromFileData(cut.data(), static_cast<win::DWORD>(cut.size()));
    if (length < 6 + 16 + 40) {
      EXPECT_EQ(cursor, nullptr) << length;
    }
    if (cursor != nullptr) win::DestroyCursor(cursor);
  }
  // Random damage anywhere.
  std::mt19937 random(99);
  for (int round = 0; round < 200; ++round) {
    bytes = whole;
    for (int i = 0; i < 3; ++i) bytes[random() % 22] = static_cast<unsigned char>(random());
    const win::HCURSOR cursor = win::CreateCursorFromFileData(bytes.data(), static_cast<win::DWORD>(bytes.size()));
    if (cursor != nullptr) win::DestroyCursor(cursor);
  }
}

TEST_F(UiBitmapCursorTest, DestroyedCursorsAreRefusedAndWindowsGetTheirClassCursorBack) {
  const HWND frame = Frame();
  const HWND edit = Child(frame, "EDIT", win::WS_BORDER, 1, 10, 10, 100, 24);
  const HWND memo = Child(frame, "EDIT", win::ES_MULTILINE, 2, 10, 40, 100, 60);
  const HWND label = Child(frame, "STATIC", 0, 3, 10, 110, 100, 20, "label");
  QWidget* editWidget = WidgetOf(edit);
  QWidget* memoViewport = static_cast<QAbstractScrollArea*>(WidgetOf(memo))->viewport();
  QWidget* labelWidget = WidgetOf(label);
  EXPECT_EQ(editWidget->cursor().shape(), Qt::IBeamCursor);
  EXPECT_EQ(memoViewport->cursor().shape(), Qt::IBeamCursor);
  EXPECT_EQ(win::GetWindowCursor(edit), nullptr);

  const win::HCURSOR made = CursorOf(CurFile(Quadrants(32), 1, 1));
  ASSERT_NE(made, nullptr);
  for (HWND window : {edit, memo, label}) ASSERT_TRUE(win::SetWindowCursor(window, made));
  EXPECT_EQ(editWidget->cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(memoViewport->cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(labelWidget->cursor().shape(), Qt::BitmapCursor);
  // The boxes keep it while the mouse moves over them and when they become read-only.
  QMouseEvent move(QEvent::MouseMove, QPointF(20, 10), QPointF(20, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(memoViewport, &move);
  QMouseEvent lineMove(QEvent::MouseMove, QPointF(20, 10), QPointF(20, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(editWidget, &lineMove);
  win::SendMessageA(edit, win::EM_SETREADONLY, TRUE, 0);
  win::SendMessageA(memo, win::EM_SETREADONLY, TRUE, 0);
  EXPECT_EQ(editWidget->cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(memoViewport->cursor().shape(), Qt::BitmapCursor);
  win::SendMessageA(edit, win::EM_SETREADONLY, FALSE, 0);
  win::SendMessageA(memo, win::EM_SETREADONLY, FALSE, 0);
  EXPECT_EQ(editWidget->cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(memoViewport->cursor().shape(), Qt::BitmapCursor);

  // Null gives the class cursor back: the I-beam over edit boxes, the arrow (nothing set) elsewhere.
  EXPECT_TRUE(win::SetWindowCursor(edit, nullptr));
  EXPECT_EQ(win::GetWindowCursor(edit), nullptr);
  EXPECT_EQ(editWidget->cursor().shape(), Qt::IBeamCursor);
  EXPECT_TRUE(win::SetWindowCursor(edit, made));

  EXPECT_TRUE(win::DestroyCursor(made));
  for (HWND window : {edit, memo, label}) EXPECT_EQ(win::GetWindowCursor(window), nullptr);
  EXPECT_EQ(editWidget->cursor().shape(), Qt::IBeamCursor);
  EXPECT_EQ(memoViewport->cursor().shape(), Qt::IBeamCursor);
  EXPECT_FALSE(labelWidget->testAttribute(Qt::WA_SetCursor));
  EXPECT_EQ(labelWidget->cursor().shape(), Qt::ArrowCursor);

  // The stale handle is refused everywhere.
  win::SetLastError(0);
  EXPECT_FALSE(win::SetWindowCursor(label, made));
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_CURSOR_HANDLE);
  EXPECT_FALSE(win::DestroyCursor(made));
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_CURSOR_HANDLE);
  EXPECT_FALSE(win::SetWindowCursor(label, reinterpret_cast<win::HCURSOR>(0x1234)));
  // And a stale window.
  const HWND gone = Child(frame, "STATIC", 0, 4, 0, 0, 10, 10);
  win::DestroyWindow(gone);
  EXPECT_FALSE(win::SetWindowCursor(gone, win::LoadCursorA(nullptr, win::IDC_ARROW)));
  EXPECT_EQ(win::GetWindowCursor(gone), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_WINDOW_HANDLE);

  // A cursor that outlives its window is destroyed without trouble.
  const win::HCURSOR second = CursorOf(Encode(Solid(8, 8, Qt::red), "PNG"));
  const HWND shortLived = Child(frame, "STATIC", 0, 5, 0, 0, 10, 10);
  win::SetWindowCursor(shortLived, second);
  win::DestroyWindow(shortLived);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(win::DestroyCursor(second));
}

}  // namespace
