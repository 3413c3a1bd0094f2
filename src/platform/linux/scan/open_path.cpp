#include "platform/linux/scan/open_path.hpp"

#include <fcntl.h>

#include <cerrno>
#include <string_view>

namespace packmeter::linuxfs {

UniqueFd OpenPath(const std::string& path, int flags) {
    UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC));
    if (fd || errno != ENAMETOOLONG) {
        return fd;
    }
    // Too long for one call: walk from the root (or the current folder) name by name, each
    // step relative to the folder reached so far, so no single call sees the whole path.
    UniqueFd at(::open(path.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string_view rest(path);
    while (at) {
        while (!rest.empty() && rest.front() == '/') {
            rest.remove_prefix(1);
        }
        const auto cut = rest.find('/');
        const std::string name(rest.substr(0, cut));
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut);
        const bool last = rest.find_first_not_of('/') == std::string_view::npos;
        if (last) {
            return UniqueFd(
                ::openat(at.get(), name.empty() ? "." : name.c_str(), flags | O_CLOEXEC));
        }
        at = UniqueFd(::openat(at.get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    return at;
}

std::string ProcFdPath(int fd, std::string_view name) {
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (!name.empty()) {
        path += '/';
        path += name;
    }
    return path;
}

}  // namespace packmeter::linuxfs
