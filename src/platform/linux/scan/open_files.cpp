#include "platform/linux/scan/open_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/scan/dir_reader.hpp"
#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs {

namespace {

bool IsNumber(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool HeldByDescriptor(int procFd, std::string_view pid, bool self, dev_t dev, ino_t ino,
                      int ownFd) {
    const UniqueFd fds(
        ::openat(procFd, (std::string(pid) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fds) {
        return false;
    }
    const std::string own = std::to_string(ownFd);
    DirReader reader(fds.get());
    std::vector<DirName> names;
    while (reader.NextBatch(names)) {
        for (const DirName& name : names) {
            if (self && name.name == own) {
                continue;
            }
            // Following the descriptor's magic link reaches the open file itself, also when
            // it has been renamed or deleted since.
            struct stat st;
            if (::fstatat(fds.get(), name.name.data(), &st, 0) == 0 && st.st_dev == dev &&
                st.st_ino == ino) {
                return true;
            }
        }
    }
    return false;
}

// Lines of /proc/PID/maps: "start-end perms offset major:minor inode path".
bool HeldByMapping(int procFd, std::string_view pid, dev_t dev, ino_t ino) {
    const UniqueFd maps(
        ::openat(procFd, (std::string(pid) + "/maps").c_str(), O_RDONLY | O_CLOEXEC));
    if (!maps) {
        return false;
    }
    std::string text;
    char chunk[16384];
    for (ssize_t got; (got = ::read(maps.get(), chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(got));
    }
    std::string_view rest(text);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        // Skip the address, permission and offset fields.
        for (int field = 0; field < 3; ++field) {
            const auto space = line.find(' ');
            line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        }
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        const char* at = line.data();
        const char* stop = line.data() + line.size();
        auto r = std::from_chars(at, stop, major, 16);
        if (r.ec != std::errc() || r.ptr == stop || *r.ptr != ':') {
            continue;
        }
        r = std::from_chars(r.ptr + 1, stop, minor, 16);
        if (r.ec != std::errc() || r.ptr == stop || *r.ptr != ' ') {
            continue;
        }
        r = std::from_chars(r.ptr + 1, stop, inode);
        if (r.ec == std::errc() && inode == ino && makedev(major, minor) == dev) {
            return true;
        }
    }
    return false;
}

// The command name of a process, from /proc/PID/comm.
std::string CommandName(int procFd, std::string_view pid) {
    const UniqueFd comm(
        ::openat(procFd, (std::string(pid) + "/comm").c_str(), O_RDONLY | O_CLOEXEC));
    char text[64];
    const ssize_t got = comm ? ::read(comm.get(), text, sizeof text) : -1;
    if (got <= 0) {
        return {};
    }
    std::string name(text, static_cast<std::size_t>(got));
    while (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

}  // namespace

std::string FindHolder(dev_t dev, ino_t ino, int ownFd) {
    const UniqueFd proc(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!proc) {
        return {};
    }
    const std::string self = std::to_string(::getpid());
    DirReader reader(proc.get());
    std::vector<DirName> names;
    while (reader.NextBatch(names)) {
        for (const DirName& name : names) {
            if (!IsNumber(name.name)) {
                continue;
            }
            if (HeldByDescriptor(proc.get(), name.name, name.name == self, dev, ino, ownFd) ||
                HeldByMapping(proc.get(), name.name, dev, ino)) {
                const std::string command = CommandName(proc.get(), name.name);
                return "process " + std::string(name.name) +
                       (command.empty() ? "" : " (" + command + ")");
            }
        }
    }
    return {};
}

}  // namespace packmeter::linuxfs
