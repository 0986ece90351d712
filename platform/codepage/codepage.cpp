// MultiByteToWideChar / WideCharToMultiByte for code pages 936 (GBK), 65001 (UTF-8) and 0 (CP_ACP,
// 936 here), on glibc iconv.
//
// iconv converts whole buffers, straight into the caller's buffer (or, for a measuring call, into a
// scratch area that is only counted). It stops only where its tables or the input leave it without
// an answer; this file then does at that spot what Windows does, and lets iconv go on. The Windows
// behaviour followed here:
//   * Code page 936 is Microsoft's table (bestfit936.txt, see cp936_tables.h). glibc's CP936 agrees
//     with it wherever it converts at all (0x80 is the euro sign in both); the cells it lacks, the
//     byte 0xFF and the best-fit mappings come from cp936_tables.h.
//   * Bytes to UTF-16 on 936, as the Windows table lookup does: a lead byte (0x81-0xFE) takes the
//     byte after it unless that byte is NUL or there is none; a pair whose second byte is not a
//     trail byte (0x40-0x7E, 0x80-0xFE) becomes the table's default character U+003F '?' (the
//     "CPINFO 2 0x3f 0x003f" line of bestfit936.txt), and so does a lead byte that ends the input or
//     stands before a NUL; the NUL itself is then converted on its own. Wine's conformance tests
//     (dlls/kernel32/tests/codepage.c, test_dbcs_to_widechar) pin the last two on Windows.
//     With MB_ERR_INVALID_CHARS these spots, and the byte 0xFF (which maps into the private-use
//     area), fail the call with ERROR_NO_UNICODE_TRANSLATION, as Wine's check_invalid_chars does.
//   * UTF-16 to 936: a character without a mapping, and each half of a surrogate pair, becomes the
//     default character ('?' unless lpDefaultChar is given) and sets *lpUsedDefaultChar; a
//     best-fit mapping is used silently unless WC_NO_BEST_FIT_CHARS. WC_COMPOSITECHECK first
//     composes a base character and the combining mark after it when 936 can write the result.
//   * UTF-8 to UTF-16: each maximal ill-formed subpart (Unicode 3.9, "U+FFFD Substitution of Maximal
//     Subparts") becomes one U+FFFD, as Windows 10 does; MB_ERR_INVALID_CHARS fails instead.
//   * UTF-16 to UTF-8: a lone surrogate becomes EF BF BD (U+FFFD); WC_ERR_INVALID_CHARS fails instead.
//   * A negative input length means NUL-terminated (Wine's test_negative_source_length shows any
//     negative value acts as -1 on Windows); a zero one is ERROR_INVALID_PARAMETER.
//   * A buffer that is too small gets what fits, never a partial character and never a byte past
//     its size, and the call fails with ERROR_INSUFFICIENT_BUFFER. A successful call leaves the
//     last error alone.
//
// Code page 936 also has lookup tables, because iconv costs far more per character than a table
// look-up and nearly all text is ASCII and double-byte cells that map one to one. The tables are
// built once, on the first conversion of code page 936, from the iconv path itself, and hold only
// what that path answers with certainty: a lead byte with a trail byte, the single bytes 0x80 and
// 0xFF, and every character whose bytes decode back to it without best fit or default character.
// Everything else (a lead byte without its trail byte, a character without an exact mapping, a
// surrogate) is handed to the iconv path one character at a time; code page 936 keeps no state
// between characters, so a character converts the same on its own as within its text.
#include "platform/codepage/codepage.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/codepage/codepage_internal.h"
#include "platform/codepage/cp936_tables.h"
#include "platform/codepage/iconv_owner.h"

namespace win {
namespace {

using codepage_detail::IconvOwner;
using codepage_detail::kCp936BestFit;
using codepage_detail::kCp936Compositions;
using codepage_detail::kCp936ExtraPuaCells;

static_assert(std::endian::native == std::endian::little,
              "char16_t buffers are handed to iconv as UTF-16LE");

constexpr char16_t kReplacementCharacter = 0xFFFD;
constexpr char16_t kTableDefaultCharacter = u'?';

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

enum class Page { Gbk, Utf8 };

std::optional<Page> ResolvePage(UINT codePage) {
  switch (codePage) {
    case CP_ACP:  // The system ANSI code page of the target machines is 936.
    case CP_GBK:
      return Page::Gbk;
    case CP_UTF8:
      return Page::Utf8;
    default:
      return std::nullopt;
  }
}

// ---- iconv descriptors -------------------------------------------------------------------------

enum class Direction { GbkToUtf16, Utf16ToGbk, Utf8ToUtf16, Utf16ToUtf8, Count };

// iconv_open loads conversion tables and is far too slow to repeat on every call, so each thread
// keeps one descriptor per direction for its lifetime and resets it before each use. Null when the
// C library has no such converter (the code page is then not available, as on a Windows machine
// without it).
const IconvOwner* ThreadDescriptor(Direction direction) {
  struct Names {
    const char* to;
    const char* from;
  };
  static constexpr Names kNames[] = {
      {"UTF-16LE", "CP936"}, {"CP936", "UTF-16LE"}, {"UTF-16LE", "UTF-8"}, {"UTF-8", "UTF-16LE"}};
  thread_local std::optional<IconvOwner> t_owners[static_cast<size_t>(Direction::Count)];

  const auto index = static_cast<size_t>(direction);
  std::optional<IconvOwner>& slot = t_owners[index];
  if (!slot) {
    std::optional<IconvOwner> opened = IconvOwner::Open(kNames[index].to, kNames[index].from);
    if (!opened) return nullptr;
    slot.emplace(std::move(*opened));
  }
  slot->Reset();
  return &*slot;
}

// ---- Output ------------------------------------------------------------------------------------

// Where converted bytes go: the caller's buffer, never written past its size, or for a measuring
// call a scratch area that is reused and only counted.
class Output {
 public:
  // A null buffer measures.
  Output(char* buffer, size_t capacity) : m_buffer(buffer), m_capacity(buffer ? capacity : 0) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  bool Measuring() const { return m_buffer == nullptr; }
  char* Cursor() { return Measuring() ? m_scratch : m_buffer + m_used; }
  size_t Room() const { return Measuring() ? sizeof m_scratch : m_capacity - m_used; }
  // Takes note of bytes written at Cursor().
  void Advance(size_t bytes) {
    if (!Measuring()) m_used += bytes;
    m_total += bytes;
  }
  // Appends one whole character's bytes; false, with nothing written, when they do not fit.
  bool Put(const void* bytes, size_t count) {
    if (!Measuring()) {
      if (count > Room()) return false;
      std::memcpy(m_buffer + m_used, bytes, count);
    }
    Advance(count);
    return true;
  }
  size_t Total() const { return m_total; }

