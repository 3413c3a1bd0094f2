#include "core/exceptlog/fault_dialog.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "core/exceptlog/fault_log_error.hpp"
#include "core/exceptlog/fault_modules_list.hpp"
#include "core/exceptlog/fault_trace.hpp"
#include "core/utils/text.hpp"

namespace packmeter {

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    return SameIgnoringCase(a, b);
}

constexpr std::array<std::string_view, 6> kColumnKeys{"Col0", "Col1", "Col2",
                                                      "Col3", "Col4", "Col5"};
constexpr std::string_view kSection = "Coordinates";

}  // namespace

std::string FaultShortMessage(std::string_view message, std::string_view type) {
    std::string out(Trimmed(message));
    if (out.empty()) {
        out = "Exception Object: " + std::string(type);
    }
    if (out.back() != '.') {
        out += '.';
    }
    return out;
}

std::vector<FaultDialogRow> FaultDialogRows(const TFaultStackList& stack) {
    std::vector<FaultDialogRow> rows;
    for (const auto& entry : stack) {
        const auto kind = entry.Module ? entry.Module->Kind : FaultModuleKind::kNotImage;
        if (entry.Kind < dkProcedure ||
            (entry.Kind == dkUnitProcedure && kind == FaultModuleKind::kExecutable)) {
            continue;
        }
        FaultDialogRow row;
        row.image = entry.Kind == dkDebugInfo              ? FaultRowImage::kUnit
                    : kind == FaultModuleKind::kExecutable ? FaultRowImage::kExecutable
                    : kind == FaultModuleKind::kPackage    ? FaultRowImage::kPackage
                                                           : FaultRowImage::kLibrary;
        char address[24];
        std::snprintf(address, sizeof address, "%08llX",
                      static_cast<unsigned long long>(entry.Address));
        row.cells = {address,
                     entry.Module ? FileNamePart(entry.Module->FileName) : std::string{},
                     entry.UnitName,
                     entry.ClassName,
                     entry.ProcedureName,
                     entry.Line ? std::to_string(entry.Line) : std::string{}};
        rows.push_back(std::move(row));
    }
    return rows;
}

FaultDialogData MakeFaultDialogData(std::string shortMessage, std::string reportSections,
                                    const TFaultStackList& stack,
                                    const TFaultModuleOptions& options, int errorCount) {
    FaultDialogData data;
    data.shortMessage = std::move(shortMessage);
    data.reportSections = std::move(reportSections);
    data.rows = FaultDialogRows(stack);
    data.caption = options.GetCustomText(2);
    data.heading = options.GetCustomText(3);
    data.generalTab = options.GetCustomText(4);
    data.generalHeader = options.GetCustomText(5);
    data.detailsTab = options.GetCustomText(6);
    data.detailsHeader = options.GetCustomText(7);
    data.closeText = options.GetCustomText(8);
    data.terminateText = options.GetCustomText(options.RestartOnTerminate ? 10 : 9);
    data.detailsText = options.GetCustomText(11);
    for (int c = 0; c < 6; ++c) {
        data.columnTitles[c] = options.GetCustomText(37 + c);
    }
    data.terminateVisible =
        options.TerminateButtonEnabled && errorCount > options.TerminateButtonAfter;
    data.restartOnTerminate = options.RestartOnTerminate;
    data.startsOnGeneral = options.DialogStartsOnGeneral == 1;
    data.customColors = options.CustomDialogColors;
    return data;
}

std::string DetailsButtonText(std::string_view text, bool expanded) {
    return expanded ? "<< " + std::string(text) : std::string(text) + " >>";
}

int CollapsedTextLimit(const DialogFrame& frame) {
    return 640 - (2 * frame.frameWidth + 58);
}

DialogRect CollapsedDialogRect(int textWidth, int textHeight, const DialogFrame& frame,
                               const DialogRect& screen) {
    DialogRect rect;
    rect.width = std::max(
        std::min(textWidth, CollapsedTextLimit(frame)) + 16 + (2 * frame.frameWidth + 58), 250);
    rect.height =
        std::max(textHeight - 39, 0) + 2 * frame.frameHeight + frame.smallCaptionHeight + 86;
    rect.left = screen.left + (screen.width - rect.width) / 2;
    rect.top = screen.top + (screen.height - rect.height) / 2;
    return rect;
}

FaultDialogCoordinates ReadDialogCoordinates(std::string_view iniText) {
    FaultDialogCoordinates coordinates;
    bool inSection = false;
    while (!iniText.empty()) {
        const auto end = iniText.find('\n');
        std::string_view line = Trimmed(iniText.substr(0, end));
        iniText = end == std::string_view::npos ? std::string_view{} : iniText.substr(end + 1);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            inSection = SameName(Trimmed(line.substr(1, line.size() - 2)), kSection);
            continue;
        }
        const auto equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trimmed(line.substr(0, equals));
        const std::string_view text = Trimmed(line.substr(equals + 1));
        int value = 0;
        const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc{} || rest != text.data() + text.size()) {
            continue;
        }
        if (SameName(key, "Width")) {
            coordinates.width = value;
        } else if (SameName(key, "Height")) {
            coordinates.height = value;
        } else if (SameName(key, "Left")) {
            coordinates.left = value;
        } else if (SameName(key, "Top")) {
            coordinates.top = value;
        } else if (SameName(key, "WindowsState")) {
            coordinates.windowsState = value;
        }
        for (std::size_t c = 0; c < kColumnKeys.size(); ++c) {
            if (SameName(key, kColumnKeys[c])) {
                coordinates.columns[c] = value;
            }
        }
    }
    return coordinates;
}

std::string WriteDialogCoordinates(std::string_view iniText,
                                   const FaultDialogCoordinates& coordinates) {
    std::string section = "[" + std::string(kSection) + "]\r\n";
    const auto add = [&](std::string_view key, int value) {
        section += std::string(key) + "=" + std::to_string(value) + "\r\n";
    };
    add("Width", coordinates.width);
    add("Height", coordinates.height);
    if (coordinates.left) {
        add("Left", *coordinates.left);
    }
    if (coordinates.top) {
        add("Top", *coordinates.top);
    }
    add("WindowsState", coordinates.windowsState);
    for (std::size_t c = 0; c < kColumnKeys.size(); ++c) {
        add(kColumnKeys[c], coordinates.columns[c]);
    }
    // Every other section as it was, then ours.
    std::string out;
    bool inSection = false;
    while (!iniText.empty()) {
        const auto end = iniText.find('\n');
        const std::string_view raw = iniText.substr(0, end);
        iniText = end == std::string_view::npos ? std::string_view{} : iniText.substr(end + 1);
        const std::string_view line = Trimmed(raw);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            inSection = SameName(Trimmed(line.substr(1, line.size() - 2)), kSection);
        }
        if (!inSection && !line.empty()) {
            out += std::string(line) + "\r\n";
        }
    }
    return out + section;
}

DialogRect PlaceExpandedDialog(const FaultDialogCoordinates& coordinates,
                               const DialogRect& screen) {
    DialogRect rect;
    rect.width = coordinates.width;
    rect.height = coordinates.height;
    rect.left = coordinates.left.value_or(screen.left + (screen.width - rect.width) / 2);
    rect.top = coordinates.top.value_or(screen.top + (screen.height - rect.height) / 2);
    rect.left = std::max(std::min(rect.left, screen.left + screen.width - rect.width), 0);
    rect.top = std::max(std::min(rect.top, screen.top + screen.height - rect.height), 0);
    return rect;
}

}  // namespace packmeter
