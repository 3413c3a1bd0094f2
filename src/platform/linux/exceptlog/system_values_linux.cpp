#include <langinfo.h>
#include <locale.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/exceptlog/system_name.hpp"
#include "core/utils/version.hpp"
#include "platform/fault_logger.hpp"

namespace packmeter {

namespace {

std::string ReadText(const char* file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Memory the system could give to programs without swapping; older kernels lack the line.
std::uint64_t AvailableMemory(const struct sysinfo& info) {
    std::istringstream meminfo(ReadText("/proc/meminfo"));
    std::string key;
    std::uint64_t kib = 0;
    std::string unit;
    while (meminfo >> key >> kib >> unit) {
        if (key == "MemAvailable:") {
            return kib * 1024;
        }
    }
    return static_cast<std::uint64_t>(info.freeram) * info.mem_unit;
}

// The language of the locale the environment chooses, by its English name ("English"); for a
// locale that is not installed, its language code ("de"). The C locale names no language.
std::string LanguageName() {
    if (locale_t locale = ::newlocale(LC_ALL_MASK, "", static_cast<locale_t>(nullptr))) {
        std::string name = ::nl_langinfo_l(_NL_IDENTIFICATION_LANGUAGE, locale);
        ::freelocale(locale);
        return name;
    }
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            const std::string tag = value;
            return tag.substr(0, tag.find_first_of("_.@"));
        }
    }
    return {};
}

}  // namespace

void FillSystemReportValues(FaultReportValues& values) {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    values[lfAppName] = program.filename().string();
    values[lfVersionNumber] = kFileVersion;

    utsname names{};
    if (::uname(&names) == 0) {
        values[lfComputerName] = names.nodename;
        values[lfOSBuild] = names.release;
    }
    struct sysinfo info {};
    if (::sysinfo(&info) == 0) {
        values[lfTotalMemory] =
            FormatMemoryMb(static_cast<std::uint64_t>(info.totalram) * info.mem_unit);
        values[lfFreeMemory] = FormatMemoryMb(AvailableMemory(info));
    }
    struct statvfs disk {};
    if (!program.empty() && ::statvfs(program.parent_path().c_str(), &disk) == 0) {
        values[lfTotalDisk] =
            FormatDiskGb(static_cast<std::uint64_t>(disk.f_blocks) * disk.f_frsize);
        values[lfFreeDisk] =
            FormatDiskGb(static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize);
    }
    std::string system = OsReleaseName(ReadText("/etc/os-release"));
    if (system.empty()) {
        system = OsReleaseName(ReadText("/usr/lib/os-release"));
    }
    values[lfOSType] = system.empty() ? names.sysname : system;
    values[lfOSLanguage] = LanguageName();
}

}  // namespace packmeter
