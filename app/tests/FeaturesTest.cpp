// What the main window offers beyond its buttons: entries opened with the desktop's
// program, rows dragged out and files dropped in, the grid's keys and menu, the title,
// recent archives and what is remembered, and the extract dialog's own folder choices.

#include <QContextMenuEvent>
#include <QMenuBar>
#include <QSettings>

#include "AppTestSupport.h"

namespace {

QPoint RowPoint(const TSortGrid& g, int row) { return g.CellRect(0, row).center(); }

QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  for (const QUrl& url : data->urls()) files << url.toLocalFile();
  return files;
}

}  // namespace

TEST_F(AppTest, EntriesOpenWithTheDesktopsProgramFromAPrivateFolder) {
  const std::string zip = StartWith("open.zip", {{"docs/readme.txt", "read me"}, {"top.txt", "top"}});
  TMainform& m = Main();
  TSortGrid& g = *m.StringGrid1;
  m.Marlin1.SetExtrBaseDir(tmp->Path().string());
  const ExtrOpts before{ExtrOptsEnum::ExtrFreshen};
  m.Marlin1.SetExtrOptions(before);
  ASSERT_EQ(g.Cells(0, 1), "readme.txt");
  QTest::mouseDClick(g.viewport(), Qt::LeftButton, {}, RowPoint(g, 1));
  ASSERT_EQ(ui.Opened.size(), 1u);
  const QString opened = ui.Opened[0].toLocalFile();
  EXPECT_TRUE(opened.endsWith("/docs/readme.txt")) << opened.toStdString();
  EXPECT_EQ(testfiles::ReadFile(opened.toStdString()), "read me");
  // The user's own extract settings are untouched.
  EXPECT_EQ(m.Marlin1.ExtrBaseDir(), tmp->Path().string());
  EXPECT_EQ(m.Marlin1.ExtrOptions(), before);

  // Enter on the current row, and the menu's Open, do the same.
  g.SetRow(2);
  QTest::keyClick(&g, Qt::Key_Return);
  m.OpenEntry1->trigger();
  ASSERT_EQ(ui.Opened.size(), 3u);
  EXPECT_EQ(testfiles::ReadFile(ui.Opened[2].toLocalFile().toStdString()), "top");
  EXPECT_NE(ui.Opened[1], ui.Opened[2]);  // each opening has a folder of its own
  // Double-clicks on the header and the totals open nothing.
  QTest::mouseDClick(g.viewport(), Qt::LeftButton, {}, RowPoint(g, 3));
  EXPECT_EQ(ui.Opened.size(), 3u);

  // The private folder goes when the program ends.
  windows.reset();
  EXPECT_FALSE(QFileInfo::exists(opened));
}

TEST_F(AppTest, RowsDragOutAsTheirExtractedFilesAndCtrlClickPicksRows) {
  const std::string zip = StartWith("drag.zip", {{"a.txt", "alpha"}, {"b/b.txt", "beta"}, {"c.txt", "gamma"}});
  TMainform& m = Main();
  TSortGrid& g = *m.StringGrid1;
  // Sorted by name: a.txt, b.txt, c.txt. A click, then Ctrl+click on the third row.
  QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, RowPoint(g, 1));
  QTest::mouseClick(g.viewport(), Qt::LeftButton, Qt::ControlModifier, RowPoint(g, 3));
  EXPECT_EQ(m.SelectedEntryNames(), (std::vector<std::string>{"a.txt", "c.txt"}));
  std::unique_ptr<QMimeData> data(m.DragDataForSelection());
  ASSERT_TRUE(data);
  const QStringList files = LocalFiles(data.get());
  ASSERT_EQ(files.size(), 2);
  EXPECT_EQ(testfiles::ReadFile(files[0].toStdString()), "alpha");
  EXPECT_EQ(testfiles::ReadFile(files[1].toStdString()), "gamma");
  // Ctrl+click on a picked row takes it out again; a plain click starts anew.
  QTest::mouseClick(g.viewport(), Qt::LeftButton, Qt::ControlModifier, RowPoint(g, 1));
  EXPECT_EQ(m.SelectedEntryNames(), (std::vector<std::string>{"c.txt"}));
  QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, RowPoint(g, 2));
  EXPECT_EQ(m.SelectedEntryNames(), (std::vector<std::string>{"b/b.txt"}));
  data.reset(m.DragDataForSelection());
  ASSERT_TRUE(data);
  EXPECT_TRUE(LocalFiles(data.get()).at(0).endsWith("/b/b.txt"));
  // A header sort keeps the picked rows picked.
  QTest::mouseClick(g.viewport(), Qt::LeftButton, Qt::ControlModifier, RowPoint(g, 3));
  QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.CellRect(2, 0).center());  // by size
  EXPECT_EQ(m.SelectedEntryNames().size(), 2u);
}

