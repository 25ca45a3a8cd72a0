// Opening a large archive in the desktop program's windows, as from the command line:
// the time until the grid has painted its first rows sorted with totals, and the time of
// a header click that sorts by another column. Run by bench/app_open.sh under GNU time.

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>
#include <cstdio>
#include <ctime>

#include "AppUi.h"
#include "MainWindow.h"
#include "SortGrid.h"
#include "TesseraWindows.h"

namespace {

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Answers nothing: a box during the run is a failure of the benchmark.
class SilentUi : public QtAppUi {
 public:
  int boxes = 0;
  int ShowBox(const BoxRequest& box) override {
    ++boxes;
    std::fprintf(stderr, "box: %s\n", box.Text.c_str());
    return boxresult::Ok;
  }
};

class PaintWatch : public QObject {
 public:
  bool painted = false;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) painted = true;
    return false;
  }
};

double WaitForPaint(QWidget* viewport, PaintWatch& watch, const QElapsedTimer& clock) {
  while (!watch.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  (void)viewport;
  return clock.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: app_bench ARCHIVE\n");
    return 2;
  }
  QElapsedTimer clock;
  clock.start();
  QApplication app(argc, argv);
  SetUpApplication();
  SilentUi ui;
  const double appReady = clock.nsecsElapsed() / 1e6;

  TesseraWindows windows(ui, QString::fromLocal8Bit(argv[1]));
  TMainform& m = *windows.Mainform;
  const double opened = clock.nsecsElapsed() / 1e6;
  const double openedCpu = CpuMs();
  PaintWatch watch;
  m.StringGrid1->viewport()->installEventFilter(&watch);
  m.show();
  const double shown = WaitForPaint(m.StringGrid1->viewport(), watch, clock);
  const double shownCpu = CpuMs();
  const TSortGrid& g = *m.StringGrid1;
  const bool ok = g.RowCount() > 2 && g.Cells(0, g.RowCount() - 1) == "Total";

  // A click on the "Uncmpr. Size" header, and on "Ratio", until the grid painted again.
  double sorts[2], sortsCpu[2];
  const int cols[2] = {2, 4};
  for (int i = 0; i < 2; ++i) {
    watch.painted = false;
    QElapsedTimer t;
    t.start();
    const double cpu0 = CpuMs();
    QTest::mouseClick(m.StringGrid1->viewport(), Qt::LeftButton, {}, g.CellRect(cols[i], 0).center());
    sorts[i] = WaitForPaint(m.StringGrid1->viewport(), watch, t);
    sortsCpu[i] = CpuMs() - cpu0;
  }

  // Where the opening time goes: reading the directory, filling the cells, sorting.
  QElapsedTimer part;
  double c = CpuMs();
  m.Marlin1.OnDirUpdate = nullptr;
  m.Marlin1.List();
  const double listing = CpuMs() - c;
  m.StringGrid1->SetSortColumn(0);
  m.StringGrid1->OnEndSort = nullptr;
  c = CpuMs();
  m.FillGrid();
  const double fillSort = CpuMs() - c;
  c = CpuMs();
  m.StringGrid1->SortByColumn(0);
  const double sortOnly = CpuMs() - c;

  std::printf("entries %d\n", m.Marlin1.EntryCount());
  std::printf("                      wall ms   cpu ms\n");
  std::printf("application ready   %8.1f\n", appReady);
  std::printf("windows + open+fill %8.1f %8.1f\n", opened, openedCpu);
  std::printf("first rows painted  %8.1f %8.1f (from program start)\n", shown, shownCpu);
  std::printf("header sort (size)  %8.1f %8.1f\n", sorts[0], sortsCpu[0]);
  std::printf("header sort (ratio) %8.1f %8.1f\n", sorts[1], sortsCpu[1]);
  std::printf("refill parts (cpu): list %.1f, fill + name sort %.1f, name sort again %.1f\n", listing, fillSort,
              sortOnly);
  std::printf("grid ok %s, boxes %d\n", ok ? "yes" : "NO", ui.boxes);
  return ok && ui.boxes == 0 ? 0 : 1;
}
