// The dialogs and the message window: state kept between uses, their own rules, and the
// progress handler's bars.

#include "AppTestSupport.h"

TEST_F(AppTest, AddDialogListOptionsAndVolumeSettings) {
  const std::string src = *tmp / "files";
  QDir().mkpath(QString::fromStdString(src));
  for (const char* n : {"m.txt", "Z.txt", "b.txt"}) testfiles::WriteFile(src + "/" + n, n);
  Start();
  TAddForm& add = *windows->AddForm;
  add.show();
  add.DirectoryListBox1->SetDirectory(QString::fromStdString(src));
  EXPECT_EQ(add.DriveComboBox1->Drive().toStdString(), MountPointOf(QString::fromStdString(src)).toStdString() + "/");
  ASSERT_EQ(add.FileListBox1->count(), 3);
  // Choosing another volume shows its folders; coming back is as choosing any folder.
  for (int i = 0; i < add.DriveComboBox1->count(); ++i) {
    const QString root = add.DriveComboBox1->itemData(i).toString();
    if (root == add.DriveComboBox1->Drive() || !QFileInfo(root).isReadable()) continue;
    add.DriveComboBox1->setCurrentIndex(i);
    EXPECT_EQ(add.DirectoryListBox1->Directory(), QDir::cleanPath(root));
    EXPECT_EQ(add.FileListBox1->Directory(), add.DirectoryListBox1->Directory());
    add.DirectoryListBox1->SetDirectory(QString::fromStdString(src));
    break;
  }
  ASSERT_EQ(add.FileListBox1->count(), 3);

  // A specification differing only in case is not added.
  add.SelectedList->addItem(QString::fromStdString(src + "/M.TXT"));
  add.FileListBox1->item(1)->setSelected(true);  // m.txt
  add.AddFileButClick();
  EXPECT_EQ(add.SelectedList->count(), 1);
  EXPECT_TRUE(Canceled);  // pressing an add button counts as cancelled until confirmed
  EXPECT_FALSE(add.FileListBox1->item(1)->isSelected());

  // Remove with nothing selected does nothing; after Sort, new items go in order.
  add.RemoveButClick();
  EXPECT_EQ(add.SelectedList->count(), 1);
  add.SelectAllButClick();
  add.AddFileButClick();
  ASSERT_EQ(add.SelectedList->count(), 3);  // M.TXT, b.txt, Z.txt
  EXPECT_EQ(add.SelectedList->item(1)->text().toStdString(), src + "/b.txt");  // appended as listed
  add.SortButClick();
  EXPECT_FALSE(add.SortBut->isEnabled());
  EXPECT_EQ(add.SelectedList->item(0)->text().toStdString(), src + "/b.txt");
  EXPECT_EQ(add.SelectedList->item(2)->text().toStdString(), src + "/Z.txt");
  add.AddDirButClick();
  EXPECT_EQ(add.SelectedList->item(0)->text().toStdString(), src + "/*.*");  // '*' sorts first
  testfiles::WriteFile(src + "/c.txt", "c");
  add.FileListBox1->Update();
  ASSERT_EQ(add.FileListBox1->item(1)->text(), "c.txt");
  add.FileListBox1->item(1)->setSelected(true);
  add.AddFileButClick();
  ASSERT_EQ(add.SelectedList->count(), 5);
  EXPECT_EQ(add.SelectedList->item(2)->text().toStdString(), src + "/c.txt");

  // Span disk enables the volume buttons; their input boxes store at once, 0 for no number.
  EXPECT_FALSE(add.VolSizeBut->isEnabled());
  QTest::mouseClick(add.DiskSpanCB, Qt::LeftButton);
  EXPECT_TRUE(add.VolSizeBut->isEnabled());
  EXPECT_TRUE(add.FreeDisk1But->isEnabled());
  ui.Texts = {"1457664"};
  QTest::mouseClick(add.VolSizeBut, Qt::LeftButton);
  QTest::mouseClick(add.VolSizeBut, Qt::LeftButton);  // cancelled: unchanged
  EXPECT_EQ(Main().Marlin1.MaxVolumeSize(), 1457664);
  ui.Texts = {"lots", "4096"};
  QTest::mouseClick(add.VolSizeBut, Qt::LeftButton);
  QTest::mouseClick(add.FreeDisk1But, Qt::LeftButton);
  EXPECT_EQ(Main().Marlin1.MaxVolumeSize(), 0);
  EXPECT_EQ(Main().Marlin1.KeepFreeOnDisk1(), 4096);
  EXPECT_EQ(ui.TextCaptions.back(), "Keep free on Disk");
  QTest::mouseClick(add.DiskSpanCB, Qt::LeftButton);
  EXPECT_FALSE(add.VolSizeBut->isEnabled());
  EXPECT_EQ(Main().Marlin1.KeepFreeOnDisk1(), 4096);

  // The action menu: the chosen item is checked, bold and named on the button.
  add.Add1Click(add.Freshen1);
  EXPECT_EQ(add.Action, 3);
  EXPECT_EQ(add.AddBtn->text(), "Action: Freshen");
  EXPECT_TRUE(add.Freshen1->font().bold());
  EXPECT_FALSE(add.Add1->font().bold());

  // Closing by the title bar cancels, even when no add button was pressed.
  add.close();
  Canceled = false;
  WhenDialogOpens([&] { add.close(); });
  QTest::mouseClick(Main().AddBut, Qt::LeftButton);  // no archive named
  EXPECT_EQ(ui.LastBox(), "Error - open a zip file first");
  Main().Marlin1.SetZipFilename(*tmp / "never.zip");
  ui.Boxes.clear();
  QTest::mouseClick(Main().AddBut, Qt::LeftButton);
  EXPECT_TRUE(Canceled);
  EXPECT_TRUE(ui.Boxes.empty());
  EXPECT_FALSE(Exists(*tmp / "never.zip"));
}

