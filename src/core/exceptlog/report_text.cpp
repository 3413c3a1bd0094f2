#include "core/exceptlog/report_text.hpp"

#include <algorithm>
#include <cstdio>

#include "core/exceptlog/fault_modules_list.hpp"

namespace packmeter {

namespace {

constexpr std::string_view kCrLf = "\r\n";

struct Section {
    int header;      // CustomTexts index of the header
    int firstLabel;  // CustomTexts index of the first label
    int firstField;  // FaultLogField of the first value
    int count;
};

constexpr Section kApplication{12, 13, lfStartDate, 3};
constexpr Section kException{16, 17, lfExceptionDate, 5};
constexpr Section kActiveControls{22, 23, lfFormClass, 4};
constexpr Section kComputer{27, 28, lfComputerName, 5};
constexpr Section kOperatingSystem{33, 34, lfOSType, 3};

std::string Padded(std::string_view text, std::size_t width) {
    std::string out(text);
    if (out.size() < width) {
        out.append(width - out.size(), ' ');
    }
    return out;
}

std::string SectionText(const Section& section, const FaultReportValues& values,
                        const TFaultModuleOptions& options) {
    std::size_t width = 0;
    for (int i = 0; i < section.count; ++i) {
        width = std::max(width, options.GetCustomText(section.firstLabel + i).size());
    }
    std::string text = options.GetCustomText(section.header) + "...";
    for (int i = 0; i < section.count; ++i) {
        const int field = section.firstField + i;
        text += kCrLf;
        text += "  " + Padded(options.GetCustomText(section.firstLabel + i), width) + ": ";
        if (options.LogFields & (1u << field)) {
            text += values[field];
        }
    }
    return text;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    for (std::size_t at = 0;;) {
        const auto next = text.find(from, at);
        out.append(text.substr(at, next - at));
        if (next == std::string_view::npos) {
            return out;
        }
        out.append(to);
        at = next + from.size();
    }
}

std::string Hex(std::uintptr_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%08llX", static_cast<unsigned long long>(value));
    return buffer;
}

}  // namespace

std::string BuildReportSections(const FaultReportValues& values, const TFaultModuleOptions& options,
                                bool windowed) {
    std::vector<Section> sections{kApplication, kException};
    if (windowed) {
        sections.push_back(kActiveControls);
    }
    sections.push_back(kComputer);
    sections.push_back(kOperatingSystem);
    std::string text;
    for (const auto& section : sections) {
        if (!text.empty()) {
            text += "\r\n\r\n";
        }
        text += SectionText(section, values, options);
    }
    return text;
}

std::string BuildCallStackTable(const TFaultStackList& stack, const TFaultModuleOptions& options) {
    std::vector<std::array<std::string, 6>> rows;
    for (const auto& entry : stack) {
        if (entry.Kind < dkProcedure) {
            continue;
        }
        rows.push_back({Hex(entry.Address),
                        entry.Module ? FileNamePart(entry.Module->FileName) : std::string{},
                        entry.UnitName, entry.ClassName, entry.ProcedureName,
                        entry.Line ? std::to_string(entry.Line) : std::string{}});
    }
    std::array<std::string, 6> header;
    std::array<std::size_t, 6> widths{};
    for (int c = 0; c < 6; ++c) {
        header[c] = options.GetCustomText(37 + c);
        widths[c] = header[c].size();
        for (const auto& row : rows) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    widths[0] = std::max<std::size_t>(widths[0], 8);
    std::size_t total = 7;
    for (const auto w : widths) {
        total += w;
    }
    const std::string separator(total, '-');
    const auto line = [&](const std::array<std::string, 6>& cells) {
        std::string out = "|";
        for (int c = 0; c < 6; ++c) {
            out += Padded(cells[c], widths[c]) + "|";
        }
        return out;
    };
    std::string text = separator + "\r\n" + line(header) + "\r\n" + separator;
    for (const auto& row : rows) {
        text += "\r\n" + line(row);
    }
    return text + "\r\n" + separator;
}

std::string BuildReportText(const FaultReportValues& values, const TFaultStackList& stack,
                            const TFaultModuleOptions& options, bool windowed) {
    return BuildReportSections(values, options, windowed) + "\r\n\r\n" +
           BuildCallStackTable(stack, options);
}

std::string BuildConsoleText(std::string_view report, const TFaultModuleOptions& options) {
    return options.GetCustomText(3) + "\r\n\r\n" + std::string(report);
}

std::string BuildHtmlReport(std::string_view consoleText, const TFaultModuleOptions& options) {
    const std::string body = ReplaceAll(ReplaceAll(consoleText, "\r\n", "<br>"), " ", "&nbsp;");
    return "<html><head><title>" + options.GetCustomText(2) + "</title></head><body>" +
           "<p><small><font face=\"Lucida Console,Courier\">" + body +
           "</font></small></p></body></html>";
}

std::string FormatReportDate(const std::tm& time) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d", time.tm_mon + 1,
                  time.tm_mday, time.tm_year + 1900, time.tm_hour, time.tm_min, time.tm_sec);
    return buffer;
}

std::string FormatReportAddress(std::uintptr_t address) {
    return address ? Hex(address) : std::string{};
}

std::string FormatReportMessage(std::string_view message) {
    std::string out(message);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, ' ');
    // A message-less exception (not a standard one) keeps an empty message.
    if (!out.empty() && out.back() != '.') {
        out += '.';
    }
    return out;
}

std::string FormatWindowText(std::string_view text) {
    std::string out(text.substr(0, 255));
    std::replace_if(
        out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, ' ');
    return out;
}

std::string FormatMemoryMb(std::uint64_t bytes) {
    return std::to_string((bytes + 524288) / 1048576) + " Mb";
}

std::string FormatDiskGb(std::uint64_t bytes) {
    // "0.##": at most two decimals, trailing zeros dropped.
    const auto hundredths =
        static_cast<std::uint64_t>(static_cast<double>(bytes) / 1073741824.0 * 100.0 + 0.5);
    std::string text = std::to_string(hundredths / 100);
    const auto fraction = hundredths % 100;
    if (fraction) {
        text += '.';
        text += static_cast<char>('0' + fraction / 10);
        if (fraction % 10) {
            text += static_cast<char>('0' + fraction % 10);
        }
    }
    return text + " Gb";
}

std::string FileNamePart(std::string_view path) {
    const auto at = path.find_last_of("/\\");
    return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

}  // namespace packmeter
