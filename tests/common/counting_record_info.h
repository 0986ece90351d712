// Test helper: a record description (IRecordInfo) whose records are ints from new; it counts its
// references, the copies it makes and the records it destroys.
#pragma once

#include "platform/com/com.h"

namespace qvtest {
namespace record_detail {
using namespace win;

class CountingRecordInfo : public IRecordInfo {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT RecordInit(PVOID) override { return E_NOTIMPL; }
  HRESULT RecordClear(PVOID) override { return E_NOTIMPL; }
  HRESULT RecordCopy(PVOID, PVOID) override { return E_NOTIMPL; }
  HRESULT GetGuid(GUID*) override { return E_NOTIMPL; }
  HRESULT GetName(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetSize(ULONG*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetField(PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT GetFieldNoCopy(PVOID, LPCOLESTR, VARIANT*, PVOID*) override { return E_NOTIMPL; }
  HRESULT PutField(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT PutFieldNoCopy(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT GetFieldNames(ULONG*, BSTR*) override { return E_NOTIMPL; }
  BOOL IsMatchingType(IRecordInfo* other) override { return other == this; }
  PVOID RecordCreate() override { return new int(0); }
  HRESULT RecordCreateCopy(PVOID source, PVOID* dest) override {
    ++copies;
    *dest = new int(*static_cast<int*>(source));
    return S_OK;
  }
  HRESULT RecordDestroy(PVOID record) override {
    ++destroyed;
    delete static_cast<int*>(record);
    return S_OK;
  }
  ULONG refs = 1;
  int copies = 0;
  int destroyed = 0;
};

}  // namespace record_detail
using record_detail::CountingRecordInfo;
}  // namespace qvtest
