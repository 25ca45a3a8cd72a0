// The message window in real use: its bars, long names, the pace of its updates, where it
// stands beside the main window and which keys reach which window.

#include <QElapsedTimer>
#include <QKeySequence>
#include <QScreen>
#include <QTextDocument>

#include "AppTestSupport.h"

namespace {

// The Alt key of a caption's '&' letter, as Qt's buttons and menus take it.
QKeySequence Mnemonic(const QString& text) { return QKeySequence::mnemonic(text); }

// The dialogs are children of the main window, but their keys are their own.
bool InDialog(QObject* o) {
  for (; o; o = o->parent())
    if (qobject_cast<QDialog*>(o)) return true;
  return false;
}

}  // namespace

TEST_F(AppTest, MessageWindowBarsFollowTheWindowAndTheProgress) {
  Start();
  TMainform& m = Main();
  TMsgform& w = *windows->Msgform;
  m.MsgButClick();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QCoreApplication::processEvents();
  EXPECT_EQ(w.ProgressBar1->width(), 177);
  const int batch = w.ProgressBar2->width();
  w.resize(w.width() + 100, w.height());
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.ProgressBar1->width() == 277; })) << w.ProgressBar1->width();
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.ProgressBar2->width() == batch + 100; })) << w.ProgressBar2->width();

  m.Marlin1Progress(ProgressType::ProgrTotalSize, "", 10240);
  m.Marlin1Progress(ProgressType::ProgrTotalFiles, "", 2);
  ShowReports();
  EXPECT_EQ(w.StatusPanel0->text(), "Total size: 10 Kb");
  EXPECT_EQ(w.StatusPanel1->text(), "2 files");
  m.Marlin1Progress(ProgressType::ProgrNewFile, "empty.txt", 0);
  m.Marlin1Progress(ProgressType::ProgrUpdate, "", 0);
  ShowReports();
  EXPECT_EQ(w.ProgressBar1->value(), 10001);  // an empty file is done at once
  EXPECT_EQ(w.FileBeingZipped->FullText(), "empty.txt");
  m.Marlin1Progress(ProgressType::ProgrNewFile, "big.bin", 10000);
  m.Marlin1Progress(ProgressType::ProgrUpdate, "", 2500);
  ShowReports();
  EXPECT_EQ(w.ProgressBar1->value(), 2501);
  EXPECT_EQ(w.ProgressBar2->value(), 2500 * 10000 / 10240 + 1);
  m.Marlin1Message(0, "a line for the log");
  Screenshot(&w, "message-window-progress");
  m.Marlin1Progress(ProgressType::ProgrEndOfBatch, "", 0);
  ShowReports();
  EXPECT_EQ(w.FileBeingZipped->FullText(), "");
  EXPECT_EQ(w.StatusPanel0->text(), "");
  EXPECT_EQ(w.ProgressBar2->value(), 1);
  // With no batch size the batch bar stays where it is.
  m.BatchSize = 0;
  w.ProgressBar2->setValue(7);
  m.Marlin1Progress(ProgressType::ProgrUpdate, "", 100);
  ShowReports();
  EXPECT_EQ(w.ProgressBar2->value(), 7);

  // Dismiss hides and keeps the log; Esc with nothing running hides too.
  QTest::mouseClick(w.Button1, Qt::LeftButton);
  EXPECT_FALSE(w.isVisible());
  EXPECT_NE(w.RichEdit1->toPlainText().indexOf("a line for the log"), -1);
  m.MsgButClick();
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(m.Marlin1.CancelRequested());
}