 private:
  char* m_buffer;
  size_t m_capacity;
  size_t m_used = 0;
  size_t m_total = 0;
  char m_scratch[4096];
};

void PutUnit(Output& out, char16_t unit, bool& fits) { fits = out.Put(&unit, sizeof unit); }

// ---- The conversion loop -----------------------------------------------------------------------

enum class Status { Ok, NoRoom, Untranslatable, Unavailable };

// What a handler did where iconv stopped: the input bytes that spot took (their replacement is
// already written), or the failure.
struct Resolution {
  Status status;
  size_t consumed;
};

// iconv is handed the input in pieces. Where a conversion through glibc's internal form fails,
// glibc converts the piece again up to the failing character to find it, so the cost of a failure
// grows with the piece: after one, pieces start small and double while they convert cleanly.
// Clean text thus goes in large pieces, and text full of characters that need the fallback path
// stays linear.
constexpr size_t kSmallestPiece = 64;
constexpr size_t kLargestPiece = 8192;

// Converts the whole input with iconv. Where iconv stops on input it cannot convert (EILSEQ) or on
// a sequence cut off by the end of the input (EINVAL), `resolve` handles that spot and the loop
// goes on after it. `resolve` sees the rest of the whole input, not only the current piece.
template <typename Resolver>
Status Run(Direction direction, const char* input, size_t inputBytes, Output& out, Resolver&& resolve) {
  const IconvOwner* descriptor = ThreadDescriptor(direction);
  if (!descriptor) return Status::Unavailable;
  const char* const end = input + inputBytes;
  const char* position = input;
  size_t piece = kLargestPiece;
  while (position < end) {
    const size_t pieceBytes = std::min(piece, static_cast<size_t>(end - position));
    const bool lastPiece = position + pieceBytes == end;
    // iconv's prototype takes char** for its input, but it never writes through it.
    char* in = const_cast<char*>(position);
    size_t inLeft = pieceBytes;
    char* cursor = out.Cursor();
    size_t room = out.Room();
    const size_t roomBefore = room;
    const size_t rc = iconv(descriptor->Get(), &in, &inLeft, &cursor, &room);
    const int error = errno;
    out.Advance(roomBefore - room);
    position = in;
    if (rc != static_cast<size_t>(-1)) {
      piece = std::min(piece * 2, kLargestPiece);
      continue;
    }
    if (error == E2BIG) {
      if (out.Measuring()) continue;  // The scratch area is full: count on with it empty.
      return Status::NoRoom;
    }
    // A sequence cut off by the end of the piece: the next piece starts with it.
    if (error == EINVAL && !lastPiece) continue;
    if (error != EILSEQ && error != EINVAL) return Status::Unavailable;
    const Resolution resolution = resolve(position, static_cast<size_t>(end - position), out);
    if (resolution.status != Status::Ok) return resolution.status;
    position += resolution.consumed;
    piece = kSmallestPiece;
    descriptor->Reset();
  }
  return Status::Ok;
}

// The result of a call: the count, or 0 with the error that Windows reports.
int Finish(Status status, size_t units) {
  switch (status) {
    case Status::Ok:
      if (units > static_cast<size_t>(INT_MAX)) {
        // The count cannot be returned; no buffer of an int's size could take the text either.
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      return static_cast<int>(units);
    case Status::NoRoom:
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    case Status::Untranslatable:
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    case Status::Unavailable:
      break;
  }
  // The C library cannot convert this code page: Windows reports a code page that is not
  // installed as an invalid parameter.
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

// ---- ASCII runs ----------------------------------------------------------------------------------

// Sixteen bytes or units at a time: how many at the start are ASCII, and copying sixteen ASCII ones
// to the other width. SSE2 is part of every x86-64 processor; elsewhere plain loops do the same.
constexpr size_t kAsciiBlock = 16;

// The number of bytes below 0x80 at the start of the 16 at `bytes`.
unsigned LeadingAsciiBytes(const unsigned char* bytes) {
#if defined(__SSE2__)
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const auto high = static_cast<unsigned>(_mm_movemask_epi8(block));
  return high ? static_cast<unsigned>(std::countr_zero(high)) : 16u;
#else
  unsigned count = 0;
  while (count < kAsciiBlock && bytes[count] < 0x80) ++count;
  return count;
#endif
}

// The number of units below U+0080 at the start of the 16 at `units`.
unsigned LeadingAsciiUnits(const char16_t* units) {
#if defined(__SSE2__)
  const __m128i notAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
  const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 8));
  // Two mask bits per unit, set where the unit is ASCII.
  const auto ascii =
      static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(first, notAscii), zero))) |
      static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(second, notAscii), zero))) << 16;
  return ascii == UINT32_MAX ? 16u : static_cast<unsigned>(std::countr_one(ascii)) / 2;
#else
  unsigned count = 0;
  while (count < kAsciiBlock && units[count] < 0x80) ++count;
  return count;
#endif
}

// Copies 16 ASCII bytes into 16 UTF-16 units.
void WidenAscii(const unsigned char* bytes, char16_t* units) {
#if defined(__SSE2__)
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(units), _mm_unpacklo_epi8(block, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(units + 8), _mm_unpackhi_epi8(block, zero));
#else
  for (size_t i = 0; i < kAsciiBlock; ++i) units[i] = bytes[i];
#endif
}

// Copies 16 UTF-16 units below U+0080 into 16 bytes.
void NarrowAscii(const char16_t* units, char* bytes) {
#if defined(__SSE2__)
  const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
  const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 8));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(first, second));
#else
  for (size_t i = 0; i < kAsciiBlock; ++i) bytes[i] = static_cast<char>(units[i]);
#endif
}

// ---- Code page 936 -----------------------------------------------------------------------------

