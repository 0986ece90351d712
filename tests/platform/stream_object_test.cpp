#include "platform/com/stream/stream_object.h"

#include <gtest/gtest.h>

#include "common/late_bound_call.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/com/com.h"

namespace win {
namespace {

std::u16string_view View(BSTR s) { return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view(); }

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

constexpr HRESULT kInvalidArgument = MakeFailure(0xA, 3001);
constexpr HRESULT kIllegalOperation = MakeFailure(0xA, 3219);
constexpr HRESULT kObjectClosed = MakeFailure(0xA, 3704);
constexpr HRESULT kObjectOpen = MakeFailure(0xA, 3705);

OwnedVariant Bytes(std::string_view bytes) {
  OwnedVariant v;
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 1, static_cast<ULONG>(bytes.size()));  // lower bound 1
  void* data = nullptr;
  SafeArrayAccessData(array, &data);
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  SafeArrayUnaccessData(array);
  v->vt = VT_ARRAY | VT_UI1;
  v->parray = array;
  return v;
}

class StreamTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(RegisterAdodbStreamClass(), S_OK);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Adodb.Stream", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, m_stream.ReceiveVoid()), S_OK);
  }
  void TearDown() override {
    m_stream.Reset();
    CoUninitialize();
  }

  using Outcome = qvtest::CallOutcome;
  // A late-bound call; arguments in natural order.
  Outcome Call(std::u16string_view member, WORD flags, std::vector<OwnedVariant> args = {}) {
    return qvtest::LateBoundCall(m_stream.get(), member, flags, std::move(args));
  }
  // The HRESULT, or for an exception its scode.
  HRESULT Code(const Outcome& out) { return out.hr == DISP_E_EXCEPTION ? out.scode : out.hr; }

  HRESULT Put(std::u16string_view property, OwnedVariant value) {
    std::vector<OwnedVariant> args;
    args.push_back(std::move(value));
    return Code(Call(property, DISPATCH_PROPERTYPUT, std::move(args)));
  }
  HRESULT PutLong(std::u16string_view property, LONG value) { return Put(property, OwnedVariant::FromInt32(value)); }
  LONG GetLong(std::u16string_view property) {
    Outcome out = Call(property, DISPATCH_PROPERTYGET);
    EXPECT_EQ(out.result.vt(), VT_I4) << Narrow(property);
    return out.result->lVal;
  }
  HRESULT Method(std::u16string_view name, std::vector<OwnedVariant> args = {}) {
    return Code(Call(name, DISPATCH_METHOD, std::move(args)));
  }
  HRESULT Write(std::string_view bytes) {
    std::vector<OwnedVariant> args;
    args.push_back(Bytes(bytes));
    return Method(u"Write", std::move(args));
  }
  std::u16string ReadText(LONG numChars = -1) {
    std::vector<OwnedVariant> args;
    args.push_back(OwnedVariant::FromInt32(numChars));
    Outcome out = Call(u"ReadText", DISPATCH_METHOD, std::move(args));
    EXPECT_EQ(out.hr, S_OK);
    return std::u16string(View(out.result->bstrVal));
  }

  // What the response decoder does: binary, read/write, open, write the body, back to the start,
  // text in the declared charset, read it all.
  std::u16string Redecode(std::string_view body, std::u16string_view charset) {
    EXPECT_EQ(PutLong(u"Type", 1), S_OK);
    EXPECT_EQ(PutLong(u"Mode", 3), S_OK);
    EXPECT_EQ(Method(u"Open"), S_OK);
    EXPECT_EQ(Write(body), S_OK);
    EXPECT_EQ(PutLong(u"Position", 0), S_OK);
    EXPECT_EQ(PutLong(u"Type", 2), S_OK);
    EXPECT_EQ(Put(u"Charset", OwnedVariant::FromText(charset)), S_OK);
    std::u16string text = ReadText();
    EXPECT_EQ(Method(u"Close"), S_OK);
    return text;
  }

  ComPtr<IDispatch> m_stream;
};

TEST_F(StreamTest, RedecodesABodyInItsDeclaredCharset) {
  struct Row {
    std::string_view body;
    std::u16string_view charset;
    std::u16string_view text;
  };
  const Row rows[] = {
      {"<meta charset=utf-8>\xe7\xad\x94", u"utf-8", u"<meta charset=utf-8>答"},
      {"\xef\xbb\xbf\xe7\xad\x94\xe6\xa1\x88", u"UTF-8", u"答案"},  // the byte-order mark is dropped
      {"\xb4\xf0\xb0\xb8", u"GBK", u"答案"},
      {"\xb4\xf0\xb0\xb8", u"gb2312", u"答案"},
      {"\xb5\xaa\xae\xd7", u"big5", u"答案"},
      {"\xff\xfe\x54\x7b\x48\x68", u"unicode", u"答案"},
      {"", u"utf-8", u""},
      {std::string_view("a\0b", 3), u"utf-8", std::u16string_view(u"a\0b", 3)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.charset));
    EXPECT_EQ(Redecode(row.body, row.charset), row.text);
  }
}

