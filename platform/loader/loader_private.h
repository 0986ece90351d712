// What the loader's files share: the system modules' export tables and the one place that talks to
// the dynamic linker.
#pragma once

#include <span>

#include "platform/loader/loader.h"

namespace win::loader {

// A built-in module that exists from the start, with its exports in ordinal order.
struct SystemModule {
  const char* fileName;
  std::span<const BuiltinExport> exports;
};
std::span<const SystemModule> SystemModules();

// dlopen with RTLD_NOW | RTLD_LOCAL; null when the object cannot be opened.
void* OpenSharedObject(const char* fileName);
// The handle of an object that is already open, with a reference added as OpenSharedObject does;
// null when it is not open.
void* ReopenSharedObject(const char* fileName);
// dlsym in the object and its dependencies; null when the symbol is missing.
void* SharedObjectSymbol(void* object, const char* name);
void CloseSharedObject(void* object);

}  // namespace win::loader
