#include "core/app/main_menu.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "core/utils/text.hpp"

#include "core/about/url_target.hpp"

namespace packmeter {
namespace {

TEST(MainMenu, HintsPicturesAndReadmePlaces) {
    struct HintCase {
        const char* hint;
        const char* shortForm;
        const char* longForm;
    };
    for (const auto& c : std::vector<HintCase>{
             {"Exit|Quits the application", "Exit", "Quits the application"},
             {"Opens the Readme file", "Opens the Readme file", "Opens the Readme file"},
             {"", "", ""}}) {
        EXPECT_EQ(ShortHint(c.hint), c.shortForm);
        EXPECT_EQ(LongHint(c.hint), c.longForm);
    }
    // Every command once in the menus, each picture 16 × 16 in known colours.
    std::vector<int> seen(kMenuCommandCount);
    for (const auto& menu : MenuBarLayout()) {
        for (const MenuCommand entry : menu.entries) {
            if (entry != kSeparator) {
                ++seen[std::size_t(entry)];
            }
        }
    }
    EXPECT_EQ(seen, std::vector<int>(kMenuCommandCount, 1));
    std::string keys = ".";
    for (const auto& colour : PictureColours()) {
        keys += colour.key;
    }
    for (std::size_t i = 0; i < kMenuCommandCount; ++i) {
        EXPECT_EQ(std::size_t(kMenuCommands[i].command), i);
        for (const char* row : FallbackPicture(MenuCommand(i))) {
            ASSERT_EQ(std::strlen(row), 16u) << i;
            EXPECT_EQ(std::string(row).find_first_not_of(keys), std::string::npos) << row;
        }
    }
    const char sep = kPathSeparator;
    EXPECT_EQ(ReadmeCandidates("/opt/pm", true),
              (std::vector<std::string>{
                  std::string("/opt/pm") + sep + "Readme.txt",
                  std::string("/opt/pm") + sep + "../share/doc/packmeter/Readme.txt"}));
    EXPECT_EQ(ReadmeCandidates(std::string("C:") + sep, false),
              (std::vector<std::string>{std::string("C:") + sep + "Readme.txt"}));
}

TEST(UrlLabelTarget, UrlElseCaptionElseNothing) {
    struct Case {
        const char* url;
        const char* caption;
        std::optional<std::string> target;
    };
    const std::vector<Case> cases = {
        {"", "https://packmeter.org/", "https://packmeter.org/"},
        {"   ", "https://packmeter.org/", "https://packmeter.org/"},
        {" mailto:a@b.org ", "a@b.org", " mailto:a@b.org "},
        {"", "  ", std::nullopt},
        {"\t", "", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UrlLabelTarget(c.url, c.caption), c.target) << c.url << "|" << c.caption;
    }
}

}  // namespace
}  // namespace packmeter
