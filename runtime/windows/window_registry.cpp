#include "runtime/windows/window_registry.h"

#include <algorithm>
#include <vector>

namespace qv {
namespace {

// All windows live on the main thread; the list is small and kept in load order.
std::vector<LoadedWindow*>& Windows() {
  static std::vector<LoadedWindow*> windows;
  return windows;
}

}  // namespace

void RegisterLoadedWindow(LoadedWindow* window) {
  auto& list = Windows();
  if (window && std::find(list.begin(), list.end(), window) == list.end()) list.push_back(window);
}

void UnregisterLoadedWindow(LoadedWindow* window) { std::erase(Windows(), window); }

LoadedWindow* FindLoadedWindow(uint32_t windowId) {
  for (LoadedWindow* w : Windows())
    if (w->WindowId() == windowId) return w;
  return nullptr;
}

bool AnyWindowLoaded() { return !Windows().empty(); }

}  // namespace qv
