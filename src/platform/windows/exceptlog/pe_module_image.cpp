#include "platform/windows/exceptlog/pe_module_image.hpp"

#include <algorithm>
#include <filesystem>

#include "core/exceptlog/byte_stream.hpp"
#include "core/exceptlog/pe_file.hpp"

namespace packmeter {

namespace {

const BYTE* Base(HMODULE module) {
    return reinterpret_cast<const BYTE*>(module);
}

const IMAGE_NT_HEADERS* NtHeaders(HMODULE module) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) {
        return nullptr;
    }
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(Base(module) + dos->e_lfanew);
    return nt->Signature == IMAGE_NT_SIGNATURE ? nt : nullptr;
}

bool HasResource(HMODULE module, const wchar_t* name) {
    return ::FindResourceW(module, name, MAKEINTRESOURCEW(10)) != nullptr;  // RT_RCDATA
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

}  // namespace

std::string PeModuleImage::FileName() const {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(module_, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            return Utf8(name);
        }
        name.resize(name.size() * 2);
    }
}

FaultModuleKind PeModuleImage::Kind() const {
    const auto* nt = NtHeaders(module_);
    if (!nt) {
        return FaultModuleKind::kNotImage;
    }
    if (!(nt->FileHeader.Characteristics & IMAGE_FILE_DLL)) {
        return FaultModuleKind::kExecutable;
    }
    return HasResource(module_, L"PACKAGEINFO") && HasResource(module_, L"PACKAGEOPTIONS")
               ? FaultModuleKind::kPackage
               : FaultModuleKind::kLibrary;
}

std::vector<TFaultFunctionInfo> PeModuleImage::Functions() const {
    std::vector<TFaultFunctionInfo> functions = ExportedFunctions();
    if (!functions.empty()) {
        return functions;
    }
    // A program exports nothing, but MinGW keeps the COFF symbol table in the file: every
    // function, the statically linked run-time library's included.
    std::wstring name(MAX_PATH, L'\0');
    name.resize(::GetModuleFileNameW(module_, name.data(), static_cast<DWORD>(name.size())));
    const std::string file = ReadWholeFile(std::filesystem::path(name));
    PeFileInfo info;
    if (!ReadPeFile(file, info)) {
        return functions;
    }
    const auto moved = reinterpret_cast<std::uintptr_t>(module_) - info.imageBase;
    for (auto& function : info.functions) {
        function.Start += moved;
        functions.push_back(std::move(function));
    }
    return functions;
}

std::vector<TFaultFunctionInfo> PeModuleImage::ExportedFunctions() const {
    std::vector<TFaultFunctionInfo> functions;
    const auto* nt = NtHeaders(module_);
    if (!nt) {
        return functions;
    }
    const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto& exception = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
    if (directory.VirtualAddress == 0 || directory.Size == 0) {
        return functions;
    }
    const BYTE* base = Base(module_);
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    const auto* addresses = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
    // On x64 every function's extent is in the exception directory's unwind table, which is
    // sorted by start address; that replaces measuring the code up to a return instruction.
    const auto* unwind =
        reinterpret_cast<const IMAGE_RUNTIME_FUNCTION_ENTRY*>(base + exception.VirtualAddress);
    const std::size_t unwindCount =
        exception.VirtualAddress ? exception.Size / sizeof(IMAGE_RUNTIME_FUNCTION_ENTRY) : 0;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const DWORD rva = addresses[ordinals[i]];
        // An address inside the export directory forwards the name to another module.
        if (rva >= directory.VirtualAddress && rva < directory.VirtualAddress + directory.Size) {
            continue;
        }
        DWORD length = 1;
        const auto* end = unwind + unwindCount;
        const auto* entry = std::upper_bound(
            unwind, end, rva, [](DWORD a, const auto& e) { return a < e.BeginAddress; });
        if (entry != unwind && rva < (entry - 1)->EndAddress) {
            length = (entry - 1)->EndAddress - rva;
        }
        functions.push_back({reinterpret_cast<const char*>(base + names[i]),
                             reinterpret_cast<std::uintptr_t>(base + rva), length});
    }
    return functions;
}

std::optional<std::string> PeModuleImage::ResourceBlock() const {
    HRSRC resource = ::FindResourceW(module_, L"FLDATA", MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!resource) {
        return std::nullopt;
    }
    // A loaded resource lives as long as its module; there is nothing to free.
    HGLOBAL loaded = ::LoadResource(module_, resource);
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes) {
        return std::nullopt;
    }
    return std::string(static_cast<const char*>(bytes), ::SizeofResource(module_, resource));
}

}  // namespace packmeter
