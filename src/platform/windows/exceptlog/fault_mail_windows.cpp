#include "platform/windows/exceptlog/fault_mail_windows.hpp"

#include <windows.h>
// After windows.h, which they need.
#include <mapi.h>
#include <shellapi.h>

#include <iostream>
#include <vector>

#include "core/exceptlog/fault_smtp.hpp"
#include "core/exceptlog/fault_trace.hpp"

namespace packmeter {

namespace {

// Boxes of the logger: above every window, whichever program owns the screen.
constexpr UINT kBoxStyle = MB_TASKMODAL | MB_TOPMOST | MB_SERVICE_NOTIFICATION;

std::string Utf8(std::wstring_view wide) {
    std::string text;
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(size));
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                          nullptr, nullptr);
    return text;
}

// The wide forms of the simple mail interface's records (MinGW's mapi.h has only the ANSI
// ones, whose layout they share).
struct MapiRecipDescW {
    ULONG ulReserved;
    ULONG ulRecipClass;
    PWSTR lpszName;
    PWSTR lpszAddress;
    ULONG ulEIDSize;
    PVOID lpEntryID;
};
struct MapiFileDescW {
    ULONG ulReserved;
    ULONG flFlags;
    ULONG nPosition;
    PWSTR lpszPathName;
    PWSTR lpszFileName;
    PVOID lpFileType;
};
struct MapiMessageW {
    ULONG ulReserved;
    PWSTR lpszSubject;
    PWSTR lpszNoteText;
    PWSTR lpszMessageType;
    PWSTR lpszDateReceived;
    PWSTR lpszConversationID;
    FLAGS flFlags;
    MapiRecipDescW* lpOriginator;
    ULONG nRecipCount;
    MapiRecipDescW* lpRecips;
    ULONG nFileCount;
    MapiFileDescW* lpFiles;
};
using MapiSendMailW = ULONG(WINAPI*)(LHANDLE session, ULONG_PTR window, MapiMessageW* message,
                                     FLAGS flags, ULONG reserved);

struct LibraryFree {
    void operator()(HMODULE module) const { ::FreeLibrary(module); }
};
using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFree>;

// The default mail program's own MAPI library, as its registration names it; else the system's.
Library LoadMapiLibrary() {
    wchar_t name[256] = {};
    DWORD size = sizeof name;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\Mail", nullptr, RRF_RT_REG_SZ,
                       nullptr, name, &size) == ERROR_SUCCESS &&
        name[0]) {
        const std::wstring key = std::wstring(L"SOFTWARE\\Clients\\Mail\\") + name;
        wchar_t path[MAX_PATH * 4] = {};
        size = sizeof path;
        // Asked for a plain string, RegGetValueW expands a REG_EXPAND_SZ value itself.
        if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DLLPath", RRF_RT_REG_SZ, nullptr,
                           path, &size) == ERROR_SUCCESS) {
            if (Library library{::LoadLibraryW(path)}) {
                return library;
            }
        }
    }
    return Library{::LoadLibraryW(L"mapi32.dll")};
}

}  // namespace

std::wstring FaultWide(std::string_view utf8) {
    std::wstring wide;
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    wide.resize(static_cast<std::size_t>(size));
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          size);
    return wide;
}

std::string FaultSystemErrorText(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : L"Error " + std::to_wstring(code);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    return Utf8(text);
}

bool FaultMailWindows::Ask(const std::string& caption, const std::string& text) {
    return ::MessageBoxW(nullptr, FaultWide(text).c_str(), FaultWide(caption).c_str(),
                         MB_YESNO | MB_ICONQUESTION | kBoxStyle) == IDYES;
}

void FaultMailWindows::Inform(const std::string& caption, const std::string& text) {
    ::MessageBoxW(nullptr, FaultWide(text).c_str(), FaultWide(caption).c_str(),
                  MB_OK | MB_ICONINFORMATION | kBoxStyle);
}

bool FaultMailWindows::MapiSend(const std::string& recipients, const std::string& subject,
                                const std::string& body, const std::string& attachmentPath,
                                std::string& error) {
    const Library library = LoadMapiLibrary();
    if (!library) {
        error = "Cannot open the MAPI dll.";
        return false;
    }
    const auto send = reinterpret_cast<MapiSendMailW>(
        reinterpret_cast<void*>(::GetProcAddress(library.get(), "MAPISendMailW")));
    if (!send) {
        error = "Cannot found the MAPI functions.";
        return false;
    }
    // Addresses in the "SMTP:" form need no resolving by the mail program.
    std::vector<std::wstring> names;
    std::vector<std::wstring> addresses;
    for (const auto& recipient : SplitRecipients(recipients)) {
        names.push_back(FaultWide(recipient));
        addresses.push_back(L"SMTP:" + names.back());
    }
    std::vector<MapiRecipDescW> to(names.size(), MapiRecipDescW{});
    for (std::size_t i = 0; i < names.size(); ++i) {
        to[i].ulRecipClass = MAPI_TO;
        to[i].lpszName = names[i].data();
        to[i].lpszAddress = addresses[i].data();
    }
    std::wstring path = FaultWide(attachmentPath);
    std::wstring fileName = path.substr(path.find_last_of(L"\\/") + 1);
    MapiFileDescW file{};
    file.nPosition = static_cast<ULONG>(-1);
    file.lpszPathName = path.data();
    file.lpszFileName = fileName.data();
    std::wstring wideSubject = FaultWide(subject);
    std::wstring wideBody = FaultWide(body);
    MapiMessageW message{};
    message.lpszSubject = wideSubject.data();
    message.lpszNoteText = wideBody.data();
    message.nRecipCount = static_cast<ULONG>(to.size());
    message.lpRecips = to.data();
    if (!path.empty()) {
        message.nFileCount = 1;
        message.lpFiles = &file;
    }
    if (send(0, 0, &message, MAPI_LOGON_UI, 0) != SUCCESS_SUCCESS) {
        error = "Cannot send the MAPI message.";
        return false;
    }
    return true;
}

bool FaultMailWindows::ShellSend(const std::string& mailtoUrl, std::string& error) {
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
        nullptr, L"open", FaultWide(mailtoUrl).c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED));
    if (result <= 32) {
        error = FaultSystemErrorText(::GetLastError());
        return false;
    }
    return true;
}

void FaultMailWindows::Warning(TFaultLogErrorCode code, std::string_view section,
                               std::string_view message) {
    const std::string line = FaultWarningLine(code, section, message);
    ::OutputDebugStringA(line.c_str());
    std::cerr << line << '\n';
    FaultTrace().Note(line);
}

}  // namespace packmeter
