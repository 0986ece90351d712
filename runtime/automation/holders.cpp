// Object and variant holder blocks: allocation and the release rule.
#include "runtime/automation/holders.h"

#include <cstring>

#include "runtime/memory/memory.h"

namespace qv {

ObjectHolder* NewObjectHolder() {
  auto* holder = static_cast<ObjectHolder*>(RuntimeAlloc(static_cast<int32_t>(sizeof(ObjectHolder))));
  holder->object = nullptr;
  holder->record = nullptr;
  return holder;
}

ObjectHolder* NewObjectHolder(win::IUnknown* object) {
  ObjectHolder* holder = NewObjectHolder();
  if (object != nullptr) object->AddRef();
  holder->object = object;
  return holder;
}

void ReleaseObjectHolderContent(ObjectHolder* holder) {
  if (holder == nullptr) return;
  if (holder->object != nullptr) {
    if (holder->record != nullptr) {
      // The interface of a record value is the record's IRecordInfo, which owns how it is freed.
      static_cast<win::IRecordInfo*>(holder->object)->RecordDestroy(holder->record);
      holder->record = nullptr;
    }
    win::IUnknown* object = holder->object;
    holder->object = nullptr;  // cleared first, in case releasing reaches this holder again
    object->Release();
  } else if (holder->record != nullptr) {
    RuntimeFree(holder->record);
    holder->record = nullptr;
  }
}

void FreeObjectHolder(ObjectHolder* holder) {
  if (holder == nullptr) return;
  ReleaseObjectHolderContent(holder);
  RuntimeFree(holder);
}

void StoreObject(ObjectHolder* holder, win::IUnknown* object) {
  if (holder == nullptr) return;
  // The new reference is taken before the old one goes, so storing what is already held is safe.
  if (object != nullptr) object->AddRef();
  ReleaseObjectHolderContent(holder);
  holder->object = object;
}

VariantHolder* NewVariantHolder() {
  auto* holder = static_cast<VariantHolder*>(RuntimeAlloc(static_cast<int32_t>(sizeof(VariantHolder))));
  std::memset(holder, 0, sizeof *holder);
  return holder;
}

void FreeVariantHolder(VariantHolder* holder) {
  if (holder == nullptr) return;
  win::VariantClear(&holder->value);
  RuntimeFree(holder);
}

}  // namespace qv
