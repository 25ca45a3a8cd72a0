// Start-up and the main window's grid: an archive from the command line, the rows,
// totals and sorting, naming and destroying archives.

#include "AppTestSupport.h"

TEST_F(AppTest, ArchiveFromCommandLineFillsSortedGridWithTotals) {
  // 8 stored bytes of 8, and deflated runs whose ratios differ in their number of digits.
  const std::string zip = StartWith("sample.zip", {{"zeta.txt", "12345678", true},
                                                   {"docs/alpha.txt", std::string(4000, 'a')},
                                                   {"docs/sub/beta.txt", "", true},
                                                   {"Gamma.txt", std::string(50, 'g') + "xyzqwertyuiop", false}});
  TMainform& m = Main();
  const TSortGrid& g = *m.StringGrid1;
  EXPECT_EQ(m.windowTitle(), QString::fromUtf8("sample.zip \u2014 Vell Tessera 4"));
  EXPECT_EQ(GridColumn(0), (std::vector<QString>{"File Name", "alpha.txt", "beta.txt", "Gamma.txt", "zeta.txt", "Total"}));
  EXPECT_EQ(GridColumn(5), (std::vector<QString>{"Path", "docs/", "docs/sub/", "", "", ""}));
  EXPECT_EQ(QStringList({g.Cells(1, 4), g.Cells(2, 4), g.Cells(4, 4)}), QStringList({"8", "8", "0% "}));
  EXPECT_EQ(g.Cells(4, 2), "0% ");  // nothing unpacked
  EXPECT_EQ(g.Cells(3, 1), QLocale().toString(QDate(2024, 3, 9), QLocale::ShortFormat) + "  " +
                               QLocale().toString(QTime(14, 30), QLocale::ShortFormat));
  uint64_t packed = 0, unpacked = 0;
  for (int r = 1; r <= 4; ++r) {
    packed += g.Cells(1, r).toULongLong();
    unpacked += g.Cells(2, r).toULongLong();
  }
  EXPECT_EQ(g.Cells(1, 5), QString::number(packed));
  EXPECT_EQ(g.Cells(2, 5), QString::number(unpacked));
  EXPECT_EQ(g.Cells(4, 5), RatioText(packed, unpacked));
  EXPECT_EQ(m.FilesLabel->text(), "4");
  Screenshot(&m, "main-window");

  // Header clicks on Ratio and Date order by the number and the time, not the text; the
  // footer stays last. Dates are written as the grid writes them.
  const QStringList ratios{"5% ", "100% ", "-2% ", "45% "};
  const std::vector<QDateTime> times{{QDate(2024, 10, 1), QTime(9, 5)}, {QDate(2024, 3, 9), QTime(14, 30)},
                                     {QDate(2023, 12, 31), QTime(23, 59)}, {QDate(2024, 3, 9), QTime(9, 0)}};
  auto shown = [](const QDateTime& t) {
    return QLocale().toString(t.date(), QLocale::ShortFormat) + "  " + QLocale().toString(t.time(), QLocale::ShortFormat);
  };
  for (int r = 1; r <= 4; ++r) {
    m.StringGrid1->SetCells(4, r, ratios[r - 1]);
    m.StringGrid1->SetCells(3, r, shown(times[r - 1]));
  }
  QTest::mouseClick(m.StringGrid1->viewport(), Qt::LeftButton, {}, g.CellRect(3, 0).center());
  EXPECT_EQ(GridColumn(3), (std::vector<QString>{"Date/Time", shown(times[2]), shown(times[3]), shown(times[1]),
                                                 shown(times[0]), ""}));
  QTest::mouseClick(m.StringGrid1->viewport(), Qt::LeftButton, {}, g.CellRect(4, 0).center());
  EXPECT_EQ(GridColumn(4), (std::vector<QString>{"Ratio", "-2% ", "5% ", "45% ", "100% ", RatioText(packed, unpacked)}));
  // A refill sorts by the chosen column again.
  m.Marlin1.List();
  EXPECT_EQ(g.Cells(4, 1), "0% ");
  EXPECT_GT(g.Cells(4, 4).left(g.Cells(4, 4).indexOf(QChar(37))).toInt(), 90);  // 4000 repeated letters
}

