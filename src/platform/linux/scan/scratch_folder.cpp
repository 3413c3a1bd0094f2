#include "platform/linux/scan/scratch_folder.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/linux/scan/dir_reader.hpp"

namespace packmeter::linuxfs {

namespace {

constexpr std::string_view kPrefix = ".packmeter-";
constexpr const char* kState = "state";
constexpr const char* kMarker = "owner";
constexpr std::string_view kMagic = "packmeter scratch folder";
constexpr const char* kDosName = "system.ntfs_dos_name";

// The process id of a scratch folder's name, or 0 when the name is not one.
pid_t ScratchOwner(std::string_view name) {
    if (!name.starts_with(kPrefix)) {
        return 0;
    }
    name.remove_prefix(kPrefix.size());
    const auto dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size()) {
        return 0;
    }
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + dash, pid);
    if (ec != std::errc() || end != name.data() + dash || pid <= 0) {
        return 0;
    }
    const std::string_view number = name.substr(dash + 1);
    return number.find_first_not_of("0123456789") == std::string_view::npos ? pid : 0;
}

// FUSE file systems refuse a rename that must not replace (EINVAL), so there it is checked that
// the name is free first. A rename of a folder fails over a file and replaces only an empty
// folder, which another process would have to make in the moment between the two calls.
bool MoveFolderNoReplace(int fromFd, const char* from, int dirFd, const std::string& name) {
    if (::renameat2(fromFd, from, dirFd, name.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT && ::renameat(fromFd, from, dirFd, name.c_str()) == 0;
}

// When a process started, in clock ticks since boot, and which boot: a process id alone may
// have been given to another process since.
std::string StartOf(pid_t pid) {
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(statFile, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return {};
    }
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
    }
    std::ifstream bootFile("/proc/sys/kernel/random/boot_id");
    std::string boot;
    std::getline(bootFile, boot);
    return field + "@" + boot;
}

// The marker each scratch folder holds from the moment it is made, written by nobody else: a
// fixed first line, a random token, the owner's process id and when that process started.
// Only a folder whose name and marker agree is treated as a scratch folder.
struct Marker {
    std::string token;
    pid_t pid = 0;
    std::string start;
};

std::string MarkerText(const Marker& marker) {
    return std::string(kMagic) + "\n" + marker.token + "\n" + std::to_string(marker.pid) + "\n" +
           marker.start + "\n";
}

std::optional<Marker> ReadMarker(int dirFd, std::string_view name) {
    const pid_t owner = ScratchOwner(name);
    if (owner == 0) {
        return std::nullopt;
    }
    const UniqueFd folder(::openat(dirFd, std::string(name).c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const UniqueFd fd(folder ? ::openat(folder.get(), kMarker, O_RDONLY | O_NOFOLLOW | O_CLOEXEC)
                             : -1);
    char text[512];
    const ssize_t got = fd ? ::read(fd.get(), text, sizeof text) : -1;
    if (got <= 0 || got == sizeof text) {
        return std::nullopt;
    }
    std::istringstream in(std::string(text, static_cast<std::size_t>(got)));
    std::string magic;
    Marker marker;
    if (!std::getline(in, magic) || magic != kMagic || !std::getline(in, marker.token) ||
        marker.token.size() != 32 ||
        marker.token.find_first_not_of("0123456789abcdef") != std::string::npos ||
        !(in >> marker.pid) || marker.pid != owner || !(in >> marker.start)) {
        return std::nullopt;
    }
    return marker;
}

std::string RandomToken() {
    unsigned char bytes[16] = {};
    for (std::size_t got = 0; got < sizeof bytes;) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (errno != EINTR) {
            break;
        }
    }
    std::string token;
    for (const unsigned char byte : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        token += hex;
    }
    return token;
}

bool Running(const Marker& marker) {
    return marker.pid == ::getpid() || StartOf(marker.pid) == marker.start;
}

// The state record: the name, then each optional value as a presence byte and its bytes, then
// the copy's inode; every field is preceded by its length.
void PutField(std::string& out, std::string_view value) {
    out += std::to_string(value.size());
    out += ':';
    out += value;
}

bool GetField(std::string_view& in, std::string& value) {
    const auto colon = in.find(':');
    std::size_t size = 0;
    if (colon == std::string_view::npos ||
        std::from_chars(in.data(), in.data() + colon, size).ec != std::errc() ||
        in.size() - colon - 1 < size) {
        return false;
    }
    value = std::string(in.substr(colon + 1, size));
    in.remove_prefix(colon + 1 + size);
    return true;
}

void PutOptional(std::string& out, const std::optional<std::string>& value) {
    PutField(out, value ? "1" : "0");
    PutField(out, value ? *value : "");
}

bool GetOptional(std::string_view& in, std::optional<std::string>& value) {
    std::string present, text;
    if (!GetField(in, present) || !GetField(in, text)) {
        return false;
    }
    value = present == "1" ? std::optional(text) : std::nullopt;
    return true;
}

std::optional<ScratchState> ReadState(int scratchFd) {
    const UniqueFd fd(::openat(scratchFd, kState, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        return std::nullopt;
    }
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = ::read(fd.get(), chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(got));
    }
    std::string_view in(text);
    ScratchState state;
    std::string inode;
    if (!GetField(in, state.name) || !GetOptional(in, state.dosName) ||
        !GetOptional(in, state.times) || !GetField(in, inode) ||
        std::from_chars(inode.data(), inode.data() + inode.size(), state.copyInode).ec !=
            std::errc()) {
        return std::nullopt;
    }
    return state;
}

// Whether the folder holds nothing but its marker, not counting the hidden names under which a
// FUSE file system keeps a file closed a moment ago until it has seen the close.
bool OnlyMarkerLeft(int folderFd) {
    const UniqueFd listing(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing) {
        return false;
    }
    DirReader reader(listing.get());
    std::vector<DirName> names;
    while (reader.NextBatch(names)) {
        for (const DirName& name : names) {
            if (name.name != kMarker && !name.name.starts_with(".fuse_hidden") &&
                !name.name.starts_with(".ntfs-3g-")) {
                return false;
            }
        }
    }
    return true;
}

std::optional<ino_t> InodeAt(int dirFd, const char* name) {
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return st.st_ino;
}

// Gives the file back its DOS name when it has lost it. Its times need nothing: the copy got
// them before it took the name, the original keeps its own, and setting the DOS name changes
// only the change time (while setting times through system.ntfs_times would make ntfs-3g drop
// later touches of the file).
void RestoreNames(int dirFd, const ScratchState& state) {
    const UniqueFd file(
        ::openat(dirFd, state.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file) {
        return;
    }
    if (state.dosName && ::fgetxattr(file.get(), kDosName, nullptr, 0) < 0) {
        ::fsetxattr(file.get(), kDosName, state.dosName->data(), state.dosName->size(), 0);
    }
}

void Recover(int dirFd, const std::string& scratchName) {
    const UniqueFd scratch(
        ::openat(dirFd, scratchName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!scratch) {
        return;
    }
    const std::optional<ScratchState> state = ReadState(scratch.get());
    const std::optional<ino_t> copy = InodeAt(scratch.get(), ScratchFolder::kCopy);
    bool restored = false;
    if (state) {
        const std::optional<ino_t> named = InodeAt(dirFd, state->name.c_str());
        if (named && *named == state->copyInode) {
            // The copy took the name: the switch was done but for the last steps.
            ::unlinkat(scratch.get(), ScratchFolder::kOriginal, 0);
            ::unlinkat(scratch.get(), ScratchFolder::kCopy, 0);
            RestoreNames(dirFd, *state);
        } else if (InodeAt(scratch.get(), ScratchFolder::kOriginal)) {
            // The original was moved aside: back to its name, or beside it when the name was
            // taken by another file meanwhile.
            const auto name = LinkBack(scratch.get(), ScratchFolder::kOriginal, dirFd, state->name);
            restored = name == state->name;
        }
    }
    // Whatever else a killed switch left in the folder came from its own folder: nothing is
    // dropped that is not the copy.
    DirReader reader(scratch.get());
    std::vector<DirName> names;
    std::vector<std::string> others;
    while (reader.NextBatch(names)) {
        for (const DirName& name : names) {
            others.emplace_back(name.name);
        }
    }
    for (const std::string& other : others) {
        if (other == kState || other == kMarker) {
            continue;
        }
        const std::optional<ino_t> inode = InodeAt(scratch.get(), other.c_str());
        if (other == ScratchFolder::kCopy || other == ScratchFolder::kProbe ||
            other == ScratchFolder::kProbed || other.starts_with(ScratchFolder::kEvictPrefix) ||
            (inode && copy && *inode == *copy)) {
            ::unlinkat(scratch.get(), other.c_str(), 0);
        } else if (state) {
            LinkBack(scratch.get(), other.c_str(), dirFd, state->name);
        }
    }
    if (restored) {
        RestoreNames(dirFd, *state);
    }
    ::unlinkat(scratch.get(), kState, 0);
    // The marker goes last, and only from an otherwise empty folder: a folder that still holds
    // something stays recognisable as a scratch folder for the next command.
    if (OnlyMarkerLeft(scratch.get())) {
        ::unlinkat(scratch.get(), kMarker, 0);
        ::unlinkat(dirFd, scratchName.c_str(), AT_REMOVEDIR);
    }
}

}  // namespace

bool IsScratchFolder(int dirFd, std::string_view name) {
    return ScratchOwner(name) != 0 && ReadMarker(dirFd, name).has_value();
}

ScratchFolder::ScratchFolder(int parentFd) : parentFd_(parentFd) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 16 && !fd_; ++attempt) {
        name_ = std::string(kPrefix) + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        if (::mkdirat(parentFd_, name_.c_str(), 0700) != 0) {
            if (errno == EEXIST) {
                continue;
            }
            return;
        }
        fd_ = UniqueFd(
            ::openat(parentFd_, name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        // The marker goes in before anything else, so that nothing in the folder is ever
        // without it.
        const std::string marker = MarkerText({RandomToken(), ::getpid(), StartOf(::getpid())});
        const UniqueFd markerFd(fd_ ? ::openat(fd_.get(), kMarker,
                                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                               0600)
                                    : -1);
        if (!markerFd ||
            ::write(markerFd.get(), marker.data(), marker.size()) !=
                static_cast<ssize_t>(marker.size()) ||
            ::fsync(markerFd.get()) != 0) {
            const int error = errno;
            if (fd_) {
                ::unlinkat(fd_.get(), kMarker, 0);
            }
            fd_.reset();
            ::unlinkat(parentFd_, name_.c_str(), AT_REMOVEDIR);
            errno = error;
            return;
        }
    }
}

ScratchFolder::~ScratchFolder() {
    if (fd_) {
        ::unlinkat(fd_.get(), kCopy, 0);
        ::unlinkat(fd_.get(), kState, 0);
        // The marker stays while a file of the user's is inside, for the recovery.
        if (OnlyMarkerLeft(fd_.get())) {
            ::unlinkat(fd_.get(), kMarker, 0);
        }
        fd_.reset();
        // Fails while anything else is inside. A file closed a moment ago may still stand
        // there under a hidden name until the file system has seen the close: a few tries.
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (::unlinkat(parentFd_, name_.c_str(), AT_REMOVEDIR) == 0 || errno != ENOTEMPTY) {
                break;
            }
            ::usleep(5000);
        }
    }
}

bool ScratchFolder::WriteState(const ScratchState& state) const {
    std::string text;
    PutField(text, state.name);
    PutOptional(text, state.dosName);
    PutOptional(text, state.times);
    PutField(text, std::to_string(state.copyInode));
    const UniqueFd fd(
        ::openat(fd_.get(), kState, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    // Not synced on its own: the rewrite syncs its copy before it moves anything, and ntfs-3g
    // syncs the whole volume on any fsync, this record with it.
    return fd && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::optional<std::string> LinkBack(int fromFd, const char* from, int dirFd,
                                    const std::string& name) {
    // A folder cannot be linked: it is moved, never over anything.
    struct stat st;
    const bool folder =
        ::fstatat(fromFd, from, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    std::string target = name;
    for (int attempt = 1; attempt <= 100; ++attempt) {
        if (folder && MoveFolderNoReplace(fromFd, from, dirFd, target)) {
            return target;
        }
        if (!folder && ::linkat(fromFd, from, dirFd, target.c_str(), 0) == 0) {
            ::unlinkat(fromFd, from, 0);
            return target;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
        // Names are at most 255 bytes; the mark goes at the end of as much as fits.
        const std::string mark =
            ".packmeter-kept" + (attempt == 1 ? std::string() : "-" + std::to_string(attempt));
        target = name.substr(0, 255 - mark.size()) + mark;
    }
    return std::nullopt;
}

namespace {

// Removes the folder `name` if it holds nothing, or only an empty marker file (a rewrite killed
// between making its marker and writing it): either way nothing is lost.
void RemoveIfEmptyish(int dirFd, const std::string& name) {
    const UniqueFd folder(
        ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat marker;
    if (folder && OnlyMarkerLeft(folder.get()) &&
        ::fstatat(folder.get(), kMarker, &marker, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(marker.st_mode) && marker.st_size == 0) {
        ::unlinkat(folder.get(), kMarker, 0);
    }
    ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
}

// The scratch folders in `dirFd` of processes that no longer run.
std::vector<std::string> DeadScratchFolders(int dirFd) {
    std::vector<std::string> dead;
    const UniqueFd listing(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing) {
        return dead;
    }
    DirReader reader(listing.get());
    std::vector<DirName> names;
    while (reader.NextBatch(names)) {
        for (const DirName& name : names) {
            if (ScratchOwner(name.name) == 0) {
                continue;
            }
            // A folder of this name without a marker of ours is the user's: left alone, except
            // that an empty one, or one holding only an empty marker (a rewrite killed before
            // it wrote its marker), is removed, which loses nothing.
            const std::optional<Marker> marker = ReadMarker(dirFd, name.name);
            if (marker && !Running(*marker)) {
                dead.emplace_back(name.name);
            } else if (!marker && ::kill(ScratchOwner(name.name), 0) != 0 && errno == ESRCH) {
                RemoveIfEmptyish(dirFd, std::string(name.name));
            }
        }
    }
    return dead;
}

}  // namespace

void RecoverScratchFolders(int dirFd) {
    for (const std::string& name : DeadScratchFolders(dirFd)) {
        Recover(dirFd, name);
    }
}

std::vector<std::string> InterruptedSwitches(int dirFd) {
    std::vector<std::string> files;
    for (const std::string& name : DeadScratchFolders(dirFd)) {
        const UniqueFd scratch(
            ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (const std::optional<ScratchState> state =
                scratch ? ReadState(scratch.get()) : std::nullopt) {
            files.push_back(state->name);
        }
    }
    return files;
}

}  // namespace packmeter::linuxfs
