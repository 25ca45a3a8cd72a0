// The component's settings, messages, exception and small helpers.

#include <gtest/gtest.h>

#include "EntryText.h"
#include "MarlinMessages.h"
#include "ScriptedUi.h"
#include "TMarlin.h"

TEST(MarlinModel, SettersFollowTheirRules) {
  TMarlin m;
  // Safe until told otherwise: archives go to the trash, disks are erased only when confirmed.
  EXPECT_EQ(m.HowToDelete(), DeleteOpts::htdAllowUndo);
  EXPECT_TRUE(m.ConfirmErase());
  m.SetDLLDirectory("/opt/libs/");
  EXPECT_EQ(m.DLLDirectory(), "/opt/libs");
  m.SetDLLDirectory("/");
  EXPECT_EQ(m.DLLDirectory(), "/");

  m.SetPassword(std::string(300, 'p'));
  EXPECT_EQ(m.Password().size(), 255u);
  // 127 two-byte characters end at byte 254; the 128th would be cut in half at 255.
  std::string umlauts;
  for (int i = 0; i < 130; ++i) umlauts += "\xc3\xbc";
  m.SetPassword(umlauts);
  EXPECT_EQ(m.Password(), umlauts.substr(0, 254));
  m.SetPassword("a" + umlauts);
  EXPECT_EQ(m.Password(), ("a" + umlauts).substr(0, 255));
}

// Texts by number: placeholders filled in order, surplus ones kept rather than read past
// the values, and a missing number named; shown in a box only when attended.
TEST(MarlinModel, MessagesShownOnlyWhenAttended) {
  EXPECT_TRUE(MessageTableText(10104).empty());
  // A missing id is never formatted, whatever constructor was used.
  EXPECT_STREQ(EMarlin(12345, 7).what(),
               "ParleyXX.res is probably not bound to executable\nMissing String ID is: 12345");
  EXPECT_EQ(FormatMessageText("a %s b %d", {"x"}), "a x b %d");
  EXPECT_EQ(FormatMessageText("100% %s", {"y"}), "100% y");

  ScriptedUi ui;
  TMarlin m(&ui);
  std::vector<std::pair<int, std::string>> events;
  m.OnMessage = [&](TMarlin* sender, int code, const std::string& text) {
    EXPECT_EQ(sender, &m);
    events.emplace_back(code, text);
  };

  m.ReportMessage(10204);
  ASSERT_EQ(ui.Boxes.size(), 1u);
  EXPECT_EQ(ui.Boxes[0].Text, "Warning - Garbage at the end of the zipfile!");

  m.SetUnattended(true);
  m.ReportMessage(10801, " extra");
  EXPECT_EQ(ui.Boxes.size(), 1u);
  EXPECT_EQ(m.LastErrCode(), 10801);
  EXPECT_EQ(m.LastMessage(),
            "Error - On or more of the 4 property strings mentioned below exceeds 255 characters! extra");
  m.ReportMessage(4242);
  EXPECT_EQ(m.LastMessage(), "ParleyXX.res is probably not bound to executable\nMissing String ID is: 4242");

  // An exception that is not to be displayed still sets the last error and is logged.
  m.SetUnattended(false);
  m.ReportException(EMarlin(11007, false));
  EXPECT_EQ(ui.Boxes.size(), 1u);
  EXPECT_EQ(m.LastErrCode(), 11007);
  m.ReportException(EMarlin(11001, true));
  EXPECT_EQ(ui.Boxes.size(), 2u);

  ASSERT_EQ(events.size(), 5u);
  for (const auto& [code, text] : events) EXPECT_EQ(code, 0);
  EXPECT_EQ(events[3].second, "User canceled operation");
}

TEST(EntryText, PartsAndRatios) {
  EXPECT_EQ(EntryFileName("docs/sub/a.txt"), "a.txt");
  EXPECT_EQ(EntryPath("docs/sub/a.txt"), "docs/sub/");
  EXPECT_EQ(EntryPath("a.txt"), "");
  EXPECT_EQ(EntryFileName("docs/"), "");
  // Halves go to the even neighbour.
  EXPECT_EQ(RatioText(1, 8), "88% ");
  EXPECT_EQ(RatioText(3, 8), "62% ");
  EXPECT_EQ(RatioText(10, 5), "-100% ");
  EXPECT_EQ(RatioText(0, 0), "0% ");
  EXPECT_EQ(TotalRatioText(0, 0), "0 % ");
  EXPECT_EQ(TotalRatioText(5000000000ull, 10000000000ull), "50% ");
}

TEST(ZipContents, CompactEntriesReadBackWhole) {
  ZipContents c;
  c.reserve(4, 64);
  ZipDirEntry f;
  f.Crc32 = 0x12345678, f.ModDateTime = 0x56B15000, f.GeneralFlag = 0x0800, f.CommentLength = 4;
  f.PackedSize = f.UnpackedSize = f.LocalHeaderOffset = 0xFFFFFFFFu;
  f.PackedSize64 = 5'000'000'000ull, f.UnpackedSize64 = 6'000'000'000ull, f.LocalHeaderOffset64 = 7'000'000'000ull;
  c.Append(f, "docs/a.txt");
  c.SetComment(0, "note");
  ZipDirEntry plain;
  plain.PackedSize = plain.PackedSize64 = 3;
  c.Append(plain, "docs/");          // a folder entry shares its folder with the files in it
  c.Append(plain, "top.txt");
  c.Append(plain, "");
  c.SetName(3, "deep/" + std::string(70000, 'x'));  // longer than a 16-bit length
  c.SetNameIsUtf8(2);

  ASSERT_EQ(c.size(), 4u);
  const ZipDirEntry a = c[0];
  EXPECT_EQ(a.EntryName + " " + a.EntryComment, "docs/a.txt note");
  EXPECT_EQ(a.Crc32, 0x12345678u);
  EXPECT_EQ(a.PackedSize, 0xFFFFFFFFu);
  EXPECT_EQ(a.PackedSize64, 5'000'000'000ull);
  EXPECT_EQ(a.LocalHeaderOffset64, 7'000'000'000ull);
  EXPECT_EQ(a.NameCodePage, 65001);
  EXPECT_EQ(c.Folder(1), "docs/");
  EXPECT_EQ(c.FileName(1), "");
  EXPECT_EQ(c[1].EntryComment, "");
  EXPECT_EQ(c[2].NameCodePage, 65001);  // unflagged, named by a Unicode field
  EXPECT_EQ(c[1].NameCodePage, 0);
  EXPECT_EQ(c[3].EntryName.size(), 70005u);
  EXPECT_EQ(c.FileName(3), std::string(70000, 'x'));
}
