#include "AppState.h"

std::string OpenDir;
std::string NewDir;
std::string ExtractDir;
bool ExpandDirs = false;
bool OverWr = false;
bool AllFiles = false;
bool Canceled = false;
