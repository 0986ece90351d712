// IRecordInfo: describes and manages the user-defined records (structures) carried by VT_RECORD
// variants. The stand-in never creates records itself; it calls the record's IRecordInfo to copy
// (RecordCreateCopy) and destroy (RecordDestroy) them when variants holding one are copied or
// cleared.
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/variant.h"

namespace win {

class ITypeInfo;

class IRecordInfo : public IUnknown {
 public:
  virtual HRESULT RecordInit(PVOID newRecord) = 0;
  // Releases what the record's fields hold without freeing the record.
  virtual HRESULT RecordClear(PVOID existing) = 0;
  virtual HRESULT RecordCopy(PVOID existing, PVOID newRecord) = 0;
  virtual HRESULT GetGuid(GUID* guid) = 0;
  virtual HRESULT GetName(BSTR* name) = 0;
  virtual HRESULT GetSize(ULONG* size) = 0;
  virtual HRESULT GetTypeInfo(ITypeInfo** info) = 0;
  virtual HRESULT GetField(PVOID data, LPCOLESTR fieldName, VARIANT* field) = 0;
  virtual HRESULT GetFieldNoCopy(PVOID data, LPCOLESTR fieldName, VARIANT* field, PVOID* dataCArray) = 0;
  virtual HRESULT PutField(ULONG flags, PVOID data, LPCOLESTR fieldName, VARIANT* field) = 0;
  virtual HRESULT PutFieldNoCopy(ULONG flags, PVOID data, LPCOLESTR fieldName, VARIANT* field) = 0;
  virtual HRESULT GetFieldNames(ULONG* count, BSTR* names) = 0;
  virtual BOOL IsMatchingType(IRecordInfo* other) = 0;
  virtual PVOID RecordCreate() = 0;
  virtual HRESULT RecordCreateCopy(PVOID source, PVOID* dest) = 0;
  // Releases what the fields hold and frees the record.
  virtual HRESULT RecordDestroy(PVOID record) = 0;

 protected:
  ~IRecordInfo() = default;
};

}  // namespace win
