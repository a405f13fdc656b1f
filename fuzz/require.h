// The fuzz targets' one check.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzzing {

// Ends the run as a crash, which the fuzzing engine reports with the input that caused it,
// when a property every input must keep does not hold.
inline void require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

}  // namespace fuzzing
