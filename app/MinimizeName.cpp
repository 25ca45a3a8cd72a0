#include "MinimizeName.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

QString MountPointOf(const QString& path) {
  QFileInfo info(path);
  QString at = info.absoluteFilePath();
  while (!at.isEmpty() && !QFileInfo::exists(at)) {
    const QString up = QFileInfo(at).absolutePath();
    if (up == at) break;
    at = up;
  }
  QStorageInfo storage(at);
  QString root = storage.isValid() ? storage.rootPath() : QString();
  while (root.endsWith('/')) root.chop(1);
  return root;
}

namespace {

// "/a/b/c/" -> "/.../b/c/", "/.../b/c/" -> "/.../c/".
QString CutFirstDirectory(const QString& dir) {
  static const QString kDots = QStringLiteral("/.../");
  QString rest = dir.startsWith(kDots) ? dir.mid(kDots.size()) : dir.mid(1);
  const int slash = rest.indexOf('/');
  rest = slash < 0 ? QString() : rest.mid(slash + 1);
  return kDots + rest;
}

}  // namespace

QString MinimizeName(const QString& path, const QFontMetrics& metrics, int maxWidth, const QString& mountPoint) {
  QString result = path;
  const int slash = path.lastIndexOf('/');
  QString dir = slash < 0 ? QString() : path.left(slash + 1);
  const QString name = path.mid(slash + 1);
  QString drive;
  if (!mountPoint.isEmpty() && dir.startsWith(mountPoint + '/')) {
    drive = mountPoint;
    dir = dir.mid(mountPoint.size());
  }
  while ((!dir.isEmpty() || !drive.isEmpty()) && metrics.horizontalAdvance(result) > maxWidth) {
    if (dir == QLatin1String("/.../")) {
      drive.clear();
      dir = QStringLiteral(".../");
    } else if (dir == QLatin1String(".../")) {
      break;
    } else if (dir.isEmpty() || dir == QLatin1String("/")) {
      if (drive.isEmpty()) break;
      drive.clear();
    } else {
      dir = CutFirstDirectory(dir);
    }
    result = drive + dir + name;
  }
  return result;
}
