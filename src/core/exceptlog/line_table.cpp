#include "core/exceptlog/line_table.hpp"

#include <charconv>
#include <sstream>

namespace packmeter {

namespace {

constexpr std::uint64_t kMostStep = 0x10000;

// A heading line of the decoded dump: the full path of the file whose rows follow, ending in
// ':' (with "[++]" after it when the file is new to the table).
std::string_view HeadingPath(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (line.substr(0, 4) == "CU: ") {
        line.remove_prefix(4);
    }
    if (line.size() > 4 && line.substr(line.size() - 4) == "[++]") {
        line.remove_suffix(4);
        while (!line.empty() && line.back() == ' ') {
            line.remove_suffix(1);
        }
    }
    if (line.size() < 2 || line.back() != ':' || line.find(' ') != std::string_view::npos) {
        return {};
    }
    return line.substr(0, line.size() - 1);
}

}  // namespace

bool IsSystemSourcePath(std::string_view path) {
    // The compilers' and the distribution's header folders, native and MinGW alike.
    constexpr std::string_view kSystemFolders[] = {
        "/usr/include/",          "/usr/local/include/",   "/usr/lib/gcc/",
        "/usr/lib/gcc-cross/",    "/usr/share/mingw-w64/", "/usr/x86_64-w64-mingw32/",
        "/usr/i686-w64-mingw32/",
    };
    for (const auto folder : kSystemFolders) {
        if (path.substr(0, folder.size()) == folder) {
            return true;
        }
    }
    return false;
}

std::vector<FaultLineRow> ParseDecodedLines(std::string_view text) {
    std::vector<FaultLineRow> rows;
    std::istringstream in{std::string(text)};
    std::string line;
    bool system = false;
    while (std::getline(in, line)) {
        if (const auto heading = HeadingPath(line); !heading.empty()) {
            system = IsSystemSourcePath(heading);
            continue;
        }
        std::istringstream fields(line);
        std::string file;
        std::string number;
        std::string address;
        if (!(fields >> file >> number >> address) || address.rfind("0x", 0) != 0) {
            continue;
        }
        FaultLineRow row;
        row.file = file;
        row.system = system;
        std::uint64_t value = 0;
        if (std::from_chars(address.data() + 2, address.data() + address.size(), value, 16).ec !=
            std::errc()) {
            continue;
        }
        row.address = value;
        if (number != "-") {
            std::int32_t lineNumber = 0;
            if (std::from_chars(number.data(), number.data() + number.size(), lineNumber).ec !=
                    std::errc() ||
                lineNumber <= 0) {
                continue;
            }
            row.line = lineNumber;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<FaultDebugUnit> BuildDebugUnits(
    const std::vector<FaultLineRow>& rows,
    const std::function<std::string(std::uint64_t)>& functionOf, std::uint64_t base) {
    std::vector<FaultDebugUnit> units;
    FaultDebugUnit unit;
    std::string unitFunction;
    std::uint64_t unitStart = 0;
    std::uint64_t lastAddress = 0;
    std::int32_t lastLine = 0;
    bool open = false;
    // Closes the open unit at `end`: its last row covers the code up to there.
    const auto close = [&](std::uint64_t end) {
        if (open && end > lastAddress && lastAddress >= base + kFaultCodeBase) {
            unit.records.push_back(
                {1, static_cast<std::uint32_t>(std::min(end - lastAddress, kMostStep)), {}});
            if (unit.records.front().name.empty()) {
                unit.records.front().name = "." + unitFunction.substr(0, 254);
            }
            unit.codeOffset = static_cast<std::uint32_t>(unitStart - base - kFaultCodeBase);
            unit.codeLength = static_cast<std::uint32_t>(end - unitStart);
            units.push_back(std::move(unit));
        }
        unit = {};
        open = false;
    };
    // The last row of our own sources and its function: inlined header rows take its place.
    FaultLineRow ownRow;
    std::string ownFunction;
    for (const auto& tableRow : rows) {
        if (tableRow.line == 0) {
            close(tableRow.address);
            ownRow = {};
            continue;
        }
        const std::string function = functionOf(tableRow.address);
        FaultLineRow row = tableRow;
        if (!row.system) {
            ownRow = row;
            ownFunction = function;
        } else if (ownRow.line != 0 && function == ownFunction && !function.empty()) {
            row.file = ownRow.file;
            row.line = ownRow.line;
        }
        if (open && row.file == unit.name && function == unitFunction && row.line == lastLine) {
            continue;  // the same line goes on
        }
        const bool continues = open && row.file == unit.name && function == unitFunction &&
                               row.line > lastLine && row.line - lastLine <= 0x10000 &&
                               row.address > lastAddress && row.address - lastAddress <= kMostStep;
        if (continues) {
            unit.records.push_back({static_cast<std::uint32_t>(row.line - lastLine),
                                    static_cast<std::uint32_t>(row.address - lastAddress),
                                    unit.records.empty() ? "." + function.substr(0, 254) : ""});
        } else {
            close(row.address);
            unit.name = row.file;
            unit.firstLine = row.line;
            unitFunction = function;
            unitStart = row.address;
            open = true;
        }
        lastAddress = row.address;
        lastLine = row.line;
    }
    return units;
}

}  // namespace packmeter
