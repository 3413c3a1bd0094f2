#include "platform/linux/scan/measure_protocol.hpp"

#include <cstring>

namespace packmeter::linuxfs::measure {

namespace {

Header ReadHeader(std::span<const std::byte> bytes) {
    Header header;
    std::memcpy(&header, bytes.data(), sizeof header);
    return header;
}

// Grown and copied by hand: GCC 12 at -O3 takes vector::insert of a reserved vector for an
// overflow (-Wstringop-overflow), a false alarm of that version.
void Append(std::vector<std::byte>& out, const void* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + size);
    std::memcpy(out.data() + at, data, size);
}

}  // namespace

ParseResult ParseRequest(std::span<const std::byte> bytes, Request& request) {
    ParseResult result;
    if (bytes.size() < kHeaderBytes) {
        return result;
    }
    const Header header = ReadHeader(bytes);
    const auto refuse = [&](Status status, bool fatal, std::size_t consumed = 0) {
        result.outcome = ParseResult::Outcome::kRefused;
        result.status = status;
        result.fatal = fatal;
        result.consumed = consumed;
        return result;
    };
    const bool knownKind = header.code >= static_cast<std::uint16_t>(Kind::kHello) &&
                           header.code <= static_cast<std::uint16_t>(Kind::kMeasureFolder);
    if (header.magic != kRequestMagic || header.version != kVersion || header.reserved != 0 ||
        !knownKind) {
        return refuse(Status::kMalformed, true);
    }
    const auto kind = static_cast<Kind>(header.code);
    if ((kind == Kind::kHello || kind == Kind::kMeasureFolder) && header.count != 0) {
        return refuse(Status::kMalformed, true);
    }
    if (header.count > kMaxInodes) {
        return refuse(Status::kTooLarge, true);
    }
    const std::size_t total = kHeaderBytes + std::size_t{header.count} * sizeof(std::uint64_t);
    if (bytes.size() < total) {
        return result;
    }
    request.kind = kind;
    request.inodes.resize(header.count);
    if (header.count != 0) {
        std::memcpy(request.inodes.data(), bytes.data() + kHeaderBytes, total - kHeaderBytes);
    }
    for (std::size_t i = 0; i < request.inodes.size(); ++i) {
        if (request.inodes[i] == 0 || (i > 0 && request.inodes[i] <= request.inodes[i - 1])) {
            return refuse(Status::kMalformed, false, total);
        }
    }
    if (kind == Kind::kMeasure && request.inodes.empty()) {
        return refuse(Status::kMalformed, false, total);
    }
    result.outcome = ParseResult::Outcome::kComplete;
    result.consumed = total;
    return result;
}

std::vector<std::byte> EncodeRequest(Kind kind, std::span<const std::uint64_t> inodes) {
    Header header;
    header.magic = kRequestMagic;
    header.version = kVersion;
    header.code = static_cast<std::uint16_t>(kind);
    header.count = static_cast<std::uint32_t>(inodes.size());
    std::vector<std::byte> out;
    out.reserve(kHeaderBytes + inodes.size_bytes());
    Append(out, &header, sizeof header);
    Append(out, inodes.data(), inodes.size_bytes());
    return out;
}

std::vector<std::byte> EncodeReply(Status status, std::span<const FileExtentUsage> usage,
                                   std::span<const std::uint64_t> inodes) {
    Header header;
    header.magic = kReplyMagic;
    header.version = kVersion;
    header.code = static_cast<std::uint16_t>(status);
    header.count = status == Status::kOk ? static_cast<std::uint32_t>(usage.size()) : 0;
    std::vector<std::byte> out;
    out.reserve(kHeaderBytes + header.count * (kRecordBytes + sizeof(std::uint64_t)));
    Append(out, &header, sizeof header);
    for (std::size_t i = 0; i < header.count; ++i) {
        if (!inodes.empty()) {
            Append(out, &inodes[i], sizeof inodes[i]);
        }
        for (const ExtentFigures& figures : usage[i].byKind) {
            const std::uint64_t values[3] = {figures.disk, figures.uncompressed,
                                             figures.referenced};
            Append(out, values, sizeof values);
        }
    }
    return out;
}

bool ParseReplyHeader(std::span<const std::byte, kHeaderBytes> bytes, Header& header) {
    header = ReadHeader(bytes);
    return header.magic == kReplyMagic && header.version == kVersion && header.reserved == 0 &&
           (header.code == static_cast<std::uint16_t>(Status::kOk) || header.count == 0) &&
           header.count <= kMaxInodes;
}

FileExtentUsage DecodeRecord(std::span<const std::byte, kRecordBytes> bytes) {
    FileExtentUsage usage;
    std::uint64_t values[kExtentKinds * 3];
    std::memcpy(values, bytes.data(), sizeof values);
    for (std::size_t kind = 0; kind < kExtentKinds; ++kind) {
        ExtentFigures& figures = usage.byKind[kind];
        figures.disk = values[kind * 3];
        figures.uncompressed = values[kind * 3 + 1];
        figures.referenced = values[kind * 3 + 2];
        usage.diskBytes += figures.disk;
        if (kind != 0 && kind != kPreallocKind && figures.disk != 0) {
            usage.compressed = true;
        }
    }
    return usage;
}

}  // namespace packmeter::linuxfs::measure
