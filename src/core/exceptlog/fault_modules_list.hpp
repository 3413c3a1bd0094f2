#pragma once

// The modules the logger has met: for each, its kind, its exported functions, and the options
// and debug information from its data block.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/exceptlog/fault_module_options.hpp"

namespace packmeter {

enum class FaultModuleKind : std::uint8_t {
    kNotImage = 0,
    kExecutable = 1,
    kPackage = 2,
    kLibrary = 3,
};

struct TFaultFunctionInfo {
    std::string Name;
    std::uintptr_t Start = 0;
    std::uint32_t Length = 0;
};

// A module's exported functions, sorted by start address.
class TFaultFunctionsList {
  public:
    TFaultFunctionsList() = default;
    explicit TFaultFunctionsList(std::vector<TFaultFunctionInfo> functions);

    // The function whose range holds the address, or none.
    const TFaultFunctionInfo* Find(std::uintptr_t address) const;
    const std::vector<TFaultFunctionInfo>& Items() const { return functions_; }

  private:
    std::vector<TFaultFunctionInfo> functions_;
};

struct TFaultModuleInfo {
    std::uintptr_t Handle = 0;
    std::string FileName;
    TFaultFunctionsList Functions;
    FaultModuleKind Kind = FaultModuleKind::kNotImage;
    std::uint16_t Version = kFaultDataVersion;
    std::array<std::uint8_t, 8> Reserved{};
    std::unique_ptr<TFaultModuleOptionsEx> Options;
    // The module's debug-information block; none without a data block.
    std::optional<std::string> DebugInfo;
};

// What the platform reads from a loaded module's image and file.
class FaultModuleImage {
  public:
    virtual ~FaultModuleImage() = default;
    virtual std::uintptr_t Handle() const = 0;
    // The module's full file name; empty when the system names none.
    virtual std::string FileName() const = 0;
    virtual FaultModuleKind Kind() const = 0;
    virtual std::vector<TFaultFunctionInfo> Functions() const = 0;
    // The data block carried as a resource of the module (Windows); none where the platform
    // has no resources or the module carries none.
    virtual std::optional<std::string> ResourceBlock() const = 0;
};

// Whether the module carries a data block (as a resource, else appended to its file), read
// without the module's function list, which is long in a large program.
bool HasDataBlock(const FaultModuleImage& image);

class TFaultModulesList {
  public:
    TFaultModuleInfo* Find(std::uintptr_t handle) const;
    // The module's record, made on the first question about it: the data block is read from
    // the module's resource, else from the end of its file. None for a module without a file
    // name. A data block that is present but cut short leaves the defaults and is reported in
    // `error`.
    TFaultModuleInfo* Register(const FaultModuleImage& image, std::string* error = nullptr);
    const std::vector<std::unique_ptr<TFaultModuleInfo>>& Items() const { return modules_; }

  private:
    std::vector<std::unique_ptr<TFaultModuleInfo>> modules_;
};

}  // namespace packmeter
