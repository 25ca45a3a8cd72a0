#pragma once
/* Points where the library's own tests step in, so that they need no timing: set through the
 * exported KilnSetTestSeams, which the component never calls. Null restores the defaults. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KilnTestSeams {
  /* Called after each block of a source file has been read (on a worker thread for deflated
   * files), before the next block of any file is read: a test may change the file here. */
  void (*AfterBlockRead)(void* context, const char* path, uint64_t offset, uint64_t length);
  void* Context;
  int32_t HeartbeatMs;     /* quiet time after which a heartbeat reaches the callback; < 0: default */
  int32_t LockWaitMs;      /* how long a writer waits for another to finish; < 0: default */
  int32_t NamedTemporary;  /* nonzero: the new archive has a name from the start, as without O_TMPFILE */
} KilnTestSeams;

typedef void (*KilnSetTestSeamsFn)(const KilnTestSeams* seams);

#ifdef __cplusplus
}

namespace kiln {
// The seams in force (all defaults unless a test set them).
const KilnTestSeams& Seams();
}  // namespace kiln
#endif
