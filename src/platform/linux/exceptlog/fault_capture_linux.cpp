// Capture of faults and uncaught exceptions on Linux.
//
// A fault arrives as a signal in the faulting thread. The handler only does what is
// async-signal-safe: it takes the busy flag, copies the fault's registers into a static record,
// wakes the logger's own thread through a pipe and waits on a second pipe. The logger's thread
// builds the report while the faulting thread's stack stays untouched, then the faulting thread
// ends the process with exit code 1. An uncaught C++ exception reaches the terminate handler,
// which takes the same way with the exception's type and message. In a windowed program the
// thread that met the error then shows the error dialog, once the report is written.
//
// The frozen-application watchdog stops the main thread with a signal of its own: the handler
// hands the main thread's registers to the logger's thread the same way, and the main thread
// goes on once the report is made.

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "core/exceptlog/fault_dialog.hpp"
#include "core/exceptlog/fault_logger.hpp"
#include "core/exceptlog/fault_report.hpp"
#include "core/exceptlog/fault_texts.hpp"
#include "core/exceptlog/fault_threads.hpp"
#include "core/exceptlog/fault_trace.hpp"
#include "core/exceptlog/freeze_thread.hpp"
#include "core/exceptlog/log_file.hpp"
#include "core/exceptlog/stack_scan.hpp"
#include "platform/fault_logger.hpp"
#include "platform/linux/exceptlog/elf_module_image.hpp"
#include "platform/linux/exceptlog/fault_mail_linux.hpp"

