// The mapping of stored component fields onto the platform: fonts, colours and the typed-character
// filters of the edit box input modes.
#include <gtest/gtest.h>

#include <string>

#include "platform/ui/window.h"
#include "runtime/windows/component_data.h"
#include "runtime/windows/components.h"

namespace qv {
namespace {

TEST(Components, StoredFontsOfOtherLengthsAreTheDefaultFont) {
  EXPECT_EQ(CreateStoredFont(std::string(59, '\0')), nullptr);
  EXPECT_EQ(CreateStoredFont(std::string(61, '\0')), nullptr);
  EXPECT_EQ(CreateStoredFont(""), nullptr);
  const Bytes stored = StoredFont(-14, 700);
  std::string bytes(stored.begin(), stored.end());
  bytes[23] = 'x';  // character set, precisions, quality and pitch are replaced
  bytes[24] = 3;
  bytes[26] = 5;
  bytes[27] = 0x31;
  win::HFONT font = CreateStoredFont(bytes);
  ASSERT_NE(font, nullptr);
  win::LOGFONTA seen;
  ASSERT_EQ(win::GetObjectA(font, sizeof seen, &seen), 60);
  EXPECT_EQ(seen.lfHeight, -14);
  EXPECT_EQ(seen.lfWeight, 700);
  EXPECT_EQ(seen.lfCharSet, 1);
  EXPECT_EQ(seen.lfOutPrecision, 0);
  EXPECT_EQ(seen.lfQuality, 2);
  EXPECT_EQ(seen.lfPitchAndFamily, 0);
  win::DeleteObject(font);
}

TEST(Components, InputModesFilterTypedCharacters) {
  struct Case {
    int32_t mode;
    const char16_t* accepted;
    const char16_t* refused;
  };
  const Case cases[] = {{0, u"a-.9中", u""},   {1, u"a", u""},      {3, u"-09", u"a.+ "}, {6, u"-5", u"."},
                        {8, u"-5", u"e"},      {4, u"-.7", u"a,"},  {10, u"-.7", u"x"},  {5, u"09", u"-."}};
  for (const Case& c : cases) {
    for (const char16_t* p = c.accepted; *p; ++p) EXPECT_TRUE(EditInputAccepts(c.mode, *p)) << c.mode;
    for (const char16_t* p = c.refused; *p; ++p) EXPECT_FALSE(EditInputAccepts(c.mode, *p)) << c.mode;
    EXPECT_TRUE(EditInputAccepts(c.mode, u'\b')) << c.mode;  // control characters always pass
  }
  EXPECT_EQ(StoredColour(kButtonFaceColour), win::GetSysColor(win::COLOR_BTNFACE));
  EXPECT_EQ(StoredColour(Rgb(0, 255, 0)), win::RGB(0, 255, 0));
}

}  // namespace
}  // namespace qv
