// Windows (or Wine): the time from starting the window program on a folder until its list holds a
// row for every entry, against the time the command-line program takes for the same folder, in
// paired, interleaved runs. Both programs are started the same way, from here.
//   win_window_bench shortcut PATH TARGET
//       makes a shell shortcut to TARGET (the folders themselves are made on the host: Wine
//       makes files in a large folder slowly, as it looks for each new name in the whole folder)
//   win_window_bench time WINDOW_EXE CLI_EXE FOLDER [RUNS [WINDOW_EXE...]]
//       (further window programs, an earlier build say, are timed in the same runs)
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool MakeShortcut(const std::wstring& path, const std::wstring& target) {
    IShellLinkW* link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link)))) {
        return false;
    }
    link->SetPath(target.c_str());
    IPersistFile* file = nullptr;
    bool made = false;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        made = SUCCEEDED(file->Save(path.c_str(), TRUE));
        file->Release();
    }
    link->Release();
    return made;
}

long CountEntries(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    const HANDLE find =
        ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                           nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        return -1;
    }
    long count = 0;
    do {
        const std::wstring name = data.cFileName;
        count += name != L"." && name != L"..";
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return count;
}

struct Process {
    PROCESS_INFORMATION info{};
    bool started = false;
    ~Process() {
        if (started) {
            ::CloseHandle(info.hThread);
            ::CloseHandle(info.hProcess);
        }
    }
};

bool Start(Process& process, const std::wstring& program, const std::wstring& folder,
           HANDLE output) {
    std::wstring line = L"\"" + program + L"\" \"" + folder + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = output;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    process.started =
        ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, output != nullptr, 0,
                         nullptr, nullptr, &startup, &process.info);
    return process.started;
}

double TimeCli(const std::wstring& cli, const std::wstring& folder, HANDLE nul) {
    const auto start = Clock::now();
    Process process;
    if (!Start(process, cli, folder, nul)) {
        return -1;
    }
    ::WaitForSingleObject(process.info.hProcess, INFINITE);
    return Seconds(start);
}

struct FindMain {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND hwnd, LPARAM data) {
    auto& find = *reinterpret_cast<FindMain*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    if (owner == find.processId && std::wstring(name) == L"PackmeterMainForm") {
        find.found = hwnd;
        return FALSE;
    }
    return TRUE;
}

struct WindowTimes {
    double shown = -1;    // the main window exists
    double lastRow = -1;  // the list holds every row and answers
};

WindowTimes TimeWindow(const std::wstring& window, const std::wstring& folder, long rows) {
    WindowTimes times;
    const auto start = Clock::now();
    Process process;
    if (!Start(process, window, folder, nullptr)) {
        return times;
    }
    FindMain find{process.info.dwProcessId, nullptr};
    HWND list = nullptr;
    const auto deadline = Clock::now() + std::chrono::minutes(10);
    while (Clock::now() < deadline) {
        if (!find.found) {
            ::EnumWindows(&FindMainWindow, reinterpret_cast<LPARAM>(&find));
            if (find.found) {
                times.shown = Seconds(start);
            }
        }
        if (find.found && !list) {
            list = ::FindWindowExW(find.found, nullptr, WC_LISTVIEWW, nullptr);
        }
        DWORD_PTR count = 0;
        if (list &&
            ::SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 5000, &count) &&
            long(count) >= rows) {
            // Drawn: the rows on screen, with their icons, before the window answers again.
            ::RedrawWindow(list, nullptr, nullptr, RDW_UPDATENOW);
            ::SendMessageTimeoutW(list, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &count);
            times.lastRow = Seconds(start);
            break;
        }
        if (::WaitForSingleObject(process.info.hProcess, 2) == WAIT_OBJECT_0) {
            return times;
        }
    }
    if (find.found) {
        ::PostMessageW(find.found, WM_CLOSE, 0, 0);
    }
    if (::WaitForSingleObject(process.info.hProcess, 30000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.info.hProcess, 1);
        ::WaitForSingleObject(process.info.hProcess, 5000);
    }
    return times;
}

struct Spread {
    double min, median, max;
};

Spread Of(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2], values.back()};
}

void Print(const char* what, const std::vector<double>& values, const char* unit) {
    const Spread spread = Of(values);
    std::printf("  %-26s %.3f/%.3f/%.3f %s\n", what, spread.min, spread.median, spread.max, unit);
}

// `windows`: the window programs, each timed in every run beside the command-line program (an
// earlier build beside the current one, say), in an order that turns from run to run.
int Time(const std::vector<std::wstring>& windows, const std::wstring& cli,
         const std::wstring& folder, int runs) {
    const long rows = CountEntries(folder);
    if (rows < 0) {
        std::fprintf(stderr, "cannot list the folder\n");
        return 1;
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE nul =
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inherit, OPEN_EXISTING, 0, nullptr);
    // One of each first, untimed: the files' metadata in the caches, the programs loaded once.
    TimeCli(cli, folder, nul);
    for (const std::wstring& window : windows) {
        TimeWindow(window, folder, rows);
    }
    const std::size_t programs = windows.size() + 1;
    std::vector<double> cliTimes;
    std::vector<std::vector<double>> lastRows(windows.size()), shown(windows.size()),
        ratios(windows.size());
    for (int run = 0; run < runs; ++run) {
        std::printf("  run %d:", run + 1);
        std::vector<double> times(programs);
        for (std::size_t turn = 0; turn < programs; ++turn) {
            const std::size_t program = (turn + std::size_t(run)) % programs;
            if (program == windows.size()) {
                times[program] = TimeCli(cli, folder, nul);
                continue;
            }
            const WindowTimes window = TimeWindow(windows[program], folder, rows);
            times[program] = window.lastRow;
            shown[program].push_back(window.shown);
        }
        for (std::size_t program = 0; program < programs; ++program) {
            if (times[program] < 0) {
                std::fprintf(stderr, " program %zu failed\n", program + 1);
                return 1;
            }
            std::printf(" %s %.3f s", program == windows.size() ? "cli" : "window", times[program]);
        }
        std::printf("\n");
        std::fflush(stdout);
        cliTimes.push_back(times.back());
        for (std::size_t window = 0; window < windows.size(); ++window) {
            lastRows[window].push_back(times[window]);
            ratios[window].push_back(times[window] / times.back());
        }
    }
    ::CloseHandle(nul);
    std::printf("%ld rows, %d runs, min/median/max\n", rows, runs);
    for (std::size_t window = 0; window < windows.size(); ++window) {
        std::printf("  window %zu: %ls\n", window + 1, windows[window].c_str());
        Print("window, last row", lastRows[window], "s");
        Print("window, on screen", shown[window], "s");
        Print("window / cli", ratios[window], "x");
    }
    Print("cli", cliTimes, "s");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"shortcut" && argc == 4) {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const bool made = MakeShortcut(argv[2], argv[3]);
        ::CoUninitialize();
        return made ? 0 : 1;
    }
    if (command == L"time" && argc >= 5) {
        const int runs = std::max(9, argc > 5 ? int(std::wcstol(argv[5], nullptr, 10)) : 9);
        std::vector<std::wstring> windows{argv[2]};
        windows.insert(windows.end(), argv + std::min(argc, 6), argv + argc);
        return Time(windows, argv[3], argv[4], runs);
    }
    std::fprintf(stderr,
                 "usage: win_window_bench shortcut PATH TARGET\n"
                 "       win_window_bench time WINDOW_EXE CLI_EXE FOLDER [RUNS [WINDOW_EXE...]]\n");
    return 2;
}
