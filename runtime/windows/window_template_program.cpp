// The program's own template collection and the start-up entries that fill and empty it.
#include "runtime/windows/window_template.h"

#include <climits>

namespace qv {
namespace {

// Reads the program's templates and turns their handler offsets into addresses. A failed read
// leaves the collection empty; start-up then reports the data as unreadable.
bool ReadProgramTemplates(const void* data, size_t length, const void* codeBase) {
  // The description stores the length as an int32, so anything above that range is a negative
  // length converted, not a size to trust.
  std::optional<TemplateCollection> collection;
  if (length <= static_cast<size_t>(INT32_MAX)) collection = ReadTemplateCollection(data, length);
  if (!collection) {
    ProgramTemplates() = {};
    return false;
  }
  ResolveHandlers(*collection, codeBase);
  ProgramTemplates() = std::move(*collection);
  return true;
}

void ReleaseProgramTemplates() { ProgramTemplates() = {}; }

}  // namespace

TemplateCollection& ProgramTemplates() {
  static TemplateCollection collection;
  return collection;
}

void AddWindowTemplateReader(WindowTemplateServices& services) {
  services.read = &ReadProgramTemplates;
  services.release = &ReleaseProgramTemplates;
}

}  // namespace qv
