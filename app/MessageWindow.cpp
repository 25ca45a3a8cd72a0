#include "MessageWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "AppState.h"
#include "ElidedLabel.h"
#include "MainWindow.h"

namespace {
constexpr int kPanel0Width = 110;
constexpr int kPanel1Width = 80;
constexpr int kFileBarWidth = 177;
constexpr int kGap = 8;  // between the main window and this one

QProgressBar* MakeBar(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(1, 10001);
  bar->setValue(1);
  bar->setTextVisible(false);  // a smooth bar, no percentage
  return bar;
}
}  // namespace

TMsgform::TMsgform(TMainform& main) : QDialog(&main), main_(main) {
  setWindowTitle("Zip Messages");
  setFont(QFont("Arial", 9));
  setModal(false);

  FileBeingZipped = new ElidedLabel("File being manipulated");
  FileBeingZipped->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  ProgressBar1 = MakeBar(this);
  ProgressBar1->setFixedWidth(kFileBarWidth);
  auto* top = new QHBoxLayout;
  top->addWidget(FileBeingZipped, 1);
  top->addWidget(ProgressBar1);

  RichEdit1 = new QPlainTextEdit;
  RichEdit1->setFont(QFont("Courier New", 10));
  RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
  RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  Button2 = new QPushButton("&Cancel Operation");
  // Alt+D is the main window's Delete: this window must not answer to it, nor the main
  // window to this one's key.
  Button1 = new QPushButton("D&ismiss this Window");
  Button2->setAutoDefault(false);
  Button1->setAutoDefault(false);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(Button2);
  bottom->addSpacing(40);
  bottom->addWidget(Button1);
  bottom->addStretch(1);

  // The panels grow with their text (sizes and counts differ in length by locale and
  // archive); the batch bar takes what is left.
  StatusBar1 = new QStatusBar;
  StatusPanel0 = new QLabel;
  StatusPanel0->setMinimumWidth(kPanel0Width);
  StatusPanel1 = new QLabel;
  StatusPanel1->setMinimumWidth(kPanel1Width);
  StatusBar1->addWidget(StatusPanel0);
  StatusBar1->addWidget(StatusPanel1);
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setStyleSheet("QStatusBar::item { border: none; }");

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 0);
  layout->addLayout(top);
  layout->addWidget(RichEdit1, 1);
  layout->addLayout(bottom);
  layout->addWidget(StatusBar1);
  // The window keeps the size the user gives it: its content never raises its minimum.
  layout->setSizeConstraint(QLayout::SetNoConstraint);
  setMinimumSize(bottom->minimumSize().width() + 12, 160);

  connect(Button1, &QPushButton::clicked, this, [this] { DismissButClick(); });
  connect(Button2, &QPushButton::clicked, this, [this] { CancelButClick(); });
  refreshTimer_.setSingleShot(true);
  connect(&refreshTimer_, &QTimer::timeout, this, [this] { Refresh(); });

  resize(663, 429);
  FormCreate();
  const QSize remembered = TesseraSettings().value("messages/size").toSize();
  if (remembered.isValid()) resize(remembered.expandedTo(minimumSize()));
  main_.AttachMsgform(this);
}

void TMsgform::FormCreate() {
  ProgressBar2 = MakeBar(StatusBar1);
  ProgressBar2->setMinimumWidth(40);
  StatusBar1->addWidget(ProgressBar2, 1);
  OrigWidth = width();
  FormResize();
}

void TMsgform::FormResize() {
  // The file bar grows and shrinks with the window; the batch bar follows the status bar.
  ProgressBar1->setFixedWidth(std::max(width() - OrigWidth + kFileBarWidth, 40));
}

void TMsgform::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  if (ProgressBar2) FormResize();
}

// ---- pending reports ----

void TMsgform::ShowFileName(const QString& name) {
  pending_.File = name;
  RefreshSoon();
}

void TMsgform::ShowFileBar(int value) {
  pending_.FileBar = value;
  RefreshSoon();
}

void TMsgform::ShowBatchBar(int value) {
  pending_.BatchBar = value;
  RefreshSoon();
}

void TMsgform::ShowPanel0(const QString& text) {
  pending_.Panel0 = text;
  RefreshSoon();
}

void TMsgform::ShowPanel1(const QString& text) {
  pending_.Panel1 = text;
  RefreshSoon();
}

void TMsgform::AppendLine(const QString& text) {
  QString line = text;
  line.replace("\r\n", "\n");
  line.replace('\r', '\n');
  pending_.Lines << line;
  RefreshSoon();
}

void TMsgform::PostScrollCaret() {
  pending_.Scroll = true;
  RefreshSoon();
}

void TMsgform::RefreshSoon() {
  // The first report after a quiet spell shows at once; the rest wait for the next turn.
  if (!sinceRefresh_.isValid() || sinceRefresh_.elapsed() >= kRefreshMs) {
    Refresh();
    return;
  }
  if (!refreshTimer_.isActive()) refreshTimer_.start(int(kRefreshMs - sinceRefresh_.elapsed()));
}