namespace packmeter {

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kMostStackEntries = 200;
constexpr int kMostReportMilliseconds = 20000;

// Filled by the faulting thread before it wakes the logger's thread.
struct FaultRecord {
    int signal = 0;
    int code = 0;
    std::uintptr_t faultAddress = 0;
    std::uintptr_t instruction = 0;
    std::uintptr_t stackPointer = 0;
    bool write = false;
    bool exception = false;
    // Reported from an event loop's catch block: the program goes on.
    bool continues = false;
    bool frozen = false;
    std::thread::id thread;
    char type[256] = {};
    char message[1024] = {};
};

FaultRecord gRecord;
std::atomic<pid_t> gOwner{0};
std::atomic<pid_t> gReporter{0};
// Whether the logger's thread made the last report (not filtered, not inactive).
std::atomic<bool> gReported{false};
int gRequest[2] = {-1, -1};
int gDone[2] = {-1, -1};
bool gWindowed = false;
// The alternate stack of the main thread: a stack overflow leaves no room on the thread's own.
// The error dialog runs on it after a fault of the main thread, hence its size.
alignas(16) char gAlternateStack[1024 * 1024];
// The dialog of the last report, shown by the thread that met the error.
std::optional<TFaultDialogData> gPendingDialog;
pid_t gMainThread = 0;
std::string gStartFolder;
std::string gProgramFile;
std::atomic<bool> gFrozenDone{false};
TFreezeThread gFreezeThread;

pid_t ThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

// A fault inside the logger itself: let the system end the process as it would have.
[[noreturn]] void EndProcess(int signal) {
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    ::sigaction(signal, &plain, nullptr);
    sigset_t pending;
    sigemptyset(&pending);
    sigaddset(&pending, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &pending, nullptr);
    ::raise(signal);
    ::_exit(1);
}

void CopyText(char* target, std::size_t size, const char* text) {
    std::size_t i = 0;
    for (; text && text[i] && i + 1 < size; ++i) {
        target[i] = text[i];
    }
    target[i] = '\0';
}

// Takes the busy flag, waiting while another thread reports. A thread that faults again while
// it owns the flag is faulting inside the logger.
void TakeBusyFlag(int signal) {
    const pid_t self = ThreadId();
    if (self == gReporter.load()) {
        EndProcess(signal);
    }
    for (pid_t expected = 0; !gOwner.compare_exchange_strong(expected, self); expected = 0) {
        if (expected == self) {
            EndProcess(signal);
        }
        const timespec pause{0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
}

// Wakes the logger's thread and waits until the report is done. The wait is bounded: a fault
// inside the C library (a damaged heap, say) may leave a lock held that the report needs, and
// the process must end rather than hang.
void HandOver() {
    char byte = 1;
    while (::write(gRequest[1], &byte, 1) < 0 && errno == EINTR) {
    }
    pollfd done{gDone[0], POLLIN, 0};
    while (::poll(&done, 1, kMostReportMilliseconds) < 0 && errno == EINTR) {
    }
    if (done.revents & POLLIN) {
        while (::read(gDone[0], &byte, 1) < 0 && errno == EINTR) {
        }
    }
}

// Starts the program again with its own command line in the folder it started in, in a
// process group of its own.
void Restart() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all(std::istreambuf_iterator<char>(in), {});
    std::vector<char*> arguments;
    for (std::size_t at = 0; at < all.size();) {
        arguments.push_back(all.data() + at);
        const auto end = all.find('\0', at);
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    arguments.push_back(nullptr);
    if (::fork() == 0) {
        ::setsid();
        if (::chdir(gStartFolder.c_str()) == 0) {
            ::execv(gProgramFile.c_str(), arguments.data());
        }
        ::_exit(127);
    }
}

// Shows the dialog of the report just made, when there is one; a terminate request ends the
// process (after starting it again when the dialog offered a restart).
void ShowPendingDialog() {
    if (!gPendingDialog) {
        return;
    }
    const TFaultDialogData data = std::move(*gPendingDialog);
    gPendingDialog.reset();
    if (PresentFaultDialog(data, false)) {
        if (data.RestartOnTerminate) {
            Restart();
        }
        FaultTrace().Save();
        ::_exit(1);
    }
}

[[noreturn]] void ReportAndEnd() {
    HandOver();
    ShowPendingDialog();
    ::_exit(1);
}

void SignalHandler(int signal, siginfo_t* info, void* context) {
    TakeBusyFlag(signal);
    const auto* registers = &static_cast<ucontext_t*>(context)->uc_mcontext;
    gRecord.signal = signal;
    gRecord.continues = false;
    gRecord.code = info->si_code;
    gRecord.thread = std::this_thread::get_id();
    gRecord.faultAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
#if defined(__x86_64__)
    gRecord.instruction = static_cast<std::uintptr_t>(registers->gregs[REG_RIP]);
    gRecord.stackPointer = static_cast<std::uintptr_t>(registers->gregs[REG_RSP]);
    gRecord.write = (registers->gregs[REG_ERR] & 2) != 0;  // page-fault error code: a write
#elif defined(__i386__)
    gRecord.instruction = static_cast<std::uintptr_t>(registers->gregs[REG_EIP]);
    gRecord.stackPointer = static_cast<std::uintptr_t>(registers->gregs[REG_ESP]);
    gRecord.write = (registers->gregs[REG_ERR] & 2) != 0;
#else
    (void)registers;
    gRecord.stackPointer = reinterpret_cast<std::uintptr_t>(&signal);
#endif
    ReportAndEnd();
}

// The type and message of the exception being handled, or of std::terminate called without one.
void RecordCurrentException() {
    gRecord.signal = 0;
    gRecord.exception = true;
    gRecord.continues = false;
    std::string type;
    std::string message;
    if (DescribeCurrentException(type, message)) {
        CopyText(gRecord.type, sizeof gRecord.type, type.c_str());
        CopyText(gRecord.message, sizeof gRecord.message, message.c_str());
    } else {
        CopyText(gRecord.type, sizeof gRecord.type, "EAbnormalTermination");
        CopyText(gRecord.message, sizeof gRecord.message, "The program was terminated.");
    }
}

void TerminateHandler() {
    TakeBusyFlag(SIGABRT);
    gRecord.thread = std::this_thread::get_id();
    gRecord.stackPointer = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    RecordCurrentException();
    ReportAndEnd();
}

// ---- Every program thread ----

constexpr std::size_t kAlternateStackSize = 64 * 1024;
thread_local std::unique_ptr<char[]> tAlternateStack;

// A thread's own stack cannot take the signal of its stack overflow: each program thread gets
// an alternate stack of its own, as the main thread has.
void EnterProgramThread() {
    tAlternateStack = std::make_unique<char[]>(kAlternateStackSize);
    stack_t alternate{};
    alternate.ss_sp = tAlternateStack.get();
    alternate.ss_size = kAlternateStackSize;
    ::sigaltstack(&alternate, nullptr);
}

void LeaveProgramThread() {
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    tAlternateStack.reset();
}

// The call sites of the thread that starts a program thread, for that thread's reports.
std::vector<std::uintptr_t> CaptureCreatorStack() {
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    std::vector<std::uintptr_t> calls;
    // The first two are this function and the thread starter.
    for (int i = 2; i < count; ++i) {
        const auto returnAddress = reinterpret_cast<std::uintptr_t>(frames[i]);
        std::uint8_t before[7];
        std::memcpy(before, reinterpret_cast<const void*>(returnAddress - 7), 7);
        if (const int length = CallLengthBefore(before)) {
            calls.push_back(returnAddress - static_cast<std::uintptr_t>(length));
        }
    }
    return calls;
}

// ---- The logger's thread ----

struct Mapping {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    bool readable = false;
};

std::vector<Mapping> ReadMappings() {
    std::vector<Mapping> mappings;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        Mapping m;
        char permissions[5] = {};
        unsigned long start = 0;
        unsigned long end = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, permissions) == 3) {
            m.start = start;
            m.end = end;
            m.readable = permissions[0] == 'r';
            mappings.push_back(m);
        }
    }
    return mappings;
}

