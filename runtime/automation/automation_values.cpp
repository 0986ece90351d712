// Runtime values to and from VARIANTs: argument VARIANTs, SAFEARRAYs made from byte sets and
// arrays, result conversion and write-back into variables, and the flat index of variant arrays.
#include <cstring>
#include <limits>

#include "platform/codepage/codepage.h"
#include "runtime/automation/automation_private.h"
#include "runtime/commands/commands.h"
#include "runtime/memory/memory.h"

namespace qv::automation_detail {
namespace {

using namespace win;

// Reads a value of type T from memory that need not be aligned for it (array elements after a
// header of an odd number of words, variables inside records).
template <typename T>
T ReadAt(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename T>
void WriteAt(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// The element type that a runtime array element (or byte set) becomes in a SAFEARRAY; VT_EMPTY
// when it has none.
VARTYPE ArrayElementType(TypeCode element) {
  switch (element) {
    case type::Byte:
    case type::ByteSet: return VT_UI1;
    case type::Short: return VT_I2;
    case type::Int:
    case type::Int64: return VT_I4;  // an Int64 keeps its low word
    case type::Float: return VT_R4;
    case type::Double: return VT_R8;
    case type::Bool: return VT_BOOL;
    case type::DateTime: return VT_DATE;
    case type::Text: return VT_BSTR;
    case type::Object: return VT_UNKNOWN;
    case type::Variant: return VT_VARIANT;
    default: return VT_EMPTY;
  }
}

// Fills element i of the SAFEARRAY data from the runtime element at source.
bool StoreArrayElement(TypeCode element, const void* source, void* data, size_t i) {
  switch (element) {
    case type::Byte: static_cast<BYTE*>(data)[i] = ReadAt<uint8_t>(source); return true;
    case type::Short: static_cast<SHORT*>(data)[i] = ReadAt<int16_t>(source); return true;
    case type::Int: static_cast<LONG*>(data)[i] = ReadAt<int32_t>(source); return true;
    case type::Int64: static_cast<LONG*>(data)[i] = static_cast<LONG>(ReadAt<int64_t>(source)); return true;
    case type::Float: static_cast<FLOAT*>(data)[i] = ReadAt<float>(source); return true;
    case type::Double:
    case type::DateTime: static_cast<DOUBLE*>(data)[i] = ReadAt<double>(source); return true;
    case type::Bool:
      static_cast<VARIANT_BOOL*>(data)[i] = ReadAt<int32_t>(source) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case type::Text: {
      const char* text = ReadAt<const char*>(source);
      BSTR b = NewBstrFromAnsi(text ? text : "");
      static_cast<BSTR*>(data)[i] = b;
      return b != nullptr;
    }
    case type::Object: {
      const ObjectHolder* holder = ReadAt<const ObjectHolder*>(source);
      IUnknown* object = holder ? holder->object : nullptr;
      if (object != nullptr) object->AddRef();
      static_cast<IUnknown**>(data)[i] = object;
      return true;
    }
    case type::Variant: {
      const VariantHolder* holder = ReadAt<const VariantHolder*>(source);
      if (holder == nullptr) return true;  // the element stays VT_EMPTY
      return SUCCEEDED(VariantCopyInd(&static_cast<VARIANT*>(data)[i], &holder->value));
    }
    default: return false;
  }
}

VARTYPE ResultVarType(TypeCode target) {
  switch (target) {
    case type::Object: return VT_UNKNOWN;
    case type::Bool: return VT_BOOL;
    case type::DateTime: return VT_DATE;
    case type::Text: return VT_BSTR;
    case type::Byte: return VT_UI1;
    case type::Short: return VT_I2;
    case type::Int:
    case type::Int64: return VT_I4;
    case type::Float: return VT_R4;
    case type::Double: return VT_R8;
    default: return VT_EMPTY;
  }
}

}  // namespace

std::u16string AnsiToWide(std::string_view text) {
  std::u16string wide;
  if (text.empty() || text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return wide;
  // A GBK byte never yields more than one UTF-16 unit, so the byte count bounds the result.
  wide.resize(text.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                    static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return wide;
}

BSTR NewBstrFromAnsi(std::string_view text) {
  const std::u16string wide = AnsiToWide(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

char* NewTextFromWide(const char16_t* text, size_t length) {
  if (text == nullptr) return nullptr;
  const std::u16string_view view(text, length);
  const size_t end = view.find(u'\0');
  const std::u16string_view used = view.substr(0, end);
  if (used.empty() || used.size() > static_cast<size_t>(std::numeric_limits<int>::max() / 2)) return nullptr;
  // In the ANSI code page one UTF-16 unit takes at most two bytes.
  std::string bytes(used.size() * 2, '\0');
  const int n = WideCharToMultiByte(CP_ACP, 0, used.data(), static_cast<int>(used.size()), bytes.data(),
                                    static_cast<int>(bytes.size()), nullptr, nullptr);
  return n > 0 ? NewText(bytes.data(), static_cast<size_t>(n)) : nullptr;
}

TypeCode AutomationType(TypeCode t) {
  const TypeCode base = BaseType(t);
  if (base == type::None || base == type::Object || base == type::Variant || IsBasicType(base)) return base;
  // A type that another command library defines: the runtime says whether it holds an object.
  const ServiceEntry service = CoreLibraryServiceEntry();
  if (service != nullptr && service(service::DescribeType, static_cast<intptr_t>(base), 0) != 0) return type::Object;
  return base;
}

RuntimeValue LoadArgument(const RuntimeValue& argument) {
  const TypeCode t = AutomationType(argument.type);
  if (!HasAddressFlag(argument.type)) {
    RuntimeValue v = argument;
    v.type = t;
    return v;
  }
  RuntimeValue v;
  v.type = t;
  const void* p = argument.Pointer();
  if (p == nullptr) return v;  // no variable: its type's empty value
  switch (t) {
    case type::Byte: v.SetInt32(ReadAt<uint8_t>(p)); break;
    case type::Short: v.SetInt32(ReadAt<int16_t>(p)); break;
    case type::Int:
    case type::Bool:
    case type::SubroutinePointer: v.SetInt32(ReadAt<int32_t>(p)); break;
    case type::Float: v.SetFloat(ReadAt<float>(p)); break;
    case type::Int64:
    case type::Double:
    case type::DateTime: v.SetBits64(ReadAt<uint64_t>(p)); break;
    case type::Text:
    case type::ByteSet:
    case type::Object:
    case type::Variant: v.SetPointer(ReadAt<const void*>(p)); break;
    default: break;
  }
  return v;
}

ObjectHolder* ObjectArgument(const RuntimeValue& argument) {
  if (!HasAddressFlag(argument.type)) return static_cast<ObjectHolder*>(argument.Pointer());
  const void* variable = argument.Pointer();
  return variable ? ReadAt<ObjectHolder*>(variable) : nullptr;
}

VariantHolder* VariantArgument(const RuntimeValue& argument) {
  if (!HasAddressFlag(argument.type)) return static_cast<VariantHolder*>(argument.Pointer());
  const void* variable = argument.Pointer();
  return variable ? ReadAt<VariantHolder*>(variable) : nullptr;
}

bool MakeVariant(const RuntimeValue& loaded, VARTYPE declared, ObjectForm form, VARIANT* out) {
  VariantInit(out);
  out->llVal = 0;
  switch (loaded.type) {
    case type::None:
      out->vt = VT_ERROR;
      out->scode = DISP_E_PARAMNOTFOUND;
      return true;
    case type::Object: {
      const ObjectHolder* holder = ObjectHolderOf(loaded);
      IUnknown* object = holder ? holder->object : nullptr;
      if (holder != nullptr && holder->record != nullptr) {
        // A record travels as a copy, made by its IRecordInfo, that the VARIANT owns.
        VARIANT borrowed;
        VariantInit(&borrowed);
        borrowed.vt = VT_RECORD;
        borrowed.pvRecord = holder->record;
        borrowed.pRecInfo = static_cast<IRecordInfo*>(object);
        VariantCopy(out, &borrowed);
        return true;
      }
      out->vt = VT_UNKNOWN;
      out->punkVal = nullptr;
      if (object == nullptr) return true;
      if (form == ObjectForm::Unknown) {
        if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&out->punkVal)))) out->punkVal = nullptr;
        return true;
      }
      switch (declared) {
        case VT_UNKNOWN:
          object->AddRef();
          out->punkVal = object;
          return true;
        case VT_DISPATCH:
          if (SUCCEEDED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&out->pdispVal))))
            out->vt = VT_DISPATCH;
          else
            out->punkVal = nullptr;
          return true;
        case VT_VARIANT:
        case VT_EMPTY:
          // A parameter that takes any type gets the object itself, as an IDispatch when it offers
          // one, rather than an empty interface that would silently drop the caller's argument.
          if (SUCCEEDED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&out->pdispVal)))) {
            out->vt = VT_DISPATCH;
          } else {
            object->AddRef();
            out->punkVal = object;
          }
          return true;
        default: return true;  // a parameter that takes no object: an empty VT_UNKNOWN
      }
    }
    case type::Variant: {
      const VariantHolder* holder = VariantHolderOf(loaded);
      if (holder != nullptr) VariantCopyInd(out, &holder->value);
      return true;
    }
    case type::Bool:
      out->vt = VT_BOOL;
      out->boolVal = loaded.low != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case type::DateTime:
      out->vt = VT_DATE;
      out->date = loaded.Double();
      return true;
    case type::Text: {
      const char* text = static_cast<const char*>(loaded.Pointer());
      out->vt = VT_BSTR;
      out->bstrVal = NewBstrFromAnsi(text ? text : "");
      return true;
    }
    case type::Byte:
      out->vt = VT_UI1;
      out->bVal = static_cast<BYTE>(loaded.low);
      return true;
    case type::Short:
      out->vt = VT_I2;
      out->iVal = static_cast<SHORT>(loaded.low);
      return true;
    case type::Int:
    case type::Int64:  // the low 32 bits
      out->vt = VT_I4;
      out->lVal = static_cast<LONG>(loaded.low);
      return true;
    case type::Float:
      out->vt = VT_R4;
      out->fltVal = loaded.Float();
      return true;
    case type::Double:
      out->vt = VT_R8;
      out->dblVal = loaded.Double();
      return true;
    default: return false;
  }
}

