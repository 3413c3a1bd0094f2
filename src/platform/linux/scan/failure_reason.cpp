#include "platform/linux/scan/failure_reason.hpp"

#include <cerrno>
#include <cstring>

namespace packmeter::linuxfs {

// The reason for a failed call, in the words of the command's messages.
std::string ErrnoReason(int error) {
    switch (error) {
        case ENOSPC:
            return "disk full";
        case EDQUOT:
            return "disk quota exceeded";
        case EACCES:
        case EPERM:
            return "permission denied";
        case ENOENT:
            return "no such file or folder";
        case ELOOP:
            return "a symbolic link";
        case E2BIG:
            return "a named stream is too large to copy (over 64 KiB)";
        case EROFS:
            return "read-only file system";
        case ENOTSUP:
            return "not supported by the file system";
        case ETXTBSY:
        case EBUSY:
            return "in use";
        case EAGAIN:
            // A file another process holds a lease on (another run switching it) cannot be
            // opened without waiting.
            return "in use by another process (perhaps another run switching it); try again "
                   "later";
        case 0:
            return "changed by another process during the switch";
        default:
            return std::strerror(error);
    }
}

}  // namespace packmeter::linuxfs