bool IsGbkLead(unsigned byte) { return byte >= 0x81 && byte <= 0xFE; }
bool IsGbkTrail(unsigned byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

// The byte that Microsoft's table maps to the private-use character U+F8F5, and back.
constexpr unsigned char kGbkByteFF = 0xFF;
constexpr char16_t kGbkByteFFCharacter = 0xF8F5;

// The private-use character that Windows gives a double-byte cell that GBK leaves unassigned
// (lead and trail valid), or 0 for an assigned cell. The three user-defined areas are mapped in
// row order, then the remaining unassigned cells one after another (see cp936_tables.h).
char16_t PuaForCell(unsigned lead, unsigned trail) {
  if (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1) return 0xE000 + (lead - 0xAA) * 94 + (trail - 0xA1);
  if (lead >= 0xF8 && lead <= 0xFE && trail >= 0xA1) return 0xE234 + (lead - 0xF8) * 94 + (trail - 0xA1);
  if (lead >= 0xA1 && lead <= 0xA7 && trail <= 0xA0) {
    return 0xE4C6 + (lead - 0xA1) * 96 + (trail - (trail < 0x7F ? 0x40 : 0x41));
  }
  const unsigned cell = lead << 8 | trail;
  unsigned next = 0xE766;
  for (const auto& range : kCp936ExtraPuaCells) {
    if (cell < range.first) break;
    if (cell <= range.last) return static_cast<char16_t>(next + (cell - range.first));
    next += range.last - range.first + 1u;
  }
  return 0;
}

// The inverse of PuaForCell: the cell of a private-use character of the table, or 0.
uint16_t CellForPua(char16_t unit) {
  if (unit >= 0xE000 && unit < 0xE234) {
    const unsigned i = unit - 0xE000;
    return static_cast<uint16_t>((0xAA + i / 94) << 8 | (0xA1 + i % 94));
  }
  if (unit >= 0xE234 && unit < 0xE4C6) {
    const unsigned i = unit - 0xE234;
    return static_cast<uint16_t>((0xF8 + i / 94) << 8 | (0xA1 + i % 94));
  }
  if (unit >= 0xE4C6 && unit < 0xE766) {
    const unsigned i = unit - 0xE4C6;
    const unsigned column = i % 96;
    return static_cast<uint16_t>((0xA1 + i / 96) << 8 | (column < 0x3F ? 0x40 + column : 0x41 + column));
  }
  if (unit >= 0xE766 && unit <= 0xE864) {
    unsigned i = unit - 0xE766;
    for (const auto& range : kCp936ExtraPuaCells) {
      const unsigned size = range.last - range.first + 1u;
      if (i < size) return static_cast<uint16_t>(range.first + i);
      i -= size;
    }
  }
  return 0;
}

std::optional<uint16_t> BestFit(char16_t unit) {
  const auto* end = std::end(kCp936BestFit);
  const auto* found = std::lower_bound(std::begin(kCp936BestFit), end, unit,
                                       [](const auto& entry, char16_t key) { return entry.unit < key; });
  if (found == end || found->unit != unit) return std::nullopt;
  return found->bytes;
}

// With MB_ERR_INVALID_CHARS: whether the bytes hold a spot that the table maps to its default
// character (a lead byte without a trail byte) or into the private-use area from a single byte.
bool GbkHasInvalidSequence(const unsigned char* bytes, size_t count) {
  for (size_t i = 0; i < count;) {
    if (count - i >= kAsciiBlock) {
      const unsigned ascii = LeadingAsciiBytes(bytes + i);
      i += ascii;
      if (ascii == kAsciiBlock) continue;
    }
    const unsigned byte = bytes[i];
    if (byte == kGbkByteFF) return true;
    if (!IsGbkLead(byte)) {
      ++i;
      continue;
    }
    if (i + 1 >= count || !IsGbkTrail(bytes[i + 1])) return true;
    i += 2;
  }
  return false;
}

// Where iconv stopped decoding GBK: the Windows table's answer for the bytes there.
Resolution ResolveGbkBytes(const char* at, size_t left, Output& out) {
  const auto lead = static_cast<unsigned char>(at[0]);
  char16_t unit = kTableDefaultCharacter;
  size_t consumed = 1;
  if (lead == kGbkByteFF) {
    unit = kGbkByteFFCharacter;
  } else if (IsGbkLead(lead) && left >= 2 && at[1] != '\0') {
    const auto trail = static_cast<unsigned char>(at[1]);
    consumed = 2;
    if (IsGbkTrail(trail)) {
      if (const char16_t pua = PuaForCell(lead, trail)) unit = pua;
    }
  }
  bool fits = false;
  PutUnit(out, unit, fits);
  return {fits ? Status::Ok : Status::NoRoom, consumed};
}

// WC_COMPOSITECHECK composes only the marks in the composition table; only these can start one.
bool IsComposingMark(char16_t unit) { return (unit >= 0x0300 && unit <= 0x036F) || unit == 0x3099 || unit == 0x309A; }

// The composite of a base character and the mark after it, when 936 can write it (by best fit only
// if that is allowed).
std::optional<char16_t> Compose(char16_t base, char16_t mark, bool allowBestFit) {
  const auto* end = std::end(kCp936Compositions);
  const auto* found = std::lower_bound(std::begin(kCp936Compositions), end, std::pair{base, mark},
                                       [](const auto& entry, const std::pair<char16_t, char16_t>& key) {
                                         return std::pair<char16_t, char16_t>{entry.base, entry.mark} < key;
                                       });
  if (found == end || found->base != base || found->mark != mark) return std::nullopt;
  if (!allowBestFit && BestFit(found->composite)) return std::nullopt;
  return found->composite;
}

// WC_COMPOSITECHECK as Windows applies it: a character and the one mark after it are replaced by
// their composite when the code page can write it; otherwise both are converted separately
// (WC_SEPCHARS, the default).
std::u16string ComposePairs(const char16_t* text, size_t count, bool allowBestFit) {
  std::u16string composed;
  composed.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    if (i + 1 < count && IsComposingMark(text[i + 1])) {
      if (std::optional<char16_t> composite = Compose(text[i], text[i + 1], allowBestFit)) {
        composed.push_back(*composite);
        ++i;
        continue;
      }
    }
    composed.push_back(text[i]);
  }
  return composed;
}

