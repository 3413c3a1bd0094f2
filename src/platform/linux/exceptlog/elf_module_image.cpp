#include "platform/linux/exceptlog/elf_module_image.hpp"

#include <elf.h>
#include <link.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/exceptlog/byte_stream.hpp"

namespace packmeter {

namespace {

// The 64-bit ELF header of the file, when it is one of ours (same word size as the process).
const ElfW(Ehdr) * Header(const std::string& file) {
    if (file.size() < sizeof(ElfW(Ehdr))) {
        return nullptr;
    }
    const auto* header = reinterpret_cast<const ElfW(Ehdr)*>(file.data());
    const bool elf = file.compare(0, SELFMAG, ELFMAG) == 0 &&
                     header->e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32);
    return elf ? header : nullptr;
}

template <typename T>
const T* At(const std::string& file, std::uint64_t offset, std::uint64_t index = 0) {
    const std::uint64_t at = offset + index * sizeof(T);
    return at + sizeof(T) <= file.size() ? reinterpret_cast<const T*>(file.data() + at) : nullptr;
}

}  // namespace

ElfModuleImage::ElfModuleImage(std::uintptr_t loadBias, std::string fileName)
    : loadBias_(loadBias), fileName_(std::move(fileName)) {}

FaultModuleKind ElfModuleImage::Kind() const {
    const std::string file = ReadWholeFile(fileName_);
    const auto* header = Header(file);
    if (!header) {
        return FaultModuleKind::kNotImage;
    }
    if (header->e_type == ET_EXEC) {
        return FaultModuleKind::kExecutable;
    }
    // A position-independent executable is a shared object too. The linker marks it with
    // DF_1_PIE; older ones only name an interpreter and carry no library name (the C library
    // names an interpreter as well, since it can be run).
    bool interpreter = false;
    bool pie = false;
    bool soname = false;
    for (unsigned i = 0; i < header->e_phnum; ++i) {
        const auto* segment = At<ElfW(Phdr)>(file, header->e_phoff, i);
        if (segment && segment->p_type == PT_INTERP) {
            interpreter = true;
        }
        if (!segment || segment->p_type != PT_DYNAMIC) {
            continue;
        }
        for (std::uint64_t d = 0;; ++d) {
            const auto* entry = At<ElfW(Dyn)>(file, segment->p_offset, d);
            if (!entry || entry->d_tag == DT_NULL) {
                break;
            }
            pie |= entry->d_tag == DT_FLAGS_1 && (entry->d_un.d_val & DF_1_PIE) != 0;
            soname |= entry->d_tag == DT_SONAME;
        }
    }
    if (header->e_type != ET_DYN) {
        return FaultModuleKind::kNotImage;
    }
    return pie || (interpreter && !soname) ? FaultModuleKind::kExecutable
                                           : FaultModuleKind::kLibrary;
}

std::vector<TFaultFunctionInfo> ElfModuleImage::Functions() const {
    std::vector<TFaultFunctionInfo> functions;
    const std::string file = ReadWholeFile(fileName_);
    const auto* header = Header(file);
    if (!header) {
        return functions;
    }
    for (unsigned i = 0; i < header->e_shnum; ++i) {
        const auto* table = At<ElfW(Shdr)>(file, header->e_shoff, i);
        if (!table || (table->sh_type != SHT_DYNSYM && table->sh_type != SHT_SYMTAB) ||
            table->sh_entsize != sizeof(ElfW(Sym))) {
            continue;
        }
        const auto* names = At<ElfW(Shdr)>(file, header->e_shoff, table->sh_link);
        if (!names) {
            continue;
        }
        for (std::uint64_t s = 0; s < table->sh_size / sizeof(ElfW(Sym)); ++s) {
            const auto* symbol = At<ElfW(Sym)>(file, table->sh_offset, s);
            if (!symbol || ELF64_ST_TYPE(symbol->st_info) != STT_FUNC ||
                symbol->st_shndx == SHN_UNDEF || symbol->st_name >= names->sh_size ||
                names->sh_offset + symbol->st_name >= file.size()) {
                continue;
            }
            const char* name = file.data() + names->sh_offset + symbol->st_name;
            functions.push_back(
                {std::string(name,
                             ::strnlen(name, file.size() - names->sh_offset - symbol->st_name)),
                 loadBias_ + symbol->st_value,
                 static_cast<std::uint32_t>(symbol->st_size ? symbol->st_size : 1)});
        }
    }
    return functions;
}

std::uint64_t ElfImageBase(const std::string& fileName) {
    const std::string file = ReadWholeFile(fileName);
    const auto* header = Header(file);
    std::uint64_t base = UINT64_MAX;
    for (unsigned i = 0; header && i < header->e_phnum; ++i) {
        const auto* segment = At<ElfW(Phdr)>(file, header->e_phoff, i);
        if (segment && segment->p_type == PT_LOAD) {
            base = std::min<std::uint64_t>(base, segment->p_vaddr & ~std::uint64_t{0xFFF});
        }
    }
    return base == UINT64_MAX ? 0 : base;
}

ElfModuleImage ProgramModuleImage() {
    // The first object the loader reports is the program itself.
    std::uintptr_t bias = 0;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* out) {
            *static_cast<std::uintptr_t*>(out) = info->dlpi_addr;
            return 1;
        },
        &bias);
    std::string name(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", name.data(), name.size());
    name.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return ElfModuleImage(bias, name);
}

}  // namespace packmeter