TEST_F(AppTest, EmptyAndMissingArchivesLeaveAnEmptyFooter) {
  const std::string bad = *tmp / "not-a-zip.zip";
  testfiles::WriteFile(bad, "this is no archive at all");
  Start(QString::fromStdString(bad));
  TMainform& m = Main();
  EXPECT_EQ(m.StringGrid1->RowCount(), 2);
  EXPECT_EQ(m.StringGrid1->Cells(0, 1), "");
  EXPECT_EQ(m.FilesLabel->text(), "0");
  ASSERT_FALSE(ui.Boxes.empty());  // the component's own report
  EXPECT_EQ(testfiles::ReadFile(bad), "this is no archive at all");

  // Every command without entries answers with its message, in its order of checks.
  ui.Boxes.clear();
  QTest::mouseClick(m.TestBut, Qt::LeftButton);
  QTest::mouseClick(m.DeleteBut, Qt::LeftButton);
  QTest::mouseClick(m.ConvertBut, Qt::LeftButton);
  m.Marlin1.SetZipFilename("");
  QTest::mouseClick(m.AddBut, Qt::LeftButton);
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  QTest::mouseClick(m.DeleteZipBut, Qt::LeftButton);
  EXPECT_EQ(ui.Boxes, (std::vector<std::string>{"Error - nothing to Test", "Error - no files to delete",
                                                "Error: no files in archive", "Error - open a zip file first",
                                                "Error: file not found: ", "Zip file not found: "}));
}

TEST_F(AppTest, OpenNewDestroyAndDropNameTheArchive) {
  const std::string a = MakeZip("first.zip", {{"one.txt", "1"}});
  QDir().mkpath(QString::fromStdString(*tmp / "a-rather-long-folder-name/and-another-one"));
  const std::string b =
      MakeZip("a-rather-long-folder-name/and-another-one/SECOND.EXE", {{"two.txt", "2"}, {"three.txt", "3"}});
  Start();
  TMainform& m = Main();
  EXPECT_EQ(m.ZipFName->text(), "<none>");

  // Cancelled: nothing changes but the remembered folder, which starts at the desktop.
  QTest::mouseClick(m.ZipOpenBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastFileRequest.Title, "Open Existing ZIP File");
  EXPECT_EQ(ui.LastFileRequest.Directory.toStdString(), *tmp / "Desktop/");
  EXPECT_TRUE(m.Marlin1.ZipFilename().empty());

  ui.Files.push_back(QString::fromStdString(b));
  QTest::mouseClick(m.ZipOpenBut, Qt::LeftButton);
  EXPECT_EQ(m.Marlin1.ZipFilename(), b);
  EXPECT_EQ(OpenDir, *tmp / "a-rather-long-folder-name/and-another-one/");
  EXPECT_EQ(m.ConvertBut->text(), "Convert to ZIP");  // the extension test ignores case
  EXPECT_EQ(m.FilesLabel->text(), "2");

  // A narrow window shortens the name and offers it whole as a tooltip.
  m.resize(420, 426);
  QCoreApplication::processEvents();
  EXPECT_TRUE(m.ZipFName->text().contains("...")) << m.ZipFName->text().toStdString();
  EXPECT_TRUE(m.ZipFName->text().endsWith("SECOND.EXE"));
  EXPECT_EQ(m.ZipFName->toolTip().toStdString(), b);
  m.resize(620, 426);

  // Opened again, the archive comes first in the recent list.
  ui.Files.push_back(QString::fromStdString(a));
  QTest::mouseClick(m.ZipOpenBut, Qt::LeftButton);
  EXPECT_EQ(m.Marlin1.ZipFilename(), a);
  EXPECT_EQ(m.ConvertBut->text(), "&Convert to EXE");
  EXPECT_EQ(m.RecentArchives(), (QStringList{QString::fromStdString(a), QString::fromStdString(b)}));

  // New over an existing file asks first, No the default; No keeps everything.
  ui.Files.push_back(QString::fromStdString(b));
  QTest::mouseClick(m.NewZipBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "Overwrite Existing File: " + b + "?");
  EXPECT_EQ(ui.Defaults.back(), 1);
  EXPECT_EQ(ui.LastFileRequest.DefaultSuffix, "Zip");
  EXPECT_FALSE(ui.LastFileRequest.MustExist);
  EXPECT_EQ(m.Marlin1.ZipFilename(), a);
  EXPECT_TRUE(Exists(b));

  // Destroy: No (the default) keeps the file, Yes moves it to the trash and empties the grid.
  QTest::mouseClick(m.DeleteZipBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "Are you sure you want to delete: " + a + "?");
  EXPECT_EQ(ui.Defaults.back(), 1);
  EXPECT_TRUE(Exists(a));
  ui.Answers.push_back(boxresult::Yes);
  QTest::mouseClick(m.DeleteZipBut, Qt::LeftButton);
  EXPECT_FALSE(Exists(a));
  EXPECT_EQ(ZipNames(*tmp / ".local/share/Trash/files/first.zip"), (std::vector<std::string>{"one.txt"}));
  EXPECT_EQ(m.ZipFName->text(), "<none>");
  EXPECT_EQ(m.StringGrid1->RowCount(), 2);
}

