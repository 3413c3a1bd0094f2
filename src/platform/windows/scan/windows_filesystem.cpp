// The file system through the Win32 API: listings with GetFileInformationByHandleEx (many
// entries a call, each with its file id, so that a file with several names counts once), on-disk
// sizes with GetCompressedFileSizeW, NTFS compression with FSCTL_SET_COMPRESSION. A folder is its
// full path in "\\?\" form and a sub-folder appends its name.
#include <windows.h>
#include <winioctl.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "core/utils/forecast.hpp"
#include "platform/chunk_codecs.hpp"
#include "platform/system.hpp"
#include "platform/windows/utils/win_handle.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter {

namespace {

using win::FindHandle;
using win::UniqueHandle;

std::int64_t Combine(DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

std::wstring WithSeparator(std::wstring path) {
    if (path.empty() || path.back() != L'\\') {
        path += L'\\';
    }
    return path;
}

// Symbolic links, junctions and mount points (the reparse tags that stand for another name) are
// never followed: a profile's "Application Data" junction points back at its own parent, and a
// link's target is counted where it really lives. Other reparse points (WOF-compressed files,
// deduplicated files, cloud files and folders) hold their own data and are measured as usual.
// Listings carry the tag (in dwReserved0, or EaSize of a by-handle listing); Wine leaves it 0,
// so a point without a tag is a link.
bool IsLink(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (tag == 0 || IsReparseTagNameSurrogate(tag));
}

bool IsLink(const WIN32_FIND_DATAW& data) {
    return IsLink(data.dwFileAttributes, data.dwReserved0);
}

// Only compressed, sparse and reparse-point files can take other room than their size: for any
// other file GetCompressedFileSizeW answers with the size itself, so the open it costs is skipped.
bool MayDifferOnDisk(DWORD attributes) {
    return attributes &
           (FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_REPARSE_POINT);
}

std::int64_t OnDiskSize(const std::wstring& path, std::int64_t logical) {
    DWORD high = 0;
    // INVALID_FILE_SIZE is also a valid low half; only the last error tells them apart.
    ::SetLastError(NO_ERROR);
    const DWORD low = ::GetCompressedFileSizeW(path.c_str(), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) {
        return logical;
    }
    return Combine(high, low);
}

// Opens `path` for reading and writing, others may go on reading and writing it, and sends the
// compression request. The reason of a failure stays in the last error for the caller.
bool SwitchCompression(const std::wstring& path, DWORD openFlags, bool decompress) {
    if (!IsNTPlatform()) {
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    openFlags, nullptr));
    if (!file) {
        return false;
    }
    USHORT format = decompress ? COMPRESSION_FORMAT_NONE : COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    const bool switched = ::DeviceIoControl(file.get(), FSCTL_SET_COMPRESSION, &format,
                                            sizeof format, nullptr, 0, &returned, nullptr) != FALSE;
    const DWORD error = ::GetLastError();
    file.reset();
    ::SetLastError(error);
    return switched;
}

// The system's text for an error code, in UTF-8, without the trailing line break.
std::string ErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 && buffer ? std::wstring(buffer, length) : std::wstring();
    if (buffer) {
        ::LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    return text.empty() ? "error " + std::to_string(error) : win::ToUtf8(text);
}

// Reads a file once for the forecast; sequential reads let the cache read ahead and drop behind.
class WindowsFileReader final : public FileReader {
  public:
    explicit WindowsFileReader(UniqueHandle file) : file_(std::move(file)) {}

    std::int64_t Read(std::int64_t offset, std::uint8_t* buffer, std::int64_t size) override {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!::ReadFile(file_.get(), buffer, static_cast<DWORD>(size), &got, &at)) {
            return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
        }
        return got;
    }
    std::int64_t NextHole(std::int64_t) override {
        LARGE_INTEGER size{};
        return ::GetFileSizeEx(file_.get(), &size) ? size.QuadPart : 0;
    }

  private:
    UniqueHandle file_;
};

class WindowsFolder final : public Folder {
  public:
    // `path`: long form with a trailing separator; `volume`: the serial number of its volume.
    WindowsFolder(std::wstring path, std::uint64_t volume,
                  std::shared_ptr<const CompressionChoice> choice)
        : path_(std::move(path)), volume_(volume), choice_(std::move(choice)) {}

