// The four sort symbols as small pictures: . aqua (transparent), S silver, D dark grey,
// W white, K black, R red, N navy.

#include "SortSymbols.h"

namespace {

const char* const kSortUp[] = {
    "8 7 4 1", ". c #00FFFF", "S c #C0C0C0", "D c #808080", "W c #FFFFFF",
    "...SW...",
    "...SW...",
    "..SDDW..",
    "..SDDW..",
    ".SDDDDW.",
    ".SDDDDW.",
    "SWWWWWWW",
};

const char* const kSortDown[] = {
    "8 7 4 1", ". c #00FFFF", "S c #C0C0C0", "D c #808080", "W c #FFFFFF",
    "SSSSSSSW",
    ".SDDDDW.",
    ".SDDDDW.",
    "..SDDW..",
    "..SDDW..",
    "...SW...",
    "...SW...",
};

const char* const kSortAZ[] = {
    "16 16 4 1", ". c #00FFFF", "K c #000000", "R c #FF0000", "N c #000080",
    "................",
    "..KK.......N....",
    ".K..K......N....",
    ".K..K......N....",
    ".KKKK......N....",
    ".K..K......N....",
    ".K..K......N....",
    "...........N....",
    "...........N....",
    ".RRRR......N....",
    "....R......N....",
    "...R.......N....",
    "..R.....N..N..N.",
    ".R.......N.N.N..",
    ".RRRR.....NNN...",
    "...........N....",
};

const char* const kSortZA[] = {
    "16 16 4 1", ". c #00FFFF", "K c #000000", "R c #FF0000", "N c #000080",
    "...........N....",
    ".RRRR.....NNN...",
    "....R....N.N.N..",
    "...R....N..N..N.",
    "..R........N....",
    ".R.........N....",
    ".RRRR......N....",
    "...........N....",
    "...........N....",
    "..KK.......N....",
    ".K..K......N....",
    ".K..K......N....",
    ".KKKK......N....",
    ".K..K......N....",
    ".K..K......N....",
    "................",
};

}  // namespace

QImage SortSymbolPicture(const QString& name) {
  const char* const* xpm = name == u"SORTUP"   ? kSortUp
                           : name == u"SORTDN" ? kSortDown
                           : name == u"SORTAZ" ? kSortAZ
                           : name == u"SORTZA" ? kSortZA
                                               : nullptr;
  return xpm ? QImage(xpm).convertToFormat(QImage::Format_RGB32) : QImage();
}
