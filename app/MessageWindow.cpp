#include "MessageWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "MainWindow.h"

namespace {
constexpr int kPanel0Width = 110;
constexpr int kPanel1Width = 80;
constexpr int kPanel2Width = 150;
constexpr int kFileBarWidth = 177;

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

  FileBeingZipped = new QLabel("File being manipulated");
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
  Button1 = new QPushButton("&Dismiss this Window");
  Button2->setAutoDefault(false);
  Button1->setAutoDefault(false);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(Button2);
  bottom->addSpacing(40);
  bottom->addWidget(Button1);
  bottom->addStretch(1);

  StatusBar1 = new QStatusBar;
  StatusPanel0 = new QLabel;
  StatusPanel0->setFixedWidth(kPanel0Width);
  StatusPanel1 = new QLabel;
  StatusPanel1->setFixedWidth(kPanel1Width);
  auto* panel2 = new QWidget;  // drawn over by the batch bar
  panel2->setMinimumWidth(kPanel2Width);
  StatusBar1->addWidget(StatusPanel0);
  StatusBar1->addWidget(StatusPanel1);
  StatusBar1->addWidget(panel2, 1);
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setStyleSheet("QStatusBar::item { border: none; }");

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 0);
  layout->addLayout(top);
  layout->addWidget(RichEdit1, 1);
  layout->addLayout(bottom);
  layout->addWidget(StatusBar1);

  connect(Button1, &QPushButton::clicked, this, [this] { DismissButClick(); });
  connect(Button2, &QPushButton::clicked, this, [this] { CancelButClick(); });

  resize(663, 429);
  FormCreate();
  main_.AttachMsgform(this);
}

void TMsgform::FormCreate() {
  ProgressBar2 = MakeBar(StatusBar1);
  OrigWidth = width();
  FormResize();
}

void TMsgform::FormResize() {
  ProgressBar2->setGeometry(kPanel0Width + 0 + kPanel1Width + 2, 2,
                            std::max(StatusBar1->width() - kPanel0Width - kPanel1Width - 18, 0),
                            std::max(StatusBar1->height() - 2, 2));
  ProgressBar1->setFixedWidth(std::max(width() - OrigWidth + kFileBarWidth, 0));
}

void TMsgform::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  if (ProgressBar2) {
    // The status bar takes its new size in the layout pass that follows.
    FormResize();
    QTimer::singleShot(0, this, [this] { FormResize(); });
  }
}

void TMsgform::ClearLog() { RichEdit1->clear(); }

void TMsgform::AppendLine(const QString& text) {
  QString line = text;
  line.replace("\r\n", "\n");
  line.replace('\r', '\n');
  RichEdit1->appendPlainText(line);
}

void TMsgform::PostScrollCaret() {
  QTimer::singleShot(0, RichEdit1, [edit = RichEdit1] {
    edit->moveCursor(QTextCursor::End);
    edit->ensureCursorVisible();
  });
}

void TMsgform::ShowModeless() {
  show();
  raise();
  activateWindow();
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