bool IsArrayValue(const RuntimeValue& argument) {
  return HasAddressFlag(argument.type) || BaseType(argument.type) == type::ByteSet;
}

SAFEARRAY* MakeSafeArray(const RuntimeValue& argument) {
  const bool isByteSet = !HasAddressFlag(argument.type) && BaseType(argument.type) == type::ByteSet;
  const void* block = argument.Pointer();
  TypeCode element;
  int64_t count;
  const unsigned char* elements;
  if (isByteSet) {
    element = type::Byte;
    count = static_cast<int64_t>(ByteSetLengthOf(block));
    elements = ByteSetData(block);
  } else {
    if (block == nullptr) return nullptr;
    element = AutomationType(argument.type);
    count = ArrayElementCount(block);
    elements = static_cast<const unsigned char*>(ArrayElements(block));
  }
  const VARTYPE vt = ArrayElementType(element);
  const size_t width = ElementWidth(element);
  if (vt == VT_EMPTY || width == 0 || count < 0 || count > std::numeric_limits<LONG>::max()) return nullptr;

  SAFEARRAY* array = SafeArrayCreateVector(vt, 1, static_cast<ULONG>(count));
  if (array == nullptr) return nullptr;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) {
    SafeArrayDestroy(array);
    return nullptr;
  }
  bool filled = true;
  if (vt == VT_UI1 && count > 0) {
    std::memcpy(data, elements, static_cast<size_t>(count));
  } else {
    for (int64_t i = 0; filled && i < count; ++i)
      filled = StoreArrayElement(element, elements + static_cast<size_t>(i) * width, data, static_cast<size_t>(i));
  }
  SafeArrayUnaccessData(array);
  if (!filled) {
    SafeArrayDestroy(array);  // frees the elements stored so far
    return nullptr;
  }
  return array;
}

