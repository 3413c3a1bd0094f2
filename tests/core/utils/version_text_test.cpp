#include "core/utils/version_text.hpp"

#include <gtest/gtest.h>

namespace packmeter {
namespace {

TEST(ComposeVersionString, ProductFirstAndFileInParentheses) {
    EXPECT_EQ(ComposeVersionString("1.2", "1.2.0.8", true), "1.2");
    EXPECT_EQ(ComposeVersionString("1.2", "1.2.0.8", false), "1.2   (1.2.0.8)");
    EXPECT_EQ(ComposeVersionString("", "1.2.0.8", true), "1.2.0.8");
    EXPECT_EQ(ComposeVersionString("1.2", "", false), "1.2");
    EXPECT_EQ(ComposeVersionString("", "", false), "");
}

}  // namespace
}  // namespace packmeter
