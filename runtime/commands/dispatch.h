// Hooks that other runtime areas install into the command library's service entry.
#pragma once

namespace qv {

// Releases an ObjectHolder (its interface reference and the holder block). The automation support
// installs it; until then the release service frees nothing. Pass null to remove it.
using ObjectHolderReleaser = void (*)(void* holder);
void SetObjectHolderReleaser(ObjectHolderReleaser releaser);

}  // namespace qv
