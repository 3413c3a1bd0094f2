#include "core/exceptlog/fault_modules_list.hpp"

#include <algorithm>

#include "core/exceptlog/data_block.hpp"

namespace packmeter {

namespace {

std::filesystem::path Utf8Path(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

DataBlockRead ReadDataBlock(const FaultModuleImage& image, TFaultModuleInfo& module) {
    DataBlockRead read = DataBlockRead::kAbsent;
    if (const auto resource = image.ResourceBlock()) {
        read = ReadResourceDataBlock(*resource, module);
    }
    if (read == DataBlockRead::kAbsent) {
        read = ReadAppendedDataBlock(Utf8Path(module.FileName), module);
    }
    return read;
}

}  // namespace

bool HasDataBlock(const FaultModuleImage& image) {
    TFaultModuleInfo probe;
    probe.FileName = image.FileName();
    if (probe.FileName.empty()) {
        return false;
    }
    probe.Options = std::make_unique<TFaultModuleOptionsEx>(probe.FileName);
    return ReadDataBlock(image, probe) != DataBlockRead::kAbsent;
}

TFaultFunctionsList::TFaultFunctionsList(std::vector<TFaultFunctionInfo> functions)
    : functions_(std::move(functions)) {
    std::sort(functions_.begin(), functions_.end(),
              [](const auto& a, const auto& b) { return a.Start < b.Start; });
}

const TFaultFunctionInfo* TFaultFunctionsList::Find(std::uintptr_t address) const {
    auto after = std::upper_bound(functions_.begin(), functions_.end(), address,
                                  [](std::uintptr_t a, const auto& f) { return a < f.Start; });
    if (after == functions_.begin()) {
        return nullptr;
    }
    const auto& candidate = *(after - 1);
    return address - candidate.Start < candidate.Length ? &candidate : nullptr;
}

TFaultModuleInfo* TFaultModulesList::Find(std::uintptr_t handle) const {
    for (const auto& module : modules_) {
        if (module->Handle == handle) {
            return module.get();
        }
    }
    return nullptr;
}

TFaultModuleInfo* TFaultModulesList::Register(const FaultModuleImage& image, std::string* error) {
    if (auto* known = Find(image.Handle())) {
        return known;
    }
    auto module = std::make_unique<TFaultModuleInfo>();
    module->Handle = image.Handle();
    module->FileName = image.FileName();
    if (module->FileName.empty()) {
        return nullptr;
    }
    module->Functions = TFaultFunctionsList(image.Functions());
    module->Options = std::make_unique<TFaultModuleOptionsEx>(module->FileName);
    const DataBlockRead read = ReadDataBlock(image, *module);
    if (read == DataBlockRead::kDamaged && error) {
        *error = "The data block of \"" + module->FileName + "\" ends early.";
    }
    module->Kind = image.Kind();
    modules_.push_back(std::move(module));
    return modules_.back().get();
}

}  // namespace packmeter
