// Loading and saving the grid as text.

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "GridTestSupport.h"

namespace {

class FilesTest : public GridTest {
 protected:
  QString Path(const QString& name) const { return dir.filePath(name); }
  QByteArray Read(const QString& name) const {
    QFile f(Path(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
  }
  void Write(const QString& name, const QByteArray& data) const {
    QFile f(Path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
  }
  QTemporaryDir dir;
  TSortGrid g;
};

TEST_F(FilesTest, SavesAndLoadsWithEmptyCellsAndBadFilesKeepTheGrid) {
  Fill(g, {{"a", "", "c"}, {"ä", "ö", ""}});
  g.SaveToFile(Path("t.txt"), ';');
  EXPECT_EQ(Read("t.txt"), QByteArray("a;;c\r\n\xC3\xA4;\xC3\xB6;\r\n"));
  TSortGrid h;
  h.LoadFromFile(Path("t.txt"), ';');
  EXPECT_EQ(h.RowCount(), 2);
  EXPECT_EQ(h.Rows(0), QStringList({"a", "", "c"}));
  EXPECT_EQ(h.Rows(1), QStringList({"ä", "ö", ""}));

  EXPECT_THROW(h.LoadFromFile(Path("missing.txt"), ';'), EGridError);
  EXPECT_EQ(h.Rows(0), QStringList({"a", "", "c"}));
  EXPECT_THROW(h.SaveToFile(Path("no/such/dir/t.txt"), ';'), EGridError);

  // An empty file leaves one empty row.
  Write("e.txt", "");
  h.LoadFromFile(Path("e.txt"), ';');
  EXPECT_EQ(h.RowCount(), 1);
  EXPECT_EQ(h.FixedRows(), 0);
  EXPECT_EQ(h.ColCount(), h.FixedCols() + 1);
  EXPECT_EQ(h.Rows(0), QStringList({"", ""}));
}

TEST_F(FilesTest, RaggedLinesAndLineEnds) {
  Write("r.txt", QByteArray("1,2\r\n1,2,3,4,5\r3,4,5\nlast"));
  g.SetFixedCols(1);
  g.LoadFromFile(Path("r.txt"), ',');
  EXPECT_EQ(g.RowCount(), 4);
  EXPECT_EQ(g.ColCount(), 5);
  EXPECT_EQ(g.Rows(0), QStringList({"1", "2", "", "", ""}));
  EXPECT_EQ(g.Rows(2), QStringList({"3", "4", "5", "", ""}));
  EXPECT_EQ(g.Rows(3), QStringList({"last", "", "", "", ""}));

  // A NUL ends the text.
  Write("n.txt", QByteArray("x\ty\n", 4) + QByteArray(1, '\0') + "z\n");
  g.LoadFromFile(Path("n.txt"), '\t');
  EXPECT_EQ(g.RowCount(), 1);
  EXPECT_EQ(g.Rows(0).mid(0, 2), QStringList({"x", "y"}));
}

TEST_F(FilesTest, EightBitTextLoadsAsLatin1WhereItIsNotUtf8) {
  Write("l.txt", QByteArray("M\xFCller;\xA0x\r\nM\xC3\xBCller;y\r\n\xFF\xFE"));
  g.LoadFromFile(Path("l.txt"), ';');
  ASSERT_EQ(g.RowCount(), 3);
  EXPECT_EQ(g.Rows(0), QStringList({"M\u00fcller", "\u00a0x"}));
  EXPECT_EQ(g.Rows(1), QStringList({"M\u00fcller", "y"}));
  EXPECT_EQ(g.Cells(0, 2), "\u00ff\u00fe");
}

TEST_F(FilesTest, SavingKeepsSpecialFilesLinksAndTargets) {
  const QByteArray expected("a;b\r\n");
  Fill(g, {{"a", "b"}});
  auto stat_ = [](const QString& p) {
    struct stat st {};
    EXPECT_EQ(lstat(QFile::encodeName(p).constData(), &st), 0) << p.toStdString();
    return st;
  };

  // Hard links: both names still share the file, which has the new text.
  Write("h1.txt", "old");
  ASSERT_EQ(link(QFile::encodeName(Path("h1.txt")).constData(), QFile::encodeName(Path("h2.txt")).constData()), 0);
  g.SaveToFile(Path("h1.txt"), ';');
  EXPECT_EQ(stat_(Path("h1.txt")).st_ino, stat_(Path("h2.txt")).st_ino);
  EXPECT_EQ(Read("h2.txt"), expected);

  // Symbolic links stay links; the text goes to the target, also one not made yet.
  Write("target.txt", "old");
  ASSERT_TRUE(QFile::link(Path("target.txt"), Path("link.txt")));
  ASSERT_TRUE(QFile::link(Path("later.txt"), Path("dangling.txt")));
  g.SaveToFile(Path("link.txt"), ';');
  g.SaveToFile(Path("dangling.txt"), ';');
  EXPECT_TRUE(S_ISLNK(stat_(Path("link.txt")).st_mode));
  EXPECT_TRUE(S_ISLNK(stat_(Path("dangling.txt")).st_mode));
  EXPECT_EQ(Read("target.txt"), expected);
  EXPECT_EQ(Read("later.txt"), expected);

  // A FIFO stays one and its reader gets the text.
  const QByteArray fifo = QFile::encodeName(Path("fifo"));
  ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);
  const int reader = open(fifo.constData(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  g.SaveToFile(Path("fifo"), ';');
  EXPECT_TRUE(S_ISFIFO(stat_(Path("fifo")).st_mode));
  pollfd pfd{reader, POLLIN, 0};
  char buf[64] = {};
  const ssize_t got = poll(&pfd, 1, 2000) == 1 ? read(reader, buf, sizeof buf) : -1;
  close(reader);
  EXPECT_EQ(QByteArray(buf, got > 0 ? static_cast<int>(got) : 0), expected);

  // As root, another user's file keeps its owner.
  Write("theirs.txt", "old");
  const QByteArray theirs = QFile::encodeName(Path("theirs.txt"));
  if (geteuid() == 0 && chown(theirs.constData(), 65534, 65534) == 0) {
    g.SaveToFile(Path("theirs.txt"), ';');
    EXPECT_EQ(stat_(Path("theirs.txt")).st_uid, 65534u);
    EXPECT_EQ(Read("theirs.txt"), expected);
  }

  // A device node (a null device of its own, made here) stays a device.
  const QByteArray device = QFile::encodeName(Path("null"));
  if (mknod(device.constData(), S_IFCHR | 0600, makedev(1, 3)) != 0) GTEST_SKIP() << "mknod needs root";
  g.SaveToFile(Path("null"), ';');
  EXPECT_TRUE(S_ISCHR(stat_(Path("null")).st_mode));
}

}  // namespace
