#include "cli/cli_output.hpp"

#include <algorithm>
#include <cstdio>

#include "core/app/list_columns.hpp"
#include "core/app/volume_line.hpp"
#include "core/utils/text.hpp"

namespace packmeter::cli {

namespace {

// Columns are aligned by characters, not bytes: UTF-8 continuation bytes take no column.
std::size_t Columns(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
    const std::size_t used = Columns(text);
    const std::string fill(width > used ? width - used : 0, ' ');
    return right ? fill + text : text + fill;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
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
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string RenderTable(const Report& report) {
    std::string out;
    out += "Path:        " + report.folder + "\n";
    if (report.hasTotals) {
        out += "Size:        " + report.totals.sizeText + "\n";
        out += "Compressed:  " + report.totals.onDiskText + "\n";
        out += "Ratio:       " + report.totals.ratioText + "\n";
    }
    out += VolumeLine(report.volume) + "\n\n";

    std::size_t name = Columns("Name"), size = Columns("Size"), disk = Columns(kCompressedCaption),
                ratio = Columns("Ratio");
    for (const EntryRow& row : report.rows) {
        name = std::max(name, Columns(row.caption) + (row.IsFolder() ? 1 : 0));
        size = std::max(size, Columns(row.sizeText));
        disk = std::max(disk, Columns(row.onDiskText));
        ratio = std::max(ratio, Columns(row.ratioText));
    }
    const auto line = [&](const std::string& a, const std::string& b, const std::string& c,
                          const std::string& d) {
        std::string text = Pad(a, name, false) + "  " + Pad(b, size, true) + "  " +
                           Pad(c, disk, true) + "  " + Pad(d, ratio, true);
        while (!text.empty() && text.back() == ' ') {
            text.pop_back();
        }
        return text + "\n";
    };
    out += line("Name", "Size", kCompressedCaption, "Ratio");
    for (const EntryRow& row : report.rows) {
        // A trailing separator marks the folders, as the colours do in the window.
        out += line(row.caption + (row.IsFolder() ? std::string(1, kPathSeparator) : ""),
                    row.sizeText, row.onDiskText, row.ratioText);
    }
    return out;
}

std::string RenderTsv(const Report& report) {
    std::string out = std::string("Name\tSize\t") + kCompressedCaption + "\tRatio\n";
    for (const EntryRow& row : report.rows) {
        out +=
            row.caption + '\t' + row.sizeText + '\t' + row.onDiskText + '\t' + row.ratioText + '\n';
    }
    return out;
}

std::string RenderJson(const Report& report) {
    std::string out = "{\n";
    out += "  \"folder\": " + JsonString(report.folder) + ",\n";
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
               ", \"ratio_text\": " + JsonString(t.ratioText) + "},\n";
    }
    out += "  \"entries\": [";
    bool first = true;
    for (const EntryRow& row : report.rows) {
        out += first ? "\n" : ",\n";
        first = false;
        out += "    {\"name\": " + JsonString(row.caption) +
               ", \"folder\": " + (row.IsFolder() ? "true" : "false") +
               ", \"size\": " + std::to_string(row.size) +
               ", \"on_disk\": " + std::to_string(row.onDisk) +
               ", \"ratio\": " + std::to_string(row.keys.ratioPercent) +
               ", \"state\": " + std::to_string(row.StateIndex()) +
               ", \"size_text\": " + JsonString(row.sizeText) +
               ", \"on_disk_text\": " + JsonString(row.onDiskText) +
               ", \"ratio_text\": " + JsonString(row.ratioText) + "}";
    }
    out += first ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

std::string Render(const Report& report, Format format) {
    switch (format) {
        case Format::kTsv:
            return RenderTsv(report);
        case Format::kJson:
            return RenderJson(report);
        case Format::kTable:
            break;
    }
    return RenderTable(report);
}

}  // namespace packmeter::cli
