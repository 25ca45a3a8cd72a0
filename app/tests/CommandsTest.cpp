// The archive commands driven through the windows with the real libraries: add, extract,
// test, delete, convert both ways and cancel.

#include "AppTestSupport.h"

TEST_F(AppTest, AddThroughTheDialogWithEveryAction) {
  const std::string src = *tmp / "src";
  QDir().mkpath(QString::fromStdString(src + "/sub"));
  testfiles::WriteFile(src + "/a.txt", std::string(3000, 'a'));
  testfiles::WriteFile(src + "/B.txt", "bee");
  testfiles::WriteFile(src + "/c.dat", "sea");
  testfiles::WriteFile(src + "/sub/d.txt", "dee");
  Start();
  TMainform& m = Main();
  TAddForm& add = *windows->AddForm;
  const std::string zip = *tmp / "new.zip";
  ui.Files.push_back(QString::fromStdString(zip));
  QTest::mouseClick(m.NewZipBut, Qt::LeftButton);
  ASSERT_EQ(m.Marlin1.ZipFilename(), zip);
  EXPECT_EQ(m.StringGrid1->RowCount(), 2);

  // Cancelled: no message, and the list stays for the next time.
  WhenDialogOpens([&] {
    add.DirectoryListBox1->SetDirectory(QString::fromStdString(src));
    ASSERT_EQ(add.FileListBox1->count(), 3);
    add.FileListBox1->item(0)->setSelected(true);  // a.txt
    add.FileListBox1->item(1)->setSelected(true);  // B.txt
    QTest::mouseClick(add.AddFileBut, Qt::LeftButton);
    add.FileListBox1->item(1)->setSelected(true);  // again: not added twice
    QTest::mouseClick(add.AddFileBut, Qt::LeftButton);
    QTest::mouseClick(add.AddDirBut, Qt::LeftButton);
    QTest::mouseClick(add.AddDirBut, Qt::LeftButton);
    Screenshot(&add, "add-dialog");
    QTest::mouseClick(add.CancelBut, Qt::LeftButton);
  });
  ui.Boxes.clear();
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  EXPECT_TRUE(ui.Boxes.empty());
  EXPECT_FALSE(Exists(zip));
  ASSERT_EQ(add.SelectedList->count(), 3);
  EXPECT_EQ(add.SelectedList->item(0)->text().toStdString(), src + "/a.txt");
  EXPECT_EQ(add.SelectedList->item(2)->text().toStdString(), src + "/*.*");

  // Confirmed: what the list holds then is added, without folder names.
  WhenDialogOpens([&] {
    add.SelectedList->item(1)->setSelected(true);
    add.SelectedList->item(2)->setSelected(true);
    QTest::mouseClick(add.RemoveBut, Qt::LeftButton);  // keeps a.txt only
    add.FileListBox1->item(1)->setSelected(true);
    QTest::mouseClick(add.AddFileBut, Qt::LeftButton);
    QTest::mouseClick(add.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "2 files were added");
  EXPECT_EQ(add.SelectedList->count(), 0);
  EXPECT_EQ(m.Marlin1.AddOptions(), AddOpts{});
  EXPECT_EQ(m.StringGrid1->RowCount(), 4);
  EXPECT_EQ(ZipNames(zip), (std::vector<std::string>{"B.txt", "a.txt"}));
  EXPECT_TRUE(m.Msgform->isVisible());
  EXPECT_NE(m.Msgform->RichEdit1->toPlainText().indexOf(QString::fromStdString("Beginning Add to " + zip)), -1);
  EXPECT_NE(m.TimeLabel->text(), "");

  // Move, chosen from the action menu: the sources go away once they are in the archive.
  WhenDialogOpens([&] {
    QTest::mouseClick(add.AddBtn, Qt::LeftButton);
    add.Move1->trigger();
    add.PopupMenu1->hide();
    EXPECT_FALSE(add.Add1->isChecked());
    QTest::mouseClick(add.DirNameCB, Qt::LeftButton);
    add.FileListBox1->item(2)->setSelected(true);  // c.dat
    QTest::mouseClick(add.AddFileBut, Qt::LeftButton);
    QTest::keyClick(&add, Qt::Key_Return);  // the default button
  });
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "1 file was added");
  EXPECT_TRUE(m.Marlin1.AddOptions().Contains(AddOptsEnum::AddMove));
  EXPECT_TRUE(m.Marlin1.AddOptions().Contains(AddOptsEnum::AddDirNames));
  EXPECT_FALSE(Exists(src + "/c.dat"));
  EXPECT_TRUE(Exists(src + "/a.txt"));
  const std::vector<std::string> names = ZipNames(zip);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_NE(names[2].find("/src/c.dat"), std::string::npos) << names[2];  // with its folder

  // Confirmed with an empty list.
  WhenDialogOpens([&] { QTest::mouseClick(add.OKBut, Qt::LeftButton); });
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "No files selected");
}