// The default character of a call: lpDefaultChar when given (two bytes when it starts with a GBK
// lead and trail byte), else the table's '?'.
struct DefaultCharacter {
  char bytes[2] = {'?', '\0'};
  size_t size = 1;
};

DefaultCharacter ChooseDefaultCharacter(const char* given) {
  DefaultCharacter chosen;
  if (!given) return chosen;
  chosen.bytes[0] = given[0];
  if (IsGbkLead(static_cast<unsigned char>(given[0])) && IsGbkTrail(static_cast<unsigned char>(given[1]))) {
    chosen.bytes[1] = given[1];
    chosen.size = 2;
  }
  return chosen;
}

struct GbkEncoding {
  bool allowBestFit;
  DefaultCharacter defaultCharacter;
  bool usedDefault = false;
};

// Where iconv stopped encoding UTF-16 as GBK: a character that glibc's table lacks.
Resolution ResolveGbkUnit(const char* at, GbkEncoding& encoding, Output& out) {
  char16_t unit;
  std::memcpy(&unit, at, sizeof unit);
  std::optional<uint16_t> bytes;
  if (unit == kGbkByteFFCharacter) {
    bytes = kGbkByteFF;
  } else if (const uint16_t cell = CellForPua(unit)) {
    bytes = cell;
  } else if (encoding.allowBestFit) {
    bytes = BestFit(unit);
  }
  bool fits;
  if (bytes) {
    const char pair[2] = {static_cast<char>(*bytes >> 8), static_cast<char>(*bytes & 0xFF)};
    fits = *bytes > 0xFF ? out.Put(pair, 2) : out.Put(&pair[1], 1);
  } else {
    // Surrogates too: the Windows table converts each UTF-16 unit on its own.
    fits = out.Put(encoding.defaultCharacter.bytes, encoding.defaultCharacter.size);
    encoding.usedDefault = true;
  }
  return {fits ? Status::Ok : Status::NoRoom, sizeof(char16_t)};
}

// The iconv path of code page 936: iconv, and the handlers above where it stops. The caller has
// checked the flags.
Status DecodeGbkCarefully(const char* input, size_t inputBytes, Output& out) {
  return Run(Direction::GbkToUtf16, input, inputBytes, out, ResolveGbkBytes);
}

Status EncodeGbkCarefully(const char16_t* input, size_t inputUnits, GbkEncoding& encoding, Output& out) {
  return Run(Direction::Utf16ToGbk, reinterpret_cast<const char*>(input), inputUnits * sizeof(char16_t), out,
             [&encoding](const char* at, size_t, Output& sink) { return ResolveGbkUnit(at, encoding, sink); });
}

// ---- Code page 936 lookup tables ----------------------------------------------------------------

constexpr unsigned kFirstGbkLead = 0x81;
constexpr size_t kGbkLeadCount = 0xFE - kFirstGbkLead + 1;

// Bytes to UTF-16.
struct GbkDecodeTable {
  // False when the iconv path fails or does not keep ASCII as it is; every call then takes that
  // path, which reports the failure as it always has.
  bool usable = false;
  // The character of a lead byte and the byte after it, at (lead - 0x81) << 8 | second. 0 where
  // the iconv path decides: a second byte that is not a trail byte (NUL included).
  char16_t pairs[kGbkLeadCount << 8] = {};
  char16_t byte80 = 0;
  char16_t byteFF = 0;
};

// UTF-16 to bytes.
struct GbkEncodeTable {
  bool usable = false;
  // For units from U+0080 on: lead << 8 | trail, or the single byte, of a character whose bytes
  // decode back to it and that needs neither best fit nor the default character (so that neither
  // the flags nor lpDefaultChar can change it). 0 where the iconv path decides.
  uint16_t units[0x10000] = {};
};

std::optional<std::u16string> DecodeForTables(std::string_view bytes) {
  std::u16string units(bytes.size(), u'\0');  // No byte gives more than one unit.
  Output out(reinterpret_cast<char*>(units.data()), units.size() * sizeof(char16_t));
  if (DecodeGbkCarefully(bytes.data(), bytes.size(), out) != Status::Ok) return std::nullopt;
  units.resize(out.Total() / sizeof(char16_t));
  return units;
}

struct EncodedForTables {
  std::string bytes;
  bool usedDefault;
};

std::optional<EncodedForTables> EncodeForTables(std::u16string_view units, bool allowBestFit) {
  std::string bytes(units.size() * 2, '\0');  // No unit gives more than two bytes.
  GbkEncoding encoding{allowBestFit, DefaultCharacter{}};
  Output out(bytes.data(), bytes.size());
  if (EncodeGbkCarefully(units.data(), units.size(), encoding, out) != Status::Ok) return std::nullopt;
  bytes.resize(out.Total());
  return EncodedForTables{std::move(bytes), encoding.usedDefault};
}

// The bytes of one character at the start of the bytes, as the decoder reads them: a lead byte
// takes the byte after it unless that is NUL or there is none.
size_t GbkCharacterLength(const unsigned char* bytes, size_t left) {
  return IsGbkLead(bytes[0]) && left >= 2 && bytes[1] != 0 ? 2 : 1;
}

std::vector<std::string_view> SplitGbkCharacters(std::string_view bytes) {
  std::vector<std::string_view> characters;
  for (size_t i = 0; i < bytes.size();) {
    const size_t length =
        GbkCharacterLength(reinterpret_cast<const unsigned char*>(bytes.data()) + i, bytes.size() - i);
    characters.push_back(bytes.substr(i, length));
    i += length;
  }
  return characters;
}

uint16_t TableEntry(std::string_view character) {
  const auto first = static_cast<unsigned char>(character[0]);
  return character.size() == 2 ? static_cast<uint16_t>(first << 8 | static_cast<unsigned char>(character[1])) : first;
}

// The entries of one lead byte: all its trail bytes are decoded in one text, and when that does not
// give exactly one character per pair, pair by pair.
void FillPairRow(GbkDecodeTable& table, unsigned lead) {
  std::vector<unsigned> trails;
  std::string text;
  for (unsigned trail = 0; trail < 0x100; ++trail) {
    if (!IsGbkTrail(trail)) continue;
    trails.push_back(trail);
    text += static_cast<char>(lead);
    text += static_cast<char>(trail);
  }
  char16_t* row = &table.pairs[(lead - kFirstGbkLead) << 8];
  const std::optional<std::u16string> units = DecodeForTables(text);
  if (units && units->size() == trails.size()) {
    for (size_t i = 0; i < trails.size(); ++i) row[trails[i]] = (*units)[i];
    return;
  }
  for (size_t i = 0; i < trails.size(); ++i) {
    const std::optional<std::u16string> unit = DecodeForTables(std::string_view(text).substr(2 * i, 2));
    if (unit && unit->size() == 1) row[trails[i]] = (*unit)[0];
  }
}

