#include "KilnSeams.h"

namespace kiln {

namespace {
constexpr KilnTestSeams kDefaults{nullptr, nullptr, -1, -1, 0};
KilnTestSeams current = kDefaults;
}  // namespace

const KilnTestSeams& Seams() { return current; }

}  // namespace kiln

extern "C" __attribute__((visibility("default"))) void KilnSetTestSeams(const KilnTestSeams* seams) {
  kiln::current = seams ? *seams : kiln::kDefaults;
}
