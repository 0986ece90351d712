// The program's one action: the click handler of the query button. It reads the question, the
// course, chapter and type boxes and the platform radio boxes of the main window, posts them to the
// answer service and writes what the service's JSON reply says into the answer box.
#pragma once

namespace quorvane {

// Bound to the click of 按钮_查询 in the main window's template. Takes no arguments and reports
// nothing: whatever the exchange yields ends up in the answer box.
void QueryButtonClick();

}  // namespace quorvane
