#include <gtest/gtest.h>

#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "gui/win32/shell/browse_for_folder.hpp"
#include "gui/win32/shell/shell_namespace.hpp"
#include "gui/win32/shell/system_image_list.hpp"
#include "platform/windows/utils/win_path.hpp"
#include "tests/gui/win32/win32_test_support.hpp"

namespace packmeter::win32 {
namespace {

TEST(ShellNamespaceTest, ItemIdListsAndTheDesktop) {
    EXPECT_EQ(IDListSize(EmptyIDList()), 2u);
    EXPECT_EQ(IDListItemCount(EmptyIDList()), 0u);
    EXPECT_EQ(IDListSize(nullptr), 0u);
    EXPECT_EQ(CopyIDList(nullptr), nullptr);
    // The empty list is the desktop.
    EXPECT_EQ(SpecialFolderOf(EmptyIDList()), SF_DESKTOP);

    const UniquePidl drives = SpecialFolderIDList(SF_DRIVES);
    ASSERT_NE(drives, nullptr);
    EXPECT_EQ(SpecialFolderOf(drives.get()), SF_DRIVES);
    const UniquePidl same = ConcatIDLists(drives.get(), EmptyIDList());
    ASSERT_EQ(IDListSize(same.get()), IDListSize(drives.get()));
    EXPECT_EQ(std::memcmp(same.get(), drives.get(), IDListSize(drives.get())), 0);
    const UniquePidl other = ConcatIDLists(nullptr, drives.get());
    EXPECT_EQ(IDListSize(other.get()), IDListSize(drives.get()));

    testing::TempTree tree;
    tree.Folder("inner");
    const UniquePidl folder = ParseNameToIDList(nullptr, tree.Path() + "inner");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(SpecialFolderOf(folder.get()), SF_FILESYSTEMFOLDER);
    EXPECT_EQ(IDListToPath(folder.get()), tree.Path() + "inner");
    // The items of two lists joined: the folder's list from its parent's and its own.
    const UniquePidl parent = ParseNameToIDList(nullptr, tree.Path());
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(IDListItemCount(folder.get()), IDListItemCount(parent.get()) + 1);
    EXPECT_EQ(ParseNameToIDList(nullptr, "Q:\\no\\such\\place\\here"), nullptr);
}

TEST(ShellNamespaceTest, UnicodeNamesAndPathsBeyondTheOldLimit) {
    testing::TempTree tree;
    tree.Folder("\xce\xb1\xce\xb2 \xe6\x96\x87");
    const std::string greek = tree.Path() + "\xce\xb1\xce\xb2 \xe6\x96\x87";
    const UniquePidl named = ParseNameToIDList(nullptr, greek);
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(IDListToPath(named.get()), greek);

    std::string relative;
    while ((tree.Path() + relative).size() < 320) {
        relative += std::string(40, 'd') + "\\";
    }
    tree.Folder(relative + "end");
    const std::string deep = tree.Path() + relative + "end";
    EXPECT_TRUE(ObjectExists(deep));
    // Not every shell parses such a name (Wine's does not); when it does, the path comes back
    // whole.
    if (const UniquePidl list = ParseNameToIDList(nullptr, deep)) {
        EXPECT_EQ(IDListToPath(list.get()), deep);
    }
}

TEST(ShellNamespaceTest, ObjectExistsAndStrRet) {
    EXPECT_TRUE(ObjectExists("C:"));
    EXPECT_TRUE(ObjectExists("C:\\"));
    EXPECT_TRUE(ObjectExists("Q:"));  // any drive letter with its colon
    EXPECT_FALSE(ObjectExists("C:\\no such folder here"));
    EXPECT_FALSE(ObjectExists(""));

    STRRET wide{};
    wide.uType = STRRET_WSTR;
    const wchar_t text[] = L"\u03b1 name";
    wide.pOleStr = static_cast<wchar_t*>(::CoTaskMemAlloc(sizeof(text)));
    std::memcpy(wide.pOleStr, text, sizeof(text));
    EXPECT_EQ(StrRetToString(wide, nullptr), "\xce\xb1 name");
    EXPECT_EQ(wide.pOleStr, nullptr);
    STRRET narrow{};
    narrow.uType = STRRET_CSTR;
    std::strcpy(narrow.cStr, "plain");
    EXPECT_EQ(StrRetToString(narrow, nullptr), "plain");
    BYTE item[16] = {12, 0, 'x', 'y', 'o', 'f', 'f', 0};
    STRRET offset{};
    offset.uType = STRRET_OFFSET;
    offset.uOffset = 4;
    EXPECT_EQ(StrRetToString(offset, reinterpret_cast<const ITEMIDLIST*>(item)), "off");
}

TEST(SystemImageListTest, SharedSmallAndLargeAndAnOwnCopy) {
    TQelSystemImageList images;
    SHFILEINFOW info{};
    const auto small = reinterpret_cast<HIMAGELIST>(
        ::SHGetFileInfoW(L"C:\\", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    EXPECT_EQ(images.Handle(), small);
    int cx = 0;
    int cy = 0;
    ImageList_GetIconSize(images.Handle(), &cx, &cy);
    EXPECT_EQ(cx, ::GetSystemMetrics(SM_CXSMICON));
    images.SetSize(si_large);
    ImageList_GetIconSize(images.Handle(), &cx, &cy);
    EXPECT_EQ(cx, ::GetSystemMetrics(SM_CXICON));
    images.SetSize(si_small);
    EXPECT_EQ(images.Handle(), small);
    {
        TQelSystemImageList own;
        own.SetShareImages(false);
        ASSERT_NE(own.Handle(), nullptr);
        EXPECT_NE(own.Handle(), small);
        EXPECT_EQ(ImageList_GetImageCount(own.Handle()), ImageList_GetImageCount(small));
    }
    // The copy is gone; the shell's list is still there.
    EXPECT_GT(ImageList_GetImageCount(small), 0);
}

enum class PickerAnswer { kCancel, kChooseFirst, kConfirm };

// Answers the picker from another thread once it is open: cancels it, selects the tree's first
// item and confirms, or confirms what it selected itself.
std::thread DrivePicker(PickerAnswer answer, std::atomic<bool>& seen) {
    return std::thread([answer, &seen] {
        const bool choose = answer == PickerAnswer::kChooseFirst;
        // Up to a minute: a loaded machine starts the dialog slowly.
        for (int i = 0; i < 2400; ++i) {
            const HWND dialog = testing::FindOwnDialog();
            if (dialog) {
                seen = true;
                ::Sleep(300);
                if (choose) {
                    const HWND tree = ::FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
                    const auto root =
                        HTREEITEM(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
                    ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(root));
                    ::Sleep(100);
                }
                if (answer == PickerAnswer::kConfirm) {
                    // Until the picker has selected the folder it was opened at.
                    const HWND tree = ::FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
                    for (int j = 0; j < 2400; ++j) {
                        wchar_t text[MAX_PATH] = {};
                        TVITEMW item{};
                        item.mask = TVIF_TEXT;
                        item.hItem =
                            HTREEITEM(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
                        item.pszText = text;
                        item.cchTextMax = MAX_PATH;
                        if (item.hItem && ::SendMessageW(tree, TVM_GETITEMW, 0, LPARAM(&item)) &&
                            std::wstring(text) == L"inner") {
                            break;
                        }
                        ::Sleep(25);
                    }
                }
                ::PostMessageW(dialog, WM_COMMAND,
                               answer == PickerAnswer::kCancel ? IDCANCEL : IDOK, 0);
                return;
            }
            ::Sleep(25);
        }
    });
}

TEST(BrowseForFolderTest, CancelledAndAcceptedByTheUser) {
    testing::TempTree tree;
    tree.Folder("pick me");
    // Made before any dialog opens: the shell's notice of a new folder refreshes an open tree,
    // which then selects the new folder's parent (a user's folder shown is not that new).
    tree.Folder("pick me\\inner");
    TQelBrowseForFolder picker;
    EXPECT_TRUE(picker.Options().Has(bfNewDialogStyle));
    EXPECT_EQ(picker.RootedAt(), SF_DESKTOP);
    int shown = 0;
    int closed = 0;
    picker.onShow = [&] { ++shown; };
    picker.onClose = [&] { ++closed; };
    picker.SetTitle("Please select a folder for which the compression rate should be calculated.");
    picker.SetOptions({bfNewDialogStyle, bfFileSystemOnly});
    std::atomic<bool> seen{false};
    std::thread cancel = DrivePicker(PickerAnswer::kCancel, seen);
    EXPECT_FALSE(picker.Execute());
    cancel.join();
    EXPECT_TRUE(seen);
    EXPECT_EQ(picker.SelectedFolder(), "");
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(closed, 1);

    // Rooted at a folder: its tree's first item is that folder.
    picker.SetRootedAtFileSystemFolder(tree.Path() + "pick me");
    EXPECT_EQ(picker.RootedAt(), SF_FILESYSTEMFOLDER);
    seen = false;
    std::thread accept = DrivePicker(PickerAnswer::kChooseFirst, seen);
    EXPECT_TRUE(picker.Execute());
    accept.join();
    EXPECT_EQ(picker.SelectedFolder(), tree.Path() + "pick me");

    // Opened at the folder shown: confirmed as it opens, that folder is the choice.
    picker.SetRootedAt(SF_DESKTOP);
    picker.SetStartFolder(tree.Path() + "pick me\\inner");
    seen = false;
    std::thread confirm = DrivePicker(PickerAnswer::kConfirm, seen);
    EXPECT_TRUE(picker.Execute());
    confirm.join();
    EXPECT_EQ(picker.SelectedFolder(), tree.Path() + "pick me\\inner");
}

}  // namespace
}  // namespace packmeter::win32
