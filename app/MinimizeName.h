#pragma once
// Shortening a path to a pixel width, keeping the mount point and the file name.

#include <QFontMetrics>
#include <QString>

// The mount point of the file system that holds `path` (the nearest existing folder of
// a path that does not exist yet), without a trailing '/'; empty for the root.
QString MountPointOf(const QString& path);

// Replaces leading folders with "..." one at a time until the text fits `maxWidth`;
// then drops the mount point too. `mountPoint` is as MountPointOf gives it.
QString MinimizeName(const QString& path, const QFontMetrics& metrics, int maxWidth, const QString& mountPoint);
