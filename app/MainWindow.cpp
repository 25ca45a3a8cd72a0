#include "MainWindow.h"

#include "NameEncodingMenu.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "AppState.h"
#include "MessageWindow.h"
#include "MinimizeName.h"

namespace {

constexpr int kLabelMargin = 291;  // window width not given to the archive-name label
const char* const kCaption = "Vell Tessera 4";
const char* const kHeaders[6] = {"File Name", "Compr. Size", "Uncmpr. Size", "Date/Time", "Ratio", "Path"};
constexpr int kColWidths[6] = {178, 91, 105, 108, 53, 251};
constexpr int kRatioCol = 4;

QPushButton* Button(const char* caption) {
  auto* b = new QPushButton(caption);
  b->setAutoDefault(false);
  return b;
}

// The number in front of the '%' of a ratio cell; false for any other text.
bool RatioValue(const QString& s, long long& value) {
  const QChar* p = s.constData();
  const QChar* end = p + s.size();
  while (p < end && *p == ' ') ++p;
  bool negative = false;
  if (p < end && *p == '-') negative = true, ++p;
  const QChar* digits = p;
  long long v = 0;
  while (p < end && p->unicode() >= '0' && p->unicode() <= '9' && p - digits < 18)
    v = v * 10 + (p->unicode() - '0'), ++p;
  if (p == digits) return false;
  while (p < end && *p == ' ') ++p;
  if (p == end || *p != '%') return false;
  value = negative ? -v : v;
  return true;
}

// Ratio cells by their number: "5% " before "45% " before "100% ". Called for every
// comparison of a sort, so it reads the texts in place.
int RatioCompare(const QString& a, const QString& b) {
  long long x = 0, y = 0;
  const bool okA = RatioValue(a, x), okB = RatioValue(b, y);
  if (okA != okB) return okA ? 1 : -1;  // texts that are no ratio come first
  if (!okA) return QString::compare(a, b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

TSortOptions SortOptionsFor(int col, TSortOptions options) {
  if (col == kRatioCol) {
    options.SortStyle = TSortStyle::ssCustom;
    options.SortCompare = RatioCompare;
    options.SortCaseSensitive = true;  // digits have no case: the texts need no upper-casing
  } else if (options.SortStyle == TSortStyle::ssAutomatic) {
    // The window knows what each column holds: no need to look at every cell first.
    constexpr TSortStyle kStyles[6] = {TSortStyle::ssAlphabetic, TSortStyle::ssNumeric, TSortStyle::ssNumeric,
                                       TSortStyle::ssDateTime,   TSortStyle::ssCustom,  TSortStyle::ssAlphabetic};
    if (col >= 0 && col < 6) options.SortStyle = kStyles[col];
  }
  return options;
}

}  // namespace

std::string ElapsedText(uint32_t start, uint32_t end) {
  const uint32_t d = end - start;
  const uint32_t s = d / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u", s / 60, s % 60);
  return text;
}

uint32_t TickCount() {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string CountMessage(int count, const char* verb) {
  return std::to_string(count) + " file" + (count == 1 ? " was" : "s were") + verb;
}

QString RatioText(uint64_t packed, uint64_t unpacked) {
  if (unpacked == 0) return QStringLiteral("0% ");
  // nearbyint rounds halves to the even neighbour in the default rounding mode.
  const double r = std::nearbyint((1.0 - double(packed) / double(unpacked)) * 100.0);
  return QString::number(static_cast<long long>(r)) + QStringLiteral("% ");
}

bool IsExeName(const std::string& name) {
  const std::string ext = std::filesystem::path(name).extension().string();
  return QString::fromStdString(ext).toUpper() == QLatin1String(".EXE");
}

// ---- construction ----

TMainform::TMainform(AppUi& ui, const QString& archive) : componentUi_(*this), Marlin1(&componentUi_), ui_(ui) {
  ui_.SetOwner(this);
  setWindowTitle(kCaption);
  setAcceptDrops(true);
  BuildControls();
  SetUpMarlin();
  SetUpGrid();
  resize(620, 426);
  LoadSettings();
  FormCreate(archive);
}

TMainform::~TMainform() {
  // The opened and dragged entries go with the program.
  if (private_) QDir::setCurrent(QDir::homePath());
  private_.reset();
  // FormDestroy: the libraries go with the window.
  TMarlin::UnloadKilnLib();
  TMarlin::UnloadSluiceLib();
  ui_.SetOwner(nullptr);
}

void TMainform::BuildControls() {
  auto* central = new QWidget;
  setCentralWidget(central);

  ZipOpenBut = Button("&Open Zip");
  NewZipBut = Button("&New Zipfile");
  DeleteZipBut = Button("Destroy Zipfile");
  auto* left = new QVBoxLayout;
  left->addWidget(ZipOpenBut);
  left->addWidget(NewZipBut);
  left->addWidget(DeleteZipBut);
  left->addStretch(1);

  AddBut = Button("&Add  to Zip");
  ExtractBut = Button("&Extract from Zip");
  ConvertBut = Button("&Convert to EXE");
  TestBut = Button("&Test Zip");
  DeleteBut = Button("&Delete From Zip");
  MsgBut = Button("&Show Msgs");
  auto* centre = new QGridLayout;
  centre->addWidget(AddBut, 0, 0);
  centre->addWidget(ExtractBut, 0, 1);
  centre->addWidget(ConvertBut, 1, 0);
  centre->addWidget(TestBut, 1, 1);
  centre->addWidget(DeleteBut, 2, 0);
  centre->addWidget(MsgBut, 2, 1);

  CloseBut = Button("E&xit");
  VerboseCB = new QCheckBox("Verbose");
  TraceCB = new QCheckBox("Trace");
  UnattendedCB = new QCheckBox("Unattended");
  FilesLabel = new QLabel("0");
  FilesLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* filesRow = new QHBoxLayout;
  filesRow->setSpacing(4);
  filesRow->addWidget(FilesLabel, 1);
  filesRow->addWidget(new QLabel("files"));
  auto* right = new QVBoxLayout;
  right->setSpacing(2);
  right->addWidget(CloseBut);
  right->addWidget(VerboseCB);
  right->addWidget(TraceCB);
  right->addWidget(UnattendedCB);
  right->addLayout(filesRow);

  auto* band = new QHBoxLayout;
  band->addLayout(left);
  band->addSpacing(8);
  band->addLayout(centre, 1);
  band->addSpacing(8);
  band->addLayout(right);

  TimeLabel = new QLabel("00:00");
  TimeLabel->setMinimumWidth(40);
  ZipFName = new QLabel("<none>");
  ZipFName->setTextFormat(Qt::PlainText);
  QFont bold = ZipFName->font();
  bold.setBold(true);
  ZipFName->setFont(bold);
  auto* status = new QHBoxLayout;
  status->addSpacing(8);
  status->addWidget(new QLabel("Time:"));
  status->addWidget(TimeLabel);
  status->addSpacing(12);
  status->addWidget(new QLabel("Zipfile:"));
  status->addWidget(ZipFName);
  status->addStretch(1);

  StringGrid1 = new TSortGrid;

  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->setSpacing(4);
  layout->addLayout(band);
  layout->addLayout(status);
  layout->addWidget(StringGrid1, 1);

  // Tab order within each group, top to bottom.
  QWidget* order[] = {ZipOpenBut, NewZipBut, DeleteZipBut, AddBut, ExtractBut, ConvertBut, TestBut,
                      DeleteBut, MsgBut, CloseBut, VerboseCB, TraceCB, UnattendedCB, StringGrid1};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  QMenu* file = menuBar()->addMenu("&File");
  RecentMenu = file->addMenu("&Recent Archives");
  file->addSeparator();
  Exit1 = file->addAction("E&xit");
  ViewMenu = menuBar()->addMenu("&View");
  Showlasterror1 = ViewMenu->addAction("Last error");
  Zipcomment1 = ViewMenu->addAction("Zip comment");
  DLLversioninfo1 = ViewMenu->addAction("DLL version info");
  NameMenu = new NameEncodingMenu(ViewMenu, Marlin1, [this](const std::string& text) { ShowMessage(text); });
  BuildEntryMenu();

  connect(ZipOpenBut, &QPushButton::clicked, this, [this] { ZipOpenButClick(); });
  connect(NewZipBut, &QPushButton::clicked, this, [this] { NewZipButClick(); });
  connect(DeleteZipBut, &QPushButton::clicked, this, [this] { DeleteZipButClick(); });
  connect(AddBut, &QPushButton::clicked, this, [this] { AddButClick(); });
  connect(ExtractBut, &QPushButton::clicked, this, [this] { ExtractButClick(); });
  connect(ConvertBut, &QPushButton::clicked, this, [this] { ConvertButClick(); });
  connect(TestBut, &QPushButton::clicked, this, [this] { TestButClick(); });
  connect(DeleteBut, &QPushButton::clicked, this, [this] { DeleteButClick(); });
  connect(MsgBut, &QPushButton::clicked, this, [this] { MsgButClick(); });
  connect(CloseBut, &QPushButton::clicked, this, [this] { CloseButClick(); });
  connect(Exit1, &QAction::triggered, this, [this] { CloseButClick(); });
  connect(Showlasterror1, &QAction::triggered, this, [this] { Showlasterror1Click(); });
  connect(Zipcomment1, &QAction::triggered, this, [this] { Zipcomment1Click(); });
  connect(DLLversioninfo1, &QAction::triggered, this, [this] { DLLversioninfo1Click(); });
  connect(VerboseCB, &QCheckBox::clicked, this, [this] { Marlin1.SetVerbose(VerboseCB->isChecked()); });
  connect(TraceCB, &QCheckBox::clicked, this, [this] { Marlin1.SetTrace(TraceCB->isChecked()); });
  connect(UnattendedCB, &QCheckBox::clicked, this, [this] { Marlin1.SetUnattended(UnattendedCB->isChecked()); });
  // The Exit button is the window's cancel button.
  auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(esc, &QShortcut::activated, this, [this] { CloseBut->animateClick(); });

  ZipOpenBut->setFocus();
}

void TMainform::SetUpMarlin() {
  Marlin1.SetVerbose(false);
  Marlin1.SetTrace(false);
  Marlin1.SetAddCompLevel(9);
  Marlin1.SetAddOptions({});
  Marlin1.SetExtrOptions({});
  Marlin1.SetUnattended(false);
  Marlin1.SetSFXPath("Stubby.bin");
  Marlin1.SetSFXOverWriteMode(OvrOpts::OvrConfirm);
  Marlin1.SetSFXCaption("Self Extracting Archive");
  Marlin1.SetKeepFreeOnDisk1(0);
  Marlin1.SetDLLDirectory("");
  Marlin1.OnDirUpdate = [this](TMarlin*) { Marlin1DirUpdate(); };
  Marlin1.OnProgress = [this](TMarlin*, ProgressType t, const std::string& name, int64_t size) {
    Marlin1Progress(t, name, size);
  };
  Marlin1.OnMessage = [this](TMarlin*, int code, const std::string& text) { Marlin1Message(code, text); };
}

void TMainform::SetUpGrid() {
  TSortGrid& g = *StringGrid1;
  g.SetColCount(6);
  g.SetFixedCols(0);
  g.SetRowCount(2);
  g.SetFixedRows(1);
  g.SetFooterRows(1);
  g.SetDefaultRowHeight(22);
  for (int c = 0; c < 6; ++c) g.SetColWidths(c, kColWidths[c]);
  g.SetOptions({TGridOption::goFixedVertLine, TGridOption::goFixedHorzLine, TGridOption::goHorzLine,
                TGridOption::goRangeSelect, TGridOption::goRowSelect, TGridOption::goColSizing,
                TGridOption::goThumbTracking});
  g.SetSortOnClick(true);
  g.SetSortSymbol(TSortSymbol::sgGlyph);
  g.SetSortColumn(0);
  g.SetCaseSensitive(false);
  g.SetProportionalScrollBars(true);
  g.SetExtendedKeys(false);
  g.SetAlignmentHorz(TAlignment::taLeftJustify);
  g.SetAlignmentVert(TVertAlignment::taTopJustify);
  g.SetFont(TFont(QFont("Arial", 9)));
  QFont footer("Arial", 9);
  footer.setBold(true);
  g.SetFooterFont(TFont(footer, Qt::red));
  g.OnGetCellFormat = [](TSortGrid*, int col, int row, TGridDrawState, TFormatOptions& format) {
    if (row != 0 && col != 0 && col != 5) format.AlignmentHorz = TAlignment::taRightJustify;
  };
  g.OnEndSort = [this](TSortGrid*, int) { ShowTotals(); };
  g.installEventFilter(this);
  g.viewport()->installEventFilter(this);
  g.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&g, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const TGridCoord cell = StringGrid1->MouseCoord(at.x(), at.y());
    const int footer = StringGrid1->RowCount() - 1;
    if (cell.Y < StringGrid1->FixedRows() || cell.Y >= footer) return;
    // A right click on a row outside the selection selects that row.
    if (!StringGrid1->RowSelected(cell.Y)) StringGrid1->FocusCell(0, cell.Y, true);
    EntryMenu->popup(StringGrid1->viewport()->mapToGlobal(at));
  });
  // The ratio texts are no numbers to the grid's detection: that column sorts by its own rule.
  g.OnClickSort = [](TSortGrid*, int col, int, TSortOptions& options) { options = SortOptionsFor(col, options); };
}

void TMainform::FormCreate(const QString& archive) {
  StringGrid1->SetRowCount(2);
  for (int c = 0; c < 6; ++c) StringGrid1->SetCells(c, 0, kHeaders[c]);
  Marlin1.LoadKilnLib();
  Marlin1.LoadSluiceLib();
  // Absolute: an extract changes the current folder, and the name must still hold after it.
  if (!archive.isEmpty()) {
    Marlin1.SetZipFilename(QFileInfo(archive).absoluteFilePath().toStdString());
    if (QFileInfo(archive).isFile()) RememberArchive(QFileInfo(archive).absoluteFilePath());
  }
}

// ---- naming the archive ----

void TMainform::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  FormResize();
}