TEST_F(StreamTest, RejectsUnknownCharsetsAndKeepsTheOldOne) {
  EXPECT_EQ(View(Call(u"Charset", DISPATCH_PROPERTYGET).result->bstrVal), u"Unicode");
  EXPECT_EQ(Put(u"Charset", OwnedVariant::FromText(u"no-such-set")), kInvalidArgument);
  EXPECT_EQ(Put(u"Charset", OwnedVariant::FromText(u"utf-8//IGNORE")), kInvalidArgument);
  EXPECT_EQ(View(Call(u"Charset", DISPATCH_PROPERTYGET).result->bstrVal), u"Unicode");
  EXPECT_EQ(Put(u"Charset", OwnedVariant::FromText(u"Windows-1250")), S_OK);
  EXPECT_EQ(View(Call(u"Charset", DISPATCH_PROPERTYGET).result->bstrVal), u"Windows-1250");
}

TEST_F(StreamTest, EnforcesStateTypeAndPositionRules) {
  // Closed: positions, sizes and data are out of reach; the type and mode can be set.
  EXPECT_EQ(GetLong(u"State"), 0);
  EXPECT_EQ(Code(Call(u"Position", DISPATCH_PROPERTYGET)), kObjectClosed);
  EXPECT_EQ(Code(Call(u"Size", DISPATCH_PROPERTYGET)), kObjectClosed);
  EXPECT_EQ(Write("x"), kObjectClosed);
  EXPECT_EQ(Method(u"Close"), kObjectClosed);
  EXPECT_EQ(PutLong(u"Type", 3), kInvalidArgument);
  EXPECT_EQ(PutLong(u"Mode", 0x1000), kInvalidArgument);
  // Only new, empty streams: there is nothing to open a source with.
  std::vector<OwnedVariant> fromUrl;
  fromUrl.push_back(OwnedVariant::FromText(u"URL=http://example.invalid/"));
  EXPECT_EQ(Method(u"Open", std::move(fromUrl)), MakeFailure(0xA, 3251));
  EXPECT_EQ(GetLong(u"State"), 0);
  ASSERT_EQ(PutLong(u"Type", 1), S_OK);
  ASSERT_EQ(Method(u"Open"), S_OK);
  EXPECT_EQ(Method(u"Open"), kObjectOpen);
  EXPECT_EQ(PutLong(u"Mode", 3), kObjectOpen);
  EXPECT_EQ(GetLong(u"State"), 1);

  ASSERT_EQ(Write("abcdef"), S_OK);
  EXPECT_EQ(GetLong(u"Size"), 6);
  EXPECT_EQ(GetLong(u"Position"), 6);
  EXPECT_EQ(Call(u"EOS", DISPATCH_PROPERTYGET).result->boolVal, VARIANT_TRUE);
  // Type and charset change only at position 0.
  EXPECT_EQ(PutLong(u"Type", 2), kIllegalOperation);
  EXPECT_EQ(Put(u"Charset", OwnedVariant::FromText(u"utf-8")), kIllegalOperation);
  // Text calls on a binary stream and the reverse are refused.
  EXPECT_EQ(Code(Call(u"ReadText", DISPATCH_METHOD)), kIllegalOperation);
  EXPECT_EQ(PutLong(u"Position", -1), kInvalidArgument);
  // Writing in the middle overwrites; SetEOS cuts the rest.
  ASSERT_EQ(PutLong(u"Position", 2), S_OK);
  ASSERT_EQ(Write("XY"), S_OK);
  ASSERT_EQ(Method(u"SetEOS"), S_OK);
  EXPECT_EQ(GetLong(u"Size"), 4);
  ASSERT_EQ(PutLong(u"Position", 0), S_OK);
  Outcome read = Call(u"Read", DISPATCH_METHOD);
  ASSERT_EQ(read.result.vt(), VT_ARRAY | VT_UI1);
  void* data = nullptr;
  SafeArrayAccessData(read.result->parray, &data);
  EXPECT_EQ(std::string(static_cast<char*>(data), 4), "abXY");
  SafeArrayUnaccessData(read.result->parray);
  EXPECT_EQ(Call(u"Read", DISPATCH_METHOD).result.vt(), VT_NULL);  // nothing left
  // A position past the end grows the stream with zero bytes.
  ASSERT_EQ(PutLong(u"Position", 6), S_OK);
  EXPECT_EQ(GetLong(u"Size"), 6);
  ASSERT_EQ(PutLong(u"Position", 0), S_OK);
  ASSERT_EQ(PutLong(u"Type", 2), S_OK);
  EXPECT_EQ(Write("z"), kIllegalOperation);
  ASSERT_EQ(Method(u"Close"), S_OK);
  EXPECT_EQ(GetLong(u"State"), 0);
  // Reopening gives an empty stream.
  ASSERT_EQ(Method(u"Open"), S_OK);
  EXPECT_EQ(GetLong(u"Size"), 0);
}