TEST_F(AppTest, SelfExtractorDialogBrowsesAndKeepsItsState) {
  Start();
  TMakeSFX& sfx = *windows->MakeSFX;
  EXPECT_TRUE(sfx.FileListCB->isChecked());
  EXPECT_EQ(sfx.DirectoryEdit->text(), "");
  ui.Folders = {"/"};
  QTest::mouseClick(sfx.BitBtn1, Qt::LeftButton);
  EXPECT_EQ(sfx.DirectoryEdit->text(), "/");
  ui.Folders = {QString::fromStdString(tmp->Path().string())};
  QTest::mouseClick(sfx.BitBtn1, Qt::LeftButton);
  EXPECT_EQ(sfx.DirectoryEdit->text().toStdString(), tmp->Path().string() + "/");
  QTest::mouseClick(sfx.BitBtn1, Qt::LeftButton);  // cancelled: unchanged
  EXPECT_EQ(sfx.DirectoryEdit->text().toStdString(), tmp->Path().string() + "/");

  // A title-bar close after an earlier "Do It Now" does not convert.
  WhenDialogOpens([&] { QTest::mouseClick(sfx.ExecBut, Qt::LeftButton); });
  sfx.exec();
  EXPECT_TRUE(Main().DoIt);
  EXPECT_EQ(Main().Marlin1.SFXDefaultDir(), tmp->Path().string() + "/");
  WhenDialogOpens([&] { sfx.close(); });
  sfx.exec();
  EXPECT_FALSE(Main().DoIt);
}

TEST_F(AppTest, MessageWindowBarsFollowTheWindowAndTheProgress) {
  Start();
  TMainform& m = Main();
  TMsgform& w = *windows->Msgform;
  m.MsgButClick();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QCoreApplication::processEvents();
  EXPECT_EQ(w.windowTitle(), "Zip Messages");
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