void TMainform::FormResize() {
  ZipFName->setFixedWidth(std::max(width() - kLabelMargin, 0));
  SetZipFName(Marlin1.ZipFilename(), false);
}

void TMainform::SetZipFName(const std::string& name, bool assign) {
  if (assign && name != Marlin1.ZipFilename() && NameMenu) NameMenu->ArchiveChanged();
  if (assign) Marlin1.SetZipFilename(name);
  const QString full = QString::fromStdString(Marlin1.ZipFilename());
  UpdateTitle();
  if (full.isEmpty()) {
    ZipFName->setText("<none>");
    ZipFName->setToolTip({});
    return;
  }
  const QFontMetrics metrics(ZipFName->font());
  const int room = ZipFName->width();
  ZipFName->setText(MinimizeName(full, metrics, room, MountPointOf(full)));
  ZipFName->setToolTip(metrics.horizontalAdvance(full) > room ? full : QString());
}

void TMainform::GetSpecialFolder(std::string& path) {
  QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  // Many Linux accounts have no desktop folder; their home folder stands in for it.
  if (!QFileInfo(desktop).isDir()) desktop = QDir::homePath();
  if (desktop.isEmpty() || desktop.size() > 260 || !QFileInfo(desktop).isDir()) return;
  path = desktop.toStdString();
  if (path.back() != '/') path += '/';
}

