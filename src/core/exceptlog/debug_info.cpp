#include "core/exceptlog/debug_info.hpp"

#include "core/exceptlog/byte_stream.hpp"

namespace packmeter {

namespace {

constexpr std::uint32_t kEscape = 0xFFEFFFE;

void WriteRecord(ByteWriter& out, const FaultLineRecord& record) {
    const std::uint32_t line = record.lineStep - 1;
    const bool named = !record.name.empty();
    if (record.addressStep != 0) {
        const std::uint32_t address = record.addressStep - 1;
        if (!named && line < 4 && address < 32) {
            out.Byte(static_cast<std::uint8_t>(line << 6 | address << 1));
        } else if (named && line < 8 && address < 8) {
            out.Byte(static_cast<std::uint8_t>(line << 5 | address << 2 | 1));
        } else if (line < 32 && address < 128) {
            out.Word(static_cast<std::uint16_t>(line << 11 | address << 4 | (named ? 4 : 0) | 3));
        } else if (line <= 0xFFFF && address < 0xFFF && (address << 16 | line) != kEscape) {
            out.UInt32((address << 16 | line) << 4 | (named ? 4 : 0) | 0xB);
        } else {
            out.UInt32(kEscape << 4 | (named ? 4 : 0) | 0xB);
            out.Word(static_cast<std::uint16_t>(line));
            out.Word(static_cast<std::uint16_t>(address));
        }
    } else {
        out.UInt32((0xFFFu << 16 | line) << 4 | (named ? 4 : 0) | 0xB);
    }
    if (named) {
        out.ShortText(record.name);
    }
}

struct Record {
    std::uint32_t lineStep = 0;
    std::uint32_t addressStep = 0;
    bool named = false;
};

bool ReadRecord(ByteReader& in, std::uint16_t version, Record& record) {
    std::uint8_t f = 0;
    if (!in.Byte(f)) {
        return false;
    }
    if (!(f & 1)) {
        record = {static_cast<std::uint32_t>(f >> 6) + 1,
                  static_cast<std::uint32_t>((f >> 1) & 0x1F) + 1, false};
        return true;
    }
    if (!(f & 2)) {
        record = {static_cast<std::uint32_t>(f >> 5) + 1,
                  static_cast<std::uint32_t>((f >> 2) & 7) + 1, true};
        return true;
    }
    if (!(f & 8)) {
        std::uint8_t high = 0;
        if (!in.Byte(high)) {
            return false;
        }
        const std::uint32_t w = static_cast<std::uint32_t>(high) << 8 | f;
        record = {(w >> 11) + 1, ((w >> 4) & 0x7F) + 1, (f & 4) != 0};
        return true;
    }
    std::uint8_t rest[3];
    for (auto& b : rest) {
        if (!in.Byte(b)) {
            return false;
        }
    }
    const std::uint32_t word = static_cast<std::uint32_t>(rest[2]) << 24 |
                               static_cast<std::uint32_t>(rest[1]) << 16 |
                               static_cast<std::uint32_t>(rest[0]) << 8 | f;
    const std::uint32_t c = word >> 4;
    record.named = (f & 4) != 0;
    if (c == kEscape && version >= 423) {
        std::uint16_t line = 0;
        std::uint16_t address = 0;
        if (!in.Word(line) || !in.Word(address)) {
            return false;
        }
        record.lineStep = line + 1u;
        record.addressStep = address + 1u;
    } else {
        record.lineStep = (c & 0xFFFF) + 1;
        record.addressStep = (c >> 16) == 0xFFF ? 0 : (c >> 16) + 1;
    }
    return true;
}

// Splits a record's name into the current class and a procedure.
std::string ApplyName(std::string_view name, std::string& className) {
    if (name.substr(0, 1) == ".") {
        name.remove_prefix(1);
    } else if (const auto dot = name.find('.'); dot != std::string_view::npos) {
        className.assign(name.substr(0, dot));
        name.remove_prefix(dot + 1);
    } else {
        className.clear();
    }
    std::string procedure;
    if (name.substr(0, 1) == "@") {
        procedure = "_";
        name.remove_prefix(1);
    }
    procedure.append(name);
    return procedure;
}

// Skips the procedure-name index; returns it.
bool ReadIndex(ByteReader& in, std::uint16_t version, std::string_view& index) {
    if (version <= 404) {
        index = {};
        return true;
    }
    std::int32_t length = 0;
    return in.Int32(length) && length >= 0 && in.Raw(static_cast<std::size_t>(length), index);
}

}  // namespace

std::string WriteDebugInfo(const std::vector<FaultProcedureEntry>& procedures,
                           const std::vector<FaultDebugUnit>& units) {
    ByteWriter index;
    for (const auto& p : procedures) {
        index.ShortText(p.name);
        index.UInt32(p.codeOffset);
        index.Int32(p.second);
    }
    ByteWriter out;
    out.Int32(static_cast<std::int32_t>(index.Bytes().size()));
    out.Raw(index.Bytes());
    out.Int32(static_cast<std::int32_t>(units.size()));
    for (const auto& unit : units) {
        ByteWriter records;
        for (const auto& record : unit.records) {
            WriteRecord(records, record);
        }
        out.ShortText(unit.name);
        out.Int32(unit.firstLine);
        out.UInt32(unit.codeOffset);
        out.UInt32(unit.codeLength);
        out.Int32(static_cast<std::int32_t>(records.Bytes().size()));
        out.Raw(records.Bytes());
    }
    return out.Take();
}

std::optional<TFaultDebugInfo> LookUpDebugInfo(std::string_view block, std::uint16_t version,
                                               std::uint32_t codeOffset) {
    ByteReader in(block);
    std::string_view index;
    std::int32_t units = 0;
    if (!ReadIndex(in, version, index) || !in.Int32(units)) {
        return std::nullopt;
    }
    for (std::int32_t u = 0; u < units; ++u) {
        std::string unitName;
        std::int32_t firstLine = 0;
        std::uint32_t start = 0;
        std::uint32_t length = 0;
        std::int32_t recordBytes = 0;
        std::string_view records;
        if (!in.ShortText(unitName) || !in.Int32(firstLine) || !in.UInt32(start) ||
            !in.UInt32(length) || !in.Int32(recordBytes) || recordBytes < 0 ||
            !in.Raw(static_cast<std::size_t>(recordBytes), records)) {
            return std::nullopt;
        }
        if (codeOffset < start || codeOffset - start >= length) {
            continue;
        }
        TFaultDebugInfo info;
        info.Kind = dkDebugInfo;
        info.UnitName = std::move(unitName);
        std::uint64_t address = start;
        std::int64_t line = firstLine;
        std::optional<std::string> pending;
        ByteReader recordReader(records);
        Record record;
        while (recordReader.Remaining() > 0) {
            if (pending) {
                info.ProcedureName = std::move(*pending);
                pending.reset();
            }
            if (!ReadRecord(recordReader, version, record)) {
                return std::nullopt;
            }
            if (record.named) {
                std::string name;
                if (!recordReader.ShortText(name)) {
                    return std::nullopt;
                }
                std::string procedure = ApplyName(name, info.ClassName);
                if (info.ProcedureName.empty()) {
                    info.ProcedureName = std::move(procedure);
                } else {
                    pending = std::move(procedure);
                }
            }
            if (codeOffset >= address && codeOffset < address + record.addressStep) {
                info.Line = static_cast<std::int32_t>(line);
                return info;
            }
            address += record.addressStep;
            line += record.lineStep;
        }
        if (pending) {
            info.ProcedureName = std::move(*pending);
        }
        info.Line = static_cast<std::int32_t>(line);
        return info;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> FindProcedureOffset(std::string_view block, std::uint16_t version,
                                                 std::string_view qualifiedName) {
    ByteReader in(block);
    std::string_view index;
    if (!ReadIndex(in, version, index)) {
        return std::nullopt;
    }
    ByteReader entries(index);
    while (entries.Remaining() > 0) {
        std::string name;
        std::uint32_t offset = 0;
        std::int32_t second = 0;
        if (!entries.ShortText(name) || !entries.UInt32(offset) || !entries.Int32(second)) {
            return std::nullopt;
        }
        if (name == qualifiedName) {
            return offset;
        }
    }
    return std::nullopt;
}

}  // namespace packmeter
