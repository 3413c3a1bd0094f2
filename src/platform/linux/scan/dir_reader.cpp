#include "platform/linux/scan/dir_reader.hpp"

#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace packmeter::linuxfs {

DirReader::DirReader(int dirFd, bool rewind) : fd_(dirFd) {
    failed_ = rewind && ::lseek(fd_, 0, SEEK_SET) < 0;
}

bool DirReader::NextBatch(std::vector<DirName>& names) {
    names.clear();
    if (failed_) {
        return false;
    }
    if (!buffer_) {
        // Not value-initialised: the kernel writes only as much as it returns, so a small
        // folder touches one page of the buffer.
        buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
    }
    while (names.empty()) {
        const ssize_t got = ::getdents64(fd_, buffer_.get(), kBufferSize);
        if (got <= 0) {
            failed_ = got < 0;
            return false;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer_.get() + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            names.push_back({std::string_view(name, std::strlen(name)), entry->d_type});
        }
    }
    return true;
}

}  // namespace packmeter::linuxfs
