// Test helper: observes and dismisses the message boxes a test provokes, so that error paths run
// unattended. In death tests the box is seen in the child; the helper writes what it saw to stderr,
// where the parent's EXPECT_EXIT matcher reads it.
#pragma once

#include <string>

#include "platform/ui/ui.h"

namespace qvtest {

// Dismisses every box with OK and prints "BOX[caption|type]" and the text (as UTF-8) to stderr.
void DismissBoxesAndReport();

// The marker line DismissBoxesAndReport prints for a box, as a regular expression fragment.
std::string BoxMarker(const std::string& captionUtf8, unsigned type);

}  // namespace qvtest
