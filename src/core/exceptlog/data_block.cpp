#include "core/exceptlog/data_block.hpp"

#include <fstream>

#include "core/exceptlog/fault_modules_list.hpp"

namespace packmeter {

namespace {

std::string WriteBody(const TFaultModuleOptions& options, std::string_view debugInfo,
                      const std::array<std::uint8_t, 8>& reserved) {
    ByteWriter out;
    out.Word(kFaultDataVersion);
    for (const auto b : reserved) {
        out.Byte(b);
    }
    options.SaveToStream(out);
    out.Int32(static_cast<std::int32_t>(debugInfo.size()));
    out.Raw(debugInfo);
    return out.Take();
}

// Items after the magic. The options are read into a fresh object and copied only when the
// whole block was read, so a damaged block leaves the module's defaults.
DataBlockRead ReadBody(std::string_view body, TFaultModuleInfo& module) {
    ByteReader in(body);
    std::uint16_t version = 0;
    std::array<std::uint8_t, 8> reserved{};
    in.Word(version);
    for (auto& b : reserved) {
        in.Byte(b);
    }
    TFaultModuleOptions options;
    options.LoadFromStream(in, version);
    std::int32_t length = 0;
    std::string_view debugInfo;
    in.Int32(length);
    if (length < 0 || !in.Raw(static_cast<std::size_t>(length), debugInfo) || in.Failed()) {
        return DataBlockRead::kDamaged;
    }
    module.Version = version;
    module.Reserved = reserved;
    if (!module.Options) {
        module.Options = std::make_unique<TFaultModuleOptionsEx>(module.FileName);
    }
    module.Options->Assign(&options);
    module.DebugInfo = std::string(debugInfo);
    return DataBlockRead::kLoaded;
}

std::uint32_t UInt32At(std::string_view bytes) {
    ByteReader in(bytes);
    std::uint32_t value = 0;
    in.UInt32(value);
    return value;
}

}  // namespace

std::string WriteResourceDataBlock(const TFaultModuleOptions& options, std::string_view debugInfo,
                                   const std::array<std::uint8_t, 8>& reserved) {
    ByteWriter out;
    out.UInt32(kFaultDataMagic);
    out.Raw(WriteBody(options, debugInfo, reserved));
    return out.Take();
}

std::string WriteAppendedDataBlock(const TFaultModuleOptions& options, std::string_view debugInfo,
                                   const std::array<std::uint8_t, 8>& reserved) {
    ByteWriter out;
    out.Raw(WriteBody(options, debugInfo, reserved));
    out.UInt32(static_cast<std::uint32_t>(out.Bytes().size()));
    out.UInt32(kFaultDataMagic);
    return out.Take();
}

DataBlockRead ReadResourceDataBlock(std::string_view resource, TFaultModuleInfo& module) {
    if (resource.size() < 4 || UInt32At(resource) != kFaultDataMagic) {
        return DataBlockRead::kAbsent;
    }
    return ReadBody(resource.substr(4), module);
}

DataBlockRead ReadAppendedDataBlock(const std::filesystem::path& file, TFaultModuleInfo& module) {
    std::ifstream in(file, std::ios::binary);
    if (!in || !in.seekg(0, std::ios::end)) {
        return DataBlockRead::kAbsent;
    }
    const auto size = static_cast<std::uint64_t>(in.tellg());
    if (size < 8) {
        return DataBlockRead::kAbsent;
    }
    std::string tail(8, '\0');
    in.seekg(static_cast<std::streamoff>(size - 8));
    if (!in.read(tail.data(), 8) || UInt32At(std::string_view(tail).substr(4)) != kFaultDataMagic) {
        return DataBlockRead::kAbsent;
    }
    const std::uint64_t length = UInt32At(tail);
    if (length > size - 8) {
        return DataBlockRead::kDamaged;
    }
    std::string body(length, '\0');
    in.seekg(static_cast<std::streamoff>(size - 8 - length));
    if (!in.read(body.data(), static_cast<std::streamsize>(length))) {
        return DataBlockRead::kDamaged;
    }
    return ReadBody(body, module);
}

}  // namespace packmeter
