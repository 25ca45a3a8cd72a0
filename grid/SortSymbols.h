#pragma once
// The sort symbol pictures. Aqua (0, 255, 255) marks their transparent pixels.

#include <QImage>
#include <QString>

// "SORTUP" and "SORTDN" (8 x 7 arrows), "SORTAZ" and "SORTZA" (16 x 16 letter glyphs);
// a null image for any other name.
QImage SortSymbolPicture(const QString& name);
