// The Win32 file system on real folders (under Wine in CI). Wine keeps no NTFS compression, so the
// compression tests check that each request reached the file system and what it left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "app/volume_line.hpp"
#include "scan/folder_walk.hpp"
#include "system.hpp"
#include "utils/compression.hpp"
#include "utils/size_text.hpp"
#include "utils/text.hpp"
#include "utils/win_handle.hpp"
#include "win_test_tree.hpp"

namespace packmeter {
namespace {

using testing::LinkFixture;
using testing::RunningUnderWine;
using testing::WinTestTree;

constexpr std::int64_t kGiB = 1024LL * 1024 * 1024;

struct Listed {
    bool folder = false;
    bool enterable = false;
    bool regular = false;
    std::uint32_t attributes = 0;
    std::int64_t size = 0;
    std::int64_t onDisk = 0;
};

std::map<std::string, Listed> ListAll(Folder& folder, int* count = nullptr) {
    std::map<std::string, Listed> listed;
    int visits = 0;
    EXPECT_TRUE(folder.List(ListDetail::kSizesAndState, [&](const Entry& e) {
        ++visits;
        listed[std::string(e.name)] = {e.folder,     e.enterable, e.regular,
                                       e.attributes, e.size,      e.onDisk};
        return true;
    }));
    if (count) {
        *count = visits;
    }
    return listed;
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
    std::unique_ptr<Folder> Open(const std::string& relative = {}) {
        return fs_->OpenFolder(tree_.Root() + relative);
    }

    WinTestTree tree_;
    std::shared_ptr<FileSystem> fs_ = MakeFileSystem();
};

TEST_F(WindowsFileSystemTest, ListsEachEntryOnceWithItsKindAndSizes) {
    tree_.Folder(L"sub");
    tree_.Folder(L".git");
    tree_.File(L"empty.txt", 0);
    tree_.File(L"one.bin", 1);
    tree_.File(L"page.bin", 4097);
    tree_.File(L"..twodots", 10);

    const auto folder = Open();
    ASSERT_TRUE(folder);
    int visits = 0;
    const auto listed = ListAll(*folder, &visits);
    EXPECT_EQ(visits, 6);  // no "." or ".."
    ASSERT_EQ(listed.size(), 6u);
    for (const char* name : {"sub", ".git"}) {
        const Listed& e = listed.at(name);
        EXPECT_TRUE(e.folder && e.enterable && !e.regular) << name;
        EXPECT_TRUE(e.attributes & attr::kDirectory) << name;
        EXPECT_EQ(e.size, 0) << name;
    }
    const std::map<std::string, std::int64_t> sizes{
        {"empty.txt", 0}, {"one.bin", 1}, {"page.bin", 4097}, {"..twodots", 10}};
    for (const auto& [name, size] : sizes) {
        const Listed& e = listed.at(name);
        EXPECT_TRUE(e.regular && !e.folder && !e.enterable) << name;
        EXPECT_EQ(e.size, size) << name;
        EXPECT_EQ(e.onDisk, size) << name;
    }
    // With or without a trailing separator, the same folder.
    std::string withoutSeparator = tree_.Root();
    withoutSeparator.pop_back();
    const auto again = fs_->OpenFolder(withoutSeparator);
    ASSERT_TRUE(again);
    EXPECT_EQ(ListAll(*again).size(), 6u);
}

TEST_F(WindowsFileSystemTest, FileOverFourGiBIsSizedFromBothHalves) {
    tree_.Folder(L"big");
    tree_.Sparse(L"big\\five.gib", 5 * kGiB);
    tree_.File(L"big\\small.bin", 3000);

    const auto folder = Open("big");
    ASSERT_TRUE(folder);
    const Listed five = ListAll(*folder).at("five.gib");
    EXPECT_EQ(five.size, 5 * kGiB);
    EXPECT_EQ(FormatSizePair(five.size, five.onDisk).size, "5120 MB");
    if (RunningUnderWine()) {
        // Wine answers every compressed-size question with the logical size, holes and all.
        EXPECT_EQ(five.onDisk, five.size);
    } else {
        EXPECT_TRUE(five.attributes & attr::kSparse);
        EXPECT_LT(five.onDisk, five.size);
    }
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    GetFolderSizes(*fs_, tree_.Root(), logical, onDisk, kMeasure);
    EXPECT_EQ(logical, 5 * kGiB + 3000);
}

TEST_F(WindowsFileSystemTest, UnicodeNamesComeAsUtf8AndFindTheirEntryAgain) {
    const std::string greek = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC";
    const std::string cjk = "\xE6\xBC\xA2\xE5\xAD\x97.txt";
    const std::string emoji = "\xF0\x9F\x93\xA6 box.bin";  // outside the BMP: a surrogate pair
    tree_.Folder(L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC");
    tree_.File(L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC\\\u6F22\u5B57.txt", 700);
    tree_.File(L"\u6F22\u5B57.txt", 100);
    tree_.File(L"\U0001F4E6 box.bin", 200);

    const auto folder = Open();
    ASSERT_TRUE(folder);
    const auto listed = ListAll(*folder);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed.at(greek).folder, true);
    EXPECT_EQ(listed.at(cjk).size, 100);
    EXPECT_EQ(listed.at(emoji).size, 200);

    // Back through every call that takes a name or a path.
    const auto sub = folder->OpenSubfolder(greek);
    ASSERT_TRUE(sub);
    EXPECT_EQ(ListAll(*sub).at(cjk).size, 700);
    const auto byPath = fs_->OpenFolder(tree_.Root() + greek);
    ASSERT_TRUE(byPath);
    EXPECT_EQ(ListAll(*byPath).size(), 1u);
    EXPECT_TRUE(IsFolder(tree_.Root() + greek));
    EXPECT_TRUE(Reached(folder->SetFileCompression(emoji, false)));
    EXPECT_TRUE(Reached(SetFileCompression(*fs_, tree_.Root() + greek + "\\" + cjk, false)));
}

TEST_F(WindowsFileSystemTest, PathsLongerThanMaxPathWork) {
    std::wstring deep;
    std::string deepUtf8;
    for (int level = 0; level < 5; ++level) {
        const std::wstring name = L"level-" + std::to_wstring(level) + std::wstring(60, L'x');
        deep += (deep.empty() ? L"" : L"\\") + name;
        deepUtf8 += (deepUtf8.empty() ? "" : "\\") + std::string(name.begin(), name.end());
    }
    tree_.Folder(deep);
    tree_.File(deep + L"\\deep.bin", 1234);
    const std::string deepPath = tree_.Root() + deepUtf8;
    ASSERT_GT(deepPath.size(), 300u);

    const auto folder = fs_->OpenFolder(deepPath);
    ASSERT_TRUE(folder);
    EXPECT_EQ(ListAll(*folder).at("deep.bin").size, 1234);
    EXPECT_TRUE(IsFolder(deepPath));
    EXPECT_EQ(FullPath(deepPath + "\\..\\" + deepUtf8.substr(deepUtf8.rfind('\\') + 1)), deepPath);
    EXPECT_TRUE(fs_->GetVolumeInfo(deepPath).valid);
    EXPECT_TRUE(Reached(folder->SetFileCompression("deep.bin", false)));
    EXPECT_TRUE(Reached(folder->SetCompression(false)));

    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    GetFolderSizes(*fs_, tree_.Root(), logical, onDisk, kMeasure);
    EXPECT_EQ(logical, 1234);
    EXPECT_EQ(CurrentScanFolder(), deepPath + "\\");
}

// The fixture (made on the host side, see CMakeLists.txt): target\data.bin of 1000 bytes,
// target\back, a link to the fixture itself, and link, a link to target.
TEST(WindowsFileSystemLinks, LinksAreListedAsFoldersOfNoSizeAndNeverEntered) {
    const std::string fixture = LinkFixture();
    if (fixture.empty()) {
        GTEST_SKIP() << "no link fixture (PACKMETER_LINK_FIXTURE)";
    }
    const auto fs = MakeFileSystem();
    const auto folder = fs->OpenFolder(fixture);
    ASSERT_TRUE(folder);
    const auto listed = ListAll(*folder);
    const Listed& link = listed.at("link");
    EXPECT_TRUE(link.folder);
    EXPECT_FALSE(link.enterable);
    EXPECT_FALSE(link.regular);
    EXPECT_TRUE(link.attributes & attr::kReparsePoint);
    EXPECT_EQ(link.size, 0);
    EXPECT_EQ(folder->OpenSubfolder("link"), nullptr);

    // Counted once, through the real folder only; the link back to the top would loop.
    std::int64_t logical = 0;
    std::int64_t onDisk = 0;
    GetFolderSizes(*fs, fixture, logical, onDisk, kMeasure);
    EXPECT_EQ(logical, 1000);
    // A link given as the folder itself is measured: the user chose it.
    EXPECT_TRUE(fs->OpenFolder(IncludeTrailingChar(fixture) + "link"));
}

TEST_F(WindowsFileSystemTest, VolumeOfAnyPathOnTheDrive) {
    const VolumeInfo volume = fs_->GetVolumeInfo(tree_.Root());
    ASSERT_TRUE(volume.valid);
    EXPECT_FALSE(volume.fileSystem.empty());
    const VolumeInfo missing = fs_->GetVolumeInfo(tree_.Root() + "not\\there\\yet");
    EXPECT_TRUE(missing.valid);
    EXPECT_EQ(missing.fileSystem, volume.fileSystem);
    if (RunningUnderWine()) {
        EXPECT_EQ(VolumeLine(volume),
                  "File System: NTFS    (Doesn't support file based compression!!)");
    }
    // A drive letter that names no volume.
    const DWORD drives = ::GetLogicalDrives();
    for (int letter = 25; letter >= 3; --letter) {
        if (!(drives & (1u << letter))) {
            const std::string root = std::string(1, static_cast<char>('A' + letter)) + ":\\";
            EXPECT_FALSE(fs_->GetVolumeInfo(root + "folder").valid) << root;
            break;
        }
    }
}

TEST_F(WindowsFileSystemTest, SwitchingCompressionReachesTheFileSystemAndKeepsTheData) {
    tree_.Folder(L"sub");
    tree_.File(L"sub\\data.bin", 100000);
    const std::string before = tree_.Read(L"sub\\data.bin");
    const auto folder = Open("sub");
    ASSERT_TRUE(folder);
    EXPECT_TRUE(fs_->CompressionAvailable());

    const bool folderSwitched = folder->SetCompression(false);
    EXPECT_TRUE(Reached(folderSwitched));
    const bool fileSwitched = folder->SetFileCompression("data.bin", false);
    EXPECT_TRUE(Reached(fileSwitched));
    if (RunningUnderWine()) {
        EXPECT_FALSE(folderSwitched);
        EXPECT_FALSE(fileSwitched);
    }
    EXPECT_EQ(static_cast<bool>(tree_.Attributes(L"sub") & FILE_ATTRIBUTE_COMPRESSED),
              folderSwitched);
    EXPECT_EQ(static_cast<bool>(tree_.Attributes(L"sub\\data.bin") & FILE_ATTRIBUTE_COMPRESSED),
              fileSwitched);
    EXPECT_EQ(tree_.Read(L"sub\\data.bin"), before);

    EXPECT_TRUE(Reached(folder->SetFileCompression("data.bin", true)));
    EXPECT_TRUE(Reached(folder->SetCompression(true)));
    EXPECT_FALSE(tree_.Attributes(L"sub\\data.bin") & FILE_ATTRIBUTE_COMPRESSED);
    EXPECT_EQ(tree_.Read(L"sub\\data.bin"), before);
}

TEST_F(WindowsFileSystemTest, FailuresStopBeforeTheRequestAndSayWhy) {
    tree_.Folder(L"sub");
    tree_.File(L"held.bin", 10);
    tree_.File(L"plain.bin", 10);
    const auto folder = Open();
    ASSERT_TRUE(folder);

    EXPECT_EQ(Open("missing"), nullptr);
    EXPECT_EQ(Open("plain.bin"), nullptr);
    EXPECT_EQ(folder->OpenSubfolder("plain.bin"), nullptr);
    EXPECT_EQ(folder->OpenSubfolder("missing"), nullptr);

    EXPECT_FALSE(folder->SetFileCompression("missing.bin", false));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SetFileCompression(*fs_, tree_.Root() + "missing\\x.bin", false));
    EXPECT_FALSE(SetFolderCompression(*fs_, tree_.Root() + "missing", false, true));

    // A folder is never opened as a file.
    EXPECT_FALSE(folder->SetFileCompression("sub", false));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    {
        const win::UniqueHandle holder(::CreateFileW(tree_.Long(L"held.bin").c_str(), GENERIC_READ,
                                                     0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_FALSE(folder->SetFileCompression("held.bin", false));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_TRUE(Reached(folder->SetFileCompression("held.bin", false)));
}

// The real file system with every compression switch written down.
struct Switch {
    std::string folder;
    bool decompress = false;
    bool switched = false;
    DWORD error = 0;
};

class RecordingFolder final : public Folder {
  public:
    RecordingFolder(std::unique_ptr<Folder> real, std::string path, std::vector<Switch>& log)
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
        log_.push_back({path_, decompress, switched, ::GetLastError()});
        return switched;
    }
    bool SetFileCompression(std::string_view name, bool decompress) override {
        const bool switched = real_->SetFileCompression(name, decompress);
        log_.push_back({path_ + std::string(name), decompress, switched, ::GetLastError()});
        return switched;
    }

  private:
    std::unique_ptr<Folder> real_;
    std::string path_;
    std::vector<Switch>& log_;
};

class RecordingFileSystem final : public FileSystem {
  public:
    std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
        auto folder = real_->OpenFolder(path);
        return folder ? std::make_unique<RecordingFolder>(std::move(folder), path, log) : nullptr;
    }
    VolumeInfo GetVolumeInfo(const std::string& path) override {
        return real_->GetVolumeInfo(path);
    }
    bool CompressionAvailable() const override { return real_->CompressionAvailable(); }

    std::vector<Switch> log;

  private:
    std::shared_ptr<FileSystem> real_ = MakeFileSystem();
};

TEST_F(WindowsFileSystemTest, CompressingWalkSwitchesEachFolderBeforeItsContent) {
    tree_.Folder(L"a\\inner");
    tree_.Folder(L"b");
    tree_.File(L"top.bin", 5000);
    tree_.File(L"a\\one.bin", 70000);
    tree_.File(L"a\\inner\\two.bin", 300);
    tree_.File(L"b\\three.bin", 1);
    const std::string content = tree_.Read(L"a\\one.bin");

    for (const int mode : {kCompress, kDecompress}) {
        RecordingFileSystem fs;
        std::int64_t logical = 0;
        std::int64_t onDisk = 0;
        GetFolderSizes(fs, tree_.Root(), logical, onDisk, mode);
        EXPECT_EQ(logical, 5000 + 70000 + 300 + 1);

        // Every folder got its own request, each before anything below it.
        std::vector<std::string> folders;
        for (const Switch& s : fs.log) {
            EXPECT_EQ(s.decompress, mode == kDecompress) << s.folder;
            if (s.folder.back() == '\\') {
                folders.push_back(s.folder);
            }
            if (!s.switched) {
                EXPECT_TRUE(s.error == ERROR_NOT_SUPPORTED || s.error == ERROR_INVALID_FUNCTION)
                    << s.folder << " error " << s.error;
            }
        }
        ASSERT_EQ(folders.size(), 4u);
        EXPECT_EQ(folders[0], tree_.Root());
        const auto at = [&](const std::string& relative) {
            return std::find(folders.begin(), folders.end(), tree_.Root() + relative) -
                   folders.begin();
        };
        EXPECT_LT(at("a\\"), at("a\\inner\\"));
        EXPECT_LT(at("b\\"), 4);
        if (RunningUnderWine()) {
            // Each folder refused: none of its files was touched.
            EXPECT_EQ(fs.log.size(), 4u);
        }
    }
    EXPECT_FALSE(tree_.Attributes(L"a\\one.bin") & FILE_ATTRIBUTE_COMPRESSED);
    EXPECT_EQ(tree_.Read(L"a\\one.bin"), content);
}

}  // namespace
}  // namespace packmeter
