// SPDX-License-Identifier: MIT
#pragma once

// The loop counts of the reliability checks: full in the plain build, divided under the
// sanitizers, which slow every step several times over.
namespace reliability {

constexpr int scaled(int count) {
    return count / RELIABILITY_DIVISOR;
}

} // namespace reliability
