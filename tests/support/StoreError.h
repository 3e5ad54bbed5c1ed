// SPDX-License-Identifier: MIT
#pragma once

#include "store/Error.h"

#include <gmock/gmock.h>

namespace testing_support {

// Matches the store's error by its number and, optionally, its description:
//     EXPECT_THAT([&] { servers->Update(); }, ThrowsStoreError(dao::ErrorNumber::RowRemoved));
//     EXPECT_THAT([&] { open(); }, ThrowsStoreError(dao::ErrorNumber::FileInUse, HasSubstr("in use")));
// A failure shows the number and the description that were thrown.
MATCHER_P2(IsStoreError, number, description,
           "is error " + ::testing::PrintToString(static_cast<int>(number)) + " with a description that " +
               ::testing::DescribeMatcher<const std::string&>(description)) {
    *result_listener << "error " << arg.number() << ": " << arg.description();
    return arg.code() == number && ::testing::Matches(description)(arg.description());
}

inline auto ThrowsStoreError(dao::ErrorNumber number) {
    return ::testing::Throws<dao::Error>(IsStoreError(number, ::testing::A<std::string>()));
}

template <class DescriptionMatcher> auto ThrowsStoreError(dao::ErrorNumber number, DescriptionMatcher description) {
    return ::testing::Throws<dao::Error>(
        IsStoreError(number, ::testing::SafeMatcherCast<const std::string&>(description)));
}

} // namespace testing_support
