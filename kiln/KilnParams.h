#pragma once
// Reading the parameter record in the layout this build's version selects.

#include "KilnTypes.h"

namespace kiln {

#ifdef KILN_OLDER_LAYOUT
constexpr int32_t kKilnVersion = 150;
#else
constexpr int32_t kKilnVersion = 154;
#endif

// Fills `request` from the record (tracing every field when asked). False when the record
// is unusable; the reason has been reported.
bool ReadParams(const KilnParamsCommon* params, Request& request, Reporter& reporter);

}  // namespace kiln
