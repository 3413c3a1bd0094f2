// The Win32 file system on real folders (under Wine in CI, which keeps no NTFS compression: the
// compression tests check that each request reached the file system and what it left behind).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "core/app/volume_line.hpp"
#include "core/scan/folder_walk.hpp"
#include "core/scan/tree_measurer.hpp"
#include "core/utils/compression.hpp"
#include "core/utils/size_text.hpp"
#include "platform/system.hpp"
#include "platform/windows/utils/win_handle.hpp"
#include "platform/windows/utils/win_path.hpp"
#include "tests/platform/windows/win_test_tree.hpp"

namespace packmeter {
namespace {

using testing::RunningUnderWine;

constexpr std::int64_t kGiB = 1024LL * 1024 * 1024;

std::map<std::string, Entry> ListAll(Folder& folder) {
    std::map<std::string, Entry> listed;
    EXPECT_TRUE(folder.List(ListDetail::kSizesAndState, [&](const Entry& e) {
        EXPECT_FALSE(listed.contains(std::string(e.name))) << e.name;
        listed[std::string(e.name)] = e;
        listed[std::string(e.name)].name = {};
        return true;
    }));
    return listed;
}

std::int64_t MeasuredSize(FileSystem& fs, const std::string& path, WalkMode mode = kMeasure,
                          ScanProgress* progress = nullptr) {
    return GetFolderSizes(fs, path, mode, nullptr, progress).logical;
}

// A compression request that reached the file system: done, or refused by a volume that does not
// compress (Wine answers ERROR_NOT_SUPPORTED, FAT volumes ERROR_INVALID_FUNCTION).
::testing::AssertionResult Reached(bool switched) {
    const DWORD error = ::GetLastError();
    if (switched || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "stopped before the request, error " << error;
}

class WindowsFileSystemTest : public ::testing::Test {
  protected:
    testing::WinTestTree tree_;
    std::shared_ptr<FileSystem> fs_ = MakeFileSystem();
};

TEST_F(WindowsFileSystemTest, ListsEachEntryWithItsKindAndSizesFromBothHalves) {
    tree_.Folder(L".git");
    tree_.File(L"empty.txt", 0);
    tree_.File(L"page.bin", 4097);
    tree_.File(L"five.gib", 5 * kGiB, true);

    std::string root = tree_.Root();
    root.pop_back();  // without the trailing separator
    const auto folder = fs_->OpenFolder(root);
    ASSERT_TRUE(folder);
    const auto listed = ListAll(*folder);
    ASSERT_EQ(listed.size(), 4u);  // no "." or ".."
    const Entry& git = listed.at(".git");
    EXPECT_TRUE(git.folder && git.enterable && !git.regular && (git.attributes & attr::kDirectory));
    EXPECT_TRUE(listed.at("empty.txt").regular);
    EXPECT_EQ(listed.at("page.bin").size, 4097);
    EXPECT_EQ(listed.at("page.bin").onDisk, 4097);

    const Entry& five = listed.at("five.gib");
    EXPECT_EQ(five.size, 5 * kGiB);
    EXPECT_EQ(FormatSizePair(five.size, five.onDisk).size, "5120 MB");
    if (RunningUnderWine()) {
        EXPECT_EQ(five.onDisk, five.size);  // Wine reports holes as data
    } else {
        EXPECT_TRUE(five.attributes & attr::kSparse);
        EXPECT_LT(five.onDisk, five.size);
    }
    EXPECT_EQ(MeasuredSize(*fs_, root), 5 * kGiB + 4097);
}

TEST_F(WindowsFileSystemTest, UnicodeNamesComeAsUtf8AndFindTheirEntryAgain) {
    const std::string greek = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1";
    const std::string cjk = "\xE6\xBC\xA2\xE5\xAD\x97.txt";
    const std::string emoji = "\xF0\x9F\x93\xA6.bin";  // outside the BMP: a surrogate pair
    tree_.Folder(L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1");
    tree_.File(L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1\\\u6F22\u5B57.txt", 700);
    tree_.File(L"\U0001F4E6.bin", 200);

    const auto folder = fs_->OpenFolder(tree_.Root());
    ASSERT_TRUE(folder);
    const auto listed = ListAll(*folder);
    EXPECT_TRUE(listed.at(greek).folder);
    EXPECT_EQ(listed.at(emoji).size, 200);
    const auto sub = folder->OpenSubfolder(greek);
    ASSERT_TRUE(sub);
    EXPECT_EQ(ListAll(*sub).at(cjk).size, 700);
    EXPECT_TRUE(IsFolder(tree_.Root() + greek));
    EXPECT_TRUE(Reached(folder->SetFileCompression(emoji, false)));
    EXPECT_TRUE(Reached(SetFileCompression(*fs_, tree_.Root() + greek + "\\" + cjk, false)));
}

TEST_F(WindowsFileSystemTest, PathsLongerThanMaxPathWork) {
    std::wstring deep = L"deep";
    for (int level = 0; level < 5; ++level) {
        deep += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + level));
    }
    tree_.Folder(deep);
    tree_.File(deep + L"\\deep.bin", 1234);
    const std::string deepPath = tree_.Root() + std::string(deep.begin(), deep.end());
    ASSERT_GT(deepPath.size(), 300u);

    const auto folder = fs_->OpenFolder(deepPath);
    ASSERT_TRUE(folder);
    EXPECT_EQ(ListAll(*folder).at("deep.bin").size, 1234);
    EXPECT_TRUE(IsFolder(deepPath));
    EXPECT_EQ(FullPath(deepPath + "\\..\\" + std::string(60, 'e')), deepPath);
    EXPECT_TRUE(fs_->GetVolumeInfo(deepPath).valid);
    EXPECT_TRUE(Reached(folder->SetFileCompression("deep.bin", false)));
    ScanProgress progress;
    EXPECT_EQ(MeasuredSize(*fs_, tree_.Root(), kMeasure, &progress), 1234);
    EXPECT_EQ(progress.CurrentScanFolder(), deepPath + "\\");
}

TEST_F(WindowsFileSystemTest, ABareDriveIsItsRootNotTheDrivesCurrentFolder) {
    // The current folder of the drive lies below its root.
    tree_.Folder(L"inside");
    std::wstring before(::GetCurrentDirectoryW(0, nullptr), L'\0');
    before.resize(::GetCurrentDirectoryW(static_cast<DWORD>(before.size()), before.data()));
    ASSERT_TRUE(::SetCurrentDirectoryW(win::ToWide(tree_.Root() + "inside").c_str()));
    const std::string drive = tree_.Root().substr(0, 2);
    EXPECT_EQ(FullPath(drive), drive + "\\");
    const auto bare = fs_->OpenFolder(drive);
    const auto root = fs_->OpenFolder(drive + "\\");
    ASSERT_TRUE(bare && root);
    const auto listed = ListAll(*bare);
    EXPECT_FALSE(listed.empty());
    EXPECT_EQ(listed.size(), ListAll(*root).size());
    ::SetCurrentDirectoryW(before.c_str());
}

// Made on the host side (see CMakeLists.txt): target\data.bin of 1000 bytes, target\back linking
// to the fixture itself, link, linking to target, and two more names of data.bin (hard links):
// hard.bin and other\same.bin.
TEST(WindowsFileSystemLinks, LinksAreFoldersOfNoSizeAndNeverEntered) {
    const char* fixture = std::getenv("PACKMETER_LINK_FIXTURE");
    if (!fixture) {
        GTEST_SKIP() << "no link fixture (PACKMETER_LINK_FIXTURE)";
    }
    const auto fs = MakeFileSystem();
    const auto folder = fs->OpenFolder(fixture);
    ASSERT_TRUE(folder);
    const Entry link = ListAll(*folder).at("link");
    EXPECT_TRUE(link.folder && !link.enterable && !link.regular);
    EXPECT_TRUE(link.attributes & attr::kReparsePoint);
    EXPECT_EQ(link.size, 0);
    EXPECT_EQ(folder->OpenSubfolder("link"), nullptr);
    // Counted once, under each of its three names; following target\back would loop.
    EXPECT_EQ(MeasuredSize(*fs, fixture), 1000);
    EXPECT_EQ(MeasuredSize(*fs, std::string(fixture) + "\\other"), 1000);
    // The names are told apart by the file id Wine takes from the host's inode number.
    const Entry hard = ListAll(*folder).at("hard.bin");
    const auto other = folder->OpenSubfolder("other");
    ASSERT_TRUE(other);
    const Entry same = ListAll(*other).at("same.bin");
    EXPECT_NE(hard.fileId, 0u);
    EXPECT_EQ(hard.fileId, same.fileId);
    EXPECT_EQ(hard.volumeId, same.volumeId);
    // Once in the sum of the trees measured side by side, whichever thread meets it first.
    TreeMeasurer measurer(4);
    LinkedFiles all;
    std::vector<std::int64_t> rows;
    std::int64_t sum = 0;
    measurer.MeasureAll(*folder, std::string(fixture) + "\\", {{"other", true}, {"target", true}},
                        nullptr, nullptr, all,
                        [&](std::size_t, const FolderSizes& sizes, const FolderSizes& fresh) {
                            rows.push_back(sizes.logical);
                            sum += fresh.logical;
                        });
    EXPECT_EQ(rows, (std::vector<std::int64_t>{1000, 1000}));
    EXPECT_EQ(sum, 1000);
    EXPECT_FALSE(all.CountOnce(hard));
    // A link chosen as the folder itself is measured.
    EXPECT_EQ(MeasuredSize(*fs, std::string(fixture) + "\\link"), 1000);
}

TEST_F(WindowsFileSystemTest, VolumeOfAnyPathOnTheDrive) {
    const VolumeInfo volume = fs_->GetVolumeInfo(tree_.Root() + "not\\there\\yet");
    ASSERT_TRUE(volume.valid);
    if (RunningUnderWine()) {
        EXPECT_EQ(VolumeLine(volume),
                  "File System: NTFS    (Doesn't support file based compression!!)");
    }
    const DWORD drives = ::GetLogicalDrives();
    for (char letter = 'Y'; letter > 'C'; --letter) {
        if (!(drives & (1u << (letter - 'A')))) {
            EXPECT_FALSE(fs_->GetVolumeInfo(std::string(1, letter) + ":\\folder").valid);
            break;
        }
    }
}

TEST_F(WindowsFileSystemTest, CompressionRequestsFailBeforeOrAtTheFileSystemAndSayWhy) {
    tree_.Folder(L"sub");
    tree_.File(L"held.bin", 10);
    tree_.File(L"plain.bin", 100000);
    const std::string before = tree_.Read(L"plain.bin");
    const auto folder = fs_->OpenFolder(tree_.Root());
    ASSERT_TRUE(folder);
    EXPECT_TRUE(fs_->CompressionAvailable());

    EXPECT_EQ(fs_->OpenFolder(tree_.Root() + "missing"), nullptr);
    EXPECT_EQ(fs_->OpenFolder(tree_.Root() + "plain.bin"), nullptr);
    EXPECT_EQ(folder->OpenSubfolder("plain.bin"), nullptr);
    EXPECT_FALSE(folder->SetFileCompression("missing.bin", false));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(folder->SetFileCompression("sub", false));  // a folder is never opened as a file
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    {
        const win::UniqueHandle holder(::CreateFileW(tree_.Long(L"held.bin").c_str(), GENERIC_READ,
                                                     0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(folder->SetFileCompression("held.bin", false));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }

    const bool file = folder->SetFileCompression("plain.bin", false);
    EXPECT_TRUE(Reached(file));
    const auto sub = folder->OpenSubfolder("sub");
    ASSERT_TRUE(sub);
    const bool subfolder = sub->SetCompression(false);
    EXPECT_TRUE(Reached(subfolder));
    EXPECT_EQ(file || subfolder, !RunningUnderWine());
    EXPECT_EQ((tree_.Attributes(L"plain.bin") & FILE_ATTRIBUTE_COMPRESSED) != 0, file);
    EXPECT_EQ((tree_.Attributes(L"sub") & FILE_ATTRIBUTE_COMPRESSED) != 0, subfolder);
    EXPECT_EQ(tree_.Read(L"plain.bin"), before);
    EXPECT_TRUE(Reached(folder->SetFileCompression("plain.bin", true)));
    EXPECT_TRUE(Reached(sub->SetCompression(true)));
}

// The real folders, with each folder's compression request written down.
class RecordingFolder final : public Folder {
  public:
    RecordingFolder(std::unique_ptr<Folder> real, std::string path, std::vector<std::string>& log)
        : real_(std::move(real)), path_(std::move(path)), log_(log) {}
    bool List(ListDetail detail, const EntryVisitor& visit) override {
        return real_->List(detail, visit);
    }
    std::unique_ptr<Folder> OpenSubfolder(std::string_view name) override {
        auto sub = real_->OpenSubfolder(name);
        return sub ? std::make_unique<RecordingFolder>(std::move(sub),
                                                       path_ + std::string(name) + "\\", log_)
                   : nullptr;
    }
    bool SetCompression(bool decompress) override {
        const bool switched = real_->SetCompression(decompress);
        EXPECT_TRUE(Reached(switched)) << path_;
        log_.push_back((switched ? "+" : "refused ") + path_);
        return switched;
    }
    bool SetFileCompression(std::string_view name, bool decompress) override {
        log_.push_back("file " + path_ + std::string(name));
        return real_->SetFileCompression(name, decompress);
    }

  private:
    std::unique_ptr<Folder> real_;
    std::string path_;
    std::vector<std::string>& log_;
};

TEST_F(WindowsFileSystemTest, CompressingWalkAsksEveryFolderFirstAndKeepsTheData) {
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "would compress the temporary folder's volume for real";
    }
    tree_.Folder(L"a\\inner");
    tree_.File(L"top.bin", 5000);
    tree_.File(L"a\\inner\\two.bin", 300);
    const std::string content = tree_.Read(L"a\\inner\\two.bin");

    for (const WalkMode mode : {kCompress, kDecompress}) {
        std::vector<std::string> log;
        RecordingFolder root(fs_->OpenFolder(tree_.Root()), tree_.Root(), log);
        LinkedFiles links;
        EXPECT_EQ(GetFolderSizes(root, tree_.Root(), mode, nullptr, nullptr, links).logical, 5300);
        // Each folder refused: none of its files was asked.
        const std::vector<std::string> expected{"refused " + tree_.Root(),
                                                "refused " + tree_.Root() + "a\\",
                                                "refused " + tree_.Root() + "a\\inner\\"};
        EXPECT_EQ(log, expected);
    }
    EXPECT_FALSE(tree_.Attributes(L"a\\inner\\two.bin") & FILE_ATTRIBUTE_COMPRESSED);
    EXPECT_EQ(tree_.Read(L"a\\inner\\two.bin"), content);
}

}  // namespace
}  // namespace packmeter