    bool List(ListDetail, const EntryVisitor& visit) override {
        UniqueHandle folder(::CreateFileW(path_.c_str(), FILE_LIST_DIRECTORY,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
        if (!folder) {
            return false;
        }
        // One call fills the buffer with as many entries as fit; 64 KiB holds some 600.
        constexpr DWORD kBufferBytes = 64 * 1024;
        const auto buffer = std::make_unique<std::uint64_t[]>(kBufferBytes / sizeof(std::uint64_t));
        std::string name;
        for (;;) {
            if (!::GetFileInformationByHandleEx(folder.get(), FileIdBothDirectoryInfo, buffer.get(),
                                                kBufferBytes)) {
                // The end; an empty drive root, which has no "." entry, ends at once.
                const DWORD error = ::GetLastError();
                return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND;
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.get());
            for (;;) {
                const auto& info = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
                const std::wstring_view wideName(info.FileName,
                                                 info.FileNameLength / sizeof(wchar_t));
                if (wideName != L"." && wideName != L"..") {
                    name = win::ToUtf8(wideName);
                    if (!visit(MakeEntry(info, wideName, name))) {
                        return true;
                    }
                }
                if (info.NextEntryOffset == 0) {
                    break;
                }
                bytes += info.NextEntryOffset;
            }
        }
    }

    std::unique_ptr<Folder> OpenSubfolder(std::string_view name) override {
        const std::wstring path = path_ + win::ToWide(name);
        // The entry itself as the listing shows it, for its attributes and reparse tag.
        WIN32_FIND_DATAW data;
        const FindHandle find(::FindFirstFileExW(path.c_str(), FindExInfoBasic, &data,
                                                 FindExSearchNameMatch, nullptr, 0));
        if (!find || !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsLink(data)) {
            return nullptr;
        }
        // Mount points are links: a folder entered is always on its parent's volume.
        return std::make_unique<WindowsFolder>(path + L'\\', volume_, choice_);
    }

    // Backup semantics is what lets CreateFileW open a folder at all.
    bool SetCompression(bool decompress) override {
        return Remember(SwitchCompression(path_, FILE_FLAG_BACKUP_SEMANTICS, decompress));
    }

    // Opened without backup semantics, so that a folder given here fails.
    bool SetFileCompression(std::string_view name, bool decompress) override {
        if (!decompress && BelowThreshold(name)) {
            failure_.clear();
            return true;
        }
        return Remember(SwitchCompression(path_ + win::ToWide(name), 0, decompress));
    }

    std::string LastFailure() const override { return failure_; }

    std::unique_ptr<FileReader> OpenFile(std::string_view name) override {
        UniqueHandle file(::CreateFileW((path_ + win::ToWide(name)).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) {
            return nullptr;
        }
        return std::make_unique<WindowsFileReader>(std::move(file));
    }

  private:
    // The threshold of the compression choice: files whose first MiB would save too little
    // are left plain.
    bool BelowThreshold(std::string_view name) {
        if (!choice_ || choice_->minSavingPercent <= 0) {
            return false;
        }
        CompressionChoice method;
        method.algorithm = CompressionAlgorithm::kLznt1;
        const std::unique_ptr<FileReader> reader = OpenFile(name);
        const std::unique_ptr<ChunkCompressor> compressor = MakeChunkCompressor(method);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!reader || !compressor ||
            !::GetFileAttributesExW((path_ + win::ToWide(name)).c_str(), GetFileExInfoStandard,
                                    &data)) {
            return false;
        }
        const std::int64_t size = Combine(data.nFileSizeHigh, data.nFileSizeLow);
        return LeaveAlone(name, *reader, size, ForecastRules::kNtfs, *choice_, *compressor);
    }

    bool Remember(bool switched) {
        failure_ = switched ? std::string() : ErrorText(::GetLastError());
        return switched;
    }

    Entry MakeEntry(const FILE_ID_BOTH_DIR_INFO& info, std::wstring_view wideName,
                    std::string_view name) const {
        const DWORD attributes = info.FileAttributes;
        Entry entry;
        entry.name = name;
        entry.attributes = attributes;
        entry.folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
        const bool link = IsLink(attributes, info.EaSize);
        entry.enterable = entry.folder && !link;
        entry.regular = !entry.folder && !link;
        if (entry.regular) {
            entry.size = info.EndOfFile.QuadPart;
            // GetCompressedFileSizeW rounds a small compressed file up to its clusters.
            entry.onDisk =
                MayDifferOnDisk(attributes)
                    ? ShownOnDisk(OnDiskSize(path_ + std::wstring(wideName), entry.size), entry.size)
                    : entry.size;
            // The listing tells no link count: every file goes by its id, so that a file
            // with several names counts once.
            entry.links = 0;
            entry.volumeId = volume_;
            entry.fileId = static_cast<std::uint64_t>(info.FileId.QuadPart);
        }
        return entry;
    }

    std::wstring path_;
    std::uint64_t volume_;
    std::shared_ptr<const CompressionChoice> choice_;
    std::string failure_;
};

class WindowsFileSystem final : public FileSystem {
  public:
    std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
        if (path.empty()) {
            return nullptr;
        }
        const std::wstring folder = WithSeparator(win::LongPath(win::ToWide(path)));
        const DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return nullptr;
        }
        // Listing needs this right; asking for it now tells an unreadable folder from an empty one.
        UniqueHandle probe(::CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
        if (!probe) {
            return nullptr;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        const std::uint64_t volume =
            ::GetFileInformationByHandle(probe.get(), &info) ? info.dwVolumeSerialNumber : 0;
        return std::make_unique<WindowsFolder>(folder, volume, choice_);
    }

    void SetCompressionChoice(const CompressionChoice& choice) override {
        choice_ = std::make_shared<const CompressionChoice>(choice);
    }

    VolumeInfo GetVolumeInfo(const std::string& path) override {
        VolumeInfo info;
        const std::wstring root = win::VolumeRoot(win::ToWide(path));
        if (root.empty()) {
            return info;
        }
        DWORD flags = 0;
        // MAX_PATH + 1 is the bound the API documents for the file-system name (not a path).
        std::wstring name(MAX_PATH + 1, L'\0');
        if (!::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags,
                                     name.data(), static_cast<DWORD>(name.size()))) {
            return info;
        }
        name.resize(name.find(L'\0'));
        info.valid = true;
        info.fileSystem = win::ToUtf8(name);
        info.supportsCompression = flags & FILE_FILE_COMPRESSION;
        return info;
    }

    bool CompressionAvailable() const override { return IsNTPlatform(); }

  private:
    std::shared_ptr<const CompressionChoice> choice_;
};

}  // namespace

std::shared_ptr<FileSystem> MakeFileSystem() {
    return std::make_shared<WindowsFileSystem>();
}

}  // namespace packmeter
