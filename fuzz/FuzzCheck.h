// The fuzzers' check: a property that fails names its line and aborts, so
// that libFuzzer keeps the input as a finding.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void FuzzCheckFailed(int ALine) {
  std::fprintf(stderr, "check failed at line %d\n", ALine);
  std::abort();
}

#define CHECK(condition) \
  if (!(condition)) FuzzCheckFailed(__LINE__)
