#include "runtime/windows/component_data.h"

#include "runtime/memory/data_stream.h"

namespace qv {
namespace {

// Reads the version and refuses one above what the component knows (or below 1).
bool ReadVersion(DataReader& in, int32_t known, int32_t& version) {
  version = in.Int32();
  return in.ok() && version >= 1 && version <= known;
}

template <typename T>
std::optional<T> Finish(const DataReader& in, T&& data) {
  if (!in.ok()) return std::nullopt;
  return std::move(data);
}

uint32_t Colour(DataReader& in) { return static_cast<uint32_t>(in.Int32()); }

// The further window fields 6 to 10 appear from these versions on.
constexpr int32_t kWindowFieldSince[10] = {1, 1, 1, 1, 1, 2, 3, 3, 4, 5};

}  // namespace

std::optional<WindowData> ReadWindowData(std::span<const unsigned char> bytes) {
  DataReader in(bytes);
  WindowData d;
  if (!ReadVersion(in, WindowData::kVersion, d.version)) return std::nullopt;
  d.border = in.Int32();
  d.pictureMode = in.Int32();
  d.backgroundColour = Colour(in);
  d.maximiseBox = in.Int32();
  d.minimiseBox = in.Int32();
  d.controlBox = in.Int32();
  d.startPosition = in.Int32();
  d.movable = in.Int32();
  for (int i = 0; i < 10; ++i)
    if (d.version >= kWindowFieldSince[i]) d.further[i] = in.Int32();
  if (d.version >= 6) d.className = in.CountedText();
  d.picture = in.Blob();
  d.furtherBlob = in.Blob();
  d.icon = in.Blob();
  d.title = in.CountedText();
  d.furtherText = in.CountedText();
  return Finish(in, std::move(d));
}

Bytes WriteComponentData(const WindowData& d) {
  DataWriter out;
  out.Int32(d.version);
  out.Int32(d.border);
  out.Int32(d.pictureMode);
  out.Int32(static_cast<int32_t>(d.backgroundColour));
  out.Int32(d.maximiseBox);
  out.Int32(d.minimiseBox);
  out.Int32(d.controlBox);
  out.Int32(d.startPosition);
  out.Int32(d.movable);
  for (int i = 0; i < 10; ++i)
    if (d.version >= kWindowFieldSince[i]) out.Int32(d.further[i]);
  if (d.version >= 6) out.CountedText(d.className);
  out.Blob(d.picture);
  out.Blob(d.furtherBlob);
  out.Blob(d.icon);
  out.CountedText(d.title);
  out.CountedText(d.furtherText);
  return out.Take();
}

std::optional<EditBoxData> ReadEditBoxData(std::span<const unsigned char> bytes) {
  DataReader in(bytes);
  EditBoxData d;
  if (!ReadVersion(in, EditBoxData::kVersion, d.version)) return std::nullopt;
  d.border = in.Int32();
  d.textColour = Colour(in);
  d.backgroundColour = Colour(in);
  d.hideSelection = in.Int32();
  d.maxLength = in.Int32();
  d.multiLine = in.Int32();
  d.scrollBars = in.Int32();
  d.alignment = in.Int32();
  d.inputMode = in.Int32();
  d.passwordChar = in.Int16();
  d.caseConversion = in.Int32();
  d.spinBuddy = in.Int32();
  d.spinMinimum = in.Int32();
  d.spinMaximum = in.Int32();
  d.selectionStart = in.Int32();
  d.selectionLength = in.Int32();
  d.font = in.Blob();
  d.content = in.CountedText();
  if (d.version >= 2) {
    d.text19 = in.CountedText();
    d.text20 = in.CountedText();
  }
  return Finish(in, std::move(d));
}

Bytes WriteComponentData(const EditBoxData& d) {
  DataWriter out;
  out.Int32(d.version);
  out.Int32(d.border);
  out.Int32(static_cast<int32_t>(d.textColour));
  out.Int32(static_cast<int32_t>(d.backgroundColour));
  out.Int32(d.hideSelection);
  out.Int32(d.maxLength);
  out.Int32(d.multiLine);
  out.Int32(d.scrollBars);
  out.Int32(d.alignment);
  out.Int32(d.inputMode);
  out.Int16(d.passwordChar);
  out.Int32(d.caseConversion);
  out.Int32(d.spinBuddy);
  out.Int32(d.spinMinimum);
  out.Int32(d.spinMaximum);
  out.Int32(d.selectionStart);
  out.Int32(d.selectionLength);
  out.Blob(d.font);
  out.CountedText(d.content);
  if (d.version >= 2) {
    out.CountedText(d.text19);
    out.CountedText(d.text20);
  }
  return out.Take();
}

std::optional<LabelData> ReadLabelData(std::span<const unsigned char> bytes) {
  DataReader in(bytes);
  LabelData d;
  if (!ReadVersion(in, LabelData::kVersion, d.version)) return std::nullopt;
  for (int32_t& field : d.fields) field = in.Int32();
  d.font = in.Blob();
  d.picture = in.Blob();
  d.caption = in.CountedText();
  if (d.version >= 2) {
    d.further1 = in.CountedText();
    d.further2 = in.CountedText();
  }
  return Finish(in, std::move(d));
}

Bytes WriteComponentData(const LabelData& d) {
  DataWriter out;
  out.Int32(d.version);
  for (int32_t field : d.fields) out.Int32(field);
  out.Blob(d.font);
  out.Blob(d.picture);
  out.CountedText(d.caption);
  if (d.version >= 2) {
    out.CountedText(d.further1);
    out.CountedText(d.further2);
  }
  return out.Take();
}

std::optional<ButtonData> ReadButtonData(std::span<const unsigned char> bytes) {
  DataReader in(bytes);
  ButtonData d;
  if (!ReadVersion(in, ButtonData::kVersion, d.version)) return std::nullopt;
  d.type = in.Int32();
  d.horizontalAlignment = in.Int32();
  d.verticalAlignment = in.Int32();
  d.picture = in.Blob();
  d.font = in.Blob();
  d.caption = in.CountedText();
  return Finish(in, std::move(d));
}

Bytes WriteComponentData(const ButtonData& d) {
  DataWriter out;
  out.Int32(d.version);
  out.Int32(d.type);
  out.Int32(d.horizontalAlignment);
  out.Int32(d.verticalAlignment);
  out.Blob(d.picture);
  out.Blob(d.font);
  out.CountedText(d.caption);
  return out.Take();
}

std::optional<RadioBoxData> ReadRadioBoxData(std::span<const unsigned char> bytes) {
  DataReader in(bytes);
  RadioBoxData d;
  if (!ReadVersion(in, RadioBoxData::kVersion, d.version)) return std::nullopt;
  d.pushLike = in.Int32();
  d.flat = in.Int32();
  d.textLeft = in.Int32();
  d.horizontalAlignment = in.Int32();
  d.verticalAlignment = in.Int32();
  d.textColour = Colour(in);
  d.backgroundColour = Colour(in);
  d.checked = in.Int32();
  d.picture = in.Blob();
  d.font = in.Blob();
  d.caption = in.CountedText();
  return Finish(in, std::move(d));
}

Bytes WriteComponentData(const RadioBoxData& d) {
  DataWriter out;
  out.Int32(d.version);
  out.Int32(d.pushLike);
  out.Int32(d.flat);
  out.Int32(d.textLeft);
  out.Int32(d.horizontalAlignment);
  out.Int32(d.verticalAlignment);
  out.Int32(static_cast<int32_t>(d.textColour));
  out.Int32(static_cast<int32_t>(d.backgroundColour));
  out.Int32(d.checked);
  out.Blob(d.picture);
  out.Blob(d.font);
  out.CountedText(d.caption);
  return out.Take();
}

Bytes StoredFont(int32_t height, int32_t weight) {
  // LOGFONTA: height, width, escapement, orientation, weight (int32 each), eight single-byte
  // fields, a 32-byte face name.
  DataWriter out;
  out.Int32(height);
  out.Int32(0);
  out.Int32(0);
  out.Int32(0);
  out.Int32(weight);
  out.data().resize(60, 0);
  return out.Take();
}

}  // namespace qv
