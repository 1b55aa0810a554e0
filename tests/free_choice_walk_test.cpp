// The compiled free-choice walk is left out for texts dense with groups, whose
// steps would cost more memory per input byte than loading may take; the
// template tree then serves the same versions.
#include "free_choice_walk.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FreeChoiceWalk, CompilesWithinItsMemoryBudget) {
    using SyntaxStringGenerator::CFreeChoiceWalk;
    // About a megabyte of text: groups of two one-letter alternatives back
    // to back, or each after a paragraph.
    std::u16string dense = u"{";
    for (int i = 0; i < 200000; ++i) dense += u"{a|b}";
    dense += u"}";
    EXPECT_EQ(CFreeChoiceWalk::Build(dense), nullptr);
    const std::u16string paragraph(200, u'w');
    std::u16string sparse = u"{";
    for (int i = 0; i < 4000; ++i) sparse += paragraph + u"{a|b}";
    sparse += u"}";
    EXPECT_NE(CFreeChoiceWalk::Build(sparse), nullptr);
}

}  // namespace
