#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace kw::test {

// CI runs as root with every package: a case that cannot run there is a broken test.
inline bool inCi() {
    const char* ci = std::getenv("CI");
    return ci && *ci && std::strcmp(ci, "0") != 0 && std::strcmp(ci, "false") != 0;
}

}  // namespace kw::test

// Skipped on a developer's machine, failed in CI.
#define KW_CANNOT_RUN(reason)                                 \
    do {                                                      \
        if (::kw::test::inCi())                               \
            GTEST_FAIL() << "cannot run in CI: " << (reason); \
        else                                                  \
            GTEST_SKIP() << (reason);                         \
    } while (false)
