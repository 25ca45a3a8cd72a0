// TSortGrid: sorting by a column, detection of the comparison kind, the header click
// and undoing the last sort.
//
// Every comparison ends in a tie-break by the rows' previous order, so that the sort
// is stable in both directions. Sort keys (upper-cased text, collation key, number or
// time) are converted once per row rather than on every comparison; where the keys
// form a total order any correct sort gives the one stable result, and the quicksort
// below is kept for the cases that are not (typed keys that did not convert, and the
// caller's own comparison), so that the order is the same there too.

#include <QCollator>
#include <QGuiApplication>
#include <QLocale>
#include <QtDebug>
#include <algorithm>
#include <exception>
#include <thread>

#include "SortGrid.h"
#include "SortGridConversions.h"

namespace {

template <class Compare>
void QuickSort(std::vector<int>& e, int L, int R, const Compare& compare) {
  int I, J;
  do {
    I = L;
    J = R;
    const int P = e[(L + R) / 2];  // the entry itself, which may move while partitioning
    do {
      // The bounds matter only to a comparison that breaks its contract (one that never
      // says "equal", say): it may then give a wrong order, but never reads outside.
      while (I < R && compare(e[I], P) < 0) ++I;
      while (J > L && compare(e[J], P) > 0) --J;
      if (I <= J) {
        std::swap(e[I], e[J]);
        ++I;
        --J;
      }
    } while (I <= J);
    if (L < J) QuickSort(e, L, J, compare);
    L = I;
  } while (I < R);
}

int Sign(long long v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// Plain ASCII digits, as sizes and counts are written: read without the locale's rules,
// which give the same value for them at many times the cost.
bool PlainNumber(QStringView text, long double& value) {
  if (text.isEmpty() || text.size() > 18) return false;
  long long v = 0;
  for (const QChar c : text) {
    if (c.unicode() < '0' || c.unicode() > '9') return false;
    v = v * 10 + (c.unicode() - '0');
  }
  value = static_cast<long double>(v);
  return true;
}

// Runs make(first, last) over [0, n) on two threads when n is large: a busy machine
// gives each thread its share, so the sort keeps pace there too.
template <class Make>
void InHalves(size_t n, const Make& make) {
  constexpr size_t kWorthASecondThread = 20000;
  if (n < kWorthASecondThread) {
    make(size_t(0), n);
    return;
  }
  std::exception_ptr failure;
  std::thread second([&] {
    try {
      make(n / 2, n);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  make(size_t(0), n / 2);
  second.join();
  if (failure) std::rethrow_exception(failure);
}

// The converted keys of one sort and the comparison of two entries by them.
class SortKeys {
 public:
  SortKeys(const TSortedList& entries, const TSortOptions& options) : entries_(entries), options_(options) {
    const size_t n = entries.size();
    const QLocale locale;
    // Not case sensitive: every kind compares the upper-case forms.
    auto text = [&](size_t i) { return options.SortCaseSensitive ? entries[i].Str : locale.toUpper(entries[i].Str); };
    switch (options.SortStyle) {
      case TSortStyle::ssNumeric: {
        const TLocaleFormats formats = TLocaleFormats::FromLocale(QLocale());
        numbers_.resize(n);
        valid_.resize(n);
        for (size_t i = 0; i < n; ++i)
          valid_[i] = PlainNumber(entries[i].Str, numbers_[i]) || TextToNumber(text(i), formats, numbers_[i]);
        break;
      }
      case TSortStyle::ssDateTime:
      case TSortStyle::ssTime: {
        const TLocaleFormats formats = TLocaleFormats::FromLocale(QLocale());
        const bool dateTime = options.SortStyle == TSortStyle::ssDateTime;
        times_.resize(n);
        valid_.resize(n);
        for (size_t i = 0; i < n; ++i)
          valid_[i] = dateTime ? TextToDateTime(text(i), formats, times_[i]) : TextToTime(text(i), formats, times_[i]);
        break;
      }
      case TSortStyle::ssCustom:
        strings_.reserve(n);
        for (size_t i = 0; i < n; ++i) strings_.push_back(text(i));
        break;
      default: {
        // Each half with a collator and a locale of its own: neither is shared between threads.
        std::vector<QCollatorSortKey> second;
        InHalves(n, [&](size_t first, size_t last) {
          QCollator collator{QLocale()};
          collator.setCaseSensitivity(Qt::CaseSensitive);
          const QLocale own;
          std::vector<QCollatorSortKey>& keys = first == 0 ? texts_ : second;
          keys.reserve(last - first);
          for (size_t i = first; i < last; ++i)
            keys.push_back(collator.sortKey(options.SortCaseSensitive ? entries[i].Str : own.toUpper(entries[i].Str)));
        });
        texts_.insert(texts_.end(), std::make_move_iterator(second.begin()), std::make_move_iterator(second.end()));
      }
    }
  }

  // Whether comparing by these keys is a total order once ties go by row number.
  bool Consistent() const {
    if (options_.SortStyle == TSortStyle::ssCustom) return false;
    return std::all_of(valid_.begin(), valid_.end(), [](char v) { return v != 0; });
  }

  // Negative when entry a sorts before entry b.
  int operator()(int a, int b) const {
    if (a == b) return 0;  // an entry equals itself, whatever a caller's function says
    int result = KeyCompare(a, b);
    if (result == 0) return Sign(static_cast<long long>(entries_[a].RowNum) - entries_[b].RowNum);
    return options_.SortDirection == TSortDirection::sdDescending ? -result : result;
  }

 private:
  int KeyCompare(int a, int b) const {
    switch (options_.SortStyle) {
      case TSortStyle::ssNumeric:
        if (!valid_[a] || !valid_[b]) return 0;
        return numbers_[a] < numbers_[b] ? -1 : numbers_[a] > numbers_[b] ? 1 : 0;
      case TSortStyle::ssDateTime:
      case TSortStyle::ssTime:
        if (!valid_[a] || !valid_[b]) return 0;
        return Sign(times_[a] - times_[b]);
      case TSortStyle::ssCustom:
        // Without a function nothing is reordered.
        return options_.SortCompare ? Sign(options_.SortCompare(strings_[a], strings_[b])) : 0;
      default:
        return Sign(texts_[a].compare(texts_[b]));
    }
  }

  const TSortedList& entries_;
  const TSortOptions& options_;
  std::vector<QString> strings_;
  std::vector<QCollatorSortKey> texts_;
  std::vector<long double> numbers_;
  std::vector<int64_t> times_;
  std::vector<char> valid_;
};

}  // namespace

void TSortGrid::SortByColumn(int ACol, TSortOptions Options) {
  if (ACol < 0 || ACol >= ColCount()) return;
  if (EditorMode() || RowCount() <= FixedRows() + 1) return;
  if (Options.SortStyle == TSortStyle::ssAutomatic) Options.SortStyle = DetectSortStyle(ACol);
  if (OnBeginSort) OnBeginSort(this, ACol, Options);
  SortRows(ACol, Options);
  if (OnEndSort) OnEndSort(this, ACol);
}

TSortStyle TSortGrid::DetectSortStyle(int ACol) {
  const TLocaleFormats formats = TLocaleFormats::FromLocale(QLocale());
  bool number = true, time = true, dateTime = true;
  long double n = 0;
  int64_t t = 0;
  for (int r = SortFirstRow(); r <= SortLastRow() && (number || time || dateTime); ++r) {
    const QString text = Cells(ACol, r);
    if (number && !PlainNumber(text, n) && !TextToNumber(text, formats, n)) number = false;
    if (time && !TextToTime(text, formats, t)) time = false;
    if (dateTime && !TextToDateTime(text, formats, t)) dateTime = false;
  }
  if (number) return TSortStyle::ssNumeric;
  if (dateTime) return TSortStyle::ssDateTime;
  if (time) return TSortStyle::ssTime;
  return TSortStyle::ssAlphabetic;
}

void TSortGrid::SortRows(int ACol, const TSortOptions& Options) {
  sorting_ = true;
  struct Finish {
    TSortGrid* grid;
    ~Finish() {
      grid->sorting_ = false;
      grid->sorted_ = true;
    }
  } finish{this};

  sortedList_.clear();
  SetSortDirection(Options.SortDirection);
  sortColumn_ = ACol;

  const int first = SortFirstRow();
  const int last = SortLastRow();
  if (last < first) return;
  const int n = last - first + 1;
  TSortedList entries(n);
  for (int i = 0; i < n; ++i) {
    entries[i].RowNum = first + i;
    entries[i].Str = Cells(ACol, first + i);
  }

  // A failing comparison function leaves the rows and the remembered order untouched.
  std::vector<int> order(n);
  for (int i = 0; i < n; ++i) order[i] = i;
  {
    const SortKeys keys(entries, Options);
    if (keys.Consistent()) std::sort(order.begin(), order.end(), [&](int a, int b) { return keys(a, b) < 0; });
    else QuickSort(order, 0, n - 1, keys);
  }

  sortedList_.resize(n);
  std::vector<int> sources(n);
  int currentAt = -1, rememberedAt = -1;
  for (int i = 0; i < n; ++i) {
    sortedList_[i] = std::move(entries[order[i]]);
    sources[i] = sortedList_[i].RowNum;
    if (sources[i] == Row()) currentAt = i;
    if (sources[i] == editRow_) rememberedAt = i;
  }
  RearrangeRows(first, sources);
  if (rememberedAt >= 0) editRow_ = first + rememberedAt;
  keepMarks_ = true;
  if (currentAt >= 0) MoveToCell(Col(), FixedRows() + currentAt);
  keepMarks_ = false;
}

bool TSortGrid::CanUnsort() {
  const int first = FixedRows();
  const int n = RowCount() - first;
  bool ok = static_cast<int>(sortedList_.size()) == n;
  if (ok) {
    // The remembered rows must still be exactly the rows below the fixed ones.
    std::vector<char> seen(n, 0);
    for (const auto& e : sortedList_) {
      const int k = e.RowNum - first;
      if (k < 0 || k >= n || seen[k]) {
        ok = false;
        break;
      }
      seen[k] = 1;
    }
  }
  if (!ok) sortedList_.clear();
  return ok;
}

void TSortGrid::Unsort() {
  if (CanUnsort()) {
    const int first = FixedRows();
    const int n = static_cast<int>(sortedList_.size());
    std::vector<int> sources(n);
    for (int i = 0; i < n; ++i) sources[sortedList_[i].RowNum - first] = first + i;
    RearrangeRows(first, sources);
    if (editRow_ >= first && editRow_ - first < n) editRow_ = sortedList_[editRow_ - first].RowNum;
    const int index = Row() - first;
    keepMarks_ = true;
    if (index >= 0 && index < n) MoveToCell(Col(), sortedList_[index].RowNum);
    keepMarks_ = false;
    sortedList_.clear();
  }
  sorted_ = false;
}

void TSortGrid::MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, Qt::MouseButtons Held, QPoint Pos) {
  const TGridCoord cell = MouseCoord(Pos.x(), Pos.y());
  const Qt::KeyboardModifiers keys = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
  // A click beyond the last column has no column to sort by.
  if (Focused() && sortOnClick_ && GridState() == TGridState::gsNormal && FixedRows() >= 1 && !(Shift & keys) &&
      Held == Qt::NoButton && cell.Y >= 0 && cell.Y < FixedRows() && cell.X >= 0) {
    TSortOptions options;
    options.SortDirection = Button == Qt::RightButton ? TSortDirection::sdDescending : TSortDirection::sdAscending;
    options.SortCaseSensitive = caseSensitive_;
    // Qt cannot carry an exception through its event loop: a failing handler or
    // comparison ends this sort and is reported here.
    try {
      if (OnClickSort) OnClickSort(this, cell.X, cell.Y, options);
      QGuiApplication::setOverrideCursor(Qt::WaitCursor);
      struct RestoreCursor {
        ~RestoreCursor() { QGuiApplication::restoreOverrideCursor(); }
      } restore;
      SortByColumn(cell.X, options);
    } catch (const std::exception& e) {
      qWarning("Sorting by column %d failed: %s", cell.X, e.what());
    } catch (...) {
      qWarning("Sorting by column %d failed", cell.X);
    }
  }
  TStringGrid::MouseUp(Button, Shift, Held, Pos);
}