TEST_F(AppTest, DroppedFilesAndFoldersAreAddedAfterOneQuestion) {
  const std::string src = Folder("drop", {{"one.txt", "1"}, {"two.txt", "2"}, {"folder/deeper/three.txt", "3"}});
  const std::string zip = MakeZip("target.zip", {{"old.txt", "old"}});
  Start();
  TMainform& m = Main();
  auto drop = [&](const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(50, 200), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&m, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(QPointF(50, 200), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&m, &dropped);
    QCoreApplication::processEvents();
  };
  // With no archive open, a dropped archive is opened.
  drop({zip});
  EXPECT_EQ(m.Marlin1.ZipFilename(), zip);
  ASSERT_EQ(m.StringGrid1->RowCount(), 3);

  // Into an open archive: one question naming the count; No adds nothing.
  drop({src + "/one.txt", src + "/two.txt", src + "/folder"});
  EXPECT_EQ(ui.LastBox(), "Add 2 files and 1 folder to " + zip + "?");
  EXPECT_EQ(ZipNames(zip), (std::vector<std::string>{"old.txt"}));
  ui.Answers.push_back(boxresult::Yes);
  ui.Boxes.clear();
  drop({src + "/one.txt", src + "/two.txt", src + "/folder"});
  ASSERT_EQ(ui.Boxes.size(), 2u);
  EXPECT_EQ(ui.Boxes[1], "3 files were added");
  const std::vector<std::string> names = ZipNames(zip);
  EXPECT_NE(std::find(names.begin(), names.end(), "folder/deeper/three.txt"), names.end()) << names.size();
  EXPECT_NE(std::find(names.begin(), names.end(), "one.txt"), names.end());
  EXPECT_EQ(m.FilesLabel->text(), QString::number(names.size()));
}

