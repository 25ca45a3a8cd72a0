// TSortGrid: loading and saving the grid as text, one line per row and one separator
// character between cells, without quoting.

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

#include "SortGrid.h"

namespace {

[[noreturn]] void Fail(const QString& message) { throw EGridError(message.toStdString()); }

// CR LF, a lone CR or a lone LF ends a line; a last line without its end still counts.
QStringList SplitLines(const QString& text) {
  QStringList lines;
  qsizetype start = 0;
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = text[i];
    if (c != u'\r' && c != u'\n') continue;
    lines.append(text.mid(start, i - start));
    if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < n) lines.append(text.mid(start));
  return lines;
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
  QStringDecoder decoder(QStringDecoder::Utf8);
  const QString text = decoder.decode(data);
  if (decoder.hasError()) Fail(QStringLiteral("File \"%1\" is not UTF-8 text").arg(FileName));
  const QStringList lines = SplitLines(text);

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
  // Written aside and renamed into place, so that a failed save leaves the old file.
  QSaveFile file(FileName);
  if (!file.open(QIODevice::WriteOnly))
    Fail(QStringLiteral("Cannot create file \"%1\": %2").arg(FileName, file.errorString()));
  QString text;
  for (int r = 0; r < RowCount(); ++r) {
    text += Rows(r).join(Separator);
    text += QStringLiteral("\r\n");
  }
  if (file.write(text.toUtf8()) < 0 || !file.commit())
    Fail(QStringLiteral("Cannot write file \"%1\": %2").arg(FileName, file.errorString()));
}
