#include "tools/answer_service/normaliser.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <memory>

namespace qv::answers {
namespace {

bool DroppedFromMatching(UChar32 c) {
  if (u_isUWhiteSpace(c) || u_ispunct(c)) return true;
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SPACE_SEPARATOR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    default:
      return false;
  }
}

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

}  // namespace

std::string NormaliseForMatching(std::string_view utf8) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkcFold = icu::Normalizer2::getNFKCCasefoldInstance(status);
  if (U_FAILURE(status)) return {};
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(),
                                                                          static_cast<int32_t>(utf8.size())));
  icu::UnicodeString folded = nfkcFold->normalize(text, status);
  if (U_FAILURE(status)) return {};
  icu::UnicodeString kept;
  for (int32_t i = 0; i < folded.length();) {
    UChar32 c = folded.char32At(i);
    if (!DroppedFromMatching(c)) kept.append(c);
    i += U16_LENGTH(c);
  }
  std::string out;
  kept.toUTF8String(out);
  return out;
}

size_t CodePointCount(std::string_view utf8) {
  size_t count = 0;
  for (unsigned char byte : utf8) count += (byte & 0xC0) != 0x80;
  return count;
}

std::u32string ToCodePoints(std::string_view utf8) {
  std::u32string points;
  points.reserve(utf8.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
  int32_t length = static_cast<int32_t>(utf8.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT_OR_FFFD(bytes, i, length, c);
    points.push_back(static_cast<char32_t>(c));
  }
  return points;
}

std::string ToUtf8(std::u32string_view points) {
  std::string out(points.size() * 4, '\0');
  auto* bytes = reinterpret_cast<uint8_t*>(out.data());
  size_t length = 0;
  for (char32_t c : points) U8_APPEND_UNSAFE(bytes, length, static_cast<UChar32>(c));
  out.resize(length);
  return out;
}

bool IsWellFormedUtf8(std::string_view bytes) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  int32_t length = static_cast<int32_t>(bytes.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(data, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
  UErrorCode status = U_ZERO_ERROR;
  // ICU's "GBK" is windows-936-2000, the code page Windows uses for simplified Chinese.
  Converter converter(ucnv_open("GBK", &status));
  if (U_FAILURE(status)) return std::nullopt;
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  if (U_FAILURE(status)) return std::nullopt;
  icu::UnicodeString text(gbk.data(), static_cast<int32_t>(gbk.size()), converter.get(), status);
  if (U_FAILURE(status)) return std::nullopt;
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace qv::answers
