#include "core/exceptlog/log_file.hpp"
#include "core/utils/text.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace packmeter {

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The value of a report line: what follows its first ":", trimmed.
std::string_view LineValue(std::string_view line) {
    const auto colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view{} : Trimmed(line.substr(colon + 1));
}

std::filesystem::path Utf8Path(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// One attempt; `failure` says why it failed.
bool TrySave(std::string_view report, const TFaultModuleOptions& options,
             std::string_view versionNumber, std::string& failure) {
    TLogFile log(options.OutputLogFile());
    const auto save = [&] {
        if (!log.Save()) {
            failure = "Cannot write the file \"" + log.FileName() + "\".";
            return false;
        }
        return true;
    };
    if (!log.Load()) {
        failure = "Cannot read the file \"" + log.FileName() + "\".";
        return false;
    }
    if (options.LogFileOptions & kLogKeepEveryReport) {
        // Every report is kept.
    } else if (options.LogFileOptions & kLogResetOnNewVersion) {
        std::string_view lastVersion;
        if (!log.Items.empty()) {
            const auto lines = SplitLines(log.Items.back());
            lastVersion = lines.size() > 3 ? LineValue(lines[3]) : std::string_view{};
        }
        if (lastVersion != versionNumber) {
            log.Items.clear();
            if (!save()) {
                return false;
            }
        }
    } else if (options.MaxLoggedErrors <= 0) {
        log.Items.clear();
        return save();
    } else if (log.Items.size() >= static_cast<std::size_t>(options.MaxLoggedErrors)) {
        log.Items.erase(log.Items.begin(), log.Items.end() - (options.MaxLoggedErrors - 1));
    }
    if (options.LogFileOptions & kLogSkipDuplicates) {
        const auto key = ReportKey(report);
        for (const auto& item : log.Items) {
            const auto itemKey = ReportKey(item);
            if (!key || !itemKey) {
                failure = "A report in \"" + log.FileName() + "\" is too short to compare.";
                return false;
            }
            if (*itemKey == *key) {
                return true;
            }
        }
    }
    if (!options.SaveLogFile) {
        return true;
    }
    log.Add(report);
    return save();
}

}  // namespace

bool TLogFile::Load() {
    const auto path = Utf8Path(fileName_);
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        Items.clear();
        return !error;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    LoadFromText(std::string(std::istreambuf_iterator<char>(in), {}));
    return !in.bad();
}

void TLogFile::LoadFromText(std::string_view text) {
    Items.clear();
    std::string report;
    int emptyLines = 0;
    for (const auto line : SplitLines(text)) {
        report.append(line);
        report += "\r\n";
        emptyLines = line.empty() ? emptyLines + 1 : 0;
        if (emptyLines == 3) {
            report.resize(report.size() - 2);
            Items.push_back(std::move(report));
            report.clear();
        }
    }
    if (!report.empty()) {
        Items.push_back(std::move(report));
    }
}

std::string TLogFile::Text() const {
    std::string text;
    for (const auto& item : Items) {
        text += item;
        text += "\r\n";
    }
    return text;
}

bool TLogFile::Save() const {
    std::ofstream out(Utf8Path(fileName_), std::ios::binary | std::ios::trunc);
    out << Text();
    out.close();
    return !out.fail();
}

void TLogFile::Add(std::string_view report) {
    auto lines = SplitLines(report);
    int empty = 0;
    for (std::size_t i = lines.size() >= 2 ? lines.size() - 2 : 0; i < lines.size(); ++i) {
        empty += lines[i].empty();
    }
    for (; empty < 2; ++empty) {
        lines.emplace_back();
    }
    std::string item;
    for (const auto line : lines) {
        item.append(line);
        item += "\r\n";
    }
    Items.push_back(std::move(item));
}

std::optional<std::string> ReportKey(std::string_view report) {
    const auto lines = SplitLines(report);
    if (lines.size() < 11) {
        return std::nullopt;
    }
    std::string key;
    for (const int i : {10, 9, 8, 7}) {
        key.append(LineValue(lines[i]));
    }
    return key;
}

bool SaveReportToLog(std::string_view report, const TFaultModuleOptions& options,
                     std::string_view versionNumber, FaultLogActions& actions) {
    if (!actions.ActionNotify(2)) {
        return true;
    }
    bool saved = false;
    for (;;) {
        std::string failure;
        saved = TrySave(report, options, versionNumber, failure);
        if (saved) {
            break;
        }
        actions.Warning(flLogError, "Log", failure);
        if (!actions.ActionError(3)) {
            break;
        }
    }
    actions.ActionNotify(3);
    return saved;
}

}  // namespace packmeter
