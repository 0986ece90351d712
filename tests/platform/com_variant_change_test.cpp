// VariantChangeType: the conversions between the fundamental types, as tables of
// {input, target type, expected result, expected value}, and the object, reference, array and
// argument cases around them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/com/dispatch_object.h"
#include "platform/com/safearray.h"
#include "platform/com/variant.h"

namespace win {
namespace {

// A variant described as data: the type tag and the one field that matters for it.
struct V {
  VARTYPE vt = VT_EMPTY;
  int64_t i = 0;     // integers, VT_BOOL (0 / -1), VT_ERROR, VT_CY (scaled by 10000)
  uint64_t u = 0;    // VT_UI8
  double d = 0;      // VT_R4, VT_R8, VT_DATE
  std::u16string s;  // VT_BSTR
};

V Make(VARTYPE vt, int64_t i = 0, uint64_t u = 0, double d = 0, std::u16string s = {}) {
  V v;
  v.vt = vt;
  v.i = i;
  v.u = u;
  v.d = d;
  v.s = std::move(s);
  return v;
}
V Empty() { return Make(VT_EMPTY); }
V Null() { return Make(VT_NULL); }
V Err(SCODE e) { return Make(VT_ERROR, e); }
V Int(VARTYPE vt, int64_t i) { return Make(vt, i); }
V I4(int64_t i) { return Int(VT_I4, i); }
V UI8(uint64_t u) { return Make(VT_UI8, 0, u); }
V R8(double d) { return Make(VT_R8, 0, 0, d); }
V R4(float f) { return Make(VT_R4, 0, 0, f); }
V Date(double d) { return Make(VT_DATE, 0, 0, d); }
V Cy(int64_t scaled) { return Make(VT_CY, scaled); }
V Bool(bool b) { return Make(VT_BOOL, b ? -1 : 0); }
V Text(std::u16string s) { return Make(VT_BSTR, 0, 0, 0, std::move(s)); }
V None() { return Make(0xFFFF); }  // no value to check (a failing row)

OwnedVariant MakeVariant(const V& v) {
  OwnedVariant out;
  VARIANT* p = out.get();
  p->vt = v.vt;
  switch (v.vt) {
    case VT_I1: p->cVal = static_cast<CHAR>(v.i); break;
    case VT_UI1: p->bVal = static_cast<BYTE>(v.i); break;
    case VT_I2: p->iVal = static_cast<SHORT>(v.i); break;
    case VT_UI2: p->uiVal = static_cast<USHORT>(v.i); break;
    case VT_I4: case VT_INT: p->lVal = static_cast<LONG>(v.i); break;
    case VT_UI4: case VT_UINT: p->ulVal = static_cast<ULONG>(v.i); break;
    case VT_I8: p->llVal = v.i; break;
    case VT_UI8: p->ullVal = v.u; break;
    case VT_R4: p->fltVal = static_cast<float>(v.d); break;
    case VT_R8: case VT_DATE: p->dblVal = v.d; break;
    case VT_CY: p->cyVal.int64 = v.i; break;
    case VT_BOOL: p->boolVal = static_cast<VARIANT_BOOL>(v.i); break;
    case VT_ERROR: p->scode = static_cast<SCODE>(v.i); break;
    case VT_BSTR: p->bstrVal = SysAllocStringLen(v.s.data(), static_cast<UINT>(v.s.size())); break;
    default: break;
  }
  return out;
}

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::string Describe(const V& v) {
  switch (v.vt) {
    case VT_BSTR: return "\"" + Narrow(v.s) + "\"";
    case VT_R4: case VT_R8: case VT_DATE: return "vt " + std::to_string(v.vt) + " " + std::to_string(v.d);
    case VT_UI8: return "UI8 " + std::to_string(v.u);
    default: return "vt " + std::to_string(v.vt) + " " + std::to_string(v.i);
  }
}

testing::AssertionResult Matches(const VARIANT& got, const V& want) {
  if (got.vt != want.vt) return testing::AssertionFailure() << "vt " << got.vt << ", expected " << want.vt;
  bool same = true;
  std::string shown;
  switch (got.vt) {
    case VT_EMPTY: case VT_NULL: break;
    case VT_I1: same = static_cast<signed char>(got.cVal) == want.i; shown = std::to_string(got.cVal); break;
    case VT_UI1: same = got.bVal == want.i; shown = std::to_string(got.bVal); break;
    case VT_I2: same = got.iVal == want.i; shown = std::to_string(got.iVal); break;
    case VT_UI2: same = got.uiVal == want.i; shown = std::to_string(got.uiVal); break;
    case VT_I4: case VT_INT: same = got.lVal == want.i; shown = std::to_string(got.lVal); break;
    case VT_UI4: case VT_UINT: same = got.ulVal == static_cast<uint64_t>(want.i); shown = std::to_string(got.ulVal); break;
    case VT_I8: same = got.llVal == want.i; shown = std::to_string(got.llVal); break;
    case VT_UI8: same = got.ullVal == want.u; shown = std::to_string(got.ullVal); break;
    case VT_R4: same = got.fltVal == static_cast<float>(want.d); shown = std::to_string(got.fltVal); break;
    case VT_R8: case VT_DATE: same = got.dblVal == want.d; shown = std::to_string(got.dblVal); break;
    case VT_CY: same = got.cyVal.int64 == want.i; shown = std::to_string(got.cyVal.int64); break;
    case VT_BOOL: same = got.boolVal == want.i; shown = std::to_string(got.boolVal); break;
    case VT_ERROR: same = got.scode == want.i; shown = std::to_string(got.scode); break;
    case VT_BSTR:
      same = got.bstrVal != nullptr && std::u16string_view(got.bstrVal, SysStringLen(got.bstrVal)) == want.s;
      shown = got.bstrVal ? "\"" + Narrow({got.bstrVal, SysStringLen(got.bstrVal)}) + "\"" : "null BSTR";
      break;
    default: return testing::AssertionFailure() << "unexpected vt " << got.vt;
  }
  if (same) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "value " << shown;
}

struct Row {
  V in;
  VARTYPE to;
  HRESULT hr;
  V out;
};

void RunTable(const std::vector<Row>& rows, USHORT flags = 0) {
  for (size_t k = 0; k < rows.size(); ++k) {
    const Row& row = rows[k];
    OwnedVariant source = MakeVariant(row.in);
    // The destination starts as a sentinel that a failure must leave as it was.
    OwnedVariant dest = OwnedVariant::FromInt32(0x5EED);
    const HRESULT hr = VariantChangeType(dest.get(), source.get(), flags, row.to);
    const std::string label = "row " + std::to_string(k) + ": " + Describe(row.in) + " -> vt " + std::to_string(row.to);
    EXPECT_EQ(hr, row.hr) << label;
    if (SUCCEEDED(row.hr) && hr == row.hr) {
      EXPECT_TRUE(Matches(*dest.get(), row.out)) << label;
    } else if (FAILED(hr)) {
      EXPECT_TRUE(Matches(*dest.get(), I4(0x5EED))) << label << " (destination changed on failure)";
    }
  }
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr HRESULT MISMATCH = DISP_E_TYPEMISMATCH;
constexpr HRESULT OVERFLOW_ = DISP_E_OVERFLOW;

TEST(ComVariantChange, TextToBool) {
  RunTable({
      {Text(u"True"), VT_BOOL, S_OK, Bool(true)},
      {Text(u"true"), VT_BOOL, S_OK, Bool(true)},
      {Text(u"tRuE"), VT_BOOL, S_OK, Bool(true)},
      {Text(u"FALSE"), VT_BOOL, S_OK, Bool(false)},
      {Text(u"#TRUE#"), VT_BOOL, S_OK, Bool(true)},
      {Text(u"#FALSE#"), VT_BOOL, S_OK, Bool(false)},
      {Text(u"#true#"), VT_BOOL, MISMATCH, None()},
      {Text(u"0"), VT_BOOL, S_OK, Bool(false)},
      {Text(u" 0 "), VT_BOOL, S_OK, Bool(false)},
      {Text(u"0.0"), VT_BOOL, S_OK, Bool(false)},
      {Text(u"1"), VT_BOOL, S_OK, Bool(true)},
      {Text(u"-2.5"), VT_BOOL, S_OK, Bool(true)},
      {Text(u"&H0"), VT_BOOL, S_OK, Bool(false)},
      {Text(u"&HFF"), VT_BOOL, S_OK, Bool(true)},
      {Text(u"yes"), VT_BOOL, MISMATCH, None()},
      {Text(u"Truee"), VT_BOOL, MISMATCH, None()},
      {Text(u""), VT_BOOL, MISMATCH, None()},
  });
}

TEST(ComVariantChange, TextToNumbersAcceptsTheStandardSyntax) {
  RunTable({
      {Text(u" 42 "), VT_I4, S_OK, I4(42)},
      {Text(u"\t+7"), VT_I4, S_OK, I4(7)},
      {Text(u"-7"), VT_I4, S_OK, I4(-7)},
      {Text(u"7-"), VT_I4, S_OK, I4(-7)},
      {Text(u"(7)"), VT_I4, S_OK, I4(-7)},
      {Text(u"1,234"), VT_I4, S_OK, I4(1234)},
      {Text(u"1,234,567.5"), VT_R8, S_OK, R8(1234567.5)},
      {Text(u"1.5e3"), VT_I4, S_OK, I4(1500)},
      {Text(u"1.5E-1"), VT_R8, S_OK, R8(0.15)},
      {Text(u".5"), VT_R8, S_OK, R8(0.5)},
      {Text(u"5."), VT_R8, S_OK, R8(5)},
      {Text(u"&HFF"), VT_I4, S_OK, I4(255)},
      {Text(u"&hff"), VT_I4, S_OK, I4(255)},
      {Text(u"&O17"), VT_I4, S_OK, I4(15)},
      {Text(u"&H0000FF"), VT_UI1, S_OK, Int(VT_UI1, 255)},
      {Text(u"123456789012345678901234567890"), VT_R8, S_OK, R8(1.2345678901234568e29)},
      {Text(u"1e-400"), VT_R8, S_OK, R8(0)},
  });
}

TEST(ComVariantChange, TextThatIsNoNumberIsAMismatch) {
  const char16_t* texts[] = {u"", u"   ", u"abc", u"1 2", u".", u"1e", u"1e+", u"--1", u",5", u"+-1", u"(1",
                             u"1)", u"&H", u"&HG", u"&X1", u"-&H1", u"1.2.3", u"0x10", u"12abc"};
  std::vector<Row> rows;
  for (const char16_t* t : texts) rows.push_back({Text(t), VT_I4, MISMATCH, None()});
  for (const char16_t* t : texts) rows.push_back({Text(t), VT_R8, MISMATCH, None()});
  RunTable(rows);
}

TEST(ComVariantChange, HexadecimalTextFillsTheTargetWidth) {
  RunTable({
      {Text(u"&HFFFF"), VT_I2, S_OK, Int(VT_I2, -1)},
      {Text(u"&HFFFF"), VT_I4, S_OK, I4(65535)},
      {Text(u"&HFFFF"), VT_UI2, S_OK, Int(VT_UI2, 65535)},
      {Text(u"&H8000"), VT_I2, S_OK, Int(VT_I2, -32768)},
      {Text(u"&H7FFF"), VT_I2, S_OK, Int(VT_I2, 32767)},
      {Text(u"&H10000"), VT_I2, OVERFLOW_, None()},
      {Text(u"&HFFFFFFFF"), VT_I4, S_OK, I4(-1)},
      {Text(u"&HFFFFFFFF"), VT_UI4, S_OK, Int(VT_UI4, 4294967295)},
      {Text(u"&HFFFFFFFFFFFFFFFF"), VT_UI8, S_OK, UI8(0xFFFFFFFFFFFFFFFF)},
      {Text(u"&H10000000000000000"), VT_UI8, OVERFLOW_, None()},
      {Text(u"&HFF"), VT_R8, S_OK, R8(255)},
  });
}

TEST(ComVariantChange, IntegerTargetsRoundHalfToEvenAndCheckTheirRange) {
  RunTable({
      // From text: exact decimal rounding.
      {Text(u"2.5"), VT_I4, S_OK, I4(2)},
      {Text(u"3.5"), VT_I4, S_OK, I4(4)},
      {Text(u"-2.5"), VT_I4, S_OK, I4(-2)},
      {Text(u"0.5"), VT_I4, S_OK, I4(0)},
      {Text(u"1.5"), VT_I4, S_OK, I4(2)},
      {Text(u"2.500001"), VT_I4, S_OK, I4(3)},
      {Text(u"2147483647"), VT_I4, S_OK, I4(2147483647)},
      {Text(u"2147483648"), VT_I4, OVERFLOW_, None()},
      {Text(u"-2147483648"), VT_I4, S_OK, I4(-2147483648LL)},
      {Text(u"-2147483649"), VT_I4, OVERFLOW_, None()},
      {Text(u"2147483646.5"), VT_I4, S_OK, I4(2147483646)},
      {Text(u"2147483647.5"), VT_I4, OVERFLOW_, None()},
      {Text(u"255"), VT_UI1, S_OK, Int(VT_UI1, 255)},
      {Text(u"256"), VT_UI1, OVERFLOW_, None()},
      {Text(u"-1"), VT_UI1, OVERFLOW_, None()},
      {Text(u"-0.5"), VT_UI1, S_OK, Int(VT_UI1, 0)},
      {Text(u"9223372036854775807"), VT_I8, S_OK, Int(VT_I8, 9223372036854775807LL)},
      {Text(u"9223372036854775808"), VT_I8, OVERFLOW_, None()},
      {Text(u"18446744073709551615"), VT_UI8, S_OK, UI8(18446744073709551615ULL)},
      {Text(u"1e30"), VT_I8, OVERFLOW_, None()},
      {Text(u"1e999999"), VT_I4, OVERFLOW_, None()},
      // From doubles.
      {R8(2.5), VT_I4, S_OK, I4(2)},
      {R8(3.5), VT_I4, S_OK, I4(4)},
      {R8(-2.5), VT_I4, S_OK, I4(-2)},
      {R8(-3.5), VT_I4, S_OK, I4(-4)},
      {R8(0.49999999999999994), VT_I4, S_OK, I4(0)},
      {R8(2147483647.4), VT_I4, S_OK, I4(2147483647)},
      {R8(2147483647.5), VT_I4, OVERFLOW_, None()},
      {R8(-2147483648.5), VT_I4, S_OK, I4(-2147483648LL)},
      {R8(-2147483648.51), VT_I4, OVERFLOW_, None()},
      {R8(254.5), VT_UI1, S_OK, Int(VT_UI1, 254)},
      {R8(255.5), VT_UI1, OVERFLOW_, None()},
      {R8(32767.5), VT_I2, OVERFLOW_, None()},
      {R8(-128.5), VT_I1, S_OK, Int(VT_I1, -128)},
      {R8(9.2e18), VT_I8, S_OK, Int(VT_I8, 9200000000000000000LL)},
      {R8(9.3e18), VT_I8, OVERFLOW_, None()},
      {R8(1.8e19), VT_UI8, S_OK, UI8(18000000000000000000ULL)},
      {R8(-0.4), VT_UI4, S_OK, Int(VT_UI4, 0)},
      {R8(kNaN), VT_I4, OVERFLOW_, None()},
      {R8(kInf), VT_I4, OVERFLOW_, None()},
      {R4(2.5f), VT_I2, S_OK, Int(VT_I2, 2)},
      {Date(45296.5), VT_I4, S_OK, I4(45296)},
      // Between integers.
      {I4(40000), VT_I2, OVERFLOW_, None()},
      {I4(65535), VT_UI2, S_OK, Int(VT_UI2, 65535)},
      {I4(-1), VT_UI2, OVERFLOW_, None()},
      {I4(-128), VT_I1, S_OK, Int(VT_I1, -128)},
      {I4(128), VT_I1, OVERFLOW_, None()},
      {UI8(18446744073709551615ULL), VT_I8, OVERFLOW_, None()},
      {Int(VT_I8, -1), VT_UI8, OVERFLOW_, None()},
      {Int(VT_UI4, 4294967295), VT_I4, OVERFLOW_, None()},
      {Int(VT_UI4, 4294967295), VT_INT, OVERFLOW_, None()},
      {I4(7), VT_UINT, S_OK, Int(VT_UINT, 7)},
      // From currency: exact, half to even.
      {Cy(25000), VT_I4, S_OK, I4(2)},
      {Cy(35000), VT_I4, S_OK, I4(4)},
      {Cy(-15000), VT_I4, S_OK, I4(-2)},
  });
}

TEST(ComVariantChange, BoolAndEmptyAsNumbers) {
  RunTable({
      {Bool(true), VT_I4, S_OK, I4(-1)},
      {Bool(true), VT_I2, S_OK, Int(VT_I2, -1)},
      {Bool(true), VT_UI1, S_OK, Int(VT_UI1, 255)},
      {Bool(true), VT_UI2, S_OK, Int(VT_UI2, 65535)},
      {Bool(true), VT_R8, S_OK, R8(-1)},
      {Bool(true), VT_CY, S_OK, Cy(-10000)},
      {Bool(false), VT_I4, S_OK, I4(0)},
      {Empty(), VT_I4, S_OK, I4(0)},
      {Empty(), VT_R8, S_OK, R8(0)},
      {Empty(), VT_BOOL, S_OK, Bool(false)},
      {Empty(), VT_DATE, S_OK, Date(0)},
      {Empty(), VT_CY, S_OK, Cy(0)},
      {R8(0.0), VT_BOOL, S_OK, Bool(false)},
      {R8(-0.0), VT_BOOL, S_OK, Bool(false)},
      {R8(0.1), VT_BOOL, S_OK, Bool(true)},
      {R8(kNaN), VT_BOOL, S_OK, Bool(true)},
      {I4(2), VT_BOOL, S_OK, Bool(true)},
      {Cy(1), VT_BOOL, S_OK, Bool(true)},
  });
}

TEST(ComVariantChange, DoublesAndFloatsAsText) {
  RunTable({
      {R8(1e15), VT_BSTR, S_OK, Text(u"1E+15")},
      {R8(999999999999999.0), VT_BSTR, S_OK, Text(u"999999999999999")},
      {R8(999999999999999.9), VT_BSTR, S_OK, Text(u"1E+15")},
      {R8(5.6789e-12), VT_BSTR, S_OK, Text(u"5.6789E-12")},
      {R8(1e-11), VT_BSTR, S_OK, Text(u"0.00000000001")},
      {R8(1.0 / 3.0), VT_BSTR, S_OK, Text(u"0.333333333333333")},
      {R8(2.0 / 3.0), VT_BSTR, S_OK, Text(u"0.666666666666667")},
      {R8(100), VT_BSTR, S_OK, Text(u"100")},
      {R8(-0.5), VT_BSTR, S_OK, Text(u"-0.5")},
      {R8(0), VT_BSTR, S_OK, Text(u"0")},
      {R8(0.1 + 0.2), VT_BSTR, S_OK, Text(u"0.3")},
      {R8(123456789012345678.0), VT_BSTR, S_OK, Text(u"1.23456789012346E+17")},
      {R8(-1e100), VT_BSTR, S_OK, Text(u"-1E+100")},
      {R8(2.5e-300), VT_BSTR, S_OK, Text(u"2.5E-300")},
      {R8(12345.678), VT_BSTR, S_OK, Text(u"12345.678")},
      {R4(0.1f), VT_BSTR, S_OK, Text(u"0.1")},
      {R4(1.0f / 3.0f), VT_BSTR, S_OK, Text(u"0.3333333")},
      {R4(1234567.0f), VT_BSTR, S_OK, Text(u"1234567")},
      {R4(1e7f), VT_BSTR, S_OK, Text(u"1E+07")},
      {R4(16777216.0f), VT_BSTR, S_OK, Text(u"1.677722E+07")},
  });
}

TEST(ComVariantChange, OtherTypesAsText) {
  RunTable({
      {Bool(true), VT_BSTR, S_OK, Text(u"-1")},
      {Bool(false), VT_BSTR, S_OK, Text(u"0")},
      {Empty(), VT_BSTR, S_OK, Text(u"")},
      {I4(-123), VT_BSTR, S_OK, Text(u"-123")},
      {Int(VT_I1, -128), VT_BSTR, S_OK, Text(u"-128")},
      {Int(VT_UI4, 4294967295), VT_BSTR, S_OK, Text(u"4294967295")},
      {Int(VT_I8, -9223372036854775807LL - 1), VT_BSTR, S_OK, Text(u"-9223372036854775808")},
      {UI8(18446744073709551615ULL), VT_BSTR, S_OK, Text(u"18446744073709551615")},
      {Cy(15000), VT_BSTR, S_OK, Text(u"1.5")},
      {Cy(-10000), VT_BSTR, S_OK, Text(u"-1")},
      {Cy(1), VT_BSTR, S_OK, Text(u"0.0001")},
      {Text(u"as is"), VT_BSTR, S_OK, Text(u"as is")},
  });
}

TEST(ComVariantChange, AlphaBoolWritesTheNames) {
  RunTable({{Bool(true), VT_BSTR, S_OK, Text(u"True")}, {Bool(false), VT_BSTR, S_OK, Text(u"False")}},
           VARIANT_ALPHABOOL);
}

TEST(ComVariantChange, DatesAsTextAndBack) {
  RunTable({
      {Date(45296), VT_BSTR, S_OK, Text(u"2024/1/5")},
      {Date(45296.5), VT_BSTR, S_OK, Text(u"2024/1/5 12:00:00")},
      {Date(45296 + (13 * 3600 + 4 * 60 + 5) / 86400.0), VT_BSTR, S_OK, Text(u"2024/1/5 13:04:05")},
      {Date(0.25), VT_BSTR, S_OK, Text(u"6:00:00")},
      {Date(0), VT_BSTR, S_OK, Text(u"0:00:00")},
      {Date(-1.25), VT_BSTR, S_OK, Text(u"1899/12/29 6:00:00")},
      {Date(2), VT_BSTR, S_OK, Text(u"1900/1/1")},
      {Date(60), VT_BSTR, S_OK, Text(u"1900/2/28")},
      {Date(61), VT_BSTR, S_OK, Text(u"1900/3/1")},
      {Date(45296.99999999), VT_BSTR, S_OK, Text(u"2024/1/6")},
      {Date(1e7), VT_BSTR, E_INVALIDARG, None()},
      {Text(u"2024/1/5"), VT_DATE, S_OK, Date(45296)},
      {Text(u" 2024-01-05 12:00:00 "), VT_DATE, S_OK, Date(45296.5)},
      {Text(u"2024.1.5 6:00"), VT_DATE, S_OK, Date(45296.25)},
      {Text(u"2024年1月5日"), VT_DATE, S_OK, Date(45296)},
      {Text(u"12:00"), VT_DATE, S_OK, Date(0.5)},
      {Text(u"6:00 PM"), VT_DATE, S_OK, Date(0.75)},
      {Text(u"下午6:00"), VT_DATE, S_OK, Date(0.75)},
      {Text(u"1899/12/29 6:00"), VT_DATE, S_OK, Date(-1.25)},
      {Text(u"2024/2/29"), VT_DATE, S_OK, Date(45351)},
      {Text(u"2023/2/29"), VT_DATE, MISMATCH, None()},
      {Text(u"2024/13/1"), VT_DATE, MISMATCH, None()},
      {Text(u"2024/1/5 25:00"), VT_DATE, MISMATCH, None()},
      {Text(u"2024/1/5 12:60"), VT_DATE, MISMATCH, None()},
      {Text(u"2024/1-5"), VT_DATE, MISMATCH, None()},
      {Text(u"hello"), VT_DATE, MISMATCH, None()},
      {Text(u""), VT_DATE, MISMATCH, None()},
      {Text(u"   "), VT_DATE, MISMATCH, None()},
      {Text(u"2024/1/5 x"), VT_DATE, MISMATCH, None()},
      {R8(2958465.5), VT_DATE, S_OK, Date(2958465.5)},
      {R8(2958466), VT_DATE, OVERFLOW_, None()},
      {R8(-657435), VT_DATE, OVERFLOW_, None()},
      {Bool(true), VT_DATE, S_OK, Date(-1)},
  });
}

TEST(ComVariantChange, RealAndCurrencyTargets) {
  RunTable({
      {Text(u"3.4e38"), VT_R4, S_OK, R4(3.4e38f)},
      {Text(u"3.5e38"), VT_R4, OVERFLOW_, None()},
      {R8(1e300), VT_R4, OVERFLOW_, None()},
      {R8(kInf), VT_R4, S_OK, R4(std::numeric_limits<float>::infinity())},
      {Text(u"1e400"), VT_R8, OVERFLOW_, None()},
      {Text(u"1.5"), VT_CY, S_OK, Cy(15000)},
      {Text(u"0.00005"), VT_CY, S_OK, Cy(0)},
      {Text(u"0.00015"), VT_CY, S_OK, Cy(2)},
      {Text(u"922337203685477.5807"), VT_CY, S_OK, Cy(9223372036854775807LL)},
      {Text(u"922337203685477.5808"), VT_CY, OVERFLOW_, None()},
      {R8(1.23456), VT_CY, S_OK, Cy(12346)},
      {R8(1e15), VT_CY, OVERFLOW_, None()},
      {I4(-3), VT_CY, S_OK, Cy(-30000)},
      {Cy(12345), VT_R8, S_OK, R8(1.2345)},
  });
}

TEST(ComVariantChange, NullErrorAndEmptyTargets) {
  RunTable({
      {Null(), VT_NULL, S_OK, Null()},
      {Null(), VT_I4, MISMATCH, None()},
      {Null(), VT_BSTR, MISMATCH, None()},
      {Null(), VT_BOOL, MISMATCH, None()},
      {Null(), VT_EMPTY, MISMATCH, None()},
      {I4(1), VT_NULL, MISMATCH, None()},
      {Empty(), VT_NULL, MISMATCH, None()},
      {Err(DISP_E_PARAMNOTFOUND), VT_ERROR, S_OK, Err(DISP_E_PARAMNOTFOUND)},
      {Err(DISP_E_PARAMNOTFOUND), VT_I4, MISMATCH, None()},
      {Err(DISP_E_PARAMNOTFOUND), VT_BSTR, MISMATCH, None()},
      {I4(5), VT_ERROR, MISMATCH, None()},
      {I4(5), VT_EMPTY, S_OK, Empty()},
      {Text(u"x"), VT_EMPTY, S_OK, Empty()},
      {Empty(), VT_EMPTY, S_OK, Empty()},
  });
}

TEST(ComVariantChange, InvalidTypesAndArguments) {
  RunTable({
      {I4(1), VT_BYREF | VT_I4, DISP_E_BADVARTYPE, None()},
      {I4(1), VT_VARIANT, DISP_E_BADVARTYPE, None()},
      {I4(1), 15, DISP_E_BADVARTYPE, None()},
      {I4(1), VT_PTR, DISP_E_BADVARTYPE, None()},
      {I4(1), VT_VECTOR | VT_I4, DISP_E_BADVARTYPE, None()},
      {I4(1), VT_ARRAY | VT_EMPTY, DISP_E_BADVARTYPE, None()},
      {Int(0xBEEF, 1), VT_I4, DISP_E_BADVARTYPE, None()},
  });
  OwnedVariant v = OwnedVariant::FromInt32(1);
  EXPECT_EQ(VariantChangeType(nullptr, v.get(), 0, VT_BSTR), E_INVALIDARG);
  EXPECT_EQ(VariantChangeType(v.get(), nullptr, 0, VT_BSTR), E_INVALIDARG);
  VARIANT nullRef;
  nullRef.vt = VT_BYREF | VT_I4;
  nullRef.plVal = nullptr;
  EXPECT_EQ(VariantChangeType(v.get(), &nullRef, 0, VT_BSTR), E_INVALIDARG);
  EXPECT_EQ(v->lVal, 1);
}

TEST(ComVariantChange, DecimalKeepsDigitsAndRounds) {
  struct Case {
    std::u16string text;
    HRESULT hr;
    BYTE scale;
    bool negative;
    ULONG hi;
    ULONGLONG lo;
    std::u16string back;
  };
  const Case cases[] = {
      {u"1.5", S_OK, 1, false, 0, 15, u"1.5"},
      {u"-0.001", S_OK, 3, true, 0, 1, u"-0.001"},
      {u"79228162514264337593543950335", S_OK, 0, false, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF,
       u"79228162514264337593543950335"},
      {u"79228162514264337593543950336", OVERFLOW_, 0, false, 0, 0, u""},
      {u"0.12345678901234567890123456785", S_OK, 28, false, 0x3FD35EB, 0x6D797A91BE38F34E, u"0.1234567890123456789012345678"},
      {u"1e-40", S_OK, 0, false, 0, 0, u"0"},
  };
  for (const Case& c : cases) {
    OwnedVariant source = OwnedVariant::FromText(c.text);
    OwnedVariant dec;
    ASSERT_EQ(VariantChangeType(dec.get(), source.get(), 0, VT_DECIMAL), c.hr) << Narrow(c.text);
    if (FAILED(c.hr)) continue;
    ASSERT_EQ(dec.vt(), VT_DECIMAL);
    if (c.back != u"0") {
      EXPECT_EQ(dec->decVal.scale, c.scale) << Narrow(c.text);
      EXPECT_EQ(dec->decVal.sign != 0, c.negative);
      EXPECT_EQ(dec->decVal.Hi32, c.hi);
      EXPECT_EQ(dec->decVal.Lo64, c.lo);
    }
    OwnedVariant text;
    ASSERT_EQ(VariantChangeType(text.get(), dec.get(), 0, VT_BSTR), S_OK);
    EXPECT_TRUE(Matches(*text.get(), Text(c.back))) << Narrow(c.text);
  }
  OwnedVariant d = OwnedVariant::FromDouble(0.1);
  OwnedVariant dec;
  ASSERT_EQ(VariantChangeType(dec.get(), d.get(), 0, VT_DECIMAL), S_OK);
  EXPECT_EQ(dec->decVal.scale, 1) << "doubles become DECIMAL through 15 significant digits";
  EXPECT_EQ(dec->decVal.Lo64, 1u);
}

// An object whose default member (DISPID_VALUE) is a property; "Other" is not the default.
class ValueObject : public DispatchObject {
 public:
  explicit ValueObject(LONG value = 3) : DispatchObject(Type()), m_value(value) {}
  static std::shared_ptr<const DispatchType> Type() {
    static const auto type = TypeBuilder<ValueObject>(u"IValue")
                                 .PropertyGet(u"Value", DISPID_VALUE, VT_I4, &ValueObject::GetValue)
                                 .Build();
    return type;
  }
  HRESULT GetValue(Invocation& call) {
    ++reads;
    call.Result()->vt = VT_I4;
    call.Result()->lVal = m_value;
    return S_OK;
  }
  int reads = 0;

 private:
  LONG m_value;
};

class NoValueObject : public DispatchObject {
 public:
  NoValueObject() : DispatchObject(Type()) {}
  static std::shared_ptr<const DispatchType> Type() {
    static const auto type =
        TypeBuilder<NoValueObject>(u"INoValue").PropertyGet(u"Other", 1, VT_I4, &NoValueObject::Get).Build();
    return type;
  }
  HRESULT Get(Invocation&) { return S_OK; }
};

TEST(ComVariantChange, ObjectsConvertThroughTheirDefaultValue) {
  ComPtr<ValueObject> object = MakeDispatchObject<ValueObject>(3);
  VARIANT source;
  source.vt = VT_DISPATCH;
  source.pdispVal = object.get();
  OwnedVariant out;
  ASSERT_EQ(VariantChangeType(out.get(), &source, 0, VT_BSTR), S_OK);
  EXPECT_TRUE(Matches(*out.get(), Text(u"3")));
  ASSERT_EQ(VariantChangeType(out.get(), &source, 0, VT_R8), S_OK);
  EXPECT_TRUE(Matches(*out.get(), R8(3)));
  EXPECT_EQ(object->reads, 2);

  EXPECT_EQ(VariantChangeType(out.get(), &source, VARIANT_NOVALUEPROP, VT_BSTR), MISMATCH);
  EXPECT_EQ(object->reads, 2) << "VARIANT_NOVALUEPROP does not read the value";

  ComPtr<NoValueObject> noValue = MakeDispatchObject<NoValueObject>();
  source.pdispVal = noValue.get();
  EXPECT_EQ(VariantChangeType(out.get(), &source, 0, VT_I4), MISMATCH);
  source.pdispVal = nullptr;
  EXPECT_EQ(VariantChangeType(out.get(), &source, 0, VT_BSTR), MISMATCH);
}

TEST(ComVariantChange, UnknownAndDispatchConvertByQuery) {
  ComPtr<ValueObject> object = MakeDispatchObject<ValueObject>();
  IUnknown* unknown = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  OwnedVariant source;
  source->vt = VT_UNKNOWN;
  source->punkVal = unknown;  // the variant owns this reference
  OwnedVariant out;
  ASSERT_EQ(VariantChangeType(out.get(), source.get(), 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(out.vt(), VT_DISPATCH);
  EXPECT_EQ(static_cast<void*>(out->pdispVal), static_cast<void*>(static_cast<IDispatch*>(object.get())));
  ASSERT_EQ(VariantChangeType(out.get(), out.get(), 0, VT_UNKNOWN), S_OK) << "in place";
  EXPECT_EQ(out.vt(), VT_UNKNOWN);
  EXPECT_EQ(VariantChangeType(out.get(), source.get(), 0, VT_I4), MISMATCH) << "IUnknown has no value";
  out.Receive();
  // One reference each for: ours, the source variant. Nothing leaked by the conversions.
  EXPECT_EQ(object->AddRef(), 3u);
  object->Release();

  // An IUnknown without IDispatch cannot become VT_DISPATCH.
  class Plain : public IUnknown {
   public:
    HRESULT QueryInterface(REFIID riid, void** p) override {
      *p = nullptr;
      if (!IsEqualGUID(riid, IID_IUnknown)) return E_NOINTERFACE;
      *p = this;
      return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
  } plain;
  VARIANT p;
  p.vt = VT_UNKNOWN;
  p.punkVal = &plain;
  EXPECT_EQ(VariantChangeType(out.get(), &p, 0, VT_DISPATCH), E_NOINTERFACE);
  EXPECT_EQ(out.vt(), VT_EMPTY);

  VARIANT nothing;
  nothing.vt = VT_UNKNOWN;
  nothing.punkVal = nullptr;
  ASSERT_EQ(VariantChangeType(out.get(), &nothing, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(out->pdispVal, nullptr);
}

TEST(ComVariantChange, ReferencesAreFollowed) {
  LONG number = 12;
  VARIANT byRef;
  byRef.vt = VT_BYREF | VT_I4;
  byRef.plVal = &number;
  OwnedVariant out;
  ASSERT_EQ(VariantChangeType(out.get(), &byRef, 0, VT_BSTR), S_OK);
  EXPECT_TRUE(Matches(*out.get(), Text(u"12")));

  OwnedVariant inner = OwnedVariant::FromText(u"2.5");
  VARIANT byVariant;
  byVariant.vt = VT_BYREF | VT_VARIANT;
  byVariant.pvarVal = inner.get();
  ASSERT_EQ(VariantChangeType(out.get(), &byVariant, 0, VT_I4), S_OK);
  EXPECT_TRUE(Matches(*out.get(), I4(2)));

  // In place: the reference is replaced by the value; what it pointed at is untouched.
  ASSERT_EQ(VariantChangeType(&byRef, &byRef, 0, VT_R8), S_OK);
  EXPECT_TRUE(Matches(byRef, R8(12)));
  EXPECT_EQ(number, 12);
}

TEST(ComVariantChange, InPlaceConversionReplacesTheSource) {
  OwnedVariant v = OwnedVariant::FromText(u"42");
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_I4), S_OK);
  EXPECT_TRUE(Matches(*v.get(), I4(42)));
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);
  EXPECT_TRUE(Matches(*v.get(), Text(u"42")));
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK) << "to its own type";
  EXPECT_TRUE(Matches(*v.get(), Text(u"42")));
  EXPECT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_NULL), MISMATCH);
  EXPECT_TRUE(Matches(*v.get(), Text(u"42"))) << "a failed conversion leaves the source";
}

TEST(ComVariantChange, ArraysConvertOnlyToThemselves) {
  OwnedVariant array;
  array->vt = VT_ARRAY | VT_UI1;
  array->parray = SafeArrayCreateVector(VT_UI1, 1, 3);
  ASSERT_NE(array->parray, nullptr);
  OwnedVariant out;
  EXPECT_EQ(VariantChangeType(out.get(), array.get(), 0, VT_BSTR), MISMATCH);
  EXPECT_EQ(VariantChangeType(out.get(), array.get(), 0, VT_ARRAY | VT_I4), MISMATCH);
  ASSERT_EQ(VariantChangeType(out.get(), array.get(), 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_NE(out->parray, array->parray) << "the array is copied";
  OwnedVariant number = OwnedVariant::FromInt32(1);
  EXPECT_EQ(VariantChangeType(out.get(), number.get(), 0, VT_ARRAY | VT_I4), MISMATCH);
}

TEST(ComVariantChange, TextIsReadUpToItsFirstNul) {
  OwnedVariant v;
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocStringLen(u"12\0x", 4);
  OwnedVariant out;
  ASSERT_EQ(VariantChangeType(out.get(), v.get(), 0, VT_I4), S_OK);
  EXPECT_TRUE(Matches(*out.get(), I4(12)));
}

}  // namespace
}  // namespace win