bool ConvertResult(const VARIANT& source, TypeCode target, RuntimeValue* out) {
  if ((source.vt & VT_TYPEMASK) == VT_RECORD) return false;
  if (target == type::Variant) {
    VariantHolder* holder = NewVariantHolder();
    if (FAILED(VariantCopyInd(&holder->value, &source))) {
      FreeVariantHolder(holder);
      return false;
    }
    *out = RuntimeValue::OfPointer(type::Variant, holder);
    return true;
  }
  // A text result that is already a string needs no copy of it.
  if (target == type::Text && (source.vt == VT_BSTR || source.vt == (VT_BYREF | VT_BSTR))) {
    const BSTR text = source.vt == VT_BSTR ? source.bstrVal : (source.pbstrVal ? *source.pbstrVal : nullptr);
    *out = RuntimeValue::OfPointer(type::Text, NewTextFromWide(text, SysStringLen(text)));
    return true;
  }
  const VARTYPE vt = ResultVarType(target);
  if (vt == VT_EMPTY) return false;
  OwnedVariant copy;
  if (FAILED(VariantCopyInd(copy.get(), &source))) return false;
  if (FAILED(VariantChangeType(copy.get(), copy.get(), 0, vt))) return false;
  const VARIANT& v = *copy.get();
  RuntimeValue r;
  r.type = target;
  switch (target) {
    case type::Object: r.SetPointer(NewObjectHolder(v.punkVal)); break;  // the holder takes its own reference
    case type::Bool: r.SetInt32(v.boolVal != 0 ? 1 : 0); break;
    case type::DateTime: r.SetDouble(v.date); break;
    case type::Text: r.SetPointer(NewTextFromWide(v.bstrVal, SysStringLen(v.bstrVal))); break;
    case type::Byte: r.SetInt32(v.bVal); break;
    case type::Short: r.SetInt32(v.iVal); break;
    case type::Int: r.SetInt32(v.lVal); break;
    case type::Int64: r.SetInt64(v.lVal); break;
    case type::Float: r.SetFloat(v.fltVal); break;
    case type::Double: r.SetDouble(v.dblVal); break;
    default: return false;
  }
  *out = r;
  return true;
}

