// The start-up benchmark's peer: the least a Qt Widgets program does to show one empty window of
// the main window's size. It reports its first paint the way the probe's hook does: a call queued
// from the paint, which runs after Qt has flushed the painted picture to the screen.
#include <QApplication>
#include <QWidget>
#include <cstdio>

#include "bench/startup/startup_report.h"

namespace {

class EmptyWindow : public QWidget {
 public:
  explicit EmptyWindow(int reportFd) : m_reportFd(reportFd) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    if (m_reported) return;
    m_reported = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          const QSize outer = frameGeometry().size();
          qvbench::ReportPaintedAndExit(m_reportFd, outer.width(), outer.height());
        },
        Qt::QueuedConnection);
  }

 private:
  int m_reportFd;
  bool m_reported = false;
};

}  // namespace

int main(int argc, char** argv) {
  const int reportFd = qvbench::StartupReportFd();
  if (reportFd < 0) {
    std::fprintf(stderr, "startup_peer: run by startup_bench (%s names no open descriptor)\n",
                 qvbench::kReportFdVariable);
    return 2;
  }
  QApplication application(argc, argv);
  EmptyWindow window(reportFd);
  window.resize(442, 262);
  window.show();
  return application.exec();
}