const Mapping* MappingOf(const std::vector<Mapping>& mappings, std::uintptr_t address) {
    for (const auto& m : mappings) {
        if (address >= m.start && address < m.end) {
            return &m;
        }
    }
    return nullptr;
}

std::string FaultType(const FaultRecord& r) {
    switch (r.signal) {
        case SIGSEGV:
            return r.faultAddress + 65536 > r.stackPointer &&
                           r.faultAddress < r.stackPointer + 65536
                       ? "EStackOverflow"
                       : "EAccessViolation";
        case SIGBUS:
            return "EBusError";
        case SIGILL:
            return "EIllegalInstruction";
        case SIGFPE:
            return r.code == FPE_INTDIV   ? "EDivByZero"
                   : r.code == FPE_INTOVF ? "EIntOverflow"
                                          : "EMathError";
        case SIGABRT:
            return "EAbnormalTermination";
        default:
            return r.type;
    }
}

std::string FaultMessage(const FaultRecord& r, const std::string& type) {
    std::string message = FaultMessageOf(type, r.instruction, r.faultAddress, r.write);
    if (message.empty()) {
        message = r.signal == SIGABRT ? "The program was aborted" : r.message;
    }
    return message;
}

std::string ReportDate(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return FormatReportDate(local);
}

class Reporter final : public FaultReportPlatform {
  public:
    explicit Reporter(TFaultLogger& logger) : logger_(logger) {}

