#include "core/exceptlog/pe_file.hpp"

#include <algorithm>
#include <cstring>

namespace packmeter {

namespace {

template <class T>
bool Read(std::string_view file, std::size_t at, T& value) {
    if (at > file.size() || file.size() - at < sizeof(T)) {
        return false;
    }
    std::memcpy(&value, file.data() + at, sizeof(T));  // the build machines are little-endian
    return true;
}

constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kFunctionType = 0x20;
constexpr std::size_t kSymbolSize = 18;
constexpr std::size_t kSectionHeaderSize = 40;

}  // namespace

bool ReadPeFile(std::string_view file, PeFileInfo& info) {
    std::uint32_t peAt = 0;
    std::uint32_t signature = 0;
    if (file.substr(0, 2) != "MZ" || !Read(file, 0x3C, peAt) || !Read(file, peAt, signature) ||
        signature != 0x4550) {
        return false;
    }
    const std::size_t coff = peAt + 4;
    std::uint16_t machine = 0;
    std::uint16_t sectionCount = 0;
    std::uint32_t symbolsAt = 0;
    std::uint32_t symbolCount = 0;
    std::uint16_t optionalSize = 0;
    std::uint16_t magic = 0;
    if (!Read(file, coff, machine) || !Read(file, coff + 2, sectionCount) ||
        !Read(file, coff + 8, symbolsAt) || !Read(file, coff + 12, symbolCount) ||
        !Read(file, coff + 16, optionalSize) || !Read(file, coff + 20, magic)) {
        return false;
    }
    if (magic == 0x20B) {
        Read(file, coff + 20 + 24, info.imageBase);
    } else {
        std::uint32_t base32 = 0;
        Read(file, coff + 20 + 28, base32);
        info.imageBase = base32;
    }
    std::vector<std::uint32_t> sectionAddress(sectionCount);
    std::vector<std::uint32_t> sectionEnd(sectionCount);
    const std::size_t sections = coff + 20 + optionalSize;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        std::uint32_t size = 0;
        Read(file, sections + i * kSectionHeaderSize + 8, size);
        Read(file, sections + i * kSectionHeaderSize + 12, sectionAddress[i]);
        sectionEnd[i] = sectionAddress[i] + size;
    }

    const std::size_t strings = symbolsAt + std::size_t{symbolCount} * kSymbolSize;
    struct Found {
        std::string name;
        std::uint64_t start;
        std::uint64_t sectionEnd;
    };
    std::vector<Found> found;
    for (std::uint32_t i = 0; symbolsAt && i < symbolCount; ++i) {
        const std::size_t at = symbolsAt + std::size_t{i} * kSymbolSize;
        std::uint32_t zero = 0;
        std::uint32_t nameAt = 0;
        std::uint32_t value = 0;
        std::int16_t section = 0;
        std::uint16_t type = 0;
        std::uint8_t aux = 0;
        if (!Read(file, at, zero) || !Read(file, at + 4, nameAt) || !Read(file, at + 8, value) ||
            !Read(file, at + 12, section) || !Read(file, at + 14, type) ||
            !Read(file, at + 17, aux)) {
            break;
        }
        i += aux;
        if (type != kFunctionType || section < 1 || section > sectionCount) {
            continue;
        }
        std::string name;
        if (zero == 0) {
            const std::size_t from = strings + nameAt;
            if (from >= file.size()) {
                continue;
            }
            name = std::string(file.substr(from, file.find('\0', from) - from));
        } else {
            const auto field = file.substr(at, 8);
            name = std::string(field.substr(0, std::min<std::size_t>(8, field.find('\0'))));
        }
        // 32-bit C and C++ names carry one extra leading underscore.
        if (machine == kMachineI386 && !name.empty() && name[0] == '_') {
            name.erase(0, 1);
        }
        const auto s = static_cast<std::size_t>(section - 1);
        found.push_back({std::move(name), info.imageBase + sectionAddress[s] + value,
                         info.imageBase + sectionEnd[s]});
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.start < b.start; });
    for (std::size_t i = 0; i < found.size(); ++i) {
        const std::uint64_t end = i + 1 < found.size()
                                      ? std::min(found[i + 1].start, found[i].sectionEnd)
                                      : found[i].sectionEnd;
        info.functions.push_back(
            {found[i].name, static_cast<std::uintptr_t>(found[i].start),
             static_cast<std::uint32_t>(std::max<std::uint64_t>(1, end - found[i].start))});
    }
    return true;
}

}  // namespace packmeter
