// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

namespace testing_support {

// Runs `check` in a child process as an operator without root's rights, and tells whether it ran
// to its end with no failed GoogleTest check. Root may write to any file whatever its mode, so as
// root the child first becomes the user "nobody", without root's groups; any other user is such
// an operator already and stays who it is. The child reports its failed checks, and any error it
// throws, on the test's output as they happen; nothing it does reaches this process otherwise.
bool asNobody(const std::function<void()>& check);

} // namespace testing_support
