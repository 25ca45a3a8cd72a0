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
  const std::string archive = tmp->Path().string() + "/ja.zip";
  testfiles::Python(R"PY(
import struct, sys, zlib
body, central = b'', b''
for n in ['資料/会議.txt', 'ソフト/表.txt', '新しいフォルダー/テキスト.txt']:
    raw, crc = n.encode('cp932'), zlib.crc32(b'x')
    central += struct.pack('<IHHHHIIIIHHHHHII', 0x02014B50, 20, 20, 0, 0, 0x56B15000, crc, 1, 1, len(raw),
                           0, 0, 0, 0, 0x20, len(body)) + raw
    body += struct.pack('<IHHHIIIIHH', 0x04034B50, 20, 0, 0, 0x56B15000, crc, 1, 1, len(raw), 0) + raw + b'x'
open(sys.argv[1], 'wb').write(body + central + struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 3, 3, len(central),
                                                           len(body), 0))
)PY",
                    {archive});
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
