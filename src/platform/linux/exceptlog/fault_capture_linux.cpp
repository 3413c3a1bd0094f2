// Capture of faults and uncaught exceptions on Linux.
//
// A fault arrives as a signal in the faulting thread. The handler only does what is
// async-signal-safe: it takes the busy flag, copies the fault's registers into a static record,
// wakes the logger's own thread through a pipe and waits on a second pipe. The logger's thread
// builds the report while the faulting thread's stack stays untouched. An uncaught C++
// exception reaches the terminate handler, which takes the same way with the exception's type
// and message. The flow itself (busy flag, hand-over, dialog, end) is the core's
// (core/exceptlog/fault_capture); this file supplies what only Linux can do.
//
// The frozen-application watchdog stops the main thread with a signal of its own: the handler
// records the main thread's registers and waits in the main thread until the report is made.

#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

#include "core/exceptlog/fault_capture.hpp"
#include "core/exceptlog/fault_dialog.hpp"
#include "core/exceptlog/fault_logger.hpp"
#include "core/exceptlog/fault_report.hpp"
#include "core/exceptlog/fault_texts.hpp"
#include "core/exceptlog/fault_threads.hpp"
#include "core/exceptlog/fault_trace.hpp"
#include "core/exceptlog/log_file.hpp"
#include "core/exceptlog/stack_scan.hpp"
#include "platform/fault_cxx_runtime.hpp"
#include "platform/fault_logger.hpp"
#include "platform/fault_report_platform.hpp"
#include "platform/linux/exceptlog/elf_module_image.hpp"
#include "platform/linux/exceptlog/fault_mail_linux.hpp"

extern char** environ;

namespace packmeter {

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kMostStackEntries = 200;
// The longest the frozen main thread is held, and the longest its registers are waited for.
constexpr int kMostFrozenMilliseconds = 20000;

// Filled by the faulting thread before it wakes the logger's thread.
struct FaultRecord : FaultExceptionText {
    int signal = 0;
    int code = 0;
    std::uintptr_t faultAddress = 0;
    std::uintptr_t instruction = 0;
    std::uintptr_t stackPointer = 0;
    bool write = false;
    bool exception = false;
    // Sent by another process (kill, sigqueue) rather than met by an instruction: its id.
    pid_t sender = 0;
    bool frozen = false;
    std::thread::id thread;
};

FaultRecord gRecord;
int gRequest[2] = {-1, -1};
int gDone[2] = {-1, -1};
// The alternate stack of the main thread: a stack overflow leaves no room on the thread's own.
alignas(16) char gAlternateStack[64 * 1024];
pid_t gMainThread = 0;
std::string gStartFolder;
std::string gProgramFile;
// The frozen main thread's steps: its registers recorded, and told to go on.
std::atomic<bool> gFrozenRecorded{false};
std::atomic<bool> gFrozenResume{false};

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

// Starts the program again with its own command line in the folder it started in, in a
// process group of its own. The new process starts with no signal blocked and every fault
// signal at its default, whatever the calling thread has blocked or caught: it installs its
// own logger and must see its own faults.
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
    // The folder it started in: changed to by a shell, as spawning has no portable step for it.
    std::string folder = gStartFolder;
    std::string program = gProgramFile;
    std::vector<char*> command = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                                  const_cast<char*>("cd \"$0\" && exec \"$@\""), folder.data(),
                                  program.data()};
    command.insert(command.end(), arguments.begin() + (arguments.size() > 1 ? 1 : 0),
                   arguments.end());
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : kFaultSignals) {
        sigaddset(&defaults, signal);
    }
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    pid_t child = 0;
    ::posix_spawn(&child, "/bin/sh", nullptr, &attributes, command.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
}

// The faulting thread leaves its signal handler for the error dialog: the handler's return
// resumes it in ShowFaultDialogAndEnd, on a stack of its own (the thread's stack may have
// overflowed) and with no signal blocked, so that a second fault in the dialog is caught too.
alignas(16) char gDialogStack[1024 * 1024];

