// Loading and saving the grid as text.

#include <QFile>
#include <QTemporaryDir>

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

TEST_F(FilesTest, SavesAndLoadsWithEmptyCells) {
  Fill(g, {{"a", "", "c"}, {"ä", "ö", ""}});
  g.SaveToFile(Path("t.txt"), ';');
  EXPECT_EQ(Read("t.txt"), QByteArray("a;;c\r\n\xC3\xA4;\xC3\xB6;\r\n"));
  TSortGrid h;
  h.LoadFromFile(Path("t.txt"), ';');
  EXPECT_EQ(h.RowCount(), 2);
  EXPECT_EQ(h.ColCount(), 3);
  EXPECT_EQ(h.Rows(0), QStringList({"a", "", "c"}));
  EXPECT_EQ(h.Rows(1), QStringList({"ä", "ö", ""}));
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

TEST_F(FilesTest, EmptyFileLeavesOneEmptyRow) {
  Write("e.txt", "");
  Fill(g, {{"a", "b", "c"}, {"d", "e", "f"}});
  g.LoadFromFile(Path("e.txt"), ';');
  EXPECT_EQ(g.RowCount(), 1);
  EXPECT_EQ(g.FixedRows(), 0);
  EXPECT_EQ(g.ColCount(), g.FixedCols() + 1);
  EXPECT_EQ(g.Rows(0), QStringList({"", ""}));
}

TEST_F(FilesTest, BadFilesFailAndKeepTheGrid) {
  Fill(g, {{"keep", "me"}, {"x", "y"}});
  EXPECT_THROW(g.LoadFromFile(Path("missing.txt"), ';'), EGridError);
  Write("bad.txt", QByteArray("ok;\xFF\xFE\r\n"));
  EXPECT_THROW(g.LoadFromFile(Path("bad.txt"), ';'), EGridError);
  EXPECT_EQ(g.Rows(0), QStringList({"keep", "me"}));
  EXPECT_THROW(g.SaveToFile(Path("no/such/dir/t.txt"), ';'), EGridError);
}

}  // namespace
