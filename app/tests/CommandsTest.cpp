// The archive commands driven through the windows with the real libraries: add, extract,
// test, convert both ways and cancel.

#include "AppTestSupport.h"

TEST_F(AppTest, AddDialogBuildsItsListAndAddsWithEveryAction) {
  const std::string src = Folder(
      "src", {{"a.txt", std::string(3000, 'a')}, {"B.txt", "bee"}, {"c.dat", "sea"}, {"m.txt", "em"}, {"sub/d.txt", "dee"}});
  Start();
  TMainform& m = Main();
  TAddForm& add = *windows->AddForm;
  const std::string zip = *tmp / "new.zip";
  ui.Files.push_back(QString::fromStdString(zip));
  QTest::mouseClick(m.NewZipBut, Qt::LeftButton);
  ASSERT_EQ(m.Marlin1.ZipFilename(), zip);
  EXPECT_EQ(m.StringGrid1->RowCount(), 2);

  // Closing by the title bar cancels, even when no add button was pressed.
  Canceled = false;
  WhenDialogOpens([&] { add.close(); });
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  EXPECT_TRUE(Canceled);

  // Cancelled: no message, no archive, and the list stays for the next time.
  WhenDialogOpens([&] {
    // Choosing another volume shows its folders; coming back is as choosing any folder.
    for (int i = 0; i < add.DriveComboBox1->count(); ++i) {
      const QString root = add.DriveComboBox1->itemData(i).toString();
      if (root == add.DriveComboBox1->Drive() || !QFileInfo(root).isReadable()) continue;
      add.DriveComboBox1->setCurrentIndex(i);
      EXPECT_EQ(add.DirectoryListBox1->Directory(), QDir::cleanPath(root));
      EXPECT_EQ(add.FileListBox1->Directory(), add.DirectoryListBox1->Directory());
      break;
    }
    add.DirectoryListBox1->SetDirectory(QString::fromStdString(src));
    EXPECT_EQ(add.DriveComboBox1->Drive(), MountPointOf(QString::fromStdString(src)) + "/");
    ASSERT_EQ(add.FileListBox1->count(), 4);
    // A specification differing only in case is not added; the others are appended as listed.
    add.SelectedList->addItem(QString::fromStdString(src + "/M.TXT"));
    add.FileListBox1->item(3)->setSelected(true);  // m.txt
    add.FileListBox1->item(1)->setSelected(true);  // B.txt
    add.FileListBox1->item(0)->setSelected(true);  // a.txt
    QTest::mouseClick(add.AddFileBut, Qt::LeftButton);
    EXPECT_TRUE(Canceled);  // pressing an add button counts as cancelled until confirmed
    ASSERT_EQ(add.SelectedList->count(), 3);
    EXPECT_EQ(add.SelectedList->item(2)->text().toStdString(), src + "/B.txt");
    // After Sort, new items go in order, '*' first; Remove with nothing selected does nothing.
    QTest::mouseClick(add.SortBut, Qt::LeftButton);
    QTest::mouseClick(add.AddDirBut, Qt::LeftButton);
    add.FileListBox1->item(2)->setSelected(true);  // c.dat
    QTest::mouseClick(add.AddFileBut, Qt::LeftButton);
    add.RemoveButClick();
    Screenshot(&add, "add-dialog");
    QTest::mouseClick(add.CancelBut, Qt::LeftButton);
  });
  ui.Boxes.clear();
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  EXPECT_TRUE(ui.Boxes.empty());
  EXPECT_FALSE(Exists(zip));
  QStringList listed;
  for (int i = 0; i < add.SelectedList->count(); ++i) listed << QFileInfo(add.SelectedList->item(i)->text()).fileName();
  EXPECT_EQ(listed, (QStringList{"*.*", "a.txt", "B.txt", "c.dat", "M.TXT"}));
  EXPECT_EQ(add.SelectedList->item(0)->text().toStdString(), src + "/*.*");

  // Confirmed: what the list holds then is added, without folder names.
  WhenDialogOpens([&] {
    for (int i : {0, 3, 4}) add.SelectedList->item(i)->setSelected(true);
    QTest::mouseClick(add.RemoveBut, Qt::LeftButton);  // keeps a.txt and B.txt
    QTest::mouseClick(add.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "2 files were added");
  EXPECT_EQ(add.SelectedList->count(), 0);
  EXPECT_EQ(m.StringGrid1->RowCount(), 4);
  EXPECT_EQ(ZipNames(zip), (std::vector<std::string>{"B.txt", "a.txt"}));
  EXPECT_TRUE(m.Msgform->isVisible());
  EXPECT_NE(m.Msgform->RichEdit1->toPlainText().indexOf(QString::fromStdString("Beginning Add to " + zip)), -1);

  // Move, chosen from the action menu: the sources go away once they are in the archive.
  WhenDialogOpens([&] {
    QTest::mouseClick(add.AddBtn, Qt::LeftButton);
    add.Move1->trigger();
    add.PopupMenu1->hide();
    QTest::mouseClick(add.DirNameCB, Qt::LeftButton);
    add.FileListBox1->item(2)->setSelected(true);  // c.dat
    QTest::mouseClick(add.AddFileBut, Qt::LeftButton);
    QTest::keyClick(&add, Qt::Key_Return);  // the default button
  });
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "1 file was added");
  EXPECT_FALSE(Exists(src + "/c.dat"));
  EXPECT_TRUE(Exists(src + "/a.txt"));
  const std::vector<std::string> names = ZipNames(zip);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_NE(names[2].find("/src/c.dat"), std::string::npos) << names[2];  // with its folder

  // Confirmed with an empty list. Span disk enables the volume buttons (a click on a
  // disabled one does nothing); their input boxes store at once, 0 for no number.
  WhenDialogOpens([&] {
    QTest::mouseClick(add.DiskSpanCB, Qt::LeftButton);
    ui.Texts = {"1457664"};
    QTest::mouseClick(add.VolSizeBut, Qt::LeftButton);
    QTest::mouseClick(add.VolSizeBut, Qt::LeftButton);  // cancelled: unchanged
    EXPECT_EQ(m.Marlin1.MaxVolumeSize(), 1457664);
    ui.Texts = {"lots", "4096"};
    QTest::mouseClick(add.VolSizeBut, Qt::LeftButton);
    QTest::mouseClick(add.FreeDisk1But, Qt::LeftButton);
    EXPECT_EQ(m.Marlin1.MaxVolumeSize(), 0);
    EXPECT_EQ(m.Marlin1.KeepFreeOnDisk1(), 4096);
    EXPECT_EQ(ui.TextCaptions.back(), "Keep free on Disk");
    QTest::mouseClick(add.DiskSpanCB, Qt::LeftButton);
    QTest::mouseClick(add.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "No files selected");
  EXPECT_EQ(m.Marlin1.KeepFreeOnDisk1(), 4096);
}

TEST_F(AppTest, ExtractAllOrSelectedAndTest) {
  const std::string zip = StartWith("five.zip", {{"top.txt", "top level"}, {"docs/readme.txt", std::string(500, 'r')},
                                                 {"docs/guide.txt", "guide", true}, {"src/main.c", "int main(){}"},
                                                 {"src/util.c", "void u(){}"}});
  TMainform& m = Main();
  TExtract& ex = *windows->Extract;
  const std::string all = Folder("all");

  QTest::mouseClick(m.VerboseCB, Qt::LeftButton);  // the library reports every file
  WhenDialogOpens([&] {
    EXPECT_TRUE(Canceled);  // set by the activation
    ex.DirectoryListBox1->SetDirectory(QString::fromStdString(all));
    Screenshot(&ex, "extract-dialog");
    QTest::mouseClick(ex.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "5 files were extracted");
  EXPECT_EQ(testfiles::ReadFile(all + "/docs/readme.txt"), std::string(500, 'r'));
  EXPECT_EQ(testfiles::ReadFile(all + "/src/util.c"), "void u(){}");
  Screenshot(m.Msgform, "message-window");

  // Selected rows only, with only the footer selected.
  m.StringGrid1->SetSelection(TGridRect{0, 6, 5, 6});
  WhenDialogOpens([&] {
    ex.RadioGroup3->SetItemIndex(1);
    QTest::mouseClick(ex.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "Error - no files selected");

  // Cancelled, then confirmed: the dialog kept the folder it showed.
  const std::string other = Folder("other");
  WhenDialogOpens([&] {
    ex.DirectoryListBox1->SetDirectory(QString::fromStdString(other));
    QTest::mouseClick(ex.CancelBut, Qt::LeftButton);
  });
  ui.Boxes.clear();
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  EXPECT_TRUE(ui.Boxes.empty());
  EXPECT_TRUE(ExtractDir.empty());
  WhenDialogOpens([&] { QTest::keyClick(&ex, Qt::Key_Return); });
  m.StringGrid1->SetSelection(TGridRect{0, 1, 5, 1});
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  EXPECT_EQ(ExtractDir, other);

  // Test: one specification, every entry, the flags of the last extract kept.
  WhenDialogOpens([&] {
    ex.RadioGroup1->SetItemIndex(1);
    ex.RadioGroup2->SetItemIndex(1);
    QTest::mouseClick(ex.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  QTest::mouseClick(m.TestBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "All 5 files tested OK");
  EXPECT_TRUE(m.Marlin1.ExtrOptions().Contains(ExtrOptsEnum::ExtrTest));
  EXPECT_TRUE(m.Marlin1.ExtrOptions().Contains(ExtrOptsEnum::ExtrDirNames));
}

TEST_F(AppTest, ConvertToSelfExtractingAndBack) {
  const std::string zip = StartWith("conv.zip", {{"x.txt", "xxxx"}, {"y/z.txt", "zz"}});
  const std::string original = testfiles::ReadFile(zip), exe = *tmp / "conv.exe";
  TMainform& m = Main();
  TMakeSFX& sfx = *windows->MakeSFX;
  // The folder chosen for the program's default ends in one slash; a cancelled choice keeps it.
  ui.Folders = {"/", QString::fromStdString(tmp->Path().string())};
  QTest::mouseClick(sfx.BitBtn1, Qt::LeftButton);
  EXPECT_EQ(sfx.DirectoryEdit->text(), "/");
  QTest::mouseClick(sfx.BitBtn1, Qt::LeftButton);
  QTest::mouseClick(sfx.BitBtn1, Qt::LeftButton);
  EXPECT_EQ(sfx.DirectoryEdit->text().toStdString(), tmp->Path().string() + "/");

  // Cancel after editing: nothing converts, the component keeps its values, the edits theirs.
  WhenDialogOpens([&] {
    EXPECT_EQ(sfx.CaptionEdit->text(), "Self Extracting Archive");
    sfx.CaptionEdit->setText("My Program");
    QTest::mouseClick(sfx.CancelBut, Qt::LeftButton);
  });
  ui.Boxes.clear();
  QTest::mouseClick(m.ConvertBut, Qt::LeftButton);
  EXPECT_TRUE(ui.Boxes.empty());
  EXPECT_EQ(m.Marlin1.SFXCaption(), "Self Extracting Archive");

  WhenDialogOpens([&] {
    EXPECT_EQ(sfx.CaptionEdit->text(), "My Program");
    EXPECT_TRUE(sfx.FileListCB->isChecked());
    sfx.FileListCB->setChecked(false);  // all four unchecked
    sfx.DfltOverWriteGrp->SetItemIndex(2);
    Screenshot(&sfx, "sfx-dialog");
    QTest::mouseClick(sfx.ExecBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.ConvertBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "Filename is now: " + exe);
  EXPECT_TRUE(m.ZipFName->text().endsWith("conv.exe")) << m.ZipFName->text().toStdString();
  EXPECT_EQ(m.Marlin1.SFXOptions(), SFXOpts{SFXOptsEnum::SFXCheckSize});
  EXPECT_EQ(m.Marlin1.SFXOverWriteMode(), OvrOpts::OvrNever);
  EXPECT_EQ(m.Marlin1.SFXCaption(), "My Program");
  EXPECT_EQ(m.Marlin1.SFXDefaultDir(), tmp->Path().string() + "/");
  EXPECT_EQ(m.StringGrid1->RowCount(), 4);
  EXPECT_TRUE(QFileInfo(QString::fromStdString(exe)).isExecutable());

  // Back, without a dialog: the archive comes back byte for byte.
  ui.Boxes.clear();
  QTest::mouseClick(m.ConvertBut, Qt::LeftButton);
  EXPECT_EQ(ui.Boxes, (std::vector<std::string>{"Filename is now: " + zip}));
  EXPECT_EQ(testfiles::ReadFile(zip), original);
  EXPECT_TRUE(m.ZipFName->text().endsWith("conv.zip")) << m.ZipFName->text().toStdString();

  // A title-bar close after the earlier "Do It Now" does not convert.
  WhenDialogOpens([&] { sfx.close(); });
  QTest::mouseClick(m.ConvertBut, Qt::LeftButton);
  EXPECT_FALSE(m.DoIt);
  EXPECT_EQ(ui.Boxes.size(), 1u);
  EXPECT_EQ(m.Marlin1.ZipFilename(), zip);
}

TEST_F(AppTest, CancelStopsALongExtract) {
  // Many entries, so that the library calls back often while it works.
  const std::string zip = *tmp / "long.zip";
  testfiles::Python("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                    "    for i in range(400): z.writestr('f%d.txt' % (1000 + i), bytes([97 + i % 26]) * 20000)\n",
                    {zip});
  Start(QString::fromStdString(zip));
  TMainform& m = Main();
  const std::string out = *tmp / "out";
  bool pressed = false;
  // Esc in the message window, once the library has started reporting.
  ui.OnEvents = [&] {
    if (pressed || !m.Marlin1.SluiceBusy()) return;
    pressed = true;
    QTest::keyClick(m.Msgform, Qt::Key_Escape);
  };
  ExtractAllTo(out);
  ASSERT_TRUE(pressed);
  EXPECT_TRUE(m.Msgform->isVisible());  // stays, to show the end
  const int extracted = m.Marlin1.SuccessCount();
  EXPECT_LT(extracted, 400);
  EXPECT_EQ(ui.LastBox(), CountMessage(extracted, " extracted"));
  EXPECT_LT(QDir(QString::fromStdString(out)).entryList(QDir::Files).size(), 400);
}
