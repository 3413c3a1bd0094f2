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

std::vector<std::string> CommandLineArguments(const wchar_t* commandLine) {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(commandLine, &count);
    if (!words) {
        return args;
    }
    for (int i = 1; i < count; ++i) {
        std::wstring word = words[i];
        // `"D:\My Data\"` (a batch file's "%~dp0" too) reaches the program as `D:\My Data"`:
        // the backslash before the closing quote escaped it. That quote is the folder's own
        // separator; what followed it in the same word was meant as the next arguments.
        const std::size_t quote = word.find(L'"');
        if (quote != std::wstring::npos && quote > 0) {
            std::wstring rest = word.substr(quote + 1);
            word = word.substr(0, quote) + L'\\';
            args.push_back(win::ToUtf8(word));
            std::size_t start = rest.find_first_not_of(L' ');
            while (start != std::wstring::npos) {
                const std::size_t end = rest.find(L' ', start);
                args.push_back(win::ToUtf8(rest.substr(start, end - start)));
                start = end == std::wstring::npos ? end : rest.find_first_not_of(L' ', end);
            }
            continue;
        }
        args.push_back(win::ToUtf8(word));
    }
    ::LocalFree(words);
    return args;
}

void ShellLauncher::StartInstance(const std::string& folder) {
    // Quoted, so that a folder with spaces reaches the new instance as one argument.
    // A backslash before the closing quote would escape it: a root ("C:\") gets a second one.
    std::wstring parameters = L"\"" + win::ToWide(folder);
    if (!folder.empty() && folder.back() == '\\') {
        parameters += L'\\';
    }
    parameters += L"\"";
    ::ShellExecuteW(DialogOwnerWindow(), L"open", ProgramPath().c_str(), parameters.c_str(),
                    nullptr, SW_SHOW);
}

std::string ShellLauncher::OpenDocument(const std::string& path) {
    // The shell takes the document's path as it is: quotes would become part of the name.
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
        DialogOwnerWindow(), L"open", win::ToWide(path).c_str(), nullptr, nullptr, SW_SHOW));
    if (result > 32) {
        return {};
    }
    switch (result) {
        case SE_ERR_NOASSOC:
        case SE_ERR_ASSOCINCOMPLETE:
            return "no application is set to open it";
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "no such file or folder";
        case SE_ERR_ACCESSDENIED:
            return "permission denied";
        default:
            return "error " + std::to_string(result);
    }
}

MainFormServices WindowsServices() {
    MainFormServices services;
    services.fileSystem = MakeFileSystem();
    // A command with its own compression choice gets a file system of its own.
    services.newFileSystem = [] { return MakeFileSystem(); };
    services.icons = MakeShellIconSource();
    services.numberFormat = UserNumberFormat();
    services.launcher = std::make_shared<ShellLauncher>();
    services.isFolder = IsFolder;
    services.fullPath = FullPath;
    services.pathProblem = PathProblem;
    services.enableBackupPrivilege = EnableBackupPrivilege;
    return services;
}

}  // namespace packmeter::win32
