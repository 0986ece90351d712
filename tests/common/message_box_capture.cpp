#include "common/message_box_capture.h"

#include <cstdio>

#include "common/gbk_print.h"

namespace qvtest {

void DismissBoxesAndReport() {
  win::SetMessageBoxHookForTesting([](const win::MessageBoxSeen& box) {
    std::fprintf(stderr, "BOX[%s|%u]\n%s\nEND-BOX\n", GbkToUtf8ForDisplay(box.caption).c_str(), box.type,
                 GbkToUtf8ForDisplay(box.text).c_str());
    std::fflush(stderr);
    return win::IDOK;
  });
}

std::string BoxMarker(const std::string& captionUtf8, unsigned type) {
  return "BOX\\[" + captionUtf8 + "\\|" + std::to_string(type) + "\\]";
}

}  // namespace qvtest
