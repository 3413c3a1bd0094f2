#pragma once

// The messages between the program and its measuring helper (packmeter-measure), which reads
// btrfs extent figures for a user who may not search the extent tree. Both ends run on the same
// machine, so numbers travel in host order.
//
// Request: a header {magic "PMMQ", version, kind, count, 0} of 16 bytes, then `count` inode
// numbers of 8 bytes, strictly ascending. A measure request carries the open folder the inodes
// are entries of as an SCM_RIGHTS descriptor sent with its first byte.
// A folder request (count 0, with the folder's descriptor) asks about every regular file the
// folder lists: the program sends it before it reads the folder itself, so both work at once.
// Reply: a header {magic "PMMA", version, status, count, 0}, then for a request that succeeded
// `count` records of kExtentKinds × {disk, uncompressed, referenced} 8-byte numbers; for a
// folder request each record is preceded by its file's inode number.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/linux/scan/btrfs_extents.hpp"

namespace packmeter::linuxfs::measure {

inline constexpr std::uint32_t kRequestMagic = 0x514D4D50;  // "PMMQ" in memory order
inline constexpr std::uint32_t kReplyMagic = 0x414D4D50;    // "PMMA"
inline constexpr std::uint16_t kVersion = 1;
// The largest number of inodes one request may ask about; a client splits larger batches.
inline constexpr std::uint32_t kMaxInodes = 65536;
inline constexpr std::size_t kHeaderBytes = 16;
inline constexpr std::size_t kRecordBytes = kExtentKinds * 3 * sizeof(std::uint64_t);

enum class Kind : std::uint16_t { kHello = 1, kMeasure = 2, kMeasureFolder = 3 };

enum class Status : std::uint16_t {
    kOk = 0,
    kMalformed = 1,      // not a request of this protocol: the helper answers, then hangs up
    kTooLarge = 2,       // more inodes than kMaxInodes: answered, then hung up
    kNoDescriptor = 3,   // a measure request without a folder descriptor
    kBadDescriptor = 4,  // the descriptor is not a folder opened for reading
    kNotBtrfs = 5,       // the folder is not on btrfs
    kNotPermitted = 6,   // the caller may not search the folder
    kNotAnEntry = 7,     // an inode that is not a regular file in that folder
    kSearchFailed = 8,   // the extent tree could not be read
    kLost = 0xFFFF,      // (client side only) the helper did not answer
};

struct Header {
    std::uint32_t magic = 0;
    std::uint16_t version = 0;
    std::uint16_t code = 0;  // the request's kind or the reply's status
    std::uint32_t count = 0;
    std::uint32_t reserved = 0;
};
static_assert(sizeof(Header) == kHeaderBytes);

struct Request {
    Kind kind = Kind::kHello;
    std::vector<std::uint64_t> inodes;
};

// What ParseRequest found at the start of the bytes received so far.
struct ParseResult {
    enum class Outcome { kNeedMore, kComplete, kRefused };
    Outcome outcome = Outcome::kNeedMore;
    Status status = Status::kOk;  // for kRefused: the answer to give
    // The bytes the request took (kComplete, and kRefused when the stream can go on).
    std::size_t consumed = 0;
    // kRefused only: the request's end cannot be told, so the helper answers and hangs up.
    bool fatal = false;
};

// Reads one request from the start of `bytes` into `request`. Never reads past `bytes` and
// accepts any content: whatever is not a well-formed request is refused.
ParseResult ParseRequest(std::span<const std::byte> bytes, Request& request);

// A request as the client sends it.
std::vector<std::byte> EncodeRequest(Kind kind, std::span<const std::uint64_t> inodes);

// A reply: the header and, with kOk, one record per file (each after its inode number when
// `inodes` is given: the reply to a folder request).
std::vector<std::byte> EncodeReply(Status status, std::span<const FileExtentUsage> usage,
                                   std::span<const std::uint64_t> inodes = {});

// The header of a reply, or nullopt-like false when the bytes are no reply header.
bool ParseReplyHeader(std::span<const std::byte, kHeaderBytes> bytes, Header& header);

// One record back into a file's figures (diskBytes and compressed follow from the split).
FileExtentUsage DecodeRecord(std::span<const std::byte, kRecordBytes> bytes);

}  // namespace packmeter::linuxfs::measure
