// How the commands end in real use: one summing-up box
// instead of one per file, a password prompt that can stop the run, the archive's name
// after a spanned add, and columns that fit.

#include <QLocale>
#include <QScreen>

#include "AppTestSupport.h"

TEST_F(AppTest, SkippedAndFailedFilesAreSummedUpInOneBox) {
  std::vector<Member> members;
  for (int i = 0; i < 30; ++i) members.push_back({"d/f" + std::to_string(i) + ".txt", "file " + std::to_string(i)});
  // Two entries that land on one file when folders are not recreated.
  members.push_back({"a/x.txt", "the first x"});
  members.push_back({"b/x.txt", "the second x"});
  const std::string zip = StartWith("many.zip", members);
  const std::string out = *tmp / "out";
  ExtractAllTo(out, false);
  EXPECT_EQ(ui.Boxes, (std::vector<std::string>{"31 files were extracted\n1 file skipped: it exists"}));
  EXPECT_EQ(testfiles::ReadFile(out + "/x.txt"), "the first x");

  ui.Boxes.clear();
  ExtractAllTo(out, false);
  EXPECT_EQ(ui.Boxes, (std::vector<std::string>{"0 files were extracted\n32 files skipped: they exist"}));
  // Each skip is in the log, one line per file.
  const QString log = Main().Msgform->RichEdit1->toPlainText();
  EXPECT_EQ(log.count("skipped"), 32) << log.toStdString();

  // With overwrite on, nothing is skipped: the later entry of a name wins, as with peers.
  ui.Boxes.clear();
  ExtractAllTo(out, false, true);
  EXPECT_EQ(ui.Boxes, (std::vector<std::string>{"32 files were extracted"}));
  EXPECT_EQ(testfiles::ReadFile(out + "/x.txt"), "the second x");
}

TEST_F(AppTest, CancelOnThePasswordPromptStopsTheRunAndAWrongOneIsSaidToBe) {
  const std::string src = Folder("src");
  for (int i = 0; i < 6; ++i) testfiles::WriteFile(src + "/s" + std::to_string(i) + ".txt", "secret " + std::to_string(i));
  const std::string zip = *tmp / "enc.zip";
  ASSERT_EQ(testfiles::RunCommand("cd " + testfiles::Quote(src) + " && zip -q -P s3cret " + testfiles::Quote(zip) + " *.txt")
                .Status,
            0);
  Start(QString::fromStdString(zip));
  TMainform& m = Main();
  const std::string out = *tmp / "out";
  ui.Texts = {"wrong"};  // then the prompt is cancelled
  ExtractAllTo(out);
  ASSERT_EQ(ui.TextPrompts.size(), 2u);
  EXPECT_EQ(ui.TextPrompts[0].find("wrong"), std::string::npos) << ui.TextPrompts[0];
  EXPECT_NE(ui.TextPrompts[1].find("wrong"), std::string::npos) << ui.TextPrompts[1];
  ASSERT_EQ(ui.Boxes.size(), 1u) << ui.LastBox();
  EXPECT_EQ(ui.Boxes[0].rfind("0 files were extracted", 0), 0u) << ui.Boxes[0];
  EXPECT_TRUE(QDir(QString::fromStdString(out)).entryList(QDir::Files).isEmpty());
  EXPECT_FALSE(m.Marlin1.CancelRequested());

  // The next run asks again and takes the right one for every entry.
  ui.Boxes.clear();
  ui.TextPrompts.clear();
  ui.Texts = {"s3cret"};
  ExtractAllTo(out);
  EXPECT_EQ(ui.TextPrompts.size(), 1u);
  EXPECT_EQ(ui.Boxes, (std::vector<std::string>{"6 files were extracted"}));
  EXPECT_EQ(testfiles::ReadFile(out + "/s5.txt"), "secret 5");
}

// A spanned add on a fixed disk writes numbered volumes: the set's last one is shown.
TEST_F(AppTest, TheNameLabelShowsTheLastVolumeOfASpannedAdd) {
  Start();
  TMainform& m = Main();
  const std::string src = Folder("big");
  testfiles::Python("import os, sys\nfor i in range(3): open(sys.argv[1] + '/r%d.bin' % i, 'wb').write(os.urandom(40000))\n",
                    {src});
  ui.Files.push_back(QString::fromStdString(*tmp / "span.zip"));
  QTest::mouseClick(m.NewZipBut, Qt::LeftButton);
  TAddForm& add = *windows->AddForm;
  WhenDialogOpens([&] {
    add.DirectoryListBox1->SetDirectory(QString::fromStdString(src));
    add.SelectAllButClick();
    add.AddFileButClick();
    QTest::mouseClick(add.DiskSpanCB, Qt::LeftButton);
    m.Marlin1.SetMaxVolumeSize(65536);
    QTest::mouseClick(add.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  ASSERT_TRUE(Exists(*tmp / "span002.zip")) << ui.LastBox();
  std::string last = *tmp / "span002.zip";
  for (int n = 3; Exists(*tmp / ("span00" + std::to_string(n) + ".zip")); ++n) last = *tmp / ("span00" + std::to_string(n) + ".zip");
  EXPECT_EQ(m.Marlin1.ZipFilename(), last);
  EXPECT_TRUE(m.ZipFName->text().endsWith(QString::fromStdString(std::filesystem::path(last).filename().string())))
      << m.ZipFName->text().toStdString();
  EXPECT_EQ(m.FilesLabel->text(), "3");
}

TEST_F(AppTest, ColumnsFitTheirTextInTheCLocale) {
  QLocale::setDefault(QLocale::c());
  const std::string zip = *tmp / "c.zip";
  testfiles::Python(
      "import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
      "    z.writestr(zipfile.ZipInfo('late.txt', date_time=(2026, 12, 7, 0, 31, 6)), 'x' * 1000)\n"
      "    z.writestr(zipfile.ZipInfo('may.txt', date_time=(2026, 5, 17, 23, 58, 58)), 'y')\n",
      {zip});
  Start(QString::fromStdString(zip));
  const TSortGrid& g = *Main().StringGrid1;
  const QFontMetrics fm(g.Font());
  for (int col = 1; col <= 4; ++col)
    for (int row = 0; row < g.RowCount(); ++row)
      EXPECT_GT(g.ColWidths(col), fm.horizontalAdvance(g.Cells(col, row)) + 3)
          << "column " << col << " row " << row << ": " << g.Cells(col, row).toStdString();
  EXPECT_TRUE(g.Cells(3, 1).contains("2026"));
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}
