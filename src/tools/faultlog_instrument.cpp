// The instrumenting step: gives a built program the fault logger's data block, so that the
// logger becomes active in it.
//
//   packmeter-faultlog-instrument PROGRAM OPTIONS-FILE [OUTPUT]
//
// The block holds the options read from OPTIONS-FILE (see core/exceptlog/options_text.hpp) and
// an empty debug-information block; it is appended to OUTPUT (a copy of PROGRAM), or to PROGRAM
// itself without OUTPUT. A block left by an earlier run is replaced.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "core/exceptlog/byte_stream.hpp"
#include "core/exceptlog/data_block.hpp"
#include "core/exceptlog/options_text.hpp"

namespace {

std::string ReadFile(const std::filesystem::path& file, bool& ok) {
    std::ifstream in(file, std::ios::binary);
    ok = static_cast<bool>(in);
    return std::string(std::istreambuf_iterator<char>(in), {});
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
    out << WithoutBlock(program) << packmeter::WriteAppendedDataBlock(options, "");
    out.close();
    if (!out) {
        std::cerr << output.string() << ": cannot write the program\n";
        return 2;
    }
    std::filesystem::permissions(output, std::filesystem::status(argv[1]).permissions());
    return 0;
}
