#pragma once

// The module data block: a version, 8 kept bytes, the option stream and the debug-information
// block. It is carried either as the resource "FLDATA" (after the magic) or appended to the
// module file (followed by its length and the magic, so the file ends in the magic).

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/exceptlog/fault_module_options.hpp"

namespace packmeter {

struct TFaultModuleInfo;

inline constexpr std::uint32_t kFaultDataMagic = 0xFAB10;

// The resource form: magic, then the body.
std::string WriteResourceDataBlock(const TFaultModuleOptions& options, std::string_view debugInfo,
                                   const std::array<std::uint8_t, 8>& reserved = {});
// The appended form: the body, its length and the magic, to be added at the end of a file.
std::string WriteAppendedDataBlock(const TFaultModuleOptions& options, std::string_view debugInfo,
                                   const std::array<std::uint8_t, 8>& reserved = {});

enum class DataBlockRead {
    kAbsent,  // no block, or the magic differs: the module keeps its defaults
    kLoaded,
    kDamaged,  // the magic is right but the block ends early
};

// Reads a resource-form block into the record (version, kept bytes, options, debug info).
DataBlockRead ReadResourceDataBlock(std::string_view resource, TFaultModuleInfo& module);
// Reads the block appended to a file into the record.
DataBlockRead ReadAppendedDataBlock(const std::filesystem::path& file, TFaultModuleInfo& module);

}  // namespace packmeter