    bool Report(const FaultRecord& record) {
        const auto mappings = ReadMappings();
        // Read through the system rather than directly: a mapping may hold pages that cannot
        // be read (a mapped file shorter than its mapping), and a fault here would end the
        // process before the report is written.
        const MemoryReader read = [](std::uintptr_t address, void* out, std::size_t size) {
            iovec local{out, size};
            iovec remote{reinterpret_cast<void*>(address), size};
            return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) ==
                   static_cast<ssize_t>(size);
        };
        std::uintptr_t stackPointer = record.stackPointer;
        const Mapping* stack = MappingOf(mappings, stackPointer);
        // After a stack overflow the stack pointer may stand in the guard page below the stack.
        for (const auto& m : mappings) {
            if (!stack && m.start > stackPointer && m.start - stackPointer <= 65536) {
                stack = &m;
                stackPointer = m.start;
            }
        }
        TFaultReportInput input;
        input.Exception = record.exception;
        input.Address = record.exception ? 0 : record.instruction;
        if (!record.exception && record.instruction) {
            input.CallSites.push_back(record.instruction);
        }
        if (stack) {
            for (const auto call : ScanStack(stackPointer, stack->end, read, kMostStackEntries)) {
                input.CallSites.push_back(call);
            }
        }
        // A program thread's stack goes on with the stack of the thread that started it.
        TFaultThreadEntry thread;
        if (FaultThreads().Find(record.thread, thread)) {
            input.CallSites.insert(input.CallSites.end(), thread.CreatorStack.begin(),
                                   thread.CreatorStack.end());
        }
        input.Type = FaultType(record);
        input.Message = FaultMessage(record, input.Type);
        return ReportFault(logger_, input, *this, gWindowed);
    }

    const TFaultModuleInfo* ModuleOf(std::uintptr_t address) override {
        Dl_info info{};
        if (!address || !::dladdr(reinterpret_cast<void*>(address), &info) || !info.dli_fbase) {
            return nullptr;
        }
        const auto base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
        auto* modules = logger_.Modules();
        if (auto* known = modules->Find(base)) {
            return known;
        }
        return modules->Register(ElfModuleImage(base, info.dli_fname ? info.dli_fname : ""));
    }
    std::string Demangle(const std::string& symbol) override { return DemangleSymbol(symbol); }
    void FillSystemValues(TFaultReportValues& values) override { FillSystemReportValues(values); }
    std::string LocalDate(std::chrono::system_clock::time_point time) override {
        return ReportDate(time);
    }
    void ShowFilterMessage(const std::string& caption, const std::string& message) override {
        std::cerr << caption << ' ' << message << '\n';
    }
    void ShowReport(const std::string& consoleText) override {
        std::cout << consoleText << std::endl;
    }
    void ShowErrorDialog(const TFaultDialogData& data) override { gPendingDialog = data; }
    void Warning(TFaultLogErrorCode code, std::string_view section,
                 std::string_view message) override {
        const std::string line = FaultWarningLine(code, section, message);
        std::cerr << line << '\n';
        FaultTrace().Note(line);
    }
    FaultMailPlatform* MailPlatform() override { return &mail_; }

  private:
    TFaultLogger& logger_;
    FaultMailLinux mail_;
};

void ReporterLoop(TFaultLogger* logger) {
    gReporter = ThreadId();
    Reporter reporter(*logger);
    for (;;) {
        char byte = 0;
        const ssize_t got = ::read(gRequest[0], &byte, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got != 1) {
            return;
        }
        FaultTrace().Enter("Report",
                           {TraceValue::Text(gRecord.type), TraceValue::Integer(gRecord.signal)});
        gReported = reporter.Report(gRecord);
        // After a fault the process ends: the mail of the program's end goes now.
        if (gReported && !gRecord.continues) {
            SendPendingMail(*reporter.MailPlatform());
        }
        FaultTrace().Exit("Report", {TraceValue::Boolean(gReported)});
        FaultTrace().Save();
        ::write(gDone[1], &byte, 1);
    }
}

// The program's last command-line argument; empty without arguments.
std::string LastArgument() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all(std::istreambuf_iterator<char>(in), {});
    std::vector<std::string> arguments;
    for (std::size_t at = 0; at < all.size();) {
        const auto end = all.find('\0', at);
        arguments.push_back(all.substr(at, end - at));
        at = end == std::string::npos ? all.size() : end + 1;
    }
    return arguments.size() > 1 ? arguments.back() : std::string{};
}

// ---- The frozen-application watchdog ----

int FreezeSignal() {
    return SIGRTMIN + 5;
}

