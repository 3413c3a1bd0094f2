#pragma once

// The debug-information block of a module: a procedure-name index and, per source unit, line
// records that map code offsets to lines, classes and procedures. Code offsets count from the
// module's load address plus 0x1000.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/exceptlog/report_text.hpp"

namespace packmeter {

inline constexpr std::uintptr_t kFaultCodeBase = 0x1000;

struct FaultProcedureEntry {
    std::string name;  // qualified name
    std::uint32_t codeOffset = 0;
    std::int32_t second = 0;  // kept, never looked at
};

// One line record: the code it covers and how far the line moves to the next record. A name
// "Class.Procedure" sets both, ".Procedure" keeps the class, "Procedure" clears it.
struct FaultLineRecord {
    std::uint32_t lineStep = 1;     // 1 to 65536
    std::uint32_t addressStep = 1;  // 0 to 65536
    std::string name;               // empty: none
};

struct FaultDebugUnit {
    std::string name;  // as the line table names the file ("tuple" for a standard header)
    std::int32_t firstLine = 1;
    std::uint32_t codeOffset = 0;
    std::uint32_t codeLength = 0;
    std::vector<FaultLineRecord> records;
};

// The block in the current layout, each record in its shortest form. Texts are cut at 255 bytes.
std::string WriteDebugInfo(const std::vector<FaultProcedureEntry>& procedures,
                           const std::vector<FaultDebugUnit>& units);

// The entry (kind 4: unit, class, procedure, line) naming a code offset; none when no unit
// holds it or the block is damaged. `version` is the data block's.
std::optional<TFaultDebugInfo> LookUpDebugInfo(std::string_view block, std::uint16_t version,
                                               std::uint32_t codeOffset);

// The code offset of a routine by its qualified name, from the procedure-name index.
std::optional<std::uint32_t> FindProcedureOffset(std::string_view block, std::uint16_t version,
                                                 std::string_view qualifiedName);

}  // namespace packmeter
