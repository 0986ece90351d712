// Test helper: a callback queued on the thread's event queue, to see whether a routine let pending
// events run. Qt's headers cannot be compiled for GBK texts, so it lives in a UTF-8 file.
#pragma once

#include <functional>

namespace qvtest {

// Queues the callback (the application object must exist) and returns a reader of how often it
// has run.
std::function<int()> QueueCountingCallback();

}  // namespace qvtest
