#pragma once
// The liblzma stream pump that the LZMA and xz decoders share.

#include <lzma.h>

#include "Codec.h"

namespace sluice {

// Runs a decoder set up in `z` (whose input may already hold bytes from `b.in`) to the end
// of its stream: kOk there, with what is left of the input in `z` and `ended` when the source
// gave 0. `onFormatError` is what a stream that does not start as one counts as.
CodecResult PumpLzma(lzma_stream& z, CodecBuffers& b, bool& ended, const CodecSource& source, const CodecSink& sink,
                     CodecResult onFormatError);

}  // namespace sluice
