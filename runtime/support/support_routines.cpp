#include "runtime/support/support_routines.h"

#include <array>

#include "runtime/memory/memory.h"
#include "runtime/startup.h"
#include "runtime/support/find_files.h"
#include "runtime/windows/properties.h"

namespace qv {
namespace {

constexpr size_t kMostArguments = 6;

template <typename T>
T As(intptr_t value) {
  if constexpr (std::is_pointer_v<T>) return reinterpret_cast<T>(value);
  else return static_cast<T>(value);
}

}  // namespace

intptr_t SupportRoutine(int32_t index, int32_t argumentCount, const intptr_t* arguments) {
  std::array<intptr_t, kMostArguments> a{};
  for (int32_t i = 0; arguments != nullptr && i < argumentCount && i < static_cast<int32_t>(a.size()); ++i)
    a[static_cast<size_t>(i)] = arguments[i];
  switch (index) {
    case support::FindFiles:
      return reinterpret_cast<intptr_t>(FindFiles(As<const char*>(a[0]), As<int32_t>(a[1])).Release());
    case support::EndFileSearch: EndFileSearch(); return 0;
    case support::MakeArrayWritable: MakeArrayWritable(As<size_t>(a[0]), As<void**>(a[1])); return 0;
    case support::RegisterAtExit: RegisterCleanup(As<CleanupRoutine>(a[0])); return 0;
    case support::ReadProperty:
      return static_cast<intptr_t>(
          ReadProperty(As<uint32_t>(a[0]), As<uint32_t>(a[1]), As<int32_t>(a[2]), As<int32_t>(a[3])));
    case support::WriteProperty:
      WriteProperty(As<uint32_t>(a[0]), As<uint32_t>(a[1]), As<int32_t>(a[2]), As<int32_t>(a[3]), As<uint32_t>(a[4]),
                    As<uint32_t>(a[5]));
      return 0;
    case support::InitialiseRuntime: {
      const auto* description = As<const ProgramDescription*>(a[0]);
      if (description == nullptr) return 0;
      InitialiseRuntime(*description);
      return 1;
    }
    default: return 0;
  }
}

}  // namespace qv