TEST_F(AppTest, GridKeysAndItsMenuActOnTheSelectedRows) {
  const std::string zip = StartWith("keys.zip", {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
  TMainform& m = Main();
  TSortGrid& g = *m.StringGrid1;
  g.setFocus();
  QTest::keyClick(&g, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(m.SelectedEntryNames(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  // Delete asks, with No as its default; No keeps everything.
  QTest::keyClick(&g, Qt::Key_Delete);
  EXPECT_EQ(ui.LastBox(), "Delete selected files from: " + zip + "?");
  EXPECT_EQ(ui.Defaults.back(), 1);
  EXPECT_EQ(ZipNames(zip).size(), 3u);

  // The right-click menu: a click outside the selection selects that row first.
  QStringList captions;
  for (QAction* a : m.EntryMenu->actions())
    if (!a->isSeparator()) captions << a->text();
  EXPECT_EQ(captions, (QStringList{"&Open", "&Extract...", "&Test", "&Delete"}));
  QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, RowPoint(g, 1));
  emit g.customContextMenuRequested(RowPoint(g, 2));
  ASSERT_TRUE(m.EntryMenu->isVisible());
  m.EntryMenu->hide();
  EXPECT_EQ(m.SelectedEntryNames(), (std::vector<std::string>{"b.txt"}));
  ui.Answers.push_back(boxresult::Yes);
  m.DeleteEntries1->trigger();
  EXPECT_EQ(ZipNames(zip), (std::vector<std::string>{"a.txt", "c.txt"}));
  EXPECT_EQ(m.FilesLabel->text(), "2");
  m.TestEntries1->trigger();
  EXPECT_EQ(ui.LastBox(), "All 2 files tested OK");
  // Extract... offers the selected rows.
  const std::string out = Folder("menu-out");
  QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, RowPoint(g, 2));
  WhenDialogOpens([&] {
    EXPECT_EQ(windows->Extract->RadioGroup3->ItemIndex(), 1);
    windows->Extract->PathEdit->setText(QString::fromStdString(out));
    QTest::mouseClick(windows->Extract->OKBut, Qt::LeftButton);
  });
  m.ExtractEntries1->trigger();
  EXPECT_EQ(QDir(QString::fromStdString(out)).entryList(QDir::Files), QStringList{"c.txt"});
}

TEST_F(AppTest, TitleRecentArchivesAndSizesOutliveTheProgram) {
  const std::string a = MakeZip("first.zip", {{"1.txt", "1"}});
  const std::string b = MakeZip("second.zip", {{"2.txt", "2"}});
  Start();
  TMainform& m = Main();
  EXPECT_EQ(m.windowTitle(), "Vell Tessera 4");
  EXPECT_FALSE(m.RecentMenu->isEnabled());
  ui.Files = {QString::fromStdString(a), QString::fromStdString(b)};
  QTest::mouseClick(m.ZipOpenBut, Qt::LeftButton);
  QTest::mouseClick(m.ZipOpenBut, Qt::LeftButton);
  EXPECT_EQ(m.windowTitle(), QString::fromUtf8("second.zip \u2014 Vell Tessera 4"));
  m.resize(700, 480);
  m.Msgform->resize(500, 350);
  m.close();

  // A new run: the recent list, the sizes and the Open folder are back.
  windows.reset();
  OpenDir.clear();
  Start();
  TMainform& again = Main();
  EXPECT_EQ(again.size(), QSize(700, 480));
  EXPECT_EQ(again.Msgform->size(), QSize(500, 350));
  EXPECT_EQ(OpenDir, tmp->Path().string() + "/");
  ASSERT_EQ(again.RecentMenu->actions().size(), 2);
  EXPECT_EQ(again.RecentMenu->actions()[0]->text(), "&1 second.zip");
  again.RecentMenu->actions()[1]->trigger();
  EXPECT_EQ(again.Marlin1.ZipFilename(), a);
  EXPECT_EQ(again.RecentArchives().first().toStdString(), a);
  // What is remembered is in the test's own folder.
  EXPECT_TRUE(Exists(*tmp / "config/tessera/tessera.conf"));
}

TEST_F(AppTest, ExtractDialogTakesATypedPathANewFolderAndTheArchivesName) {
  const std::string zip = StartWith("bundle.zip", {{"x.txt", "x"}, {"sub/y.txt", "y"}});
  TMainform& m = Main();
  TExtract& ex = *windows->Extract;
  // A typed folder that is not there yet is made.
  const std::string typed = *tmp / "typed/deeper";
  WhenDialogOpens([&] {
    ex.PathEdit->setText(QString::fromStdString(typed));
    QTest::mouseClick(ex.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  EXPECT_EQ(ui.LastBox(), "2 files were extracted");
  EXPECT_EQ(testfiles::ReadFile(typed + "/sub/y.txt"), "y");

  // A new folder made in the dialog becomes the target; with the archive's name below it.
  const std::string base = Folder("base");
  ui.Texts = {"made"};
  WhenDialogOpens([&] {
    ex.DirectoryListBox1->SetDirectory(QString::fromStdString(base));
    QTest::mouseClick(ex.NewFolderBut, Qt::LeftButton);
    EXPECT_EQ(ex.DirectoryListBox1->Directory().toStdString(), base + "/made");
    EXPECT_EQ(ex.PathEdit->text().toStdString(), base + "/made");
    ex.NamedFolderCB->setChecked(true);
    QTest::mouseClick(ex.OKBut, Qt::LeftButton);
  });
  QTest::mouseClick(m.ExtractBut, Qt::LeftButton);
  EXPECT_EQ(testfiles::ReadFile(base + "/made/bundle/x.txt"), "x");
  EXPECT_EQ(ExtractDir, base + "/made/bundle");
  // A name that cannot be a folder is refused and the dialog stays.
  ui.Texts = {"../escape"};
  ex.NewFolderButClick();
  EXPECT_FALSE(Exists(base + "/escape"));
  EXPECT_EQ(ui.LastBox().rfind("Could not create the folder", 0), 0u) << ui.LastBox();
}