// The entries of some units. They are encoded in one text without best fit; the characters that
// decode back to their unit are encoded again with best fit allowed, and those that come out the
// same are entered. When a text does not split into one character per unit, unit by unit.
void FillUnitEntries(GbkEncodeTable& table, std::u16string_view units) {
  const auto oneByOne = [&] {
    if (units.size() == 1) return;
    for (size_t i = 0; i < units.size(); ++i) FillUnitEntries(table, units.substr(i, 1));
  };
  const std::optional<EncodedForTables> exact = EncodeForTables(units, false);
  if (!exact) return;
  const std::vector<std::string_view> characters = SplitGbkCharacters(exact->bytes);
  const std::optional<std::u16string> decoded = DecodeForTables(exact->bytes);
  if (!decoded || decoded->size() != units.size() || characters.size() != units.size()) return oneByOne();

  std::u16string candidates;
  std::vector<std::string_view> candidateBytes;
  for (size_t i = 0; i < units.size(); ++i) {
    if ((*decoded)[i] != units[i]) continue;
    candidates.push_back(units[i]);
    candidateBytes.push_back(characters[i]);
  }
  const std::optional<EncodedForTables> fitted = EncodeForTables(candidates, true);
  if (!fitted) return;
  const std::vector<std::string_view> fittedCharacters = SplitGbkCharacters(fitted->bytes);
  if (fittedCharacters.size() != candidates.size()) return oneByOne();
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (fittedCharacters[i] == candidateBytes[i]) table.units[candidates[i]] = TableEntry(candidateBytes[i]);
  }
}

std::string AsciiBytes() {
  std::string bytes;
  for (unsigned c = 0; c < 0x80; ++c) bytes += static_cast<char>(c);
  return bytes;
}

std::u16string AsciiUnits() {
  std::u16string units;
  for (unsigned c = 0; c < 0x80; ++c) units += static_cast<char16_t>(c);
  return units;
}

GbkDecodeTable* BuildDecodeTable() {
  auto* table = new GbkDecodeTable;
  // The look-ups take ASCII as it is.
  const std::optional<std::u16string> ascii = DecodeForTables(AsciiBytes());
  if (!ascii || *ascii != AsciiUnits()) return table;
  for (unsigned lead = kFirstGbkLead; lead <= 0xFE; ++lead) FillPairRow(*table, lead);
  const std::optional<std::u16string> byte80 = DecodeForTables("\x80");
  if (byte80 && byte80->size() == 1) table->byte80 = (*byte80)[0];
  const std::optional<std::u16string> byteFF = DecodeForTables("\xFF");
  if (byteFF && byteFF->size() == 1) table->byteFF = (*byteFF)[0];
  table->usable = true;
  return table;
}

const GbkDecodeTable& Cp936DecodeTable();

GbkEncodeTable* BuildEncodeTable() {
  auto* table = new GbkEncodeTable;
  // Only a character that some bytes decode to can decode back to itself: those are the ones to
  // try. The decoding table knows them all, so without it there is no encoding table either.
  const GbkDecodeTable& decoding = Cp936DecodeTable();
  if (!decoding.usable) return table;
  for (bool allowBestFit : {false, true}) {
    const std::optional<EncodedForTables> ascii = EncodeForTables(AsciiUnits(), allowBestFit);
    if (!ascii || ascii->bytes != AsciiBytes() || ascii->usedDefault) return table;
  }
  std::vector<bool> decodedTo(0x10000);
  for (char16_t unit : decoding.pairs) decodedTo[unit] = true;
  decodedTo[decoding.byte80] = true;
  decodedTo[decoding.byteFF] = true;
  std::u16string units;
  for (unsigned unit = 0x80; unit < 0x10000; ++unit) {
    // Surrogates always go the iconv way: a pair must be seen whole.
    const auto candidate = static_cast<char16_t>(unit);
    if (decodedTo[unit] && !IsHighSurrogate(candidate) && !IsLowSurrogate(candidate)) units.push_back(candidate);
  }
  constexpr size_t kBlock = 1024;
  for (size_t i = 0; i < units.size(); i += kBlock) {
    FillUnitEntries(*table, std::u16string_view(units).substr(i, kBlock));
  }
  table->usable = true;
  return table;
}

// Each table is built by the first thread that needs it while any other waits, and never
// destroyed, so that conversions made while the program exits still find it.
const GbkDecodeTable& Cp936DecodeTable() {
  static const GbkDecodeTable* const table = BuildDecodeTable();
  return *table;
}

const GbkEncodeTable& Cp936EncodeTable() {
  static const GbkEncodeTable* const table = BuildEncodeTable();
  return *table;
}

// ---- Code page 936 with the tables ---------------------------------------------------------------

// Why a run of table look-ups ended.
enum class Stop { End, Room, IconvPath };

struct Stretch {
  size_t read;
  size_t written;
  Stop stop;
};

