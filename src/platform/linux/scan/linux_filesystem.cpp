// Provisional plain back end; replaced by the full Linux back end.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "system.hpp"

namespace packmeter {

namespace {

class PlainFolder final : public Folder {
public:
    explicit PlainFolder(int fd) : fd_(fd) {}
    ~PlainFolder() override { ::close(fd_); }

    bool List(ListDetail, const EntryVisitor& visit) override {
        const int dup = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dup < 0) {
            return false;
        }
        DIR* dir = ::fdopendir(dup);
        if (!dir) {
            ::close(dup);
            return false;
        }
        while (dirent* d = ::readdir(dir)) {
            if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) {
                continue;
            }
            struct stat st {};
            if (::fstatat(fd_, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            Entry e;
            e.name = d->d_name;
            e.folder = S_ISDIR(st.st_mode);
            e.enterable = e.folder;
            e.regular = S_ISREG(st.st_mode);
            e.size = e.regular ? st.st_size : 0;
            e.onDisk = e.size;
            if (!visit(e)) {
                break;
            }
        }
        ::closedir(dir);
        return true;
    }
    std::unique_ptr<Folder> OpenSubfolder(std::string_view name) override {
        const int fd = ::openat(fd_, std::string(name).c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        return fd < 0 ? nullptr : std::make_unique<PlainFolder>(fd);
    }
    bool SetCompression(bool) override { return false; }
    bool SetFileCompression(std::string_view, bool) override { return false; }

private:
    int fd_;
};

class PlainFileSystem final : public FileSystem {
public:
    std::unique_ptr<Folder> OpenFolder(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return fd < 0 ? nullptr : std::make_unique<PlainFolder>(fd);
    }
    VolumeInfo GetVolumeInfo(const std::string&) override { return {}; }
    bool CompressionAvailable() const override { return true; }
};

}  // namespace

std::shared_ptr<FileSystem> MakeFileSystem() { return std::make_shared<PlainFileSystem>(); }

}  // namespace packmeter