TEST_F(AppTest, ViewMenuReportsAndEscapeCloses) {
  const std::string zip = StartWith("c.zip", {{"a.txt", "aaaa"}}, "A comment\nof two lines");
  TMainform& m = Main();
  m.Showlasterror1->trigger();
  EXPECT_EQ(ui.LastBox(), "No last error present");
  m.Zipcomment1->trigger();
  EXPECT_TRUE(m.Msgform->isVisible());
  EXPECT_NE(m.Msgform->RichEdit1->toPlainText().indexOf("of two lines"), -1);
  m.DLLversioninfo1->trigger();
  const std::string versions = ui.LastBox();
  EXPECT_EQ(versions.rfind("Sluice version: ", 0), 0u) << versions;
  EXPECT_NE(versions.find("\n  Kiln version: "), std::string::npos);
  EXPECT_EQ(versions.find("version: 0"), std::string::npos) << "a library did not load: " << versions;

  QTest::mouseClick(m.UnattendedCB, Qt::LeftButton);
  EXPECT_TRUE(m.Marlin1.Unattended());
  ui.Boxes.clear();
  m.Marlin1Message(5, "library trouble");  // only logged while unattended
  EXPECT_TRUE(ui.Boxes.empty());
  QTest::mouseClick(m.UnattendedCB, Qt::LeftButton);
  m.Marlin1Message(5, "library trouble");
  EXPECT_EQ(ui.LastBox(), "Error Msg: library trouble");

  QTest::mouseClick(m.Msgform->Button1, Qt::LeftButton);  // dismissed: the main window is the active one
  m.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&m));
  QTest::keyClick(&m, Qt::Key_Escape);
  // Qt's QTRY macros end a test without failing it here: waited for in gtest's terms.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !m.isVisible(); }));
}

TEST_F(AppTest, SizesOfTwoGigabytesAndMoreShowUnsigned) {
  // Two entries whose directory records claim 3,000,000,000 bytes each: over 2^31 one by
  // one, over 2^32 together. Only the directory is read to list them.
  const std::string zip = *tmp / "large.zip";
  testfiles::WriteFile(zip, testfiles::CraftArchive({{"big1.bin", "", 2000000000, 3000000000},
                                                     {"big2.bin", "", 2000000000, 3000000000}}));
  Start(QString::fromStdString(zip));
  const TSortGrid& g = *Main().StringGrid1;
  ASSERT_EQ(g.RowCount(), 4);
  for (auto [row, packed, size] : {std::tuple{1, "2000000000", "3000000000"}, {3, "4000000000", "6000000000"}})
    EXPECT_EQ(QStringList({g.Cells(1, row), g.Cells(2, row), g.Cells(4, row)}), QStringList({packed, size, "33% "}));
}

TEST(Program, WithoutADisplayExitsWithStatusTwoAndSaysWhy) {
  testfiles::TempDir dir;
  const testfiles::CommandResult r = testfiles::RunCommand(
      "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME=" + testfiles::Quote(dir.Path().string()) + " " +
          testfiles::Quote(TESSERA_PROGRAM) + " </dev/null",
      dir.Path().string());
  EXPECT_EQ(r.Status, 2) << r.Output;
  EXPECT_NE(r.Output.find("no display"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("tessera-cli"), std::string::npos) << r.Output;
}
