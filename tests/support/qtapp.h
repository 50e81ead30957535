#pragma once

#include <functional>

namespace kw::test {

// One application object for the whole test program, on the offscreen platform unless the test
// chose another (tests of the cycle yield to its event loop, window tests need it).
void ensureApplication();

// Lets events run until condition holds or the deadline passes; answers the condition.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

}  // namespace kw::test
