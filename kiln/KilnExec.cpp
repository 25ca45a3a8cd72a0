// The two entry points of the library.

#include "KilnParams.h"
#include "KilnReporter.h"

#include <CompressionLibraries.h>

#include <exception>

#define KILN_EXPORT extern "C" __attribute__((visibility("default")))

KILN_EXPORT int32_t GetKilnVersion(void) { return kiln::kKilnVersion; }

KILN_EXPORT int32_t KilnExec(KilnParamsCommon* params) {
  if (!params) return 0;
  kiln::Reporter reporter(params->CallbackProc, params->Caller);
  try {
    kiln::Request request;
    if (!kiln::ReadParams(params, request, reporter)) return 0;
    int result = request.deleteOn ? kiln::RunDelete(request, reporter) : kiln::RunAdd(request, reporter);
    return result < 0 ? 0 : result;
  } catch (const std::bad_alloc&) {
    reporter.Message(kLibErrMemory, "Out of memory");
  } catch (const std::exception& e) {
    reporter.Message(kLibErrWrite, std::string("Internal error: ") + e.what());
  }
  return 0;
}
