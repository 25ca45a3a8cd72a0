// The View menu's name encoding: the grid shows names in the code page judged or chosen.

#include "AppTestSupport.h"
#include "NameEncodingMenu.h"

namespace {

QAction* EncodingAction(NameEncodingMenu& menu, const QString& startsWith) {
  for (QAction* a : menu.Nameencoding1->actions())
    if (a->text().startsWith(startsWith)) return a;
  return nullptr;
}

}  // namespace

TEST_F(AppTest, NameEncodingChoiceRefillsTheGrid) {
  const std::string archive = *tmp / "ja.zip";
  testfiles::WriteFile(archive, testfiles::CraftArchive({{testfiles::Sjis("資料/会議.txt"), ""},
                                                         {testfiles::Sjis("ソフト/表.txt"), ""},
                                                         {testfiles::Sjis("新しいフォルダー/テキスト.txt"), ""}}));
  Start(QString::fromStdString(archive));
  NameEncodingMenu& menu = *Main().NameMenu;
  const std::vector<QString> judged = GridColumn(0);
  EXPECT_NE(std::find(judged.begin(), judged.end(), QString("表.txt")), judged.end());
  emit menu.Nameencoding1->aboutToShow();
  EXPECT_EQ(EncodingAction(menu, "Automatic")->text(), "Automatic (cp932 (Japanese, Shift-JIS))");
  EXPECT_NE(menu.InformationText().find("read as cp932 (Japanese, Shift-JIS), judged from the names (3 of them)"),
            std::string::npos)
      << menu.InformationText();

  // Another code page, chosen: the same entries, read differently.
  EncodingAction(menu, "cp936")->trigger();
  const std::vector<QString> chosen = GridColumn(0);
  EXPECT_EQ(chosen.size(), judged.size());
  EXPECT_EQ(std::find(chosen.begin(), chosen.end(), QString("表.txt")), chosen.end());
  EXPECT_NE(menu.InformationText().find("cp936 (Simplified Chinese, GBK), as chosen"), std::string::npos);
  menu.Archiveinformation1->trigger();
  EXPECT_NE(ui.LastBox().find("Entries: 3"), std::string::npos) << ui.LastBox();

  EncodingAction(menu, "Automatic")->trigger();
  EXPECT_EQ(GridColumn(0), judged);
  // A newly opened archive is judged afresh.
  EncodingAction(menu, "cp866")->trigger();
  menu.ArchiveChanged();
  EXPECT_EQ(Main().Marlin1.NameCodePage(), 0);
}
