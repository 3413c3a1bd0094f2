#include "core/exceptlog/system_name.hpp"

namespace packmeter {

std::string WindowsSystemName(std::uint32_t major, std::uint32_t minor, std::uint32_t build,
                              bool workstation) {
    const std::uint32_t version = major * 100 + minor;
    switch (version) {
        case 400:
            return "Microsoft Windows NT 4.0";
        case 500:
            return "Microsoft Windows 2000";
        case 501:
            return "Microsoft Windows XP";
        case 502:
            return "Microsoft Windows 2003";
        case 600:
            return workstation ? "Microsoft Windows Vista" : "Microsoft Windows Server 2008";
        case 601:
            return workstation ? "Microsoft Windows 7" : "Microsoft Windows Server 2008 R2";
        case 602:
            return workstation ? "Microsoft Windows 8" : "Microsoft Windows Server 2012";
        case 603:
            return workstation ? "Microsoft Windows 8.1" : "Microsoft Windows Server 2012 R2";
        case 1000:
            if (workstation) {
                return build >= 22000 ? "Microsoft Windows 11" : "Microsoft Windows 10";
            }
            if (build >= 26100) {
                return "Microsoft Windows Server 2025";
            }
            if (build >= 20348) {
                return "Microsoft Windows Server 2022";
            }
            return build >= 17763 ? "Microsoft Windows Server 2019"
                                  : "Microsoft Windows Server 2016";
        default:
            return {};
    }
}

std::string OsReleaseName(std::string_view osRelease) {
    constexpr std::string_view kKey = "PRETTY_NAME=";
    std::size_t at = 0;
    while (at < osRelease.size()) {
        auto end = osRelease.find('\n', at);
        if (end == std::string_view::npos) {
            end = osRelease.size();
        }
        std::string_view line = osRelease.substr(at, end - at);
        at = end + 1;
        if (line.substr(0, kKey.size()) != kKey) {
            continue;
        }
        line.remove_prefix(kKey.size());
        if (line.size() >= 2 && (line.front() == '"' || line.front() == '\'') &&
            line.back() == line.front()) {
            line = line.substr(1, line.size() - 2);
        }
        std::string name;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
            }
            name += line[i];
        }
        return name;
    }
    return {};
}

}  // namespace packmeter
