// The shell browser over the Linux namespace on a real folder: binding, the folder as its own
// object up to the root, name lookup and the paths a context menu is made for.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/shell/shell_browser.hpp"
#include "platform/linux/shell/linux_shell_space.hpp"

namespace packmeter::linuxfs {
namespace {

// A menu that records the paths it was made for and chooses nothing.
class NoChoice final : public ShellContextMenu {
  public:
    bool Build(const std::vector<MenuItem>&, bool) override { return true; }
    unsigned Track(ScreenPoint) override { return 0; }
    std::string Verb(unsigned) override { return {}; }
    bool Invoke(unsigned) override { return false; }
};

class LinuxShellSpaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/shell-space-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        std::filesystem::create_directories(root_ + "/sub/deeper");
        std::ofstream(root_ + "/a.txt") << "a";
        std::ofstream(root_ + "/b.doc") << "b";
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::shared_ptr<ShellSpace> Space() {
        return MakeLinuxShellSpace([this](std::vector<std::string> paths, bool) {
            menus_.push_back(std::move(paths));
            return std::make_unique<NoChoice>();
        });
    }

    std::string root_;
    std::vector<std::vector<std::string>> menus_;
};

TEST_F(LinuxShellSpaceTest, FoldersObjectsAndMenuPaths) {
    TShellBrowser browser(Space());
    EXPECT_EQ(browser.Folder(), "");

    // Bound without the separator, read back with it; the same path again keeps the binding.
    browser.SetFolder(root_ + "/sub");
    EXPECT_EQ(browser.Folder(), root_ + "/sub/");
    browser.SetObjectName("deeper");
    browser.SetFolder(root_ + "/sub/");
    EXPECT_EQ(browser.ObjectName(), "deeper");
    EXPECT_TRUE(browser.IsFolder());

    // A missing folder throws and keeps the binding.
    try {
        browser.SetFolder(root_ + "/missing");
        ADD_FAILURE() << "no error";
    } catch (const EShellBrowserError& error) {
        EXPECT_EQ(std::string(error.what()), kCannotFindFolder + root_ + "/missing");
    }
    EXPECT_EQ(browser.Folder(), root_ + "/sub/");

    // The folder as its own object: the parent becomes the folder, up to the root, whose
    // folder is the computer (no path).
    browser.SelectFolderAsObject();
    EXPECT_EQ(browser.Folder(), root_ + "/");
    EXPECT_EQ(browser.ObjectName(), "sub");
    browser.SetFolder("/");
    browser.SelectFolderAsObject();
    EXPECT_EQ(browser.Folder(), "");
    EXPECT_EQ(browser.ObjectName(), "/");
    browser.SelectFolderAsObject();
    EXPECT_EQ(browser.ObjectName(), "/");

    // A path moves the browser to its folder.
    browser.SetObjectName(root_ + "/a.txt");
    EXPECT_EQ(browser.Folder(), root_ + "/");
    EXPECT_EQ(browser.ObjectName(), "a.txt");
    EXPECT_FALSE(browser.IsFolder());

    // The walk through a filter: folders always pass.
    browser.SetFilter("*.TXT");
    std::vector<std::string> names;
    while (browser.NextObject()) {
        names.push_back(browser.ObjectName());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub"}));

    // The menu is made for whole paths: the names given, or the folder itself.
    std::string verb;
    browser.MultiObjects() = {"a.txt", "sub"};
    browser.ShowContextMenu({0, 0}, nullptr, verb);
    browser.SetFolder(root_ + "/sub");
    browser.SelectFolderAsObject();
    browser.ShowContextMenu({0, 0}, nullptr, verb);
    browser.SetFolder("/");
    browser.SelectFolderAsObject();
    browser.ShowContextMenu({0, 0}, nullptr, verb);
    EXPECT_EQ(menus_, (std::vector<std::vector<std::string>>{
                          {root_ + "/a.txt", root_ + "/sub"}, {root_ + "/sub"}, {"/"}}));
}

}  // namespace
}  // namespace packmeter::linuxfs
