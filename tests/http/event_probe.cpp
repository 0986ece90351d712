#include "event_probe.h"

#include <QCoreApplication>
#include <QTimer>

#include <memory>

namespace qvtest {

std::function<int()> QueueCountingCallback() {
  auto runs = std::make_shared<int>(0);
  QTimer::singleShot(0, QCoreApplication::instance(), [runs] { ++*runs; });
  return [runs] { return *runs; };
}

}  // namespace qvtest