bool LeaveHandlerForDialog(ucontext_t* context) {
#if defined(__x86_64__) || defined(__i386__)
    auto top = reinterpret_cast<std::uintptr_t>(gDialogStack + sizeof gDialogStack);
    top &= ~std::uintptr_t{15};
    // As on entry to a function: a return address's room below an aligned stack.
    top -= sizeof(void*);
#if defined(__x86_64__)
    context->uc_mcontext.gregs[REG_RSP] = static_cast<greg_t>(top);
    context->uc_mcontext.gregs[REG_RIP] = reinterpret_cast<greg_t>(&ShowFaultDialogAndEnd);
#else
    context->uc_mcontext.gregs[REG_ESP] = static_cast<greg_t>(top);
    context->uc_mcontext.gregs[REG_EIP] = reinterpret_cast<greg_t>(&ShowFaultDialogAndEnd);
#endif
    sigemptyset(&context->uc_sigmask);
    return true;
#else
    (void)context;
    return false;
#endif
}

void SignalHandler(int signal, siginfo_t* info, void* context) {
    TakeFaultBusyFlag(signal);
    const auto* registers = &static_cast<ucontext_t*>(context)->uc_mcontext;
    gRecord = FaultRecord{};
    gRecord.signal = signal;
    gRecord.code = info->si_code;
    gRecord.thread = std::this_thread::get_id();
    if (info->si_code <= 0 && info->si_pid != ::getpid()) {
        gRecord.sender = info->si_pid;
    } else {
        gRecord.faultAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
    }
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
    // Only what is safe in a signal handler happens here: the report, and the dialog of a fault
    // in another thread, are made by the logger's thread.
    if (HandOverFatalFault() && LeaveHandlerForDialog(static_cast<ucontext_t*>(context))) {
        return;
    }
    ::_exit(1);
}

// The type and message of the exception being handled, or of std::terminate called without one.
void RecordCurrentException() {
    gRecord = FaultRecord{};
    gRecord.exception = true;
    gRecord.thread = std::this_thread::get_id();
    RecordCurrentExceptionText(gRecord);
}