bool WriteBack(const VARIANT& source, TypeCode target, void* address) {
  if (address == nullptr) return false;
  if (target == type::Variant) {
    OwnedVariant copy;
    if ((source.vt & VT_TYPEMASK) == VT_RECORD || FAILED(VariantCopyInd(copy.get(), &source))) return false;
    VariantHolder* holder = ReadAt<VariantHolder*>(address);
    if (holder == nullptr) {
      holder = NewVariantHolder();
      WriteAt(address, holder);
    }
    VariantClear(&holder->value);
    holder->value = copy.Release();
    return true;
  }
  RuntimeValue r;
  if (!ConvertResult(source, target, &r)) return false;
  switch (target) {
    case type::Object: {
      ObjectHolder* fresh = ObjectHolderOf(r);
      ObjectHolder* holder = ReadAt<ObjectHolder*>(address);
      if (holder == nullptr) {
        WriteAt(address, fresh);
      } else {
        StoreObject(holder, fresh->object);  // releases the old content first
        FreeObjectHolder(fresh);
      }
      return true;
    }
    case type::Text:
      RuntimeFree(ReadAt<char*>(address));
      WriteAt(address, static_cast<char*>(r.Pointer()));
      return true;
    case type::Byte: WriteAt(address, static_cast<uint8_t>(r.low)); return true;
    case type::Short: WriteAt(address, static_cast<int16_t>(r.low)); return true;
    case type::Int:
    case type::Bool: WriteAt(address, r.Int32()); return true;
    case type::Float: WriteAt(address, r.Float()); return true;
    case type::Int64:
    case type::Double:
    case type::DateTime: WriteAt(address, (uint64_t{r.high} << 32) | r.low); return true;
    default: return false;
  }
}

void* VariantValueAddress(VARIANT& v) {
  if ((v.vt & VT_TYPEMASK) == VT_DECIMAL && !(v.vt & VT_ARRAY)) return &v.decVal;
  return &v.llVal;
}

