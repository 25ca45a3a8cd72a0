#pragma once
// The libzip data source of one entry being added: a file (read here, or taken already
// deflated from the workers), a link target, or nothing for a folder. It reports the
// entry's progress to the component as libzip writes it.

#include "KilnWalk.h"

#include <zip.h>

#include <cstddef>

namespace kiln {

class DeflateEngine;

// What the sources of one writing pass share.
struct AddPass {
  Reporter& reporter;
  DeflateEngine* engine = nullptr;
  bool cancelled = false;
  // The first entry whose file could not be read, and why (errno, -1: it shrank).
  long failedItem = -1;
  int failedError = 0;
};

// `*engineIndex` is the entry's place in the engine when `deflated`; it may be set after
// the source is made, as long as it is before the archive is written.
zip_source_t* MakeEntrySource(zip_t* archive, AddPass& pass, const AddItem& item, size_t itemIndex,
                              bool deflated, const size_t* engineIndex);

}  // namespace kiln