bool TMainform::AskDirDialog(QWidget* owner, std::string& folder) {
  const QString chosen = ui_.AskFolder(owner, "Please specify a directory", QString::fromStdString(folder));
  if (chosen.isEmpty() || chosen.size() > 260) return false;
  folder = chosen.toStdString();
  if (folder.back() != '/') folder += '/';
  return true;
}

static std::string FolderOf(const QString& file) {
  std::string dir = QFileInfo(file).absolutePath().toStdString();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

void TMainform::ZipOpenButClick() {
  if (OpenDir.empty()) GetSpecialFolder(OpenDir);
  FileDialogRequest r;
  r.Title = "Open Existing ZIP File";
  r.Directory = QString::fromStdString(OpenDir);
  r.Filter = "ZIP Files (*.ZIP, *.EXE) (*.zip *.exe *.ZIP *.EXE)";
  r.MustExist = true;
  const QString chosen = ui_.AskFileName(this, r);
  if (chosen.isEmpty()) return;
  OpenArchive(chosen);
}

void TMainform::OpenArchive(const QString& file) {
  OpenDir = FolderOf(file);
  SetZipFName(QFileInfo(file).absoluteFilePath().toStdString(), true);
  RememberArchive(QFileInfo(file).absoluteFilePath());
}

void TMainform::NewZipButClick() {
  if (NewDir.empty()) GetSpecialFolder(NewDir);
  FileDialogRequest r;
  r.Title = "Create New ZIP File";
  r.Directory = QString::fromStdString(NewDir);
  r.Filter = "ZIP Files (*.ZIP) (*.zip *.ZIP)";
  r.DefaultSuffix = "Zip";
  r.MustExist = false;
  const QString chosen = ui_.AskFileName(this, r);
  if (chosen.isEmpty()) return;
  NewDir = FolderOf(chosen);
  const std::string name = QFileInfo(chosen).absoluteFilePath().toStdString();
  if (QFileInfo::exists(chosen)) {
    if (!AskYesNo("Overwrite Existing File: " + name + "?", true)) return;
    QFile::remove(chosen);  // a failure shows when the archive is listed
  }
  SetZipFName(name, true);
}

void TMainform::DeleteZipButClick() {
  const std::string name = Marlin1.ZipFilename();
  const QString qname = QString::fromStdString(name);
  if (name.empty() || !QFileInfo(qname).isFile()) {
    ShowMessage("Zip file not found: " + name);
    return;
  }
  if (!AskYesNo("Are you sure you want to delete: " + name + "?", true)) return;
  // Into the trash, as the conversions do; only where there is none, deleted for good.
  if (Marlin1.RemoveFile(name, DeleteOpts::htdAllowUndo) != 0 && QFileInfo::exists(qname)) {
    if (QFile::remove(qname))
      ShowMessage("There is no trash for " + name + ": it was deleted for good.");
    else
      ShowMessage("Could not delete " + name);
  }
  if (QFileInfo::exists(qname)) return;
  SetZipFName("", true);
}

void TMainform::dragEnterEvent(QDragEnterEvent* e) {
  const QMimeData* data = e->mimeData();
  // Rows dragged out of this window are not dropped back into its own archive.
  if (e->source() == StringGrid1) return;
  if (data->hasUrls() && !data->urls().isEmpty() && data->urls().first().isLocalFile())
    e->acceptProposedAction();
}

void TMainform::dropEvent(QDropEvent* e) {
  if (e->source() == StringGrid1) return;
  const QList<QUrl> urls = e->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  e->acceptProposedAction();
  if (Marlin1.ZipFilename().empty()) {
    OpenArchive(urls.first().toLocalFile());
    return;
  }
  QStringList paths;
  for (const QUrl& url : urls)
    if (url.isLocalFile()) paths << url.toLocalFile();
  // Handled once the drag has ended: the add runs its own event processing.
  QTimer::singleShot(0, this, [this, paths] { AddDropped(paths); });
}

// ---- grid ----

void TMainform::Marlin1DirUpdate() {
  FillGrid();
  // A conversion or a spanned add renames the archive: the label and title follow.
  SetZipFName(Marlin1.ZipFilename(), false);
  FilesLabel->setText(QString::number(Marlin1.EntryCount()));
  ConvertBut->setText(IsExeName(Marlin1.ZipFilename()) ? "Convert to ZIP" : "&Convert to EXE");
}

void TMainform::FillGrid() {
  TSortGrid& g = *StringGrid1;
  g.ClearFrom(1);
  const int count = Marlin1.EntryCount();
  g.SetRowCount(count + 2);
  if (count == 0) return;
  TotUncomp = 0;
  TotComp = 0;
  {
    // Archives repeat their folders, dates, ratios and small sizes many times over: each
    // text is made once and shared by its cells, which saves both time and memory.
    const QLocale locale;
    QHash<uint32_t, QString> dates;
    QHash<QString, QString> paths;
    QHash<uint64_t, QString> sizes;
    QHash<long long, QString> ratios;
    auto sizeText = [&sizes](uint64_t v) {
      auto it = sizes.find(v);
      if (it == sizes.end()) it = sizes.insert(v, QString::number(v));
      return *it;
    };
    const auto& contents = Marlin1.Contents();
    ZipDirEntry e;
    for (int i = 0; i < count; ++i) {
      contents.Get(size_t(i), e);
      const int row = i + 1;
      const QString name = QString::fromStdString(e.EntryName);
      const int slash = name.lastIndexOf('/');
      g.SetCells(0, row, name.mid(slash + 1));
      g.SetCells(1, row, sizeText(e.PackedSize64));
      g.SetCells(2, row, sizeText(e.UnpackedSize64));
      auto date = dates.find(e.ModDateTime);
      if (date == dates.end()) {
        const DosDateTime d = DosDateTime::FromPacked(e.ModDateTime);
        const QDate day(d.Year, d.Month, d.Day);
        const QTime time(d.Hour, d.Minute, d.Second);
        QString text;
        if (day.isValid() && time.isValid())
          text = locale.toString(day, QLocale::ShortFormat) + "  " + locale.toString(time, QLocale::ShortFormat);
        date = dates.insert(e.ModDateTime, text);
      }
      g.SetCells(3, row, *date);
      const QString ratio = RatioText(e.PackedSize64, e.UnpackedSize64);
      long long key = 0;
      RatioValue(ratio, key);
      auto r = ratios.find(key);
      if (r == ratios.end()) r = ratios.insert(key, ratio);
      g.SetCells(4, row, *r);
      if (slash >= 0) {
        const QString path = name.left(slash + 1);
        auto p = paths.find(path);
        if (p == paths.end()) p = paths.insert(path, path);
        g.SetCells(5, row, *p);
      }
      TotUncomp += e.UnpackedSize64;
      TotComp += e.PackedSize64;
    }
  }
  TSortOptions options;
  options.SortStyle = TSortStyle::ssAutomatic;
  options.SortDirection = TSortDirection::sdAscending;
  options.SortCaseSensitive = false;
  g.SortByColumn(g.SortColumn(), SortOptionsFor(g.SortColumn(), options));
  g.SetRow(1);
  FitColumns();
}

void TMainform::FitColumns() {
  TSortGrid& g = *StringGrid1;
  const QFontMetrics fm(g.Font());
  const QFontMetrics header(g.font());
  // Room for the text's margins, and in the header for the sort symbol beside it.
  constexpr int kTextRoom = 10, kSymbolRoom = 24;
  const QLocale locale;
  // Every month's short name at its widest day and time: dates of any entry fit.
  int date = 0;
  for (int month = 1; month <= 12; ++month)
    date = std::max(date, fm.horizontalAdvance(locale.toString(QDate(2088, month, 28), QLocale::ShortFormat) + "  " +
                                               locale.toString(QTime(23, 58, 58), QLocale::ShortFormat)));
  const int footer = g.RowCount() - 1;
  const int needed[6] = {0, fm.horizontalAdvance(g.Cells(1, footer)), fm.horizontalAdvance(g.Cells(2, footer)), date,
                         fm.horizontalAdvance("-100% "), 0};
  for (int c = 1; c <= 4; ++c) {
    const int width = std::max({kColWidths[c], needed[c] + kTextRoom, header.horizontalAdvance(kHeaders[c]) + kSymbolRoom});
    if (g.ColWidths(c) < width) g.SetColWidths(c, width);
  }
}

void TMainform::UpdateTitle() {
  const QString name = QFileInfo(QString::fromStdString(Marlin1.ZipFilename())).fileName();
  setWindowTitle(name.isEmpty() ? QString(kCaption) : name + QString::fromUtf8(" \u2014 ") + kCaption);
}

void TMainform::ShowTotals() {
  TSortGrid& g = *StringGrid1;
  const int row = g.RowCount() - 1;
  g.SetCells(0, row, "Total");
  g.SetCells(1, row, QString::number(TotComp));
  g.SetCells(2, row, QString::number(TotUncomp));
  g.SetCells(4, row, TotUncomp != 0 ? RatioText(TotComp, TotUncomp) : QStringLiteral("0 % "));
  g.SetCells(5, row, QString());
}

// ---- boxes ----

void TMainform::ShowMessage(const std::string& text) {
  ui_.ShowBox(BoxRequest{text, QCoreApplication::applicationName().toStdString(), BoxButtons::Ok, BoxIcon::None, 0});
}

bool TMainform::AskYesNo(const std::string& text, bool destroys) {
  return ui_.ShowBox(BoxRequest{text, QCoreApplication::applicationName().toStdString(), BoxButtons::YesNo,
                                BoxIcon::Question, destroys ? 1 : 0}) == boxresult::Yes;
}

// ---- what the component asks ----

int ComponentUi::ShowBox(const BoxRequest& box) { return main_.Ui().ShowBox(box); }

bool ComponentUi::AskText(const std::string& caption, const std::string& prompt, std::string& value, bool masked,
                          int maxLength) {
  if (!masked) return main_.Ui().AskText(caption, prompt, value, masked, maxLength);
  // Asked again for the same entry: the answer given did not fit it.
  const std::string shown = prompt == lastPrompt_ ? "The password was wrong.\n" + prompt : prompt;
  lastPrompt_ = prompt;
  if (main_.Ui().AskText(caption, shown, value, masked, maxLength)) return true;
  TMarlin& m = main_.Marlin1;
  if (m.KilnBusy() || m.SluiceBusy()) m.SetCancelRequested(true);
  return false;
}

void ComponentUi::ProcessEvents() { main_.Ui().ProcessEvents(); }

void ComponentUi::SetBusyCursor(bool busy) { main_.Ui().SetBusyCursor(busy); }