TEST_F(AppTest, ExtractAllAndSelectedTestAndDelete) {
  const std::string zip = MakeZip("five.zip", {{"top.txt", "top level"},
                                               {"docs/readme.txt", std::string(500, 'r')},
                                               {"docs/guide.txt", "guide", true},
                                               {"src/main.c", "int main(){}"},
                                               {"src/util.c", "void u(){}"}});
  Start(QString::fromStdString(zip));
  TMainform& m = Main();
  TExtract& ex = *windows->Extract;
  const std::string all = *tmp / "all";
  const std::string some = *tmp / "some";
  QDir().mkpath(QString::fromStdString(all));
  QDir().mkpath(QString::fromStdString(some));

  QTest::mouseClick(m.VerboseCB, Qt::LeftButton);  // the library reports every file
  EXPECT_TRUE(m.Marlin1.Verbose());
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

  // Selected rows only (sorted by name: guide, main, readme, top, util), flat.
  m.StringGrid1->SetSelection(TGridRect{0, 2, 5, 3});
  WhenDialogOpens([&] {
    ex.DirectoryListBox1->SetDirectory(QString::fromStdString(some));
    ex.RadioGroup1->SetItemIndex(0);
    ex.RadioGroup3->SetItemIndex(1);
    QTest::mouseClick(ex.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "2 files were extracted");
  EXPECT_TRUE(Exists(some + "/main.c"));
  EXPECT_TRUE(Exists(some + "/readme.txt"));
  EXPECT_EQ(QDir(QString::fromStdString(some)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 2);

  // Only the footer selected.
  m.StringGrid1->SetSelection(TGridRect{0, 6, 5, 6});
  WhenDialogOpens([&] { QTest::mouseClick(ex.OKBut, Qt::LeftButton); });
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "Error - no files selected");

  // Cancelled, then confirmed: the dialog kept the folder it showed.
  WhenDialogOpens([&] {
    ex.DirectoryListBox1->SetDirectory(QString::fromStdString(all));
    QTest::mouseClick(ex.CancelBut, Qt::LeftButton);
  });
  ui.Boxes.clear();
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  EXPECT_TRUE(ui.Boxes.empty());
  EXPECT_TRUE(ExtractDir.empty());
  WhenDialogOpens([&] { QTest::keyClick(&ex, Qt::Key_Return); });
  m.StringGrid1->SetSelection(TGridRect{0, 1, 5, 1});
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  EXPECT_EQ(ExtractDir, all);

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

  // Delete the selected rows after a Yes; a No deletes nothing.
  m.StringGrid1->SetSelection(TGridRect{0, 1, 5, 2});
  QTest::mouseClick(m.DeleteBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "Delete selected files from: " + zip + "?");
  EXPECT_EQ(ZipNames(zip).size(), 5u);
  ui.Answers.push_back(boxresult::Yes);
  m.StringGrid1->SetSelection(TGridRect{0, 1, 5, 2});
  QTest::mouseClick(m.DeleteBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "2 files were deleted");
  EXPECT_EQ(ZipNames(zip), (std::vector<std::string>{"docs/readme.txt", "src/util.c", "top.txt"}));
  EXPECT_EQ(m.StringGrid1->RowCount(), 5);
  EXPECT_EQ(m.FilesLabel->text(), "3");
}

TEST_F(AppTest, ConvertToSelfExtractingAndBack) {
  const std::string zip = MakeZip("conv.zip", {{"x.txt", "xxxx"}, {"y/z.txt", "zz"}});
  const std::string original = testfiles::ReadFile(zip);
  Start(QString::fromStdString(zip));
  TMainform& m = Main();
  TMakeSFX& sfx = *windows->MakeSFX;

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
    sfx.FileListCB->setChecked(false);  // all four unchecked
    sfx.DfltOverWriteGrp->SetItemIndex(2);
    Screenshot(&sfx, "sfx-dialog");
    QTest::mouseClick(sfx.ExecBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.ConvertBut, Qt::LeftButton);
  const std::string exe = *tmp / "conv.exe";
  EXPECT_EQ(ui.LastBox(), "Filename is now: " + exe);
  EXPECT_EQ(m.Marlin1.SFXOptions(), SFXOpts{SFXOptsEnum::SFXCheckSize});
  EXPECT_EQ(m.Marlin1.SFXOverWriteMode(), OvrOpts::OvrNever);
  EXPECT_EQ(m.Marlin1.SFXCaption(), "My Program");
  EXPECT_EQ(m.ConvertBut->text(), "Convert to ZIP");
  EXPECT_EQ(m.StringGrid1->RowCount(), 4);
  EXPECT_TRUE(QFileInfo(QString::fromStdString(exe)).isExecutable());

  // Back, without a dialog: the archive comes back byte for byte.
  ui.Boxes.clear();
  QTest::mouseClick(m.ConvertBut, Qt::LeftButton);
  EXPECT_EQ(ui.Boxes, (std::vector<std::string>{"Filename is now: " + zip}));
  EXPECT_EQ(testfiles::ReadFile(zip), original);
  EXPECT_EQ(m.ConvertBut->text(), "&Convert to EXE");
}

TEST_F(AppTest, CancelStopsALongExtract) {
  // Many entries, so that the library calls back often while it works.
  const std::string zip = *tmp / "long.zip";
  testfiles::Python(
      "import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "    for i in range(400):\n"
      "        z.writestr('f%d.txt' % (1000 + i), bytes([97 + i % 26]) * 20000)\n",
      {zip});
  Start(QString::fromStdString(zip));
  TMainform& m = Main();
  TExtract& ex = *windows->Extract;
  const std::string out = *tmp / "out";
  QDir().mkpath(QString::fromStdString(out));
  bool pressed = false;
  WhenDialogOpens([&] {
    ex.DirectoryListBox1->SetDirectory(QString::fromStdString(out));
    QTest::mouseClick(ex.OKBut, Qt::LeftButton);
  });
  // Esc in the message window, once the library has started reporting.
  ui.OnEvents = [&] {
    if (pressed || !m.Marlin1.SluiceBusy()) return;
    pressed = true;
    QTest::keyClick(m.Msgform, Qt::Key_Escape);
  };
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  ASSERT_TRUE(pressed);
  EXPECT_TRUE(m.Msgform->isVisible());  // stays, to show the end
  const int extracted = m.Marlin1.SuccessCount();
  EXPECT_LT(extracted, 400);
  EXPECT_EQ(ui.LastBox(), CountMessage(extracted, " extracted"));
  EXPECT_LT(QDir(QString::fromStdString(out)).entryList(QDir::Files).size(), 400);

  // With nothing running, Cancel hides the window and asks for nothing.
  m.Marlin1.SetCancelRequested(false);
  QTest::mouseClick(m.Msgform->Button2, Qt::LeftButton);
  EXPECT_FALSE(m.Msgform->isVisible());
  EXPECT_FALSE(m.Marlin1.CancelRequested());
}
