#include "runtime/windows/window_loader.h"

#include <map>
#include <memory>
#include <vector>

#include "runtime/windows/events.h"
#include "runtime/windows/properties.h"
#include "runtime/startup.h"
#include "runtime/windows/window_registry.h"
#include "runtime/windows/window_template.h"

namespace qv {
namespace {

// A loaded window: its components, the window first, and the lookups error reports use.
class LiveForm final : public LoadedWindow {
 public:
  explicit LiveForm(uint32_t windowId) : m_windowId(windowId) {}
  ~LiveForm() override = default;

  uint32_t WindowId() const override { return m_windowId; }
  std::string Tag() const override {
    const UnitRecord* record = WindowRecord();
    return record ? record->tag : std::string();
  }
  std::optional<UnitInfo> FindUnit(uint32_t id) const override {
    const WindowTemplate* t = ProgramTemplates().Find(m_windowId);
    if (t == nullptr) return std::nullopt;
    const Unit* unit = id == 0 ? t->UnitAt(0) : t->FindUnit(id);
    if (unit == nullptr) return std::nullopt;
    const UnitRecord* record = unit->Record();
    return UnitInfo{unit->id, record ? record->tag : std::string()};
  }

  Component* Window() const { return m_components.empty() ? nullptr : m_components.front().get(); }
  void Add(std::unique_ptr<Component> component) { m_components.push_back(std::move(component)); }

  // Forgets the platform windows and empties the live slots of the template's records.
  void Detach() {
    for (auto& component : m_components) component->Forget();
    if (WindowTemplate* t = ProgramTemplates().Find(m_windowId)) {
      for (Unit& unit : t->units) {
        if (UnitRecord* record = unit.Record()) {
          record->liveWindow = nullptr;
          record->liveCursor = nullptr;  // the component destroys its cursor
        }
      }
    }
  }

 private:
  const UnitRecord* WindowRecord() const {
    const WindowTemplate* t = ProgramTemplates().Find(m_windowId);
    const Unit* unit = t ? t->UnitAt(0) : nullptr;
    return unit ? unit->Record() : nullptr;
  }

