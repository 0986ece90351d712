// The one file that talks to the dynamic linker.
#include <dlfcn.h>

#include "platform/loader/loader_private.h"

namespace win::loader {

void* OpenSharedObject(const char* fileName) { return dlopen(fileName, RTLD_NOW | RTLD_LOCAL); }

void* ReopenSharedObject(const char* fileName) { return dlopen(fileName, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD); }

void* SharedObjectSymbol(void* object, const char* name) {
  dlerror();  // a stale message must not be mistaken for this lookup's
  return dlsym(object, name);
}

void CloseSharedObject(void* object) { dlclose(object); }

}  // namespace win::loader