TEST_F(StreamTest, WriteAcceptsByteArraysOnly) {
  ASSERT_EQ(PutLong(u"Type", 1), S_OK);
  ASSERT_EQ(Method(u"Open"), S_OK);
  // The array passed by reference, as a late-bound caller hands over a variant variable.
  OwnedVariant bytes = Bytes("\x01\x02\x03");
  VARIANT reference;
  VariantInit(&reference);
  reference.vt = VT_BYREF | VT_VARIANT;
  reference.pvarVal = bytes.get();
  std::vector<OwnedVariant> args;
  args.push_back(OwnedVariant::Adopt(&reference));
  EXPECT_EQ(Method(u"Write", std::move(args)), S_OK);
  EXPECT_EQ(GetLong(u"Size"), 3);
  std::vector<OwnedVariant> text;
  text.push_back(OwnedVariant::FromText(u"abc"));
  EXPECT_EQ(Method(u"Write", std::move(text)), kInvalidArgument);
  EXPECT_EQ(Write(""), S_OK);
  EXPECT_EQ(GetLong(u"Size"), 3);
}

TEST_F(StreamTest, ReadsTextInPiecesAndLines) {
  Redecode("", u"utf-8");  // leaves the stream closed
  ASSERT_EQ(PutLong(u"Type", 1), S_OK);
  ASSERT_EQ(Method(u"Open"), S_OK);
  ASSERT_EQ(Write("\xef\xbb\xbf\xe7\xad\x94\xe6\xa1\x88\r\nline2\r\nend"), S_OK);
  ASSERT_EQ(PutLong(u"Position", 0), S_OK);
  ASSERT_EQ(PutLong(u"Type", 2), S_OK);
  ASSERT_EQ(Put(u"Charset", OwnedVariant::FromText(u"utf-8")), S_OK);
  EXPECT_EQ(ReadText(1), u"答");
  EXPECT_EQ(GetLong(u"Position"), 6);  // after the mark and one 3-byte character
  EXPECT_EQ(ReadText(-2), u"案");
  EXPECT_EQ(ReadText(-2), u"line2");
  EXPECT_EQ(ReadText(-2), u"end");
  EXPECT_EQ(ReadText(), u"");
  EXPECT_EQ(Call(u"EOS", DISPATCH_PROPERTYGET).result->boolVal, VARIANT_TRUE);
}

TEST_F(StreamTest, WriteTextStartsWithTheByteOrderMark) {
  struct Row {
    std::u16string_view charset;
    std::u16string_view text;
    std::string_view bytes;
  };
  const Row rows[] = {
      {u"utf-8", u"答", "\xef\xbb\xbf\xe7\xad\x94"},
      {u"Unicode", u"A", std::string_view("\xff\xfe" "A\0", 4)},
      {u"gbk", u"答", "\xb4\xf0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.charset));
    ASSERT_EQ(Put(u"Charset", OwnedVariant::FromText(row.charset)), S_OK);
    ASSERT_EQ(Method(u"Open"), S_OK);
    std::vector<OwnedVariant> args;
    args.push_back(OwnedVariant::FromText(row.text));
    ASSERT_EQ(Method(u"WriteText", std::move(args)), S_OK);
    EXPECT_EQ(GetLong(u"Size"), static_cast<LONG>(row.bytes.size()));
    ASSERT_EQ(PutLong(u"Position", 0), S_OK);
    EXPECT_EQ(ReadText(), row.text);  // and the mark is dropped on the way back
    ASSERT_EQ(PutLong(u"Position", 0), S_OK);
    ASSERT_EQ(PutLong(u"Type", 1), S_OK);
    Outcome raw = Call(u"Read", DISPATCH_METHOD);
    ASSERT_EQ(raw.result.vt(), VT_ARRAY | VT_UI1);
    void* data = nullptr;
    SafeArrayAccessData(raw.result->parray, &data);
    EXPECT_EQ(std::string(static_cast<char*>(data), row.bytes.size()), row.bytes);
    SafeArrayUnaccessData(raw.result->parray);
    ASSERT_EQ(Method(u"Close"), S_OK);
    ASSERT_EQ(PutLong(u"Type", 2), S_OK);
  }
}

}  // namespace
}  // namespace win
