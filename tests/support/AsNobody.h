// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

namespace testing_support {

// Runs `check` in a child process as an operator without root's rights. Root may write to any
// file whatever its mode, so as root the child first becomes the user "nobody", without root's
// groups; any other user is such an operator already and stays who it is. The child reports its
// failed GoogleTest checks, and any error it throws, on the test's output as they happen; the
// current test then fails too. Nothing else the child does reaches this process.
void asNobody(const std::function<void()>& check);

} // namespace testing_support
