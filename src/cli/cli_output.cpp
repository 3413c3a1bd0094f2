#include "cli/cli_output.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "core/app/list_columns.hpp"
#include "core/app/volume_line.hpp"
#include "core/utils/text.hpp"

namespace packmeter::cli {

namespace {

// How many terminal columns a character takes: two for East Asian wide and full-width
// characters and emoji, none for combining marks and zero-width ones, one otherwise.
std::size_t CharacterColumns(char32_t c) {
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) ||
        (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0x20D0 && c <= 0x20FF)) {
        return 0;
    }
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
        (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
        (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
        (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
        (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
        (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
        (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD)) {
        return 2;
    }
    return 1;
}

}  // namespace

std::size_t DisplayColumns(const std::string& text) {
    std::size_t columns = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        columns += CharacterColumns(c);
        i += length;
    }
    return columns;
}

namespace {

// Columns are aligned by what a terminal shows: a CJK character or an emoji takes two.
std::size_t Columns(const std::string& text) {
    return DisplayColumns(text);
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
    const std::size_t used = Columns(text);
    const std::string fill(width > used ? width - used : 0, ' ');
    return right ? fill + text : text + fill;
}

std::string HexEscape(char prefix, unsigned value, int digits) {
    char text[12];
    std::snprintf(text, sizeof text, "\\%c%0*x", prefix, digits, value);
    return text;
}

std::string CountOf(std::int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The bracketed note after a row in the table, empty for an ordinary complete row.
std::string RowNote(const EntryRow& row) {
    std::string note;
    switch (row.kind) {
        case EntryKind::kLink:
            note = "link";
            break;
        case EntryKind::kMount:
            note = "mount point";
            break;
        case EntryKind::kSpecial:
            note = "special file";
            break;
        case EntryKind::kPlain:
            break;
    }
    if (row.unreadable > 0) {
        note += (note.empty() ? "" : ", ") + std::to_string(row.unreadable) + " unreadable";
    }
    return note.empty() ? note : "[" + note + "]";
}

const char* KindName(const EntryRow& row) {
    switch (row.kind) {
        case EntryKind::kLink:
            return "link";
        case EntryKind::kMount:
            return "mount";
        case EntryKind::kSpecial:
            return "special";
        case EntryKind::kPlain:
            break;
    }
    return row.IsFolder() ? "folder" : "file";
}

// A JSON member holding a name: the display text, and its exact bytes when they are not UTF-8.
std::string JsonName(const char* key, const std::string& bytes) {
    std::string out = "\"" + std::string(key) + "\": " + JsonString(bytes);
    if (!IsValidUtf8(bytes)) {
        out += ", \"" + std::string(key) + "_bytes\": \"" + Base64(bytes) + "\"";
    }
    return out;
}

}  // namespace

std::string JsonString(std::string_view text) {
    const std::string valid = ToDisplayText(text);
    std::string out = "\"";
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const char c = valid[i];
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    out += HexEscape('u', static_cast<unsigned char>(c), 4);
                } else if (valid.compare(i, 3, "\xE2\x80\xA8") == 0 ||
                           valid.compare(i, 3, "\xE2\x80\xA9") == 0) {
                    // U+2028 and U+2029 are valid in JSON but end a line in JavaScript.
                    out += valid[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
                    i += 2;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string TsvField(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const auto c = static_cast<unsigned char>(bytes.front());
        std::size_t take = 1;
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += HexEscape('x', c, 2);
                } else if (const std::size_t n = Utf8SequenceLength(bytes); n > 0) {
                    take = n;
                    // C1 controls (U+0080..U+009F; U+009B starts a terminal command like ESC [)
                    // byte by byte.
                    if (n == 2 && c == 0xC2 && static_cast<unsigned char>(bytes[1]) < 0xA0) {
                        out += HexEscape('x', c, 2);
                        out += HexEscape('x', static_cast<unsigned char>(bytes[1]), 2);
                    } else {
                        out += bytes.substr(0, n);
                    }
                } else {
                    out += HexEscape('x', c, 2);
                }
        }
        bytes.remove_prefix(take);
    }
    return out;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return out;
}

bool OutputText::Flush() {
    if (ok_ && !text_.empty()) {
        ok_ = write_(text_);
    }
    text_.clear();
    return ok_;
}

namespace {

// Most names are printable ASCII, which the table shows as they are, one column a byte.
bool PrintableAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// A row's name as the table shows it: a trailing separator marks the folders, as the colours do
// in the window.
std::string TableName(const EntryRow& row) {
    std::string name = PrintableAscii(row.name) ? row.name : ToSafeDisplayText(row.name);
    if (row.IsFolder()) {
        name += kPathSeparator;
    }
    return name;
}

std::size_t TableNameColumns(const EntryRow& row) {
    return PrintableAscii(row.name) ? row.name.size() + (row.IsFolder() ? 1 : 0)
                                    : Columns(TableName(row));
}

// The characters of a number's decimal text.
std::size_t DigitCount(std::int64_t value) {
    std::size_t count = value < 0 ? 2 : 1;
    for (std::uint64_t rest = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                        : static_cast<std::uint64_t>(value);
         rest >= 10; rest /= 10) {
        ++count;
    }
    return count;
}

}  // namespace

void RenderTable(const Report& report, OutputText& out) {
    out += "Path:        " + ToSafeDisplayText(report.folder) + "\n";
    if (report.hasTotals) {
        out += "Size:        " + report.totals.sizeText + "\n";
        out += "Compressed:  " + report.totals.onDiskText + "\n";
        out += "Ratio:       " + report.totals.ratioText + "\n";
        if (report.totals.unreadable > 0) {
            out += "Unreadable:  " + CountOf(report.totals.unreadable, "entry", "entries") +
                   " could not be read\n";
        }
    }
    out += (report.rowVolumes.empty() ? VolumeLine(report.volume)
                                      : std::string("File System: (each row names its own)")) +
           "\n\n";

    // The widths first, from the numbers: the texts are made once, as each line is written.
    std::size_t name = Columns("Name"), size = Columns("Size"), disk = Columns(kCompressedCaption),
                ratio = Columns("Ratio");
    for (std::size_t i = 0; i < report.rows.size(); ++i) {
        const EntryRow& row = report.rows[i];
        const EntryKeys keys = row.Keys();
        const std::size_t unit = UnitName(keys.unit).size() + 1;
        name = std::max(name, TableNameColumns(row));
        size = std::max(size, DigitCount(keys.shownSize) + unit);
        disk = std::max(disk, DigitCount(keys.shownOnDisk) + unit);
        ratio = std::max(ratio, DigitCount(keys.ratioPercent) + 2);
    }
    const auto line = [&](const std::string& a, const std::string& b, const std::string& c,
                          const std::string& d, const std::string& note) {
        std::string text = Pad(a, name, false) + "  " + Pad(b, size, true) + "  " +
                           Pad(c, disk, true) + "  " + Pad(d, ratio, true) + "  " + note;
        while (!text.empty() && text.back() == ' ') {
            text.pop_back();
        }
        out += text;
        out += "\n";
        out.LineEnd();
    };
    line("Name", "Size", kCompressedCaption, "Ratio", "");
    for (std::size_t i = 0; i < report.rows.size(); ++i) {
        const EntryRow& row = report.rows[i];
        std::string note = RowNote(row);
        if (i < report.rowVolumes.size()) {
            const VolumeInfo& volume = report.rowVolumes[i];
            note += (note.empty() ? "" : " ") + std::string("[") +
                    (volume.valid ? volume.fileSystem : "unknown file system") +
                    (volume.valid && !volume.supportsCompression ? ", no compression" : "") + "]";
        }
        const SizePair texts = row.SizeTexts();
        line(TableName(row), texts.size, texts.compressed, row.RatioText(), note);
    }
}

void RenderTsv(const Report& report, OutputText& out) {
    out += std::string("Name\tSize\t") + kCompressedCaption + "\tRatio\n";
    for (std::size_t i = 0; i < report.rows.size(); ++i) {
        const EntryRow& row = report.rows[i];
        const SizePair texts = row.SizeTexts();
        out += TsvField(row.name) + '\t' + texts.size + '\t' + texts.compressed + '\t' +
               row.RatioText() + '\n';
        out.LineEnd();
    }
}

namespace {

std::string JsonAlgorithms(const AlgorithmSplit& split) {
    std::string out = "{";
    for (const AlgorithmSplit::Part& part : split.Parts()) {
        out += (out.size() > 1 ? ", " : "") + JsonString(AlgorithmName(part.algorithm)) +
               ": {\"on_disk\": " + std::to_string(part.figures.onDisk) +
               ", \"uncompressed\": " + std::to_string(part.figures.uncompressed) +
               ", \"referenced\": " + std::to_string(part.figures.referenced) + "}";
    }
    return out + "}";
}

std::string AlgorithmLine(std::string_view type, const AlgorithmFigures& figures) {
    char line[160];
    // The percentage is on-disk of uncompressed in whole percent, cut off as compsize does.
    const std::string percent =
        figures.uncompressed > 0 ? std::to_string(figures.onDisk * 100 / figures.uncompressed) + "%"
                                 : "-";
    std::snprintf(
        line, sizeof line, "%-10s %5s     %-12lld %-12lld %-12lld\n", std::string(type).c_str(),
        percent.c_str(), static_cast<long long>(figures.onDisk),
        static_cast<long long>(figures.uncompressed), static_cast<long long>(figures.referenced));
    return line;
}

}  // namespace

void RenderJson(const Report& report, OutputText& out) {
    out += "{\n";
    out += "  " + JsonName("folder", report.folder) + ",\n";
    out += "  \"file_system\": " + JsonString(report.volume.valid ? report.volume.fileSystem : "") +
           ",\n";
    out += std::string("  \"supports_compression\": ") +
           (report.volume.valid && report.volume.supportsCompression ? "true" : "false") + ",\n";
    if (report.hasTotals) {
        const ScanTotals& t = report.totals;
        out += "  \"totals\": {\"size\": " + std::to_string(t.size) +
               ", \"on_disk\": " + std::to_string(t.onDisk) +
               ", \"ratio\": " + std::to_string(t.ratioPercent) +
               ", \"size_text\": " + JsonString(t.sizeText) +
               ", \"on_disk_text\": " + JsonString(t.onDiskText) +
               ", \"ratio_text\": " + JsonString(t.ratioText) +
               ", \"by_algorithm\": " + JsonAlgorithms(t.byAlgorithm) +
               ", \"unreadable\": " + std::to_string(t.unreadable) + "},\n";
    }
    out += "  \"entries\": [";
    bool first = true;
    for (std::size_t i = 0; i < report.rows.size(); ++i) {
        const EntryRow& row = report.rows[i];
        out += first ? "\n" : ",\n";
        out.LineEnd();
        first = false;
        std::string volume;
        if (i < report.rowVolumes.size()) {
            const VolumeInfo& v = report.rowVolumes[i];
            volume = ", \"file_system\": " + JsonString(v.valid ? v.fileSystem : "") +
                     ", \"supports_compression\": " +
                     (v.valid && v.supportsCompression ? "true" : "false");
        }
        const SizePair texts = row.SizeTexts();
        out += "    {" + JsonName("name", row.name) +
               ", \"folder\": " + (row.IsFolder() ? "true" : "false") +
               ", \"size\": " + std::to_string(row.size) +
               ", \"on_disk\": " + std::to_string(row.onDisk) +
               ", \"ratio\": " + std::to_string(RatioPercent(row.size, row.onDisk)) +
               ", \"state\": " + std::to_string(row.StateIndex()) +
               ", \"size_text\": " + JsonString(texts.size) +
               ", \"on_disk_text\": " + JsonString(texts.compressed) +
               ", \"ratio_text\": " + JsonString(row.RatioText()) +
               ", \"by_algorithm\": " + JsonAlgorithms(row.byAlgorithm) +
               ", \"kind\": " + JsonString(KindName(row)) +
               ", \"unreadable\": " + (row.unreadable > 0 ? "true" : "false") + volume + "}";
    }
    out += first ? "]\n}\n" : "\n  ]\n}\n";
}

std::string RenderAlgorithmTable(const ScanTotals& totals) {
    if (totals.byAlgorithm.Empty()) {
        return {};
    }
    std::string out = "\nType        Perc     Disk Usage   Uncompressed Referenced\n";
    out += AlgorithmLine("TOTAL", totals.byAlgorithm.Total());
    for (const AlgorithmSplit::Part& part : totals.byAlgorithm.Parts()) {
        out += AlgorithmLine(AlgorithmName(part.algorithm), part.figures);
    }
    return out;
}

void Render(const Report& report, Format format, OutputText& out) {
    switch (format) {
        case Format::kTsv:
            return RenderTsv(report, out);
        case Format::kJson:
            return RenderJson(report, out);
        case Format::kTable:
            break;
    }
    RenderTable(report, out);
}

}  // namespace packmeter::cli