  uint32_t m_windowId;
  std::vector<std::unique_ptr<Component>> m_components;
};

std::map<uint32_t, std::unique_ptr<LiveForm>>& Forms() {
  static std::map<uint32_t, std::unique_ptr<LiveForm>> forms;
  return forms;
}

LiveForm* FindForm(uint32_t windowId) {
  auto& forms = Forms();
  const auto found = forms.find(windowId);
  return found == forms.end() ? nullptr : found->second.get();
}

// Takes the form out of the loaded windows; false when there was none.
bool DropForm(uint32_t windowId) {
  auto& forms = Forms();
  const auto found = forms.find(windowId);
  if (found == forms.end()) return false;
  std::unique_ptr<LiveForm> form = std::move(found->second);
  forms.erase(found);
  form->Detach();
  UnregisterLoadedWindow(form.get());
  return true;
}

// The last message a loaded window gets: the form goes, and with the last one the message loop.
void OnFormDestroyed(uint32_t windowId) {
  if (DropForm(windowId)) OnRuntimeWindowDestroyed();
}

win::LRESULT FormProcedure(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam) {
  switch (message) {
    case win::WM_COMMAND: {
      Component* control = Component::FromHandle(reinterpret_cast<win::HWND>(lParam));
      if (control != nullptr && win::HIWORD(wParam) == win::BN_CLICKED && control->TypeId() == kButtonComponent)
        RaiseEvent(control->WindowId(), control->UnitId(), 0);  // the button's click
      return 0;
    }
    case win::WM_PAINT: {
      Component* form = Component::FromHandle(window);
      if (form != nullptr && form->Paint()) return 0;
      return win::DefWindowProcA(window, message, wParam, lParam);
    }
    case win::WM_NCDESTROY: {
      // Looked up by handle: the window may already count as gone for the platform here.
      for (auto& [id, form] : Forms()) {
        if (form->Window() != nullptr && form->Window()->Handle() == window) {
          OnFormDestroyed(id);  // erases the entry; the loop goes no further
          break;
        }
      }
      return win::DefWindowProcA(window, message, wParam, lParam);
    }
    default: return win::DefWindowProcA(window, message, wParam, lParam);
  }
}

win::DWORD StyleFromFlags(const UnitRecord& record, bool control) {
  win::DWORD style = record.Disabled() ? win::WS_DISABLED : 0;
  if (control && record.TabStop()) style |= win::WS_TABSTOP;
  return style;
}

const UnitRecord* ComponentRecordAt(const WindowTemplate& t, size_t index) {
  const Unit* unit = t.UnitAt(index);
  return unit != nullptr && unit->Kind() == UnitKind::Component ? unit->Record() : nullptr;
}

// Creates the controls from the last unit to the first; false when one cannot be created.
bool CreateControls(WindowTemplate& t, LiveForm& form, win::HWND parent) {
  int childId = 100;
  for (size_t i = t.units.size(); i-- > 1;) {
    Unit& unit = t.units[i];
    UnitRecord* record = unit.Kind() == UnitKind::Component ? unit.Record() : nullptr;
    if (record == nullptr) continue;  // menu items have no window
    const UnitRecord* before = ComponentRecordAt(t, i - 1);
    ComponentCreation creation{.windowId = t.windowId,
                               .unitId = unit.id,
                               .record = record,
                               .parent = parent,
                               .childId = childId,
                               .style = StyleFromFlags(*record, true),
                               .startsGroup = record->typeId == kRadioBoxComponent &&
                                              (before == nullptr || before->typeId != kRadioBoxComponent)};
    std::unique_ptr<Component> control = CreateComponent(creation, &FormProcedure);
    if (control == nullptr) return false;
    record->liveWindow = control.get();
    form.Add(std::move(control));
    childId += 10;
  }
  return true;
}

Component* LiveOf(const UnitRecord* record) {
  return record != nullptr ? static_cast<Component*>(record->liveWindow) : nullptr;
}

// Moves each control into its container, when it has one that is loaded.
void PlaceInContainers(WindowTemplate& t) {
  for (size_t i = 1; i < t.units.size(); ++i) {
    const UnitRecord* record = ComponentRecordAt(t, i);
    Component* control = LiveOf(record);
    if (control == nullptr || record->containerId == 0) continue;
    const Unit* container = t.FindUnit(record->containerId);
    Component* live = container ? LiveOf(container->Record()) : nullptr;
    if (live != nullptr) win::SetParent(control->Handle(), live->Handle());
  }
}

// Each unit's cursor from its mouse pointer; pointer 0 keeps the class cursor.
void MakePointers(WindowTemplate& t) {
  for (Unit& unit : t.units) {
    UnitRecord* record = unit.Record();
    Component* live = LiveOf(record);
    if (live != nullptr) live->TakePointer(*record);
  }
}

// Unit 1 on top, each further control directly below the nearest earlier one in the same container.
void ArrangeStacking(const WindowTemplate& t) {
  constexpr win::UINT kOnlyOrder = win::SWP_NOMOVE | win::SWP_NOSIZE | win::SWP_NOACTIVATE;
  for (size_t i = 1; i < t.units.size(); ++i) {
    const UnitRecord* record = ComponentRecordAt(t, i);
    Component* control = LiveOf(record);
    if (control == nullptr) continue;
    win::HWND after = win::HWND_TOP;
    for (size_t j = i - 1; j >= 1; --j) {
      const UnitRecord* earlier = ComponentRecordAt(t, j);
      if (LiveOf(earlier) != nullptr && earlier->containerId == record->containerId) {
        after = LiveOf(earlier)->Handle();
        break;
      }
    }
    win::SetWindowPos(control->Handle(), after, 0, 0, 0, 0, kOnlyOrder);
  }
}

// The controls hear each notice from the last unit to the first.
template <typename Notice>
void NotifyControls(WindowTemplate& t, Notice notice) {
  for (size_t i = t.units.size(); i-- > 1;)
    if (Component* control = LiveOf(ComponentRecordAt(t, i))) notice(*control);
}

// Whether the window is the platform window itself or lies inside it.
bool IsWithin(win::HWND window, win::HWND top) {
  for (win::HWND w = window; w != nullptr; w = win::GetParent(w))
    if (w == top) return true;
  return false;
}

bool FormExists(uint32_t windowId) {
  LiveForm* form = FindForm(windowId);
  return form != nullptr && form->Window() != nullptr && form->Window()->Exists();
}

void ReleaseForms() {
  std::vector<win::HWND> windows;
  for (auto& [id, form] : Forms())
    if (form->Window() && form->Window()->Exists()) windows.push_back(form->Window()->Handle());
  for (win::HWND window : windows) win::DestroyWindow(window);
}

WindowTemplateServices& ReaderServices() {
  static WindowTemplateServices services;
  return services;
}

void ReleaseTemplates() {
  ReleaseForms();
  if (ReaderServices().release) ReaderServices().release();
}

}  // namespace

bool LoadProgramWindow(uint32_t windowId) {
  WindowTemplate* t = ProgramTemplates().Find(windowId);
  if (t == nullptr) return false;
  Unit* windowUnit = t->UnitAt(0);
  UnitRecord* windowRecord = windowUnit && windowUnit->Kind() == UnitKind::Window ? windowUnit->Record() : nullptr;
  if (windowRecord == nullptr) return false;

  if (FormExists(windowId)) {
    win::HWND window = FindForm(windowId)->Window()->Handle();
    if (win::IsIconic(window)) {
      win::ShowWindow(window, win::SW_RESTORE);
    } else {
      win::BringWindowToTop(window);
      win::SetForegroundWindow(window);
    }
    return true;
  }
  DropForm(windowId);  // a form whose window went away without notice

  // This program has no menus; menu-item units are left alone.
  ComponentCreation creation{.windowId = windowId,
                             .unitId = windowUnit->id,
                             .record = windowRecord,
                             .style = StyleFromFlags(*windowRecord, false)};
  std::unique_ptr<Component> window = CreateComponent(creation, &FormProcedure);
  if (window == nullptr) return false;
  const win::HWND handle = window->Handle();
  windowRecord->liveWindow = window.get();
  auto form = std::make_unique<LiveForm>(windowId);
  form->Add(std::move(window));
  LiveForm* live = form.get();
  Forms()[windowId] = std::move(form);
  RegisterLoadedWindow(live);

  if (!CreateControls(*t, *live, handle)) {
    win::DestroyWindow(handle);  // takes the form down through its last message
    return false;
  }
  PlaceInContainers(*t);
  MakePointers(*t);
  // Every control is made and in place: the controls hear it, then the window.
  NotifyControls(*t, [](Component& control) { control.OnLoadComplete(); });
  live->Window()->OnLoadComplete();

  for (size_t i = 1; i < t->units.size(); ++i) {
    const UnitRecord* record = ComponentRecordAt(*t, i);
    if (Component* control = LiveOf(record); control != nullptr && record->Visible()) control->Show(true);
  }
  ArrangeStacking(*t);

  const uint32_t windowUnitId = windowUnit->id;  // the template may change inside a handler
  for (int32_t event : {0, 3, 4}) {
    if (!FormExists(windowId)) return true;  // a handler closed it; loading itself succeeded
    RaiseEvent(windowId, windowUnitId, event);
  }
  if (!FormExists(windowId)) return true;
  t = ProgramTemplates().Find(windowId);
  if (t == nullptr) return true;
  if (t->UnitAt(0) && t->UnitAt(0)->Record() && t->UnitAt(0)->Record()->Visible()) win::ShowWindow(handle, win::SW_SHOW);

  // The focus as the window has it once shown. Only a focus inside this window is given back: while
  // the platform has still to move the activation here, the focus may lie in another window (the
  // one whose handler loads this one), and pulling it back there would undo the activation.
  const win::HWND focus = win::GetFocus();
  const bool focusHere = focus != nullptr && IsWithin(focus, handle);
  NotifyControls(*t, [](Component& control) { control.OnWindowUp(); });
  if (focusHere && win::IsWindow(focus) && win::GetFocus() != focus) win::SetFocus(focus);
  return true;
}

void InstallWindowLoader() {
  AddWindowTemplateReader(ReaderServices());
  WindowTemplateServices services = ReaderServices();
  services.create = &LoadProgramWindow;
  services.release = &ReleaseTemplates;
  InstallWindowTemplateServices(services);
  RuntimeEntries().readProperty = &ReadProperty;
  RuntimeEntries().writeProperty = &WriteProperty;
}

Component* FindLiveComponent(uint32_t windowId, uint32_t unitId) {
  WindowTemplate* t = ProgramTemplates().Find(windowId);
  if (t == nullptr) return nullptr;
  Unit* unit = unitId == 0 ? t->UnitAt(0) : t->FindUnit(unitId);
  Component* live = unit != nullptr ? LiveOf(unit->Record()) : nullptr;
  return live != nullptr && live->Exists() ? live : nullptr;
}

win::HWND LoadedWindowHandle(uint32_t windowId) {
  return FormExists(windowId) ? FindForm(windowId)->Window()->Handle() : nullptr;
}

}  // namespace qv
