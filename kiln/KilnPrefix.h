#pragma once
// Whatever stands in front of an archive's first entry (a self-extractor's program and
// header): libzip drops it when it writes, so the library keeps it itself.

#include <cstdint>
#include <string>

namespace kiln {

// The offset of the first entry of the archive in the open file `fd` (the start of the
// central directory when there are no entries); 0 when no end record is found (libzip
// then judges the file).
uint64_t FindPrefix(int fd);

}  // namespace kiln
