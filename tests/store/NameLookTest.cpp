// SPDX-License-Identifier: MIT
#include "store/NameLook.h"

#include <gtest/gtest.h>
#include <unicode/uspoof.h>

#include <memory>
#include <string>

namespace {

// Plain ASCII names take a quicker road to their skeleton than ICU's own: every name of two
// printable ASCII characters, and of two beside a letter, must reach the very skeleton ICU gives.
TEST(NameLookTest, AsciiNamesHaveTheSkeletonIcuGives) {
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<USpoofChecker, decltype(&uspoof_close)> icu(uspoof_open(&status), uspoof_close);
    ASSERT_TRUE(U_SUCCESS(status));
    const auto icuSkeleton = [&](const std::string& name) {
        char skeleton[64];
        UErrorCode failure = U_ZERO_ERROR;
        const int32_t length = uspoof_getSkeletonUTF8(icu.get(), 0, name.data(), static_cast<int32_t>(name.size()),
                                                      skeleton, sizeof skeleton, &failure);
        EXPECT_TRUE(U_SUCCESS(failure)) << name;
        return std::string(skeleton, static_cast<std::size_t>(length));
    };
    for (char a = 0x20; a < 0x7F; ++a)
        for (char b = 0x20; b < 0x7F; ++b)
            for (const std::string& name : {std::string{a, b}, std::string{'r', a, b}})
                ASSERT_EQ(dao::NameLook::skeleton(name), icuSkeleton(name)) << name;
}

TEST(NameLookTest, SpacesAtEitherEndAreNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {" ", "begins with a space"},
        {"  ", "begins and ends with a space"},
        {"a b", ""},
        {"\u00A0petra", "begins with a space (U+00A0)"},
        {"ivan\u3000", "ends with a space (U+3000)"},
        {"\xFF ", ""}, // not UTF-8: the field rules speak of it
    };
    for (const auto& [name, reason] : cases)
        EXPECT_EQ(dao::NameLook::edgeSpace(name), reason) << name;
}

} // namespace
