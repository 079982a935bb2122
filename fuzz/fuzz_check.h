// The fuzz targets' assertion: a property that must hold for every input.
// It stops the run whatever the build type, so that libFuzzer keeps the
// input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace vi2zezir::fuzz {

inline void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

} // namespace vi2zezir::fuzz