RuntimeValue EmptyResult(TypeCode target) {
  RuntimeValue r;
  r.type = target;
  if (target == type::Object) r.SetPointer(NewObjectHolder());
  else if (target == type::Variant) r.SetPointer(NewVariantHolder());
  return r;
}

SAFEARRAY* ArrayOf(const VARIANT& v) {
  if (v.vt & VT_ARRAY) {
    if (v.vt & VT_BYREF) return v.pparray ? *v.pparray : nullptr;
    return v.parray;
  }
  if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal != nullptr && v.pvarVal != &v) {
    const VARIANT& inner = *v.pvarVal;
    if ((inner.vt & VT_ARRAY) && !(inner.vt & VT_BYREF)) return inner.parray;
  }
  return nullptr;
}

bool SplitFlatIndex(SAFEARRAY* array, int64_t flatIndex, LONG* indices) {
  const UINT dims = SafeArrayGetDim(array);
  if (dims == 0 || flatIndex < 1) return false;
  int64_t total = 1;
  for (UINT d = 1; d <= dims; ++d) {
    LONG lower = 0, upper = 0;
    if (FAILED(SafeArrayGetLBound(array, d, &lower)) || FAILED(SafeArrayGetUBound(array, d, &upper))) return false;
    const int64_t size = int64_t{upper} - lower + 1;
    if (size <= 0) return false;
    total = total > std::numeric_limits<int64_t>::max() / size ? std::numeric_limits<int64_t>::max() : total * size;
  }
  if (flatIndex > total) return false;
  int64_t rest = flatIndex - 1;
  for (UINT d = 1; d <= dims; ++d) {
    LONG lower = 0, upper = 0;
    SafeArrayGetLBound(array, d, &lower);
    SafeArrayGetUBound(array, d, &upper);
    const int64_t size = int64_t{upper} - lower + 1;
    indices[d - 1] = static_cast<LONG>(lower + rest % size);
    rest /= size;
  }
  return true;
}

bool GetArrayElement(SAFEARRAY* array, const LONG* indices, VARIANT* out) {
  VariantInit(out);
  VARTYPE vt = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &vt))) return false;
  switch (vt) {
    case VT_VARIANT: return SUCCEEDED(SafeArrayGetElement(array, indices, out));
    case VT_RECORD: return false;
    case VT_DECIMAL:
      if (FAILED(SafeArrayGetElement(array, indices, &out->decVal))) {
        VariantInit(out);
        return false;
      }
      out->vt = VT_DECIMAL;  // the DECIMAL's reserved word is the type tag
      return true;
    default: {
      if (SafeArrayGetElemsize(array) > sizeof out->llVal) return false;
      out->llVal = 0;
      if (FAILED(SafeArrayGetElement(array, indices, &out->llVal))) return false;
      out->vt = vt;
      return true;
    }
  }
}

bool PutArrayElement(SAFEARRAY* array, const LONG* indices, VARIANT* value) {
  VARTYPE vt = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(array, &vt))) return false;
  switch (vt) {
    case VT_VARIANT: return SUCCEEDED(SafeArrayPutElement(array, indices, value));
    case VT_RECORD: return false;
    case VT_BSTR: return SUCCEEDED(SafeArrayPutElement(array, indices, value->bstrVal));
    case VT_UNKNOWN:
    case VT_DISPATCH: return SUCCEEDED(SafeArrayPutElement(array, indices, value->punkVal));
    default: return SUCCEEDED(SafeArrayPutElement(array, indices, VariantValueAddress(*value)));
  }
}

char* VariantText(const VARIANT& v) {
  if (v.vt == VT_BSTR) return NewTextFromWide(v.bstrVal, SysStringLen(v.bstrVal));
  OwnedVariant copy;
  if (FAILED(VariantCopyInd(copy.get(), &v))) return nullptr;
  if (FAILED(VariantChangeType(copy.get(), copy.get(), 0, VT_BSTR))) return nullptr;
  return NewTextFromWide(copy->bstrVal, SysStringLen(copy->bstrVal));
}

}  // namespace qv::automation_detail