void TMsgform::Refresh() {
  refreshTimer_.stop();
  sinceRefresh_.start();
  Pending p = std::move(pending_);
  pending_ = {};
  if (p.File) FileBeingZipped->SetFullText(*p.File);
  if (p.FileBar) ProgressBar1->setValue(*p.FileBar);
  if (p.BatchBar) ProgressBar2->setValue(*p.BatchBar);
  if (p.Panel0) StatusPanel0->setText(*p.Panel0);
  if (p.Panel1) StatusPanel1->setText(*p.Panel1);
  // One insertion for all lines: the log lays itself out once, not once per line.
  if (!p.Lines.isEmpty()) RichEdit1->appendPlainText(p.Lines.join('\n'));
  if (p.Scroll) {
    // The last line in view from its start: long names keep their beginning in sight.
    RichEdit1->moveCursor(QTextCursor::End);
    RichEdit1->moveCursor(QTextCursor::StartOfBlock);
    RichEdit1->ensureCursorVisible();
  }
}

void TMsgform::ClearLog() {
  pending_.Lines.clear();
  RichEdit1->clear();
}

// ---- showing and hiding ----

void TMsgform::PlaceBesideMain() {
  const QWidget& owner = main_;
  QScreen* screen = owner.screen();
  if (!screen) return;
  const QRect avail = screen->availableGeometry();
  const QRect ownerFrame = owner.frameGeometry();
  // Before it is first shown the window's frame is not known: take the main window's.
  const QSize frameExtra = ownerFrame.size() - owner.size();
  const QSize wanted = size() + frameExtra;
  const QSize least = minimumSize() + frameExtra;
  // The room on each side of the main window, and the window as large as fits there.
  struct Side {
    QRect room;
  };
  const Side sides[] = {
      {QRect(QPoint(ownerFrame.right() + 1 + kGap, avail.top()), avail.bottomRight())},
      {QRect(avail.topLeft(), QPoint(ownerFrame.left() - 1 - kGap, avail.bottom()))},
      {QRect(QPoint(avail.left(), ownerFrame.bottom() + 1 + kGap), avail.bottomRight())},
      {QRect(avail.topLeft(), QPoint(avail.right(), ownerFrame.top() - 1 - kGap))}};
  QRect best;
  long long bestArea = 0;
  for (const Side& side : sides) {
    const QSize fits = wanted.boundedTo(side.room.size());
    if (fits.width() < least.width() || fits.height() < least.height()) continue;
    // Beside the main window's top (or left) edge where that fits, else against the far edge.
    QRect r(side.room.topLeft(), fits);
    const bool besideX = side.room.left() > ownerFrame.left() || side.room.right() < ownerFrame.right();
    if (besideX)
      r.moveTop(std::clamp(ownerFrame.top(), side.room.top(), side.room.bottom() + 1 - fits.height()));
    else
      r.moveLeft(std::clamp(ownerFrame.left(), side.room.left(), side.room.right() + 1 - fits.width()));
    if (side.room.right() < ownerFrame.left()) r.moveRight(side.room.right());
    if (side.room.bottom() < ownerFrame.top()) r.moveBottom(side.room.bottom());
    const long long area = (long long)fits.width() * fits.height();
    if (area > bestArea) best = r, bestArea = area;
    if (fits == wanted) break;
  }
  if (bestArea == 0) {
    // No room beside it anywhere: at least keep the main window's buttons in sight.
    best = QRect(QPoint(ownerFrame.left(), ownerFrame.bottom() + 1 - wanted.height()), wanted);
    best.moveTop(std::clamp(best.top(), avail.top(), std::max(avail.top(), avail.bottom() + 1 - wanted.height())));
    best.moveLeft(std::clamp(best.left(), avail.left(), std::max(avail.left(), avail.right() + 1 - wanted.width())));
  }
  if (best.size() != wanted) resize(best.size() - frameExtra);
  move(best.topLeft());
  placed_ = true;
}

void TMsgform::ShowModeless() {
  Refresh();
  const bool wasHidden = !isVisible();
  if (wasHidden && (!placed_ || frameGeometry().intersects(main_.frameGeometry()))) PlaceBesideMain();
  show();
  raise();
  activateWindow();
  // The work that follows lets events through only now and then: on a real display the
  // window is mapped and drawn before it starts, or it stays blank for its first second.
  if (!wasHidden || QGuiApplication::platformName() == "offscreen") return;
  QElapsedTimer waited;
  waited.start();
  while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < 250)
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
  repaint();
}

void TMsgform::DismissButClick() { hide(); }

void TMsgform::CancelButClick() {
  TMarlin& marlin = main_.Marlin1;
  if (marlin.KilnBusy() || marlin.SluiceBusy())
    marlin.SetCancelRequested(true);  // the library stops at its next callback
  else
    hide();
}

void TMsgform::closeEvent(QCloseEvent* e) {
  // The title bar only hides the window; it never cancels an operation.
  e->accept();
}
