#include "platform/windows/scan/shell_icon_source.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "tests/platform/windows/win_test_tree.hpp"

namespace packmeter {
namespace {

TEST(ShellIconSource, SmallIconsOfFilesAndFoldersOnAnyThreadAndAnyDepth) {
    testing::WinTestTree tree;
    const std::wstring deep = std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b');
    tree.Folder(deep + L"\\folder");
    tree.File(deep + L"\\text.txt", 10);
    tree.Folder(L"folder");
    tree.File(L"text.txt", 10);
    const auto icons = MakeShellIconSource();

    const int file = icons->IconIndex(tree.Root(), "text.txt", false);
    const int folder = icons->IconIndex(tree.Root(), "folder", true);
    EXPECT_GE(file, 0);
    EXPECT_GE(folder, 0);
    EXPECT_NE(file, folder);

    // A scan asks from its worker thread, which has no COM of its own yet.
    int fromThread = -2;
    std::thread([&] { fromThread = icons->IconIndex(tree.Root(), "folder", true); }).join();
    EXPECT_EQ(fromThread, folder);

    // Beyond the shell's path length an entry gets the icon of its kind.
    const std::string deepRoot = tree.Root() + std::string(150, 'a') + "\\" + std::string(150, 'b');
    EXPECT_EQ(icons->IconIndex(deepRoot, "text.txt", false), file);
    EXPECT_EQ(icons->IconIndex(deepRoot, "folder", true), folder);

    // Files show their type's icon whatever their case; programs, icons and shortcuts their
    // own, read from the file only when asked for it.
    tree.File(L"tool.exe", 10);
    EXPECT_EQ(icons->IconIndex(tree.Root(), "OTHER.TXT", false), file);
    EXPECT_EQ(icons->IconIndex(tree.Root(), "tool.exe", false), IconSource::kOwnIcon);
    EXPECT_EQ(icons->IconIndex(tree.Root(), "Setup.EXE", false), IconSource::kOwnIcon);
    EXPECT_GE(icons->OwnIconIndex(tree.Root(), "tool.exe"), 0);
    EXPECT_EQ(icons->OwnIconIndex(tree.Root(), "text.txt"), file);
}

}  // namespace
}  // namespace packmeter