void TerminateHandler() {
    TakeFaultBusyFlag(SIGABRT);
    RecordCurrentException();
    gRecord.stackPointer = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    ReportFaultAndEnd();
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
            return !r.sender && r.faultAddress + 65536 > r.stackPointer &&
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
    if (r.sender) {
        return "Signal " + std::to_string(r.signal) + " (SIG" + sigabbrev_np(r.signal) +
               ") sent by process " + std::to_string(r.sender);
    }
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

class Reporter final : public SharedFaultReportPlatform {
  public:
    explicit Reporter(FaultLoggerState& logger) : logger_(logger) {}

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
        FaultReportInput input;
        input.exception = record.exception;
        input.address = record.exception ? 0 : record.instruction;
        if (!record.exception && record.instruction) {
            input.callSites.push_back(record.instruction);
        }
        if (stack) {
            for (const auto call : ScanStack(stackPointer, stack->end, read, kMostStackEntries)) {
                input.callSites.push_back(call);
            }
        }
        // A program thread's stack goes on with the stack of the thread that started it.
        FaultThreadEntry thread;
        if (FaultThreads().Find(record.thread, thread)) {
            input.callSites.insert(input.callSites.end(), thread.creatorStack.begin(),
                                   thread.creatorStack.end());
        }
        input.type = FaultType(record);
        input.message = FaultMessage(record, input.type);
        input.ancestors = SplitLines(record.ancestors);
        return ReportFault(logger_, input, *this, FaultWindowed());
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
    std::string LocalDate(std::chrono::system_clock::time_point time) override {
        return ReportDate(time);
    }
    FaultMailPlatform* MailPlatform() override { return &mail_; }

  private:
    FaultLoggerState& logger_;
    FaultMailLinux mail_;
};

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
// scans its stack while the main thread waits here, a bounded time.
void FreezeSignalHandler(int, siginfo_t*, void* context) {
    if (ThreadId() != gMainThread) {
        return;
    }
    const auto* registers = &static_cast<ucontext_t*>(context)->uc_mcontext;
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
    gFrozenRecorded = true;
    for (int waited = 0; !gFrozenResume && waited < kMostFrozenMilliseconds; waited += 5) {
        const timespec pause{0, 5 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
}

// ---- The platform of the capture flow ----

class LinuxCapture final : public FaultCapturePlatform {
  public:
    explicit LinuxCapture(FaultLoggerState& logger) : reporter_(logger) {}

    std::uint64_t CurrentThread() override { return static_cast<std::uint64_t>(ThreadId()); }
    void PauseBriefly() override {
        const timespec pause{0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    void WakeReporter() override {
        char byte = 1;
        while (::write(gRequest[1], &byte, 1) < 0 && errno == EINTR) {
        }
    }
    bool WaitForReport(int milliseconds) override {
        pollfd done{gDone[0], POLLIN, 0};
        while (::poll(&done, 1, milliseconds) < 0 && errno == EINTR) {
        }
        if (!(done.revents & POLLIN)) {
            return false;
        }
        char byte = 0;
        while (::read(gDone[0], &byte, 1) < 0 && errno == EINTR) {
        }
        return true;
    }
    bool WaitForRequest() override {
        for (;;) {
            char byte = 0;
            const ssize_t got = ::read(gRequest[0], &byte, 1);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return got == 1;
        }
    }
    void ReportDone() override {
        const char byte = 1;
        while (::write(gDone[1], &byte, 1) < 0 && errno == EINTR) {
        }
    }
    bool MakeReport() override { return reporter_.Report(gRecord); }
    std::string RecordedType() override { return gRecord.type; }
    std::int64_t RecordedCode() override { return gRecord.signal; }
    void RecordCurrentException() override {
        packmeter::RecordCurrentException();
        gRecord.stackPointer = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    }
    FaultMailPlatform& Mail() override { return *reporter_.MailPlatform(); }
    [[noreturn]] void EndProcess(int exitCode) override { ::_exit(exitCode); }
    [[noreturn]] void EndInsideLogger(int fault) override { packmeter::EndProcess(fault); }
    void Restart() override { packmeter::Restart(); }
    bool DialogsOnLoggerThread() const override { return true; }
    bool SuspendMainThread(const std::string& message) override {
        gRecord = FaultRecord{};
        gRecord.frozen = true;
        CopyFaultText(gRecord.type, sizeof gRecord.type, "EFrozenApplication");
        CopyFaultText(gRecord.message, sizeof gRecord.message, message.c_str());
        gFrozenRecorded = false;
        gFrozenResume = false;
        if (::syscall(SYS_tgkill, ::getpid(), gMainThread, FreezeSignal()) != 0) {
            return false;
        }
        for (int waited = 0; !gFrozenRecorded && waited < kMostFrozenMilliseconds; waited += 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (gFrozenRecorded && gRecord.instruction && gRecord.stackPointer) {
            return true;
        }
        ResumeMainThread();
        return false;
    }
    void ResumeMainThread() override { gFrozenResume = true; }
    std::vector<std::uintptr_t> CaptureCreatorStack() override {
        return packmeter::CaptureCreatorStack();
    }
    void EnterProgramThread() override { packmeter::EnterProgramThread(); }
    void LeaveProgramThread() override { packmeter::LeaveProgramThread(); }

  private:
    Reporter reporter_;
};

bool InstallCapture(FaultLoggerState& logger, bool windowed) {
    if (::pipe2(gRequest, O_CLOEXEC) != 0 || ::pipe2(gDone, O_CLOEXEC) != 0) {
        return false;
    }
    gMainThread = ThreadId();
    char folder[4096];
    gStartFolder = ::getcwd(folder, sizeof folder) ? folder : "/";
    gProgramFile = ProgramModuleImage().FileName();
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
    struct sigaction freeze {};
    freeze.sa_sigaction = FreezeSignalHandler;
    freeze.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&freeze.sa_mask);
    ::sigaction(FreezeSignal(), &freeze, nullptr);
    // Lives as long as the process: its handlers may run until the very end.
    static NeverDestroyed<LinuxCapture> capture(logger);
    StartFaultCapture(capture.Get(), windowed);
    return true;
}

}  // namespace

bool InstallFaultLogger(bool windowedProgram) {
    static const bool installed = StartFaultLogger(
        ProgramModuleImage(), LastArgument(), windowedProgram,
        [&](FaultLoggerState& logger) { return InstallCapture(logger, windowedProgram); },
        // Reports the program went on after are mailed when it ends.
        [] {
            FaultMailLinux mail;
            SendPendingMail(mail);
        });
    return installed;
}

}  // namespace packmeter
