// The main window's small rules: times, counts, ratios, shortened names, and the real
// message box answered by a timer.

#include "AppTestSupport.h"

TEST(MainRules, ElapsedCountsAndRatios) {
  EXPECT_EQ(ElapsedText(1000, 1000 + 59999), "00:59");
  EXPECT_EQ(ElapsedText(1000, 1000 + 60000), "01:00");
  EXPECT_EQ(ElapsedText(5, 5 + 2 * 3600 * 1000), "120:00");
  EXPECT_EQ(ElapsedText(0xFFFFF000u, 0x00001000u), "00:08");  // the tick counter wrapped

  EXPECT_EQ(RatioText(3, 8), "62% ");  // 62.5: halves go to the even neighbour
  EXPECT_EQ(RatioText(1, 8), "88% ");  // 87.5
  EXPECT_EQ(RatioText(102, 100), "-2% ");
  EXPECT_EQ(RatioText(0, 0), "0% ");
  // Sizes past 4 GiB stay exact.
  EXPECT_EQ(RatioText(uint64_t(3) << 31, uint64_t(3) << 32), "50% ");

  EXPECT_FALSE(IsExeName("/a.exe/b.zip"));
}

TEST_F(AppTest, MinimizeNameCutsLeadingFoldersThenTheMountPoint) {
  const QFontMetrics fm(QFont("Arial", 9));
  const QString path = "/media/usb/alpha/beta/gamma/archive.zip";
  EXPECT_EQ(MinimizeName(path, fm, 10000, "/media/usb"), path);
  auto fit = [&](const QString& text) { return MinimizeName(path, fm, fm.horizontalAdvance(text), "/media/usb"); };
  EXPECT_EQ(fit("/media/usb/.../gamma/archive.zip"), "/media/usb/.../gamma/archive.zip");
  EXPECT_EQ(fit("/media/usb/.../archive.zip"), "/media/usb/.../archive.zip");
  EXPECT_EQ(MinimizeName(path, fm, 1, "/media/usb"), ".../archive.zip");
  // On the root file system there is no mount point to keep.
  EXPECT_EQ(MinimizeName("/home/u/x.zip", fm, fm.horizontalAdvance("/.../x.zip"), ""), "/.../x.zip");
}

TEST_F(AppTest, RealMessageBoxReturnsTheButtonPressed) {
  QtAppUi real;
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Really?");
    QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
  });
  EXPECT_EQ(real.ShowBox(BoxRequest{"Really?", "Tessera 4", BoxButtons::YesNo, BoxIcon::Question, 0}), boxresult::Yes);
  // A question that defaults to No gives No its focus too, and Enter takes it.
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    EXPECT_EQ(box->focusWidget(), box->button(QMessageBox::No));
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_EQ(real.ShowBox(BoxRequest{"Delete?", "Tessera 4", BoxButtons::YesNo, BoxIcon::Question, 1}), boxresult::No);
  QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
  EXPECT_EQ(real.ShowBox(BoxRequest{"Really?", "Tessera 4", BoxButtons::YesNo, BoxIcon::Question, 0}), boxresult::No);

  // A password is typed masked and cut at the length the libraries take.
  QTimer::singleShot(0, [] {
    auto* edit = QApplication::activeModalWidget()->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    QTest::keyClicks(edit, QString(90, 'p'));
    QTest::keyClick(edit, Qt::Key_Return);
  });
  std::string password;
  EXPECT_TRUE(real.AskText("Password", "Password for a.txt", password, true, 80));
  EXPECT_EQ(password, std::string(80, 'p'));
}
