#include <sys/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "core/utils/version.hpp"
#include "core/utils/version_text.hpp"
#include "platform/linux/scan/measure_client.hpp"
#include "platform/system.hpp"

namespace packmeter {

namespace {

// The version block carried inside the program file, so that the version of any program file
// built by this project can be read back from the file alone. Each value follows its key.
[[gnu::used]] const char kVersionBlock[] =
    "\0PACKMETER-VERSION-BLOCK\0ProductVersion\0" PACKMETER_PRODUCT_VERSION_TEXT
    "\0FileVersion\0" PACKMETER_FILE_VERSION_TEXT "\0";

std::string BlockValue(std::string_view block, std::string_view key) {
    std::string needle("\0", 1);
    needle += key;
    needle.push_back('\0');
    const auto at = block.find(needle);
    if (at == std::string_view::npos) {
        return {};
    }
    const auto start = at + needle.size();
    const auto end = block.find('\0', start);
    return std::string(block.substr(start, end == std::string_view::npos ? end : end - start));
}

NumberFormat ReadNumberFormat() {
    // Only the numeric category is taken from the environment; the program's own texts and
    // parsing stay in the "C" conventions.
    NumberFormat format;
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "")) {
        const std::lconv* conv = std::localeconv();
        if (conv->decimal_point && *conv->decimal_point) {
            format.decimal = conv->decimal_point;
        }
        if (conv->thousands_sep && *conv->thousands_sep) {
            format.thousands = conv->thousands_sep;
        }
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    return format;
}

}  // namespace

const NumberFormat& UserNumberFormat() {
    static const NumberFormat format = ReadNumberFormat();
    return format;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string PathProblem(const std::string& path) {
    struct stat st {};
    if (path.empty()) {
        return "empty path";
    }
    if (::lstat(path.c_str(), &st) == 0) {
        // A link that leads round in a circle is reported as such; any other link is an entry.
        return S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0 && errno == ELOOP
                   ? "symbolic-link loop"
                   : "";
    }
    switch (errno) {
        case ENOENT:
            return "no such file or folder";
        case ENOTDIR:
            return "no such file or folder (a part of the path is not a folder)";
        case ELOOP:
            return "symbolic-link loop";
        case EACCES:
            return "permission denied";
        default:
            return std::strerror(errno);
    }
}

bool EnableBackupPrivilege() {
    // Reading every folder regardless of its permissions is CAP_DAC_READ_SEARCH: raise it to
    // effective when the process is permitted to hold it.
    cap_t caps = cap_get_proc();
    if (!caps) {
        return false;
    }
    cap_flag_value_t permitted = CAP_CLEAR;
    cap_flag_value_t effective = CAP_CLEAR;
    cap_get_flag(caps, CAP_DAC_READ_SEARCH, CAP_PERMITTED, &permitted);
    cap_get_flag(caps, CAP_DAC_READ_SEARCH, CAP_EFFECTIVE, &effective);
    if (permitted == CAP_SET && effective != CAP_SET) {
        const cap_value_t wanted[] = {CAP_DAC_READ_SEARCH};
        if (cap_set_flag(caps, CAP_EFFECTIVE, 1, wanted, CAP_SET) == 0 && cap_set_proc(caps) == 0) {
            effective = CAP_SET;
        }
    }
    cap_free(caps);
    return effective == CAP_SET;
}

std::string GetVersionString(bool productOnly, const std::string& fileName) {
    if (fileName.empty()) {
        return ComposeVersionString(kProductVersion, kFileVersion, productOnly);
    }
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        return {};
    }
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string_view marker("\0PACKMETER-VERSION-BLOCK\0", 25);
    const auto at = content.find(marker);
    if (at == std::string::npos) {
        return {};
    }
    const std::string_view block = std::string_view(content).substr(at + marker.size() - 1, 256);
    return ComposeVersionString(BlockValue(block, "ProductVersion"),
                                BlockValue(block, "FileVersion"), productOnly);
}

bool IsNTPlatform() {
    return true;
}

}  // namespace packmeter

namespace packmeter {

void DisableMeasureHelper() {
    linuxfs::MeasureHelper::Instance().Disable();
}

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string FullPath(const std::string& path) {
    std::string joined = path;
    if (path.empty() || path.front() != '/') {
        std::string cwd(4096, '\0');
        while (!::getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE) {
                return path;
            }
            cwd.resize(cwd.size() * 2);
        }
        cwd.resize(std::strlen(cwd.c_str()));
        joined = cwd + "/" + path;
    }
    // Lexical clean-up, keeping a trailing separator when the path had one.
    std::vector<std::string_view> parts;
    std::string_view rest = joined;
    while (!rest.empty()) {
        const auto cut = rest.find('/');
        const std::string_view part = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const auto part : parts) {
        out += '/';
        out += part;
    }
    if (out.empty()) {
        return "/";
    }
    const bool trailing = joined.back() == '/' || path == "." || path.ends_with("/.") ||
                          path == ".." || path.ends_with("/..");
    return trailing ? out + "/" : out;
}

}  // namespace packmeter
