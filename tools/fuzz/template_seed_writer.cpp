// Writes a small seed corpus for template_reader_fuzz: collections made by the writer, from an empty
// index to two windows with every unit kind. Usage: template_seed_writer <directory>
#include <cstdio>
#include <string>

#include "runtime/windows/window_template.h"

// Texts are spelled as GBK bytes: clang, which builds the fuzz targets, has no GBK execution set.

namespace {

qv::UnitRecord Control(uint32_t type, const char* name, int32_t left, uint32_t flags, qv::TemplateBytes data) {
  qv::UnitRecord r;
  r.typeId = type;
  r.name = name;
  r.left = left;
  r.top = 8;
  r.width = 96;
  r.height = 24;
  r.flags = flags;
  r.mousePointer = {0, 0, 0, 0};
  r.componentData = std::move(data);
  return r;
}

qv::TemplateBytes WithFont(size_t fontLength) {
  qv::TemplateBytes d = {2, 0, 0, 0, 1, 0, 0, 0};
  d.push_back(static_cast<uint8_t>(fontLength));
  d.insert(d.end(), 3, 0);
  d.insert(d.end(), fontLength, 0x20);
  const std::string text = "\xB2\xE9\xD1\xAF";  // 查询
  d.push_back(static_cast<uint8_t>(text.size()));
  d.insert(d.end(), 3, 0);
  d.insert(d.end(), text.begin(), text.end());
  return d;
}

qv::TemplateCollection Collection(int variant) {
  qv::TemplateCollection c;
  if (variant == 0) return c;
  qv::WindowTemplate& w = c.windows.emplace_back();
  w.windowId = 0x52010001;
  w.valueA = 0x009C086C;
  w.valueB = 0x19010006;
  qv::UnitRecord window = Control(0x00010001, "", 50, 1, {6, 0, 0, 0});
  window.events = {{0, 0x10, {}}, {3, -1, {}}};
  w.units.push_back({0x06010000, window});
  if (variant == 1) return c;

  qv::UnitRecord frame = Control(0x0001000F, "\xB7\xD6\xD7\xE9\xBF\xF2", 8, 5, WithFont(59));
  frame.childIds = {0x16010003};
  frame.tag = "\xB1\xEA\xBC\xC7";
  w.units.push_back({0x16010002, frame});
  qv::UnitRecord edit = Control(0x00010005, "\xB1\xE0\xBC\xAD\xBF\xF2_\xCC\xE2\xC4\xBF", 64, 7, WithFont(60));
  edit.containerId = 0x16010002;
  edit.events = {{-1, 0x20, {}}, {0, -1, {}}};
  edit.mousePointer = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3};
  w.units.push_back({0x16010003, edit});
  w.units.push_back({0x26010004, qv::RawUnitRecord{{'M', 0, 1, 0, 0, 0}}});
  if (variant == 2) return c;

  qv::WindowTemplate& second = c.windows.emplace_back();
  second.windowId = 0x52010002;
  second.text1 = "\xB6\xFE";
  second.units.push_back({0x06010000, Control(0x00010001, "", 0, 0, {})});
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  for (int variant = 0; variant < 4; ++variant) {
    std::optional<qv::TemplateBytes> bytes = qv::WriteTemplateCollection(Collection(variant));
    if (!bytes) return 1;
    const std::string path = std::string(argv[1]) + "/seed" + std::to_string(variant);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes->data(), 1, bytes->size(), f) != bytes->size()) return 1;
    std::fclose(f);
  }
  return 0;
}
