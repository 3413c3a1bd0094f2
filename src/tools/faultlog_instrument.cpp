// The instrumenting step: gives a built program the fault logger's data block, so that the
// logger becomes active in it.
//
//   packmeter-faultlog-instrument PROGRAM OPTIONS-FILE [OUTPUT]
//
// The block holds the options read from OPTIONS-FILE (see core/exceptlog/options_text.hpp) and
// the debug-information block made from the program's line table and symbols, so that reports
// name source files and lines; it is appended to OUTPUT (a copy of PROGRAM), or to PROGRAM
// itself without OUTPUT. A block left by an earlier run is replaced.
//
// The line table is read through the binutils' object dumper ("objdump", or the one named by
// PACKMETER_OBJDUMP), which decodes every DWARF version, of ELF programs and of Windows programs
// built by MinGW alike. Without it the debug-information block stays empty and reports name
// functions from the symbols.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "core/exceptlog/byte_stream.hpp"
#include "core/exceptlog/data_block.hpp"
#include "core/exceptlog/line_table.hpp"
#include "core/exceptlog/options_text.hpp"
#include "core/exceptlog/pe_file.hpp"
#include "platform/fault_cxx_runtime.hpp"
#include "platform/linux/exceptlog/elf_module_image.hpp"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>

namespace {

std::string ReadFile(const std::filesystem::path& file, bool& ok) {
    return packmeter::ReadWholeFile(file, &ok);
}

// The program's bytes without a block appended earlier.
std::string WithoutBlock(std::string program) {
    if (program.size() < 8) {
        return program;
    }
    packmeter::ByteReader tail(std::string_view(program).substr(program.size() - 8));
    std::uint32_t length = 0;
    std::uint32_t magic = 0;
    tail.UInt32(length);
    tail.UInt32(magic);
    if (magic == packmeter::kFaultDataMagic && length <= program.size() - 8) {
        program.resize(program.size() - 8 - length);
    }
    return program;
}

// The output of a command; empty when it fails.
std::string CommandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[65536];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, got);
        }
        if (::pclose(pipe) != 0) {
            output.clear();
        }
    }
    return output;
}

std::string DebugInfoOf(const std::string& program, std::string_view bytes) {
    const char* objdump = std::getenv("PACKMETER_OBJDUMP");
    const std::string dump = CommandOutput(std::string(objdump ? objdump : "objdump") +
                                           " --dwarf=decodedline '" + program + "' 2>/dev/null");
    const auto rows = packmeter::ParseDecodedLines(dump);
    if (rows.empty()) {
        std::cerr << program << ": no line table; reports will name functions only\n";
        return {};
    }
    // A Windows program's code offsets count from its preferred load address, which the
    // system keeps or moves the whole image from.
    packmeter::PeFileInfo pe;
    const bool windows = packmeter::ReadPeFile(bytes, pe);
    const packmeter::TFaultFunctionsList functions(
        windows ? pe.functions : packmeter::ElfModuleImage(0, program).Functions());
    const std::uint64_t base = windows ? pe.imageBase : packmeter::ElfImageBase(program);
    const auto functionOf = [&](std::uint64_t address) {
        const auto* function = functions.Find(static_cast<std::uintptr_t>(address));
        return function ? packmeter::DemangleSymbol(function->Name) : std::string{};
    };
    return packmeter::WriteDebugInfo({}, packmeter::BuildDebugUnits(rows, functionOf, base));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::cerr << "usage: " << argv[0] << " PROGRAM OPTIONS-FILE [OUTPUT]\n";
        return 2;
    }
    bool ok = false;
    const std::string program = ReadFile(argv[1], ok);
    if (!ok) {
        std::cerr << argv[1] << ": cannot read the program\n";
        return 2;
    }
    const std::string optionsText = ReadFile(argv[2], ok);
    if (!ok) {
        std::cerr << argv[2] << ": cannot read the options\n";
        return 2;
    }
    packmeter::TFaultModuleOptions options;
    if (const auto error = packmeter::ApplyOptionsText(optionsText, options); !error.empty()) {
        std::cerr << argv[2] << ": " << error << '\n';
        return 2;
    }
    const std::filesystem::path output = argc == 4 ? argv[3] : argv[1];
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << WithoutBlock(program)
        << packmeter::WriteAppendedDataBlock(options, DebugInfoOf(argv[1], program));
    out.close();
    if (!out) {
        std::cerr << output.string() << ": cannot write the program\n";
        return 2;
    }
    std::filesystem::permissions(output, std::filesystem::status(argv[1]).permissions());
    return 0;
}
