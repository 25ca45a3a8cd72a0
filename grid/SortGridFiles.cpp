// TSortGrid: loading and saving the grid as text, one line per row and one separator
// character between cells, without quoting.

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "SortGrid.h"

namespace {

[[noreturn]] void Fail(const QString& message) { throw EGridError(message.toStdString()); }

// CR LF, a lone CR or a lone LF ends a line; a last line without its end still counts.
// Each line is UTF-8 where it is valid, otherwise Latin-1: any 8-bit text loads, and a
// file of mixed origin keeps every line readable.
QStringList SplitLines(const QByteArray& data) {
  QStringList lines;
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  auto append = [&](QByteArrayView line) {
    QString text = utf8.decode(line);
    if (utf8.hasError()) {
      text = QString::fromLatin1(line);
      utf8.resetState();
    }
    lines.append(text);
  };
  qsizetype start = 0;
  const qsizetype n = data.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char c = data[i];
    if (c != '\r' && c != '\n') continue;
    append(QByteArrayView(data).sliced(start, i - start));
    if (c == '\r' && i + 1 < n && data[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < n) append(QByteArrayView(data).sliced(start));
  return lines;
}

// Where the text goes: the target of a symbolic link (followed as opening it would),
// else the name itself.
QString WriteTarget(const QString& name) {
  QFileInfo info(name);
  for (int hops = 0; info.isSymLink() && hops < 40; ++hops) info.setFile(info.symLinkTarget());
  return info.filePath();
}

// Only a regular file of ours with no other name (or no file yet) may be replaced by a
// new one; a FIFO, a device, a file with hard links or another user's file is written in
// place to stay what it is and whose it is.
bool MayReplace(const QString& path) {
  struct stat st {};
  if (lstat(QFile::encodeName(path).constData(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid();
}

}  // namespace

void TSortGrid::LoadFromFile(const QString& FileName, QChar Separator) {
  // Everything is read before the grid changes: a file that cannot be read leaves the
  // grid's contents in place.
  QFile file(FileName);
  if (!file.open(QIODevice::ReadOnly))
    Fail(QStringLiteral("Cannot open file \"%1\": %2").arg(FileName, file.errorString()));
  QByteArray data = file.readAll();
  if (file.error() != QFileDevice::NoError)
    Fail(QStringLiteral("Cannot read file \"%1\": %2").arg(FileName, file.errorString()));
  file.close();
  const qsizetype nul = data.indexOf('\0');
  if (nul >= 0) data.truncate(nul);
  const QStringList lines = SplitLines(data);

  ClearAll();
  SetRowCount(static_cast<int>(lines.size()));
  SetColCount(FixedCols() + 1);
  for (int i = 0; i < lines.size(); ++i) {
    const QStringList fields = lines[i].split(Separator);
    if (fields.size() > ColCount()) SetColCount(static_cast<int>(fields.size()));
    SetRows(i, fields);
  }
  RememberCell();
}

void TSortGrid::SaveToFile(const QString& FileName, QChar Separator) {
  QString text;
  for (int r = 0; r < RowCount(); ++r) {
    text += Rows(r).join(Separator);
    text += QStringLiteral("\r\n");
  }
  const QByteArray data = text.toUtf8();
  const QString target = WriteTarget(FileName);
  if (MayReplace(target)) {
    // Written aside and renamed into place, so that a failed save leaves the old file;
    // straight into it where its folder takes no new file.
    QSaveFile file(target);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
      Fail(QStringLiteral("Cannot create file \"%1\": %2").arg(FileName, file.errorString()));
    if (file.write(data) != data.size() || !file.commit())
      Fail(QStringLiteral("Cannot write file \"%1\": %2").arg(FileName, file.errorString()));
    return;
  }
  QFile file(target);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
    Fail(QStringLiteral("Cannot create file \"%1\": %2").arg(FileName, file.errorString()));
  if (file.write(data) != data.size() || !file.flush())
    Fail(QStringLiteral("Cannot write file \"%1\": %2").arg(FileName, file.errorString()));
  file.close();
  if (file.error() != QFileDevice::NoError)
    Fail(QStringLiteral("Cannot write file \"%1\": %2").arg(FileName, file.errorString()));
}
