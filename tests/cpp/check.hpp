// The check harness of the C++ test programs: counts, and prints each failure.
#pragma once

#include <cstdio>

namespace test_support {

inline int passed = 0;
inline int failed = 0;

inline void check(bool ok, const char* what, int line) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED line %d: %s\n", line, what);
    }
}

}  // namespace test_support

#define CHECK(expr) test_support::check((expr), #expr, __LINE__)
