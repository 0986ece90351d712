// The components' stored fields: each component's data survives a write and a read, every
// truncation and every version above the known one is refused.
#include <gtest/gtest.h>

#include <functional>

#include "runtime/windows/component_data.h"
#include "runtime/memory/data_stream.h"

namespace qv {
namespace {

WindowData SampleWindow(int32_t version) {
  WindowData d;
  d.version = version;
  d.border = 6;
  d.pictureMode = 3;
  d.backgroundColour = Rgb(1, 2, 3);
  d.maximiseBox = 1;
  d.startPosition = 2;
  d.movable = 0;
  for (int i = 0; i < 10; ++i) d.further[i] = version >= (i < 5 ? 1 : i == 5 ? 2 : i < 8 ? 3 : i - 4) ? 100 + i : 0;
  if (version >= 6) d.className = "MyClass";
  d.picture = {1, 2, 3};
  d.icon = {9};
  d.title = "Quorvane    By:Ostrel";
  d.furtherText = "标题";
  return d;
}

EditBoxData SampleEdit(int32_t version) {
  EditBoxData d;
  d.version = version;
  d.textColour = Rgb(0, 255, 0);
  d.backgroundColour = Rgb(0, 0, 0);
  d.maxLength = 2;
  d.multiLine = 1;
  d.inputMode = 3;
  d.passwordChar = -1;  // a GBK lead byte read as a signed 16-bit value stays as stored
  d.spinMinimum = -5;
  d.selectionLength = 7;
  d.font = StoredFont(-14);
  d.content = "指令系统中采用不同寻址方式的目的是";
  if (version >= 2) {
    d.text19 = "x";
    d.text20 = "yz";
  }
  return d;
}

LabelData SampleLabel(int32_t version) {
  LabelData d;
  d.version = version;
  for (int i = 0; i < 16; ++i) d.fields[i] = i * 3 - 7;
  d.fields[LabelData::kTextColourField] = 0;
  d.fields[LabelData::kBackgroundColourField] = static_cast<int32_t>(kButtonFaceColour);
  d.font = StoredFont(-24);
  d.caption = "章节(选填)如第九章：";
  if (version >= 2) d.further2 = "z";
  return d;
}

TEST(ComponentData, EveryComponentRoundTripsInEveryVersion) {
  for (int32_t v = 1; v <= WindowData::kVersion; ++v) {
    const WindowData d = SampleWindow(v);
    EXPECT_EQ(ReadWindowData(WriteComponentData(d)), d) << "window version " << v;
  }
  for (int32_t v = 1; v <= EditBoxData::kVersion; ++v) {
    const EditBoxData d = SampleEdit(v);
    EXPECT_EQ(ReadEditBoxData(WriteComponentData(d)), d) << "edit version " << v;
  }
  for (int32_t v = 1; v <= LabelData::kVersion; ++v) {
    const LabelData d = SampleLabel(v);
    const auto back = ReadLabelData(WriteComponentData(d));
    EXPECT_EQ(back, d) << "label version " << v;
    ASSERT_TRUE(back);
    EXPECT_EQ(back->textColour(), 0u);
    EXPECT_EQ(back->backgroundColour(), kButtonFaceColour);
  }
  ButtonData button;
  button.type = 1;
  button.caption = "查询";
  button.picture = {0, 0, 7};
  EXPECT_EQ(ReadButtonData(WriteComponentData(button)), button);
  RadioBoxData radio;
  radio.checked = 1;
  radio.textLeft = 1;
  radio.caption = "Velmora（Lianto）";
  EXPECT_EQ(ReadRadioBoxData(WriteComponentData(radio)), radio);
}

TEST(ComponentData, LayoutOfTheEditBoxStreamIsFixed) {
  // version, nine int32 fields, the int16 password character, six int32 fields, the font blob,
  // the content and, in version 2, two more texts.
  EditBoxData d;
  d.passwordChar = '*';
  d.font = {};
  d.content = "ab";
  const Bytes bytes = WriteComponentData(d);
  ASSERT_EQ(bytes.size(), 4u + 9 * 4 + 2 + 6 * 4 + 4 + (4 + 2) + 4 + 4);
  DataReader in(bytes);
  EXPECT_EQ(in.Int32(), 2);
  in.Bytes(9 * 4);
  EXPECT_EQ(in.Int16(), '*');
  in.Bytes(6 * 4);
  EXPECT_EQ(in.Int32(), 0);  // font length
  EXPECT_EQ(in.CountedText(), "ab");
}

TEST(ComponentData, NewerVersionsAndBadVersionsAreRefused) {
  struct Row {
    const char* name;
    int32_t known;
    std::function<bool(std::span<const unsigned char>)> reads;
  } rows[] = {
      {"window", WindowData::kVersion, [](auto b) { return ReadWindowData(b).has_value(); }},
      {"edit", EditBoxData::kVersion, [](auto b) { return ReadEditBoxData(b).has_value(); }},
      {"label", LabelData::kVersion, [](auto b) { return ReadLabelData(b).has_value(); }},
      {"button", ButtonData::kVersion, [](auto b) { return ReadButtonData(b).has_value(); }},
      {"radio", RadioBoxData::kVersion, [](auto b) { return ReadRadioBoxData(b).has_value(); }},
  };
  for (const Row& r : rows) {
    // Plenty of zero bytes after the version: only the version decides.
    for (int32_t version : {r.known + 1, 0, -1, INT32_MAX}) {
      Bytes bytes(400, 0);
      std::memcpy(bytes.data(), &version, 4);
      EXPECT_FALSE(r.reads(bytes)) << r.name << " version " << version;
    }
    Bytes bytes(400, 0);
    std::memcpy(bytes.data(), &r.known, 4);
    EXPECT_TRUE(r.reads(bytes)) << r.name;
  }
}

TEST(ComponentData, TruncationAtEveryByteAndNegativeLengthsFail) {
  const Bytes window = WriteComponentData(SampleWindow(6));
  const Bytes edit = WriteComponentData(SampleEdit(2));
  const Bytes label = WriteComponentData(SampleLabel(2));
  for (size_t n = 0; n < window.size(); ++n)
    EXPECT_FALSE(ReadWindowData(std::span(window).first(n))) << n;
  for (size_t n = 0; n < edit.size(); ++n) EXPECT_FALSE(ReadEditBoxData(std::span(edit).first(n))) << n;
  for (size_t n = 0; n < label.size(); ++n) EXPECT_FALSE(ReadLabelData(std::span(label).first(n))) << n;

  // The font length of an edit box made negative, or larger than what follows.
  Bytes bad = edit;
  const size_t fontLengthAt = 4 + 9 * 4 + 2 + 6 * 4;
  for (int32_t length : {-1, INT32_MIN, INT32_MAX, static_cast<int32_t>(edit.size())}) {
    std::memcpy(bad.data() + fontLengthAt, &length, 4);
    EXPECT_FALSE(ReadEditBoxData(bad)) << length;
  }
}

TEST(ComponentData, StoredFontsAreSixtyByteLogFonts) {
  const Bytes font = StoredFont(-14);
  ASSERT_EQ(font.size(), 60u);
  DataReader in(font);
  EXPECT_EQ(in.Int32(), -14);
  in.Bytes(12);
  EXPECT_EQ(in.Int32(), 400);
  for (unsigned char b : in.Rest()) EXPECT_EQ(b, 0);
}

}  // namespace
}  // namespace qv
