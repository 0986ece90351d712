#include "platform/com/stream/stream_object.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/dispatch_object.h"
#include "platform/com/registry.h"
#include "platform/com/safearray.h"
#include "platform/com/stream/stream_charset.h"
#include "platform/com/variant.h"

namespace win {
namespace {

using stream::Charset;

// ADO's enumerations.
constexpr LONG adTypeBinary = 1;
constexpr LONG adTypeText = 2;
constexpr LONG adStateClosed = 0;
constexpr LONG adStateOpen = 1;
constexpr LONG adModeUnknown = 0;
constexpr LONG adModeRead = 1;
constexpr LONG adModeWrite = 2;
constexpr LONG adModeReadWrite = 3;
constexpr LONG adModeAllFlags = 0x3 | 0x4 | 0x8 | 0x10 | 0x400000;  // access, sharing, recursive
constexpr LONG adReadAll = -1;
constexpr LONG adReadLine = -2;
constexpr LONG adWriteLine = 1;
constexpr LONG adCRLF = -1;
constexpr LONG adLF = 10;
constexpr LONG adCR = 13;

// ADO's error numbers, as the HRESULTs it raises (FACILITY_CONTROL).
constexpr HRESULT adErrInvalidArgument = MakeFailure(0xA, 3001);
constexpr HRESULT adErrIllegalOperation = MakeFailure(0xA, 3219);
constexpr HRESULT adErrFeatureNotAvailable = MakeFailure(0xA, 3251);
constexpr HRESULT adErrObjectClosed = MakeFailure(0xA, 3704);
constexpr HRESULT adErrObjectOpen = MakeFailure(0xA, 3705);

constexpr std::u16string_view kSource = u"ADODB.Stream";

enum : DISPID {
  kIdSize = 1,
  kIdEOS,
  kIdPosition,
  kIdType,
  kIdLineSeparator,
  kIdState,
  kIdMode,
  kIdCharset,
  kIdRead,
  kIdOpen,
  kIdClose,
  kIdSkipLine,
  kIdWrite,
  kIdSetEOS,
  kIdFlush,
  kIdReadText,
  kIdWriteText,
  kIdCancel,
};

std::u16string_view BstrView(const VARIANT& v) {
  return v.bstrVal ? std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)) : std::u16string_view();
}

class AdodbStream final : public DispatchObject {
 public:
  AdodbStream() : DispatchObject(Type()), m_charset(Charset::Find(u"Unicode").value()) {}

  static std::shared_ptr<const DispatchType> Type() {
    using S = AdodbStream;
    static const auto type =
        TypeBuilder<S>(u"_Stream")
            .PropertyGet(u"Size", kIdSize, VT_I4, &S::GetSize)
            .PropertyGet(u"EOS", kIdEOS, VT_BOOL, &S::GetEOS)
            .Property(u"Position", kIdPosition, VT_I4, &S::GetPosition, &S::PutPosition)
            .Property(u"Type", kIdType, VT_I4, &S::GetType, &S::PutType)
            .Property(u"LineSeparator", kIdLineSeparator, VT_I4, &S::GetLineSeparator, &S::PutLineSeparator)
            .PropertyGet(u"State", kIdState, VT_I4, &S::GetState)
            .Property(u"Mode", kIdMode, VT_I4, &S::GetMode, &S::PutMode)
            .Property(u"Charset", kIdCharset, VT_BSTR, &S::GetCharset, &S::PutCharset)
            .Method(u"Read", kIdRead, VT_VARIANT, {Optional(u"NumBytes", VT_I4, LONG{adReadAll})}, &S::Read)
            .Method(u"Open", kIdOpen, VT_EMPTY,
                    {Optional(u"Source"), Optional(u"Mode", VT_I4), Optional(u"Options", VT_I4, LONG{-1}),
                     Optional(u"UserName", VT_BSTR, std::u16string()), Optional(u"Password", VT_BSTR, std::u16string())},
                    &S::Open)
            .Method(u"Close", kIdClose, VT_EMPTY, {}, &S::Close)
            .Method(u"SkipLine", kIdSkipLine, VT_EMPTY, {}, &S::SkipLine)
            .Method(u"Write", kIdWrite, VT_EMPTY, {In(u"Buffer")}, &S::Write)
            .Method(u"SetEOS", kIdSetEOS, VT_EMPTY, {}, &S::SetEOS)
            .Method(u"Flush", kIdFlush, VT_EMPTY, {}, &S::Flush)
            .Method(u"ReadText", kIdReadText, VT_BSTR, {Optional(u"NumChars", VT_I4, LONG{adReadAll})}, &S::ReadText)
            .Method(u"WriteText", kIdWriteText, VT_EMPTY, {In(u"Data", VT_BSTR), Optional(u"Options", VT_I4, LONG{0})},
                    &S::WriteText)
            .Method(u"Cancel", kIdCancel, VT_EMPTY, {}, &S::Cancel)
            .Build();
    return type;
  }