// In the main thread, stopped wherever it was: its registers go to the logger's thread, which
// scans its stack while it waits here.
void FreezeSignalHandler(int, siginfo_t*, void* context) {
    if (ThreadId() != gMainThread) {
        return;
    }
    const auto* registers = &static_cast<ucontext_t*>(context)->uc_mcontext;
    gRecord.signal = 0;
    gRecord.exception = false;
    gRecord.frozen = true;
    gRecord.thread = std::this_thread::get_id();
#if defined(__x86_64__)
    gRecord.instruction = static_cast<std::uintptr_t>(registers->gregs[REG_RIP]);
    gRecord.stackPointer = static_cast<std::uintptr_t>(registers->gregs[REG_RSP]);
#elif defined(__i386__)
    gRecord.instruction = static_cast<std::uintptr_t>(registers->gregs[REG_EIP]);
    gRecord.stackPointer = static_cast<std::uintptr_t>(registers->gregs[REG_ESP]);
#else
    (void)registers;
#endif
    if (gRecord.instruction && gRecord.stackPointer) {
        HandOver();
        ShowPendingDialog();
    }
    gFrozenDone = true;
}

void ReportFrozenMainThread() {
    auto* options = CurrentFaultLogOptions();
    TakeBusyFlag(SIGABRT);
    gRecord = FaultRecord{};
    CopyText(gRecord.type, sizeof gRecord.type, "EFrozenApplication");
    CopyText(gRecord.message, sizeof gRecord.message,
             options ? options->FreezeMessage.c_str() : "");
    gFrozenDone = false;
    if (::syscall(SYS_tgkill, ::getpid(), gMainThread, FreezeSignal()) == 0) {
        while (!gFrozenDone) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    gOwner = 0;
}

void SwitchWatchdog(bool run) {
    const auto* options = CurrentFaultLogOptions();
    if (!run || !options) {
        gFreezeThread.Stop();
        return;
    }
    gFreezeThread.Start(options->FreezeTimeout,
                        {HasMainWindowProbe, ProbeMainWindow, HasMainWindowProbe,
                         [] { return gOwner.load() != 0; }, ReportFrozenMainThread});
}

bool InstallCapture(TFaultLogger& logger) {
    if (::pipe2(gRequest, O_CLOEXEC) != 0 || ::pipe2(gDone, O_CLOEXEC) != 0) {
        return false;
    }
    std::thread(ReporterLoop, &logger).detach();
    stack_t alternate{};
    alternate.ss_sp = gAlternateStack;
    alternate.ss_size = sizeof gAlternateStack;
    ::sigaltstack(&alternate, nullptr);
    struct sigaction action {};
    action.sa_sigaction = SignalHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : kFaultSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    std::set_terminate(TerminateHandler);
    SetFaultThreadHooks({CaptureCreatorStack, EnterProgramThread, LeaveProgramThread});

    gMainThread = ThreadId();
    char folder[4096];
    gStartFolder = ::getcwd(folder, sizeof folder) ? folder : "/";
    gProgramFile = ProgramModuleImage().FileName();
    struct sigaction freeze {};
    freeze.sa_sigaction = FreezeSignalHandler;
    freeze.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&freeze.sa_mask);
    ::sigaction(FreezeSignal(), &freeze, nullptr);
    auto* options = CurrentFaultLogOptions();
    options->SetWatchdogSwitch(SwitchWatchdog);
    SwitchWatchdog(options->Active() && options->FreezeActive());
    std::atexit([] { gFreezeThread.Stop(); });
    return true;
}

}  // namespace

bool FaultLogExceptionManager() {
    // An exception in an event handler run while this thread's error dialog is open is left to
    // the program's own message.
    if (gRequest[1] < 0 || gOwner.load() == ThreadId()) {
        return true;
    }
    TakeBusyFlag(SIGABRT);
    gRecord = FaultRecord{};
    gRecord.stackPointer = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    RecordCurrentException();
    gRecord.continues = true;
    HandOver();
    const bool reported = gReported;
    ShowPendingDialog();
    gOwner = 0;
    return !reported;
}

bool InstallFaultLogger(bool windowedProgram) {
    static const bool installed = StartFaultLogger(
        ProgramModuleImage(), LastArgument(), windowedProgram,
        [&](TFaultLogger& logger) {
            gWindowed = windowedProgram;
            return InstallCapture(logger);
        },
        // Reports the program went on after are mailed when it ends.
        [] {
            FaultMailLinux mail;
            SendPendingMail(mail);
        });
    return installed;
}

}  // namespace packmeter
