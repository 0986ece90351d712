// The stored fields of the components a window template holds: window, edit box, label, button and
// radio box. Each unit record ends with its component's data, a small stream of its own: int32
// format version, then the component's fields in a fixed order (int32 unless noted; texts are
// counted GBK texts, byte data such as fonts and pictures are blobs). A version above the one a
// component knows is refused, so a newer template cannot be misread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qv {

using Bytes = std::vector<unsigned char>;

// COLORREF value that stands for the system's button-face colour.
inline constexpr uint32_t kButtonFaceColour = 0xFF000000;
inline constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (uint32_t{b} << 16); }

struct WindowData {
  static constexpr int32_t kVersion = 6;
  int32_t version = kVersion;
  int32_t border = 2;  // 0 none, 1 resizable, 2 fixed, 3/4 tool windows, 5/6 with client edge
  int32_t pictureMode = 0;
  uint32_t backgroundColour = kButtonFaceColour;
  int32_t maximiseBox = 0;  // only 1 turns it on
  int32_t minimiseBox = 1;  // only 1 turns it on
  int32_t controlBox = 1;   // 1: title bar with system menu
  int32_t startPosition = 1;  // 0 as stored, 1 centred, 2 minimised, 3 maximised
  int32_t movable = 1;
  int32_t further[10] = {};  // the last five exist from versions 2, 3, 3, 4 and 5 on
  std::string className;     // version 6 only; empty: the runtime's own class
  Bytes picture;
  Bytes furtherBlob;
  Bytes icon;
  std::string title;
  std::string furtherText;
  bool operator==(const WindowData&) const = default;
};

struct EditBoxData {
  static constexpr int32_t kVersion = 2;
  int32_t version = kVersion;
  int32_t border = 1;  // 0 none, 1 sunken client edge, 2 modal frame, 3 static edge, 4 both, 5 thin
  uint32_t textColour = Rgb(0, 0, 0);
  uint32_t backgroundColour = Rgb(255, 255, 255);
  int32_t hideSelection = 1;
  int32_t maxLength = 0;  // characters; 0: the platform maximum
  int32_t multiLine = 0;
  int32_t scrollBars = 0;  // 0 none, 1 horizontal, 2 vertical, 3 both
  int32_t alignment = 0;   // 0 left, 1 centre, 2 right
  int32_t inputMode = 0;   // 0 normal, 1 read-only, 2 password, 3/6/7/8 integer, 4/9/10 decimal, 5 digits
  int16_t passwordChar = '*';
  int32_t caseConversion = 0;  // 0 none, 1 lower, 2 upper
  int32_t spinBuddy = 0;
  int32_t spinMinimum = 0;
  int32_t spinMaximum = 0;
  int32_t selectionStart = 0;
  int32_t selectionLength = 0;
  Bytes font;  // a 60-byte LOGFONTA, or anything else for the default GUI font
  std::string content;
  std::string text19;  // version 2 only
  std::string text20;  // version 2 only
  bool operator==(const EditBoxData&) const = default;
};

struct LabelData {
  static constexpr int32_t kVersion = 2;
  static constexpr int kTextColourField = 6;
  static constexpr int kBackgroundColourField = 7;
  int32_t version = kVersion;
  int32_t fields[16] = {};  // the seventh is the text colour, the eighth the background colour
  Bytes font;
  Bytes picture;
  std::string caption;
  std::string further1;  // version 2 only
  std::string further2;  // version 2 only
  uint32_t textColour() const { return static_cast<uint32_t>(fields[kTextColourField]); }
  uint32_t backgroundColour() const { return static_cast<uint32_t>(fields[kBackgroundColourField]); }
  bool operator==(const LabelData&) const = default;
};

struct ButtonData {
  static constexpr int32_t kVersion = 1;
  int32_t version = kVersion;
  int32_t type = 0;                 // 0 normal, 1 default push button
  int32_t horizontalAlignment = 1;  // 0 left, 1 centre, 2 right
  int32_t verticalAlignment = 1;    // 0 top, 1 centre, 2 bottom
  Bytes picture;
  Bytes font;
  std::string caption;
  bool operator==(const ButtonData&) const = default;
};

struct RadioBoxData {
  static constexpr int32_t kVersion = 1;
  int32_t version = kVersion;
  int32_t pushLike = 0;
  int32_t flat = 0;
  int32_t textLeft = 0;
  int32_t horizontalAlignment = 0;
  int32_t verticalAlignment = 1;
  uint32_t textColour = Rgb(0, 0, 0);
  uint32_t backgroundColour = kButtonFaceColour;
  int32_t checked = 0;
  Bytes picture;
  Bytes font;
  std::string caption;
  bool operator==(const RadioBoxData&) const = default;
};

// Readers take the whole component data of a record; they fail on a version above the known one,
// on data that ends early and on negative lengths. Trailing bytes are left alone.
std::optional<WindowData> ReadWindowData(std::span<const unsigned char> data);
std::optional<EditBoxData> ReadEditBoxData(std::span<const unsigned char> data);
std::optional<LabelData> ReadLabelData(std::span<const unsigned char> data);
std::optional<ButtonData> ReadButtonData(std::span<const unsigned char> data);
std::optional<RadioBoxData> ReadRadioBoxData(std::span<const unsigned char> data);

// Writers serialise the fields their version holds.
Bytes WriteComponentData(const WindowData& data);
Bytes WriteComponentData(const EditBoxData& data);
Bytes WriteComponentData(const LabelData& data);
Bytes WriteComponentData(const ButtonData& data);
Bytes WriteComponentData(const RadioBoxData& data);

// A stored font: 60 bytes of LOGFONTA with the given height (negative: pixel size) and weight, an
// empty face name and every other field 0.
Bytes StoredFont(int32_t height, int32_t weight = 400);

}  // namespace qv