 private:
  // ---- properties

  HRESULT GetSize(Invocation& call) {
    if (!m_open) return Closed(call);
    return StoreLong(call, static_cast<LONG>(m_data.size()));
  }
  HRESULT GetEOS(Invocation& call) {
    if (!m_open) return Closed(call);
    call.Result()->vt = VT_BOOL;
    call.Result()->boolVal = m_position >= m_data.size() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT GetPosition(Invocation& call) {
    if (!m_open) return Closed(call);
    return StoreLong(call, static_cast<LONG>(m_position));
  }
  // A position past the end makes a writable stream longer, filled with zero bytes.
  HRESULT PutPosition(Invocation& call) {
    if (!m_open) return Closed(call);
    const LONG position = call.Value().lVal;
    if (position < 0) return call.Raise(adErrInvalidArgument, u"The position cannot be negative.", kSource);
    if (static_cast<size_t>(position) > m_data.size() && CanWrite()) m_data.resize(static_cast<size_t>(position));
    m_position = static_cast<size_t>(position);
    return S_OK;
  }
  HRESULT GetType(Invocation& call) { return StoreLong(call, m_type); }
  HRESULT PutType(Invocation& call) {
    const LONG type = call.Value().lVal;
    if (type != adTypeBinary && type != adTypeText)
      return call.Raise(adErrInvalidArgument, u"The stream type must be 1 (binary) or 2 (text).", kSource);
    if (m_open && m_position != 0) return NotAtStart(call, u"Type");
    m_type = type;
    return S_OK;
  }
  HRESULT GetLineSeparator(Invocation& call) { return StoreLong(call, m_lineSeparator); }
  HRESULT PutLineSeparator(Invocation& call) {
    const LONG separator = call.Value().lVal;
    if (separator != adCRLF && separator != adLF && separator != adCR)
      return call.Raise(adErrInvalidArgument, u"The line separator must be -1 (CR LF), 10 (LF) or 13 (CR).", kSource);
    m_lineSeparator = separator;
    return S_OK;
  }
  HRESULT GetState(Invocation& call) { return StoreLong(call, m_open ? adStateOpen : adStateClosed); }
  HRESULT GetMode(Invocation& call) { return StoreLong(call, m_mode); }
  HRESULT PutMode(Invocation& call) {
    if (m_open) return call.Raise(adErrObjectOpen, u"The mode cannot change while the stream is open.", kSource);
    return SetMode(call, call.Value().lVal);
  }
  HRESULT GetCharset(Invocation& call) { return StoreText(call, m_charsetName); }
  HRESULT PutCharset(Invocation& call) {
    if (m_open && m_position != 0) return NotAtStart(call, u"Charset");
    const std::u16string_view name = BstrView(call.Value());
    std::optional<Charset> charset = Charset::Find(name);
    if (!charset)
      return call.Raise(adErrInvalidArgument, u"Unknown character set: " + std::u16string(name), kSource);
    m_charset = std::move(*charset);
    m_charsetName = name;
    return S_OK;
  }

  // ---- opening and closing

  // Only a new, empty stream can be opened: there is no source (URL or record) to read from here.
  HRESULT Open(Invocation& call) {
    if (m_open) return call.Raise(adErrObjectOpen, u"The stream is already open.", kSource);
    const VARIANT& source = call.Arg(0);
    const bool noSource = !call.Has(0) || source.vt == VT_EMPTY || source.vt == VT_NULL ||
                          (source.vt == VT_BSTR && SysStringLen(source.bstrVal) == 0);
    if (!noSource)
      return call.Raise(adErrFeatureNotAvailable, u"Opening a stream from a source is not supported.", kSource);
    if (call.Has(1)) {
      const HRESULT hr = SetMode(call, call.Arg(1).lVal);
      if (FAILED(hr)) return hr;
    }
    m_open = true;
    m_data.clear();
    m_position = 0;
    return S_OK;
  }
  HRESULT Close(Invocation& call) {
    if (!m_open) return Closed(call);
    m_open = false;
    std::vector<uint8_t>().swap(m_data);
    m_position = 0;
    return S_OK;
  }
  HRESULT Flush(Invocation& call) { return m_open ? S_OK : Closed(call); }
  HRESULT Cancel(Invocation&) { return S_OK; }  // nothing runs asynchronously

  // ---- bytes

  HRESULT Read(Invocation& call) {
    if (!m_open) return Closed(call);
    if (m_type != adTypeBinary) return WrongType(call, u"Read needs a binary stream.");
    if (!CanRead()) return NotPermitted(call);
    const LONG wanted = call.Arg(0).lVal;
    if (wanted < adReadAll) return call.Raise(adErrInvalidArgument, u"NumBytes cannot be negative.", kSource);
    const size_t available = m_data.size() - std::min(m_position, m_data.size());
    const size_t count = wanted == adReadAll ? available : std::min(available, static_cast<size_t>(wanted));
    // Nothing left to read gives Null.
    if (count == 0) {
      call.Result()->vt = VT_NULL;
      return S_OK;
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
    if (array == nullptr) return E_OUTOFMEMORY;
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::memcpy(data, m_data.data() + m_position, count);
    SafeArrayUnaccessData(array);
    m_position += count;
    call.Result()->vt = VT_ARRAY | VT_UI1;
    call.Result()->parray = array;
    return S_OK;
  }

  // Buffer: a byte array (VT_ARRAY | VT_UI1), also by reference or inside a referenced variant.
  HRESULT Write(Invocation& call) {
    if (!m_open) return Closed(call);
    if (m_type != adTypeBinary) return WrongType(call, u"Write needs a binary stream.");
    if (!CanWrite()) return NotPermitted(call);
    OwnedVariant buffer;
    HRESULT hr = VariantCopyInd(buffer.get(), &call.Arg(0));
    if (FAILED(hr)) return hr;
    if (buffer.vt() != (VT_ARRAY | VT_UI1) || buffer->parray == nullptr)
      return call.Raise(adErrInvalidArgument, u"Write takes an array of bytes.", kSource);
    SAFEARRAY* array = buffer->parray;
    size_t count = 1;
    for (UINT d = 1; d <= SafeArrayGetDim(array); ++d) {
      LONG lower = 0;
      LONG upper = -1;
      SafeArrayGetLBound(array, d, &lower);
      SafeArrayGetUBound(array, d, &upper);
      count *= upper >= lower ? static_cast<size_t>(upper - lower) + 1 : 0;
    }
    void* data = nullptr;
    hr = SafeArrayAccessData(array, &data);
    if (FAILED(hr)) return hr;
    hr = Store(static_cast<const uint8_t*>(data), count);
    SafeArrayUnaccessData(array);
    return hr;
  }

  HRESULT SetEOS(Invocation& call) {
    if (!m_open) return Closed(call);
    if (!CanWrite()) return NotPermitted(call);
    if (m_position < m_data.size()) m_data.resize(m_position);
    return S_OK;
  }

  // ---- text

  HRESULT ReadText(Invocation& call) {
    if (!m_open) return Closed(call);
    if (m_type != adTypeText) return WrongType(call, u"ReadText needs a text stream.");
    if (!CanRead()) return NotPermitted(call);
    const LONG wanted = call.Arg(0).lVal;
    if (wanted < adReadLine) return call.Raise(adErrInvalidArgument, u"NumChars cannot be negative.", kSource);
    std::u16string text;
    if (wanted == adReadLine) {
      text = TakeLine();
    } else {
      SkipByteOrderMark();
      const Charset::Decoded decoded =
          m_charset.Decode(m_data.data() + std::min(m_position, m_data.size()), Remaining(),
                           wanted == adReadAll ? SIZE_MAX : static_cast<size_t>(wanted));
      m_position += decoded.bytesUsed;
      text = decoded.text;
    }
    return StoreText(call, text);
  }

  HRESULT SkipLine(Invocation& call) {
    if (!m_open) return Closed(call);
    if (m_type != adTypeText) return WrongType(call, u"SkipLine needs a text stream.");
    if (!CanRead()) return NotPermitted(call);
    TakeLine();
    return S_OK;
  }

  HRESULT WriteText(Invocation& call) {
    if (!m_open) return Closed(call);
    if (m_type != adTypeText) return WrongType(call, u"WriteText needs a text stream.");
    if (!CanWrite()) return NotPermitted(call);
    const LONG options = call.Arg(1).lVal;
    if (options != 0 && options != adWriteLine)
      return call.Raise(adErrInvalidArgument, u"Options must be 0 or 1 (write a line).", kSource);
    std::u16string text(BstrView(call.Arg(0)));
    if (options == adWriteLine) text += SeparatorText();
    std::vector<uint8_t> bytes;
    // Text written at the very start begins with the character set's byte-order mark.
    if (m_position == 0) {
      const std::string_view mark = m_charset.ByteOrderMark();
      bytes.assign(mark.begin(), mark.end());
    }
    const std::vector<uint8_t> encoded = m_charset.Encode(text);
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    return Store(bytes.data(), bytes.size());
  }

  // ---- helpers

  bool CanRead() const { return (m_mode & adModeReadWrite) != adModeWrite; }
  bool CanWrite() const { return (m_mode & adModeReadWrite) != adModeRead; }
  size_t Remaining() const { return m_position < m_data.size() ? m_data.size() - m_position : 0; }

  HRESULT SetMode(Invocation& call, LONG mode) {
    if ((mode & ~adModeAllFlags) != 0) return call.Raise(adErrInvalidArgument, u"Unknown stream mode.", kSource);
    m_mode = mode;
    return S_OK;
  }

  // Writes bytes at the position (over what is there, growing the stream) and moves past them.
  HRESULT Store(const uint8_t* bytes, size_t count) {
    if (count > static_cast<size_t>(INT_MAX) - m_position) return E_OUTOFMEMORY;  // Size is a LONG
    if (m_position + count > m_data.size()) m_data.resize(m_position + count);
    if (count != 0) std::memcpy(m_data.data() + m_position, bytes, count);
    m_position += count;
    return S_OK;
  }

  void SkipByteOrderMark() {
    if (m_position != 0) return;
    const std::string_view mark = m_charset.ByteOrderMark();
    if (!mark.empty() && m_data.size() >= mark.size() && std::memcmp(m_data.data(), mark.data(), mark.size()) == 0)
      m_position = mark.size();
  }

  std::u16string_view SeparatorText() const {
    return m_lineSeparator == adCR ? u"\r" : m_lineSeparator == adLF ? u"\n" : u"\r\n";
  }

  // Reads up to the next line separator, which is consumed but not returned.
  std::u16string TakeLine() {
    SkipByteOrderMark();
    const std::vector<uint8_t> separator = m_charset.Encode(SeparatorText());
    // In UTF-16 a separator can only start on a code unit boundary.
    const size_t step = (m_charset.IconvName() == "UTF-16LE" || m_charset.IconvName() == "UTF-16BE") ? 2 : 1;
    size_t end = m_data.size();
    size_t after = m_data.size();
    if (!separator.empty()) {
      for (size_t at = m_position; at + separator.size() <= m_data.size(); at += step) {
        if (std::memcmp(m_data.data() + at, separator.data(), separator.size()) == 0) {
          end = at;
          after = at + separator.size();
          break;
        }
      }
    }
    const size_t begin = std::min(m_position, end);
    std::u16string line = m_charset.Decode(m_data.data() + begin, end - begin).text;
    m_position = std::max(after, m_position);
    return line;
  }

  static HRESULT Closed(Invocation& call) {
    return call.Raise(adErrObjectClosed, u"Operation is not allowed when the stream is closed.", kSource);
  }
  static HRESULT WrongType(Invocation& call, std::u16string_view why) {
    return call.Raise(adErrIllegalOperation, why, kSource);
  }
  static HRESULT NotPermitted(Invocation& call) {
    return call.Raise(adErrIllegalOperation, u"The stream's mode does not allow this operation.", kSource);
  }
  static HRESULT NotAtStart(Invocation& call, std::u16string_view property) {
    return call.Raise(adErrIllegalOperation,
                      std::u16string(property) + u" can only change while the position is 0.", kSource);
  }
  static HRESULT StoreLong(Invocation& call, LONG value) {
    call.Result()->vt = VT_I4;
    call.Result()->lVal = value;
    return S_OK;
  }
  static HRESULT StoreText(Invocation& call, std::u16string_view text) {
    if (text.size() > 0x7FFFFFFEu / sizeof(OLECHAR)) return E_OUTOFMEMORY;
    OwnedBstr copy = OwnedBstr::Copy(text);
    if (copy.get() == nullptr) return E_OUTOFMEMORY;
    call.Result()->vt = VT_BSTR;
    call.Result()->bstrVal = copy.Release();
    return S_OK;
  }

  bool m_open = false;
  std::vector<uint8_t> m_data;
  size_t m_position = 0;
  LONG m_type = adTypeText;
  LONG m_mode = adModeUnknown;
  LONG m_lineSeparator = adCRLF;
  Charset m_charset;
  std::u16string m_charsetName = u"Unicode";
};

}  // namespace

HRESULT RegisterAdodbStreamClass() {
  BuiltinClass cls;
  cls.clsid = CLSID_AdodbStream;
  cls.progIds = {u"ADODB.Stream", u"ADODB.Stream.6.0"};
  cls.create = &CreateDispatchInstance<AdodbStream>;
  return RegisterBuiltinClass(cls);
}

}  // namespace win
