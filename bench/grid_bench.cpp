// Grid benchmark: TSortGrid against a QSortFilterProxyModel over a QStandardItemModel
// holding the same texts, with 200,000 rows of archive-like entries in 6 columns;
// then painting and scrolling at 200 and at 200,000 rows. Run through bench/grid.sh
// [ROWS] [LOCALE] (en_US unless named).

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

#include "SortGrid.h"

namespace {

constexpr int kCols = 6;
constexpr int kRepeats = 3;

std::vector<QStringList> MakeRows(int n) {
  std::mt19937 rng(12345);
  const QLocale locale;
  const char* const parts[] = {"report", "photo", "setup", "Readme", "notes", "backup", "Ärger", "data", "image", "zeta"};
  const char* const exts[] = {".txt", ".jpg", ".exe", ".md", ".zip", ".png"};
  const QDateTime base(QDate(2015, 1, 1), QTime(0, 0));
  std::vector<QStringList> rows;
  rows.reserve(n);
  for (int i = 0; i < n; ++i) {
    const qint64 size = rng() % 50000000;
    const qint64 packed = size * (rng() % 100) / 100;
    const QString name = QString("%1_%2%3").arg(parts[rng() % 10]).arg(rng() % 100000).arg(exts[rng() % 6]);
    const QDateTime when = base.addSecs(static_cast<qint64>(rng() % (9 * 365 * 86400)));
    rows.push_back({name, QString::number(size), QString::number(packed),
                    locale.toString(when, QLocale::ShortFormat),
                    QString("%1%").arg(size ? 100 - packed * 100 / size : 0),
                    QString("dir%1/sub%2").arg(rng() % 50).arg(rng() % 20)});
  }
  return rows;
}

// With TESSERA_BENCH_CPU set, the thread's processor time rather than the wall clock:
// steadier on a machine others are using too.
const bool kCpuTime = qEnvironmentVariableIsSet("TESSERA_BENCH_CPU");

double Ms(const std::function<void()>& work) {
  if (kCpuTime) {
    timespec a{}, b{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    work();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    return (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6;
  }
  QElapsedTimer t;
  t.start();
  work();
  return t.nsecsElapsed() / 1e6;
}

double Best(const std::function<void()>& prepare, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < kRepeats; ++i) {
    prepare();
    best = std::min(best, Ms(work));
  }
  return best;
}

void Row(const char* what, double grid, double proxy) {
  std::printf("| %-28s | %10.1f | %10.1f | %5.2fx |\n", what, grid, proxy, proxy / grid);
}

// Microseconds per repaint of the whole viewport, and per scroll step with repaint.
std::pair<double, double> PaintAndScroll(int rows) {
  TSortGrid grid;
  grid.SetColCount(kCols);
  grid.SetRowCount(rows + 1);
  const auto data = MakeRows(std::min(rows, 2000));
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < kCols; ++c) grid.SetCells(c, r + 1, data[r % data.size()][c]);
  grid.resize(800, 600);
  grid.show();
  QApplication::processEvents();
  constexpr int kSteps = 300;
  const double paint = Ms([&] {
    for (int i = 0; i < kSteps; ++i) grid.viewport()->repaint();
  });
  QScrollBar* bar = grid.verticalScrollBar();
  const double scroll = Ms([&] {
    for (int i = 0; i < kSteps; ++i) {
      bar->setValue(static_cast<int>(static_cast<long long>(bar->maximum()) * ((i * 7919) % kSteps) / kSteps));
      grid.viewport()->repaint();
    }
  });
  return {paint * 1000 / kSteps, scroll * 1000 / kSteps};
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // The rows' dates and times are written, and read back, in this locale.
  QLocale::setDefault(argc > 2 ? QLocale(QString::fromLocal8Bit(argv[2])) : QLocale(QLocale::English, QLocale::UnitedStates));
  const int n = argc > 1 ? std::atoi(argv[1]) : 200000;
  const auto rows = MakeRows(n);
  std::printf("Grid benchmark: %d rows x %d columns, locale %s, best of %d (ms%s)\n\n", n, kCols,
              qPrintable(QLocale().name()), kRepeats, kCpuTime ? " of processor time" : "");
  std::printf("| %-28s | %10s | %10s | %6s |\n", "operation", "TSortGrid", "proxy", "ratio");
  std::printf("|------------------------------|------------|------------|--------|\n");

  TSortGrid grid;
  QStandardItemModel model;
  const double gridFill = Best([&] { grid.SetRowCount(1); }, [&] {
    grid.SetColCount(kCols);
    grid.SetRowCount(n + 1);
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < kCols; ++c) grid.SetCells(c, r + 1, rows[r][c]);
  });
  const double modelFill = Best([&] { model.clear(); }, [&] {
    model.setColumnCount(kCols);
    model.setRowCount(n);
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < kCols; ++c) model.setItem(r, c, new QStandardItem(rows[r][c]));
  });
  Row("fill", gridFill, modelFill);

  QSortFilterProxyModel proxy;
  proxy.setSourceModel(&model);
  proxy.rowCount();  // build the proxy's mapping before timing
  struct Case {
    const char* name;
    int column;
  };
  for (const Case& k : {Case{"sort number column (Size)", 1}, Case{"sort date-time column", 3},
                        Case{"sort text column (Name)", 0}}) {
    const double g = Best([&] { grid.Unsort(); }, [&] { grid.SortByColumn(k.column); });
    const double p = Best([&] { proxy.sort(-1); }, [&] { proxy.sort(k.column, Qt::AscendingOrder); });
    Row(k.name, g, p);
  }
  {
    const double g = Best([&] { grid.Unsort(); grid.SortByColumn(0); }, [&] { grid.Unsort(); });
    const double p = Best([&] { proxy.sort(0, Qt::AscendingOrder); }, [&] { proxy.sort(-1); });
    Row("unsort", g, p);
  }
  {
    grid.Unsort();
    proxy.sort(-1);
    proxy.setSortLocaleAware(true);
    const double g = Best([&] { grid.Unsort(); }, [&] { grid.SortByColumn(0); });
    const double p = Best([&] { proxy.sort(-1); }, [&] { proxy.sort(0, Qt::AscendingOrder); });
    Row("sort text (locale proxy)", g, p);
  }

  std::printf("\nPainting and scrolling (microseconds per full repaint of an 800x600 grid)\n\n");
  std::printf("| %-10s | %10s | %12s |\n", "rows", "repaint", "scroll+paint");
  std::printf("|------------|------------|--------------|\n");
  for (int count : {200, 200000}) {
    const auto [paint, scroll] = PaintAndScroll(count);
    std::printf("| %10d | %10.0f | %12.0f |\n", count, paint, scroll);
  }
  return 0;
}
