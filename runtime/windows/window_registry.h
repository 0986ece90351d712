// The loaded windows as the rest of the runtime sees them: error reports, the message loop and
// property access look windows up here by id.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qv {

class LoadedWindow {
 public:
  struct UnitInfo {
    uint32_t id = 0;
    std::string tag;  // GBK
  };

  virtual ~LoadedWindow() = default;
  virtual uint32_t WindowId() const = 0;
  virtual std::string Tag() const = 0;  // GBK
  // The unit with that id, or the window's first unit when id is 0.
  virtual std::optional<UnitInfo> FindUnit(uint32_t id) const = 0;
};

void RegisterLoadedWindow(LoadedWindow* window);
void UnregisterLoadedWindow(LoadedWindow* window);
LoadedWindow* FindLoadedWindow(uint32_t windowId);
bool AnyWindowLoaded();

}  // namespace qv