TEST_F(AppTest, LongNamesNeitherWidenTheMessageWindowNorPushItsButtonsAway) {
  Start();
  TMainform& m = Main();
  TMsgform& w = *m.Msgform;
  m.MsgButClick();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.resize(600, 400);
  QCoreApplication::processEvents();
  for (int i = 0; i < 30; ++i) {
    const std::string name = "folder/" + std::string(200, char('a' + i % 26)) + ".txt";
    m.Marlin1Progress(ProgressType::ProgrTotalSize, "", int64_t(987654321987));
    m.Marlin1Progress(ProgressType::ProgrTotalFiles, "", 1234567);
    m.Marlin1Progress(ProgressType::ProgrNewFile, name, 1000);
    m.Marlin1Message(0, "added: " + name);
    ShowReports();
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(w.width(), 600);
  EXPECT_EQ(w.height(), 400);
  EXPECT_LE(w.Button1->geometry().right(), w.width());
  EXPECT_LE(w.Button2->geometry().right(), w.width());
  // The name is cut in its middle, so that both of its ends show.
  const QString shown = w.FileBeingZipped->text();
  EXPECT_TRUE(shown.startsWith("folder/")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(".txt")) << shown.toStdString();
  EXPECT_LE(w.FileBeingZipped->fontMetrics().horizontalAdvance(shown), w.FileBeingZipped->width());
  EXPECT_EQ(w.FileBeingZipped->toolTip().size(), 7 + 200 + 4);
  // The status panels show their whole text ("Kb", not "Kl").
  for (QLabel* panel : {w.StatusPanel0, w.StatusPanel1})
    EXPECT_GE(panel->contentsRect().width(), panel->fontMetrics().horizontalAdvance(panel->text()))
        << panel->text().toStdString();
  EXPECT_TRUE(w.StatusPanel0->text().endsWith(" Kb"));
  Screenshot(&w, "message-window-long-names");

  // Narrowed by the user, it stays as narrow as asked, down to what its buttons need.
  w.resize(450, 300);
  QCoreApplication::processEvents();
  EXPECT_EQ(w.width(), 450);
}

TEST_F(AppTest, ProgressAndLogLinesReachTheWindowInBatches) {
  Start();
  TMainform& m = Main();
  TMsgform& w = *m.Msgform;
  m.MsgButClick();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  int barChanges = 0, logChanges = 0;
  QObject watcher;
  QObject::connect(w.ProgressBar1, &QProgressBar::valueChanged, &watcher, [&] { ++barChanges; });
  QObject::connect(w.RichEdit1->document(), &QTextDocument::contentsChange, &watcher, [&] { ++logChanges; });
  constexpr int kFiles = 3000;
  QElapsedTimer clock;
  clock.start();
  m.Marlin1Progress(ProgressType::ProgrTotalSize, "", kFiles * 100);
  for (int i = 0; i < kFiles; ++i) {
    m.Marlin1Progress(ProgressType::ProgrNewFile, "file" + std::to_string(i), 100);
    m.Marlin1Progress(ProgressType::ProgrUpdate, "", 50);
    m.Marlin1Progress(ProgressType::ProgrUpdate, "", 50);
    m.Marlin1Message(0, "line " + std::to_string(i));
    QCoreApplication::processEvents();
  }
  // However slow the machine, no more than about 25 refreshes a second (and the last).
  const double allowed = 25.0 * double(clock.elapsed()) / 1000.0 + 3;
  ShowReports();
  EXPECT_LE(barChanges, allowed);
  EXPECT_LE(logChanges, allowed);
  // Nothing is lost on the way.
  EXPECT_EQ(w.RichEdit1->document()->blockCount(), kFiles);
  EXPECT_TRUE(w.RichEdit1->toPlainText().endsWith("line " + QString::number(kFiles - 1)));
  EXPECT_EQ(w.ProgressBar1->value(), 10001);
  EXPECT_EQ(w.ProgressBar2->value(), 10001);
}

TEST_F(AppTest, MessageWindowLeavesTheMainWindowInSightAndDismissHasAKeyOfItsOwn) {
  Start();
  TMainform& m = Main();
  TMsgform& w = *m.Msgform;
  const QRect screen = m.screen()->availableGeometry();
  m.resize(screen.width() / 3, screen.height() / 3);
  m.move(screen.topLeft());
  w.resize(screen.width() / 2, screen.height() / 2);
  QCoreApplication::processEvents();
  m.MsgButClick();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_FALSE(w.frameGeometry().intersects(m.frameGeometry()))
      << "main " << m.frameGeometry().x() << "," << m.frameGeometry().y() << " message " << w.frameGeometry().x()
      << "," << w.frameGeometry().y();
  EXPECT_TRUE(screen.contains(w.frameGeometry()));

  // A main window in the middle of the screen leaves less room than the window asks for:
  // it takes what there is, above or below, rather than hide the main window's buttons.
  w.hide();
  m.resize(screen.width() / 2, screen.height() / 3);
  m.move(screen.center() - QPoint(m.frameGeometry().width() / 2, m.frameGeometry().height() / 2));
  w.resize(screen.width() * 3 / 4, screen.height() * 3 / 4);
  QCoreApplication::processEvents();
  m.MsgButClick();
  EXPECT_FALSE(w.frameGeometry().intersects(m.frameGeometry()));
  EXPECT_TRUE(screen.contains(w.frameGeometry()));
  EXPECT_GE(w.height(), w.minimumHeight());

  // Dismiss answers to a letter that no command of the main window uses.
  QSet<QKeySequence> used;
  for (QAbstractButton* b : m.findChildren<QAbstractButton*>())
    if (!InDialog(b)) used.insert(Mnemonic(b->text()));
  for (QAction* a : m.findChildren<QAction*>())
    if (!InDialog(a)) used.insert(Mnemonic(a->text()));
  const QKeySequence dismiss = Mnemonic(w.Button1->text());
  ASSERT_FALSE(dismiss.isEmpty());
  EXPECT_FALSE(used.contains(dismiss)) << dismiss.toString().toStdString();
  EXPECT_NE(dismiss, Mnemonic(w.Button2->text()));
}
