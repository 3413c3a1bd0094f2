#pragma once

#include <memory>
#include <string_view>
#include <vector>

namespace packmeter::linuxfs {

// One name of a directory listing: the raw bytes and the type hint (DT_*) of the directory entry.
struct DirName {
    std::string_view name;
    unsigned char type;
};

// Reads a directory in batches with getdents64 into a buffer of its own, from the beginning
// (`rewind`: the descriptor may have been read before). The names stay valid until the next
// batch is read.
class DirReader {
  public:
    explicit DirReader(int dirFd, bool rewind = true);
    // The next batch without "." and ".."; false at the end of the listing or on an error.
    bool NextBatch(std::vector<DirName>& names);
    // True when the listing could not be read (as opposed to having ended).
    bool Failed() const { return failed_; }

  private:
    static constexpr std::size_t kBufferSize = 64 * 1024;

    int fd_;
    std::unique_ptr<char[]> buffer_;
    bool failed_ = false;
};

}  // namespace packmeter::linuxfs
