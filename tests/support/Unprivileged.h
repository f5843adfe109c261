#pragma once

#include <functional>

// Runs `body` where file permissions apply: directly for an ordinary user, and in a child
// process that has dropped to the "nobody" user when the tests run as root (root writes
// into read-only folders regardless). Returns what `body` returned, or -1 if it could not
// run. The body must not use gtest assertions; it reports through its result.
int RunUnprivileged(const std::function<int()>& body);
