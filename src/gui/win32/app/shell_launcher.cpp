#include "gui/win32/app/shell_launcher.hpp"

#include <shellapi.h>

#include "gui/win32/shell/shell_namespace.hpp"
#include "platform/system.hpp"
#include "platform/windows/scan/shell_icon_source.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

std::wstring ProgramPath() {
    std::wstring path(512, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void ShellLauncher::StartInstance(const std::string& folder) {
    // Quoted, so that a folder with spaces reaches the new instance as one argument.
    const std::wstring parameters = L"\"" + win::ToWide(folder) + L"\"";
    ::ShellExecuteW(DialogOwnerWindow(), L"open", ProgramPath().c_str(), parameters.c_str(),
                    nullptr, SW_SHOW);
}

void ShellLauncher::OpenDocument(const std::string& path) {
    // The shell takes the document's path as it is: quotes would become part of the name.
    ::ShellExecuteW(DialogOwnerWindow(), L"open", win::ToWide(path).c_str(), nullptr, nullptr,
                    SW_SHOW);
}

MainFormServices WindowsServices() {
    MainFormServices services;
    services.fileSystem = MakeFileSystem();
    services.icons = MakeShellIconSource();
    services.numberFormat = UserNumberFormat();
    services.launcher = std::make_shared<ShellLauncher>();
    services.isFolder = IsFolder;
    services.fullPath = FullPath;
    services.enableBackupPrivilege = EnableBackupPrivilege;
    return services;
}

}  // namespace packmeter::win32