// Decodes from the start of `in` for as long as the tables know the answer and the output has room
// (with kWrite false, only counts the units).
template <bool kWrite>
Stretch DecodeGbkStretch(const GbkDecodeTable& table, const unsigned char* in, size_t count, char16_t* out,
                         size_t room) {
  size_t i = 0;
  size_t w = 0;
  while (i < count) {
    // No character gives more than one unit, so a chunk of no more bytes than there are units of
    // room needs no room checks: room - w >= end - i holds throughout.
    const size_t end = kWrite ? i + std::min(count - i, room - w) : count;
    if (i == end) return {i, w, Stop::Room};
    while (i < end) {
      const unsigned byte = in[i];
      if (byte - kFirstGbkLead < kGbkLeadCount) {
        // A run of double-byte characters. The last trail byte may lie past the chunk, but not past
        // the input.
        do {
          if (i + 1 == count) return {i, w, Stop::IconvPath};
          uint16_t pair;  // The lead byte in the low half.
          std::memcpy(&pair, in + i, sizeof pair);
          const char16_t unit = table.pairs[std::rotl(pair, 8) - (kFirstGbkLead << 8)];
          if (unit == 0) return {i, w, Stop::IconvPath};
          if (kWrite) out[w] = unit;
          i += 2;
          ++w;
        } while (i < end && in[i] - kFirstGbkLead < kGbkLeadCount);
      } else if (byte < 0x80) {
        while (end - i >= kAsciiBlock && LeadingAsciiBytes(in + i) == kAsciiBlock) {
          if (kWrite) WidenAscii(in + i, out + w);
          i += kAsciiBlock;
          w += kAsciiBlock;
        }
        while (i < end && in[i] < 0x80) {
          if (kWrite) out[w] = in[i];
          ++i;
          ++w;
        }
      } else {
        const char16_t unit = byte == 0x80 ? table.byte80 : table.byteFF;
        if (unit == 0) return {i, w, Stop::IconvPath};
        if (kWrite) out[w] = unit;
        ++i;
        ++w;
      }
    }
  }
  return {i, w, Stop::End};
}

Status DecodeGbkWithTables(const GbkDecodeTable& table, const char* input, size_t inputBytes, Output& out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(input);
  size_t done = 0;
  while (done < inputBytes) {
    const Stretch stretch =
        out.Measuring()
            ? DecodeGbkStretch<false>(table, bytes + done, inputBytes - done, nullptr, 0)
            // The buffer is the caller's char16_t array and every write so far was whole units.
            : DecodeGbkStretch<true>(table, bytes + done, inputBytes - done, reinterpret_cast<char16_t*>(out.Cursor()),
                                     out.Room() / sizeof(char16_t));
    out.Advance(stretch.written * sizeof(char16_t));
    done += stretch.read;
    if (stretch.stop == Stop::End) break;
    // Out of room: the iconv path gives the rest exactly the failure it would have given.
    if (stretch.stop == Stop::Room) return DecodeGbkCarefully(input + done, inputBytes - done, out);
    const size_t length = GbkCharacterLength(bytes + done, inputBytes - done);
    const Status status = DecodeGbkCarefully(input + done, length, out);
    if (status != Status::Ok) return status;
    done += length;
  }
  return Status::Ok;
}

// Writes one table character; false, with nothing written, when it does not fit.
bool PutGbkEntry(uint16_t bytes, char* out, size_t room, size_t& w) {
  if (bytes > 0xFF) {
    if (room - w < 2) return false;
    out[w] = static_cast<char>(bytes >> 8);
    out[w + 1] = static_cast<char>(bytes & 0xFF);
    w += 2;
  } else {
    if (room == w) return false;
    out[w++] = static_cast<char>(bytes);
  }
  return true;
}

// Encodes from the start of `in` for as long as the tables know the answer and the output has room
// (with kWrite false, only counts the bytes).
template <bool kWrite>
Stretch EncodeGbkStretch(const GbkEncodeTable& table, const char16_t* in, size_t count, char* out, size_t room) {
  size_t i = 0;
  size_t w = 0;
  while (i < count) {
    // No unit gives more than two bytes, so a chunk of no more units than half the room needs no
    // room checks: room - w >= 2 * (end - i) holds throughout.
    const size_t end = kWrite ? i + std::min(count - i, (room - w) / 2) : count;
    if (i == end) {
      // Less than two bytes of room left: one character, checked.
      const char16_t unit = in[i];
      const uint16_t bytes = unit < 0x80 ? unit : table.units[unit];
      if (bytes == 0 && unit != 0) return {i, w, Stop::IconvPath};
      if (!PutGbkEntry(bytes, out, room, w)) return {i, w, Stop::Room};
      ++i;
      continue;
    }
    while (i < end) {
      const char16_t unit = in[i];
      if (unit < 0x80) {
        while (end - i >= kAsciiBlock && LeadingAsciiUnits(in + i) == kAsciiBlock) {
          if (kWrite) NarrowAscii(in + i, out + w);
          i += kAsciiBlock;
          w += kAsciiBlock;
        }
        while (i < end && in[i] < 0x80) {
          if (kWrite) out[w] = static_cast<char>(in[i]);
          ++i;
          ++w;
        }
        continue;
      }
      const uint16_t bytes = table.units[unit];
      if (bytes == 0) return {i, w, Stop::IconvPath};
      if (bytes > 0xFF) {
        if (kWrite) {
          out[w] = static_cast<char>(bytes >> 8);
          out[w + 1] = static_cast<char>(bytes & 0xFF);
        }
        w += 2;
      } else {
        if (kWrite) out[w] = static_cast<char>(bytes);
        ++w;
      }
      ++i;
    }
  }
  return {i, w, Stop::End};
}

Status EncodeGbkWithTables(const GbkEncodeTable& table, const char16_t* input, size_t inputUnits,
                           GbkEncoding& encoding, Output& out) {
  size_t done = 0;
  while (done < inputUnits) {
    const Stretch stretch =
        out.Measuring() ? EncodeGbkStretch<false>(table, input + done, inputUnits - done, nullptr, 0)
                        : EncodeGbkStretch<true>(table, input + done, inputUnits - done, out.Cursor(), out.Room());
    out.Advance(stretch.written);
    done += stretch.read;
    if (stretch.stop == Stop::End) break;
    // Out of room: the iconv path gives the rest exactly the failure it would have given.
    if (stretch.stop == Stop::Room) return EncodeGbkCarefully(input + done, inputUnits - done, encoding, out);
    // A surrogate pair goes to iconv whole.
    const size_t length =
        IsHighSurrogate(input[done]) && inputUnits - done >= 2 && IsLowSurrogate(input[done + 1]) ? 2 : 1;
    const Status status = EncodeGbkCarefully(input + done, length, encoding, out);
    if (status != Status::Ok) return status;
    done += length;
  }
  return Status::Ok;
}

// ---- Code page 936 calls ---------------------------------------------------------------------------

