#include <windows.h>

#include <cstdio>
#include <vector>

#include "core/exceptlog/system_name.hpp"
#include "platform/fault_logger.hpp"

namespace packmeter {

namespace {

std::string Utf8(const wchar_t* wide) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size - 1));
    return out;
}

std::wstring ProgramFile() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2);
    }
}

// The description and file version from the program's version resource.
void ReadVersionResource(const std::wstring& program, FaultReportValues& values) {
    const auto slash = program.find_last_of(L"\\/");
    values[lfAppName] = Utf8(program.substr(slash == std::wstring::npos ? 0 : slash + 1).c_str());
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(program.c_str(), &ignored);
    if (size == 0) {
        return;
    }
    std::vector<char> block(size);
    if (!::GetFileVersionInfoW(program.c_str(), 0, size, block.data())) {
        return;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
        char text[64];
        std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu",
                      static_cast<unsigned long>(HIWORD(fixed->dwFileVersionMS)),
                      static_cast<unsigned long>(LOWORD(fixed->dwFileVersionMS)),
                      static_cast<unsigned long>(HIWORD(fixed->dwFileVersionLS)),
                      static_cast<unsigned long>(LOWORD(fixed->dwFileVersionLS)));
        values[lfVersionNumber] = text;
    }
    const WORD* translation = nullptr;
    if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                          reinterpret_cast<void**>(const_cast<WORD**>(&translation)), &length) ||
        length < 4) {
        return;
    }
    wchar_t path[64];
    std::swprintf(path, 64, L"\\StringFileInfo\\%04x%04x\\FileDescription", translation[0],
                  translation[1]);
    const wchar_t* description = nullptr;
    if (::VerQueryValueW(block.data(), path,
                         reinterpret_cast<void**>(const_cast<wchar_t**>(&description)), &length) &&
        length > 1) {
        values[lfAppName] = Utf8(description);
    }
}

// The true version: GetVersionEx reports what the program's manifest declares support for.
OSVERSIONINFOEXW SystemVersion() {
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
        const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
            reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
        if (rtlGetVersion) {
            rtlGetVersion(&version);
        }
    }
    return version;
}

}  // namespace

void FillSystemReportValues(FaultReportValues& values) {
    const std::wstring program = ProgramFile();
    ReadVersionResource(program, values);

    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD computerLength = MAX_COMPUTERNAME_LENGTH + 1;
    if (::GetComputerNameW(computer, &computerLength)) {
        values[lfComputerName] = Utf8(computer);
    }
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    if (::GlobalMemoryStatusEx(&memory)) {
        values[lfTotalMemory] = FormatMemoryMb(memory.ullTotalPhys);
        values[lfFreeMemory] = FormatMemoryMb(memory.ullAvailPhys);
    }
    const auto slash = program.find_last_of(L"\\/");
    const std::wstring folder = program.substr(0, slash == std::wstring::npos ? 0 : slash + 1);
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    if (::GetDiskFreeSpaceExW(folder.c_str(), &available, &total, nullptr)) {
        values[lfTotalDisk] = FormatDiskGb(total.QuadPart);
        values[lfFreeDisk] = FormatDiskGb(available.QuadPart);
    }
    const OSVERSIONINFOEXW version = SystemVersion();
    values[lfOSType] =
        WindowsSystemName(version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber,
                          version.wProductType == VER_NT_WORKSTATION);
    values[lfOSBuild] = std::to_string(version.dwBuildNumber);
    wchar_t language[128];
    if (::GetLocaleInfoW(MAKELCID(::GetSystemDefaultLangID(), SORT_DEFAULT), LOCALE_SLANGUAGE,
                         language, 128)) {
        values[lfOSLanguage] = Utf8(language);
    }
}

}  // namespace packmeter
