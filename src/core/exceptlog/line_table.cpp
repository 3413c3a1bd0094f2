#include "core/exceptlog/line_table.hpp"

#include <charconv>
#include <sstream>

namespace packmeter {

namespace {

constexpr std::uint64_t kMostStep = 0x10000;

}  // namespace

std::vector<FaultLineRow> ParseDecodedLines(std::string_view text) {
    std::vector<FaultLineRow> rows;
    std::istringstream in{std::string(text)};
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string file;
        std::string number;
        std::string address;
        if (!(fields >> file >> number >> address) || address.rfind("0x", 0) != 0) {
            continue;
        }
        FaultLineRow row;
        row.File = file;
        std::uint64_t value = 0;
        if (std::from_chars(address.data() + 2, address.data() + address.size(), value, 16).ec !=
            std::errc()) {
            continue;
        }
        row.Address = value;
        if (number != "-") {
            std::int32_t lineNumber = 0;
            if (std::from_chars(number.data(), number.data() + number.size(), lineNumber).ec !=
                    std::errc() ||
                lineNumber <= 0) {
                continue;
            }
            row.Line = lineNumber;
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
            unit.Records.push_back(
                {1, static_cast<std::uint32_t>(std::min(end - lastAddress, kMostStep)), {}});
            if (unit.Records.front().Name.empty()) {
                unit.Records.front().Name = "." + unitFunction.substr(0, 254);
            }
            unit.CodeOffset = static_cast<std::uint32_t>(unitStart - base - kFaultCodeBase);
            unit.CodeLength = static_cast<std::uint32_t>(end - unitStart);
            units.push_back(std::move(unit));
        }
        unit = {};
        open = false;
    };
    for (const auto& row : rows) {
        if (row.Line == 0) {
            close(row.Address);
            continue;
        }
        const std::string function = functionOf(row.Address);
        if (open && row.File == unit.Name && function == unitFunction && row.Line == lastLine) {
            continue;  // the same line goes on
        }
        const bool continues = open && row.File == unit.Name && function == unitFunction &&
                               row.Line > lastLine && row.Line - lastLine <= 0x10000 &&
                               row.Address > lastAddress && row.Address - lastAddress <= kMostStep;
        if (continues) {
            unit.Records.push_back({static_cast<std::uint32_t>(row.Line - lastLine),
                                    static_cast<std::uint32_t>(row.Address - lastAddress),
                                    unit.Records.empty() ? "." + function.substr(0, 254) : ""});
        } else {
            close(row.Address);
            unit.Name = row.File;
            unit.FirstLine = row.Line;
            unitFunction = function;
            unitStart = row.Address;
            open = true;
        }
        lastAddress = row.Address;
        lastLine = row.Line;
    }
    return units;
}

}  // namespace packmeter