int GbkToUtf16(DWORD flags, const char* input, size_t inputBytes, char16_t* output, size_t capacity,
               bool useTables) {
  if (flags & MB_COMPOSITE) {
    // Decomposing into base characters and combining marks is not provided here; failing is
    // better than returning precomposed text the caller did not ask for.
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  // Microsoft's 936 table has no glyph table, so MB_USEGLYPHCHARS changes nothing on Windows either.
  if (flags & ~(MB_PRECOMPOSED | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if ((flags & MB_ERR_INVALID_CHARS) &&
      GbkHasInvalidSequence(reinterpret_cast<const unsigned char*>(input), inputBytes)) {
    return Finish(Status::Untranslatable, 0);
  }
  Output out(reinterpret_cast<char*>(output), capacity * sizeof(char16_t));
  const GbkDecodeTable* table = useTables ? &Cp936DecodeTable() : nullptr;
  const Status status = table && table->usable ? DecodeGbkWithTables(*table, input, inputBytes, out)
                                                 : DecodeGbkCarefully(input, inputBytes, out);
  return Finish(status, out.Total() / sizeof(char16_t));
}

int Utf16ToGbk(DWORD flags, const char16_t* input, size_t inputUnits, char* output, size_t capacity,
               const char* defaultChar, BOOL* usedDefaultChar, bool useTables) {
  // WC_DISCARDNS and WC_DEFAULTCHAR only say what to do with a composable pair whose composite the
  // code page lacks; telling those pairs apart needs the whole Unicode composition table, which is
  // not carried here, so they are refused together with WC_COMPOSITECHECK (alone they change
  // nothing, as on Windows). WC_ERR_INVALID_CHARS is for UTF-8 only.
  constexpr DWORD kAccepted = WC_COMPOSITECHECK | WC_SEPCHARS | WC_NO_BEST_FIT_CHARS | WC_DISCARDNS | WC_DEFAULTCHAR;
  if ((flags & ~kAccepted) || ((flags & WC_COMPOSITECHECK) && (flags & (WC_DISCARDNS | WC_DEFAULTCHAR)))) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  GbkEncoding encoding{!(flags & WC_NO_BEST_FIT_CHARS), ChooseDefaultCharacter(defaultChar)};
  if (usedDefaultChar) *usedDefaultChar = FALSE;

  // Composing comes first and yields plain UTF-16, which then converts unit by unit like any other.
  std::u16string composed;
  if ((flags & WC_COMPOSITECHECK) && std::any_of(input, input + inputUnits, IsComposingMark)) {
    composed = ComposePairs(input, inputUnits, encoding.allowBestFit);
    input = composed.data();
    inputUnits = composed.size();
  }

  Output out(output, capacity);
  const GbkEncodeTable* table = useTables ? &Cp936EncodeTable() : nullptr;
  const Status status = table && table->usable ? EncodeGbkWithTables(*table, input, inputUnits, encoding, out)
                                                 : EncodeGbkCarefully(input, inputUnits, encoding, out);
  if (usedDefaultChar && encoding.usedDefault) *usedDefaultChar = TRUE;
  return Finish(status, out.Total());
}

// ---- UTF-8 ---------------------------------------------------------------------------------------

// The well-formed UTF-8 sequence at the start of the bytes (Unicode 3.9, table 3-7), or the length
// of its maximal ill-formed subpart: the longest start of a well-formed sequence, at least 1 byte.
struct Utf8Sequence {
  bool valid;
  size_t length;
};

Utf8Sequence ScanUtf8(const unsigned char* bytes, size_t count) {
  const unsigned first = bytes[0];
  if (first < 0x80) return {true, 1};
  size_t continuations;
  unsigned low = 0x80, high = 0xBF;  // The range of the second byte; later ones are 80-BF.
  if (first >= 0xC2 && first <= 0xDF) {
    continuations = 1;
  } else if (first == 0xE0) {
    continuations = 2, low = 0xA0;
  } else if (first == 0xED) {
    continuations = 2, high = 0x9F;
  } else if (first >= 0xE1 && first <= 0xEF) {
    continuations = 2;
  } else if (first == 0xF0) {
    continuations = 3, low = 0x90;
  } else if (first == 0xF4) {
    continuations = 3, high = 0x8F;
  } else if (first >= 0xF1 && first <= 0xF3) {
    continuations = 3;
  } else {
    return {false, 1};  // 80-C1 and F5-FF never start a sequence.
  }
  for (size_t i = 1; i <= continuations; ++i) {
    if (i >= count || bytes[i] < low || bytes[i] > high) return {false, i};
    low = 0x80, high = 0xBF;
  }
  return {true, continuations + 1};
}

char32_t DecodeUtf8(const unsigned char* bytes, size_t length) {
  if (length == 1) return bytes[0];
  char32_t point = bytes[0] & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) point = point << 6 | (bytes[i] & 0x3F);
  return point;
}

bool Utf8HasInvalidSequence(const unsigned char* bytes, size_t count) {
  for (size_t i = 0; i < count;) {
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    const Utf8Sequence sequence = ScanUtf8(bytes + i, count - i);
    if (!sequence.valid) return true;
    i += sequence.length;
  }
  return false;
}

// Where iconv stopped decoding UTF-8: an ill-formed subpart becomes one U+FFFD. (Should glibc ever
// refuse a sequence that is well-formed, it is decoded here.)
Resolution ResolveUtf8Bytes(const char* at, size_t left, Output& out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(at);
  const Utf8Sequence sequence = ScanUtf8(bytes, left);
  char32_t point = sequence.valid ? DecodeUtf8(bytes, sequence.length) : kReplacementCharacter;
  bool fits;
  if (point >= 0x10000) {
    point -= 0x10000;
    const char16_t pair[2] = {static_cast<char16_t>(0xD800 + (point >> 10)),
                              static_cast<char16_t>(0xDC00 + (point & 0x3FF))};
    fits = out.Put(pair, sizeof pair);
  } else {
    PutUnit(out, static_cast<char16_t>(point), fits);
  }
  return {fits ? Status::Ok : Status::NoRoom, sequence.length};
}

int Utf8ToUtf16(DWORD flags, const char* input, size_t inputBytes, char16_t* output, size_t capacity) {
  if (flags & ~MB_ERR_INVALID_CHARS) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if ((flags & MB_ERR_INVALID_CHARS) &&
      Utf8HasInvalidSequence(reinterpret_cast<const unsigned char*>(input), inputBytes)) {
    return Finish(Status::Untranslatable, 0);
  }
  Output out(reinterpret_cast<char*>(output), capacity * sizeof(char16_t));
  const Status status = Run(Direction::Utf8ToUtf16, input, inputBytes, out, ResolveUtf8Bytes);
  return Finish(status, out.Total() / sizeof(char16_t));
}

bool Utf16HasLoneSurrogate(const char16_t* units, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (IsHighSurrogate(units[i]) && i + 1 < count && IsLowSurrogate(units[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(units[i]) || IsLowSurrogate(units[i])) {
      return true;
    }
  }
  return false;
}

// Where iconv stopped encoding UTF-16 as UTF-8: a lone surrogate, written as U+FFFD. (Should glibc
// ever refuse anything else, it is encoded here.)
Resolution ResolveUtf16Units(const char* at, size_t left, Output& out) {
  char16_t units[2] = {};
  std::memcpy(&units[0], at, sizeof(char16_t));
  if (left >= 2 * sizeof(char16_t)) std::memcpy(&units[1], at + sizeof(char16_t), sizeof(char16_t));
  char32_t point = units[0];
  size_t consumed = sizeof(char16_t);
  if (IsHighSurrogate(units[0]) && left >= 2 * sizeof(char16_t) && IsLowSurrogate(units[1])) {
    point = 0x10000 + ((point - 0xD800) << 10) + (units[1] - 0xDC00);
    consumed *= 2;
  } else if (IsHighSurrogate(units[0]) || IsLowSurrogate(units[0])) {
    point = kReplacementCharacter;
  }
  unsigned char bytes[4];
  size_t length;
  if (point < 0x80) {
    bytes[0] = static_cast<unsigned char>(point), length = 1;
  } else if (point < 0x800) {
    bytes[0] = static_cast<unsigned char>(0xC0 | point >> 6), length = 2;
  } else if (point < 0x10000) {
    bytes[0] = static_cast<unsigned char>(0xE0 | point >> 12), length = 3;
  } else {
    bytes[0] = static_cast<unsigned char>(0xF0 | point >> 18), length = 4;
  }
  for (size_t i = 1; i < length; ++i) {
    bytes[i] = static_cast<unsigned char>(0x80 | ((point >> (6 * (length - 1 - i))) & 0x3F));
  }
  return {out.Put(bytes, length) ? Status::Ok : Status::NoRoom, consumed};
}

int Utf16ToUtf8(DWORD flags, const char16_t* input, size_t inputUnits, char* output, size_t capacity,
                const char* defaultChar, BOOL* usedDefaultChar) {
  if (defaultChar || usedDefaultChar) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (flags & ~WC_ERR_INVALID_CHARS) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  if ((flags & WC_ERR_INVALID_CHARS) && Utf16HasLoneSurrogate(input, inputUnits)) {
    return Finish(Status::Untranslatable, 0);
  }
  Output out(output, capacity);
  const Status status = Run(Direction::Utf16ToUtf8, reinterpret_cast<const char*>(input),
                            inputUnits * sizeof(char16_t), out, ResolveUtf16Units);
  return Finish(status, out.Total());
}

size_t Utf16Length(const char16_t* text) {
  size_t length = 0;
  while (text[length] != u'\0') ++length;
  return length;
}

// The two calls, with or without the code page 936 tables.
int ToWide(bool useTables, UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte, LPWSTR wideChar,
           int cchWideChar) {
  // The two buffers must not be the same (MultiByteToWideChar's documented remarks).
  if (!multiByte || cbMultiByte == 0 || cchWideChar < 0 || (cchWideChar > 0 && !wideChar) ||
      (cchWideChar > 0 && static_cast<const void*>(wideChar) == static_cast<const void*>(multiByte))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::optional<Page> page = ResolvePage(codePage);
  if (!page) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t inputBytes = cbMultiByte < 0 ? std::strlen(multiByte) + 1 : static_cast<size_t>(cbMultiByte);
  char16_t* output = cchWideChar > 0 ? wideChar : nullptr;
  const auto capacity = static_cast<size_t>(cchWideChar);
  return *page == Page::Gbk ? GbkToUtf16(flags, multiByte, inputBytes, output, capacity, useTables)
                            : Utf8ToUtf16(flags, multiByte, inputBytes, output, capacity);
}

int ToNarrow(bool useTables, UINT codePage, DWORD flags, LPCWSTR wideChar, int cchWideChar, LPSTR multiByte,
             int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  // The two buffers must not be the same (WideCharToMultiByte's documented remarks).
  if (!wideChar || cchWideChar == 0 || cbMultiByte < 0 || (cbMultiByte > 0 && !multiByte) ||
      (cbMultiByte > 0 && static_cast<const void*>(wideChar) == static_cast<const void*>(multiByte))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::optional<Page> page = ResolvePage(codePage);
  if (!page) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t inputUnits = cchWideChar < 0 ? Utf16Length(wideChar) + 1 : static_cast<size_t>(cchWideChar);
  char* output = cbMultiByte > 0 ? multiByte : nullptr;
  const auto capacity = static_cast<size_t>(cbMultiByte);
  return *page == Page::Gbk
             ? Utf16ToGbk(flags, wideChar, inputUnits, output, capacity, defaultChar, usedDefaultChar, useTables)
             : Utf16ToUtf8(flags, wideChar, inputUnits, output, capacity, defaultChar, usedDefaultChar);
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte, LPWSTR wideChar,
                        int cchWideChar) {
  return ToWide(true, codePage, flags, multiByte, cbMultiByte, wideChar, cchWideChar);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideChar, int cchWideChar, LPSTR multiByte,
                        int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  return ToNarrow(true, codePage, flags, wideChar, cchWideChar, multiByte, cbMultiByte, defaultChar,
                  usedDefaultChar);
}

namespace codepage_detail {

int MultiByteToWideCharWithoutTables(UINT codePage, DWORD flags, LPCSTR multiByte, int cbMultiByte,
                                     LPWSTR wideChar, int cchWideChar) {
  return ToWide(false, codePage, flags, multiByte, cbMultiByte, wideChar, cchWideChar);
}

int WideCharToMultiByteWithoutTables(UINT codePage, DWORD flags, LPCWSTR wideChar, int cchWideChar,
                                     LPSTR multiByte, int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  return ToNarrow(false, codePage, flags, wideChar, cchWideChar, multiByte, cbMultiByte, defaultChar,
                  usedDefaultChar);
}

}  // namespace codepage_detail
}  // namespace win
