// The fuzz targets' one assertion: a broken rule must stop the run with a
// crash libFuzzer records, whatever the build's NDEBUG says.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "failed: %s\n", what);
    std::abort();
  }
}
