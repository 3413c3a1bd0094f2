// Capture of faults and uncaught exceptions on Windows.
//
// A fault that no handler takes reaches the process's unhandled-exception filter, in the
// faulting thread, with the fault's context. A stack overflow is taken earlier, by a vectored
// handler: no program code can handle it, and the filter may not get the stack to run. Either
// way the faulting thread copies the context into a static record, wakes the logger's own
// thread and waits; the logger's thread builds the report while the faulting thread's stack
// stays untouched, then the process ends with exit code 1. An uncaught C++ exception reaches
// the terminate handler, and abort() the SIGABRT handler: both capture their own call stack
// and take the same way. The flow itself (busy flag, hand-over, dialog, end) is the core's
// (core/exceptlog/fault_capture); this file supplies what only Windows can do.
//
// The frozen-application watchdog probes the main window; when it stops answering, the
// watchdog's thread suspends the main thread and reads its registers for the report.

#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <iostream>
#include <optional>
#include <thread>
#include <vector>

#include "core/exceptlog/fault_capture.hpp"
#include "core/exceptlog/fault_dialog.hpp"
#include "core/exceptlog/fault_logger.hpp"
#include "core/exceptlog/fault_report.hpp"
#include "core/exceptlog/fault_texts.hpp"
#include "core/exceptlog/fault_threads.hpp"
#include "core/exceptlog/fault_trace.hpp"
#include "core/exceptlog/stack_scan.hpp"
#include "platform/fault_cxx_runtime.hpp"
#include "platform/fault_logger.hpp"
#include "platform/fault_report_platform.hpp"
#include "platform/windows/exceptlog/fault_mail_windows.hpp"
#include "platform/windows/exceptlog/pe_module_image.hpp"

namespace packmeter {

namespace {

constexpr std::size_t kMostStackEntries = 200;
// Room kept on every program thread's stack for reporting its stack overflow.
constexpr ULONG kStackGuarantee = 64 * 1024;
// The code GCC's unwinder raises a C++ throw with ("GCC" and the customer bit); the low byte
// of the top nibble varies with the unwinding phase.
constexpr DWORD kGccExceptionMask = 0x20FFFFFF;
constexpr DWORD kGccException = 0x20474343;
// Exit code of a process that faults inside the logger itself.
constexpr UINT kLoggerFaultExit = 3;

// Filled by the faulting thread before it wakes the logger's thread.
struct FaultRecord : FaultExceptionText {
    DWORD code = 0;
    std::uintptr_t instruction = 0;
    std::uintptr_t faultAddress = 0;
    bool write = false;
    bool exception = false;
    bool aborted = false;
    bool frozen = false;
    bool hasContext = false;
    std::thread::id thread;
    std::uintptr_t stackTop = 0;
    // Call sites captured by the thread itself (exceptions and abort).
    std::uintptr_t calls[kMostStackEntries] = {};
    std::size_t callCount = 0;
};

FaultRecord gRecord;
// The fault's registers; CONTEXT must be 16-byte aligned on x64.
alignas(16) CONTEXT gContext;
HANDLE gRequest = nullptr;
HANDLE gDone = nullptr;
std::wstring gStartFolder;
// The main thread, for the watchdog: its id, a handle that may suspend it and read its
// registers, and its stack's top.
DWORD gMainThreadId = 0;
HANDLE gMainThread = nullptr;
std::uintptr_t gMainStackTop = 0;
HWND gMainWindow = nullptr;

[[noreturn]] void EndProcess(UINT code) {
    ::TerminateProcess(::GetCurrentProcess(), code);
    std::_Exit(static_cast<int>(code));
}

// GCC takes the thread block's segment-relative read for an access to an empty array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
std::uintptr_t StackTop() {
    return reinterpret_cast<std::uintptr_t>(reinterpret_cast<NT_TIB*>(::NtCurrentTeb())->StackBase);
}
#pragma GCC diagnostic pop

// The call site before a return address; the address itself when no call ends there.
std::uintptr_t CallSiteOf(std::uintptr_t returnAddress) {
    std::uint8_t before[7];
    SIZE_T got = 0;
    if (returnAddress > 7 &&
        ::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(returnAddress - 7),
                            before, sizeof before, &got) &&
        got == sizeof before) {
        if (const int length = CallLengthBefore(before)) {
            return returnAddress - static_cast<std::uintptr_t>(length);
        }
    }
    return returnAddress;
}

// The calling thread's own call sites, from the unwind data on x64 (frame pointers on x86),
// without the `skip` innermost frames below its caller.
[[gnu::noinline]] std::size_t CaptureCalls(std::uintptr_t* calls, std::size_t most, ULONG skip) {
    void* frames[kMostStackEntries];
    const USHORT count = ::RtlCaptureStackBackTrace(
        skip + 1, static_cast<DWORD>(std::min(most, kMostStackEntries)), frames, nullptr);
    for (USHORT i = 0; i < count; ++i) {
        calls[i] = CallSiteOf(reinterpret_cast<std::uintptr_t>(frames[i]));
    }
    return count;
}

// Starts the program again with its own command line in the folder it started in, in a
// process group of its own.
void Restart() {
    std::wstring command = ::GetCommandLineW();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                         CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr,
                         gStartFolder.c_str(), &startup, &process)) {
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
}

void RecordFault(const EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* exception = pointers->ExceptionRecord;
    gRecord.code = exception->ExceptionCode;
    gRecord.instruction = reinterpret_cast<std::uintptr_t>(exception->ExceptionAddress);
    if (exception->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
        exception->NumberParameters >= 2) {
        gRecord.write = exception->ExceptionInformation[0] == 1;
        gRecord.faultAddress = exception->ExceptionInformation[1];
    }
    gRecord.thread = std::this_thread::get_id();
    gRecord.stackTop = StackTop();
    gContext = *pointers->ContextRecord;
    gRecord.hasContext = true;
}

LONG CALLBACK StackOverflowHandler(EXCEPTION_POINTERS* pointers) {
    if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    TakeFaultBusyFlag(0);
    gRecord = FaultRecord{};
    RecordFault(pointers);
    ReportFaultAndEnd();
}

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* exception = pointers->ExceptionRecord;
    if ((exception->ExceptionCode & kGccExceptionMask) == kGccException) {
        // A C++ throw that nothing catches: going on returns to the runtime's throw, which
        // calls the terminate handler with the thrower's stack still in place.
        return (exception->ExceptionFlags & EXCEPTION_NONCONTINUABLE)
                   ? EXCEPTION_CONTINUE_SEARCH
                   : EXCEPTION_CONTINUE_EXECUTION;
    }
    TakeFaultBusyFlag(0);
    gRecord = FaultRecord{};
    RecordFault(pointers);
    ReportFaultAndEnd();
}

// The type and message of the exception being handled, or of std::terminate called without one.
void RecordCurrentException() {
    gRecord = FaultRecord{};
    gRecord.exception = true;
    gRecord.thread = std::this_thread::get_id();
    RecordCurrentExceptionText(gRecord);
}

void TerminateHandler() {
    TakeFaultBusyFlag(0);
    RecordCurrentException();
    gRecord.callCount = CaptureCalls(gRecord.calls, kMostStackEntries, 0);
    ReportFaultAndEnd();
}

void AbortHandler(int) {
    TakeFaultBusyFlag(0);
    gRecord = FaultRecord{};
    gRecord.aborted = true;
    gRecord.thread = std::this_thread::get_id();
    // From the C library's raise on: this handler is no part of the program's fault.
    gRecord.callCount = CaptureCalls(gRecord.calls, kMostStackEntries, 1);
    ReportFaultAndEnd();
}

// ---- Every program thread ----

void EnterProgramThread() {
    ULONG guarantee = kStackGuarantee;
    ::SetThreadStackGuarantee(&guarantee);
}

std::vector<std::uintptr_t> CaptureCreatorStack() {
    std::uintptr_t calls[64];
    // Without this function and the thread starter.
    const std::size_t count = CaptureCalls(calls, 64, 2);
    return std::vector<std::uintptr_t>(calls, calls + count);
}

// ---- The logger's thread ----

// The fault's call sites from its context: the faulting instruction, then the calls below it.
std::vector<std::uintptr_t> CallsFromContext(const FaultRecord& record, CONTEXT context) {
    std::vector<std::uintptr_t> calls;
#if defined(_M_X64) || defined(__x86_64__)
    (void)record;
    // Each frame's caller from the module's unwind data; a leaf function has none and keeps
    // its return address at the top of the stack.
    for (std::size_t i = 0; i < kMostStackEntries && context.Rip; ++i) {
        calls.push_back(i == 0 ? context.Rip : CallSiteOf(context.Rip));
        DWORD64 imageBase = 0;
        RUNTIME_FUNCTION* function = ::RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
        if (function) {
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context,
                               &handlerData, &establisher, nullptr);
        } else {
            SIZE_T got = 0;
            if (!::ReadProcessMemory(::GetCurrentProcess(),
                                     reinterpret_cast<const void*>(context.Rsp), &context.Rip,
                                     sizeof context.Rip, &got)) {
                break;
            }
            context.Rsp += sizeof context.Rip;
        }
    }
#else
    // No unwind data on x86: the return addresses are found on the raw stack.
    calls.push_back(context.Eip);
    const MemoryReader read = [](std::uintptr_t address, void* out, std::size_t size) {
        SIZE_T got = 0;
        return ::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(address),
                                   out, size, &got) &&
               got == size;
    };
    for (const auto call : ScanStack(context.Esp, record.stackTop, read, kMostStackEntries)) {
        calls.push_back(call);
    }
#endif
    return calls;
}

std::string FaultType(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
            return "EAccessViolation";
        case EXCEPTION_STACK_OVERFLOW:
            return "EStackOverflow";
        case EXCEPTION_IN_PAGE_ERROR:
        case EXCEPTION_DATATYPE_MISALIGNMENT:
            return "EBusError";
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_PRIV_INSTRUCTION:
            return "EIllegalInstruction";
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
            return "EDivByZero";
        case EXCEPTION_INT_OVERFLOW:
            return "EIntOverflow";
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_OVERFLOW:
        case EXCEPTION_FLT_STACK_CHECK:
        case EXCEPTION_FLT_UNDERFLOW:
            return "EMathError";
        default:
            return "EExternalException";
    }
}

std::string FaultMessage(const FaultRecord& r, const std::string& type) {
    std::string message = FaultMessageOf(type, r.instruction, r.faultAddress, r.write);
    if (message.empty()) {
        char code[16];
        std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(r.code));
        message = "External exception " + std::string(code);
    }
    return message;
}

class Reporter final : public SharedFaultReportPlatform {
  public:
    explicit Reporter(FaultLoggerState& logger) : logger_(logger) {}

    bool Report(const FaultRecord& record) {
        FaultReportInput input;
        if (record.frozen) {
            input.callSites = CallsFromContext(record, gContext);
            input.address = record.instruction;
            input.type = record.type;
            input.message = record.message;
        } else if (record.hasContext) {
            input.callSites = CallsFromContext(record, gContext);
            input.address = record.instruction;
            input.type = FaultType(record.code);
            input.message = FaultMessage(record, input.type);
        } else {
            input.callSites.assign(record.calls, record.calls + record.callCount);
            if (record.aborted) {
                // The call that raised the signal, inside the C library's abort.
                input.address = record.callCount ? record.calls[0] : 0;
                input.type = "EAbnormalTermination";
                input.message = "The program was aborted";
            } else {
                input.exception = true;
                input.type = record.type;
                input.message = record.message;
            }
        }
        // A program thread's stack goes on with the stack of the thread that started it.
        FaultThreadEntry thread;
        if (FaultThreads().Find(record.thread, thread)) {
            input.callSites.insert(input.callSites.end(), thread.creatorStack.begin(),
                                   thread.creatorStack.end());
        }
        input.ancestors = SplitLines(record.ancestors);
        return ReportFault(logger_, input, *this, FaultWindowed());
    }

    const TFaultModuleInfo* ModuleOf(std::uintptr_t address) override {
        HMODULE module = nullptr;
        if (!address || !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                              reinterpret_cast<LPCWSTR>(address), &module)) {
            return nullptr;
        }
        auto* modules = logger_.Modules();
        if (auto* known = modules->Find(reinterpret_cast<std::uintptr_t>(module))) {
            return known;
        }
        return modules->Register(PeModuleImage(module));
    }
    std::string LocalDate(std::chrono::system_clock::time_point time) override {
        const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
        std::tm local{};
        ::localtime_s(&local, &seconds);
        return FormatReportDate(local);
    }

  protected:
    void NoteWarning(const std::string& line) override { ::OutputDebugStringA(line.c_str()); }

  public:
    FaultMailPlatform* MailPlatform() override { return &mail_; }

  private:
    FaultLoggerState& logger_;
    FaultMailWindows mail_;
};

// The program's last command-line argument, as UTF-8; empty without arguments.
std::string LastArgument() {
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::string last;
    if (words && count > 1) {
        const std::wstring wide = words[count - 1];
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr,
                                               0, nullptr, nullptr);
        last.resize(static_cast<std::size_t>(size));
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), last.data(), size, nullptr,
                              nullptr);
    }
    ::LocalFree(words);
    return last;
}

// ---- The frozen-application watchdog ----

// The process's main window: visible, owned by no other window, and not a tool window unless
// it is also an application window.
BOOL CALLBACK CheckMainWindow(HWND hwnd, LPARAM) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(hwnd, &process);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    const HWND owner = ::GetWindow(hwnd, GW_OWNER);
    if (process == ::GetCurrentProcessId() && ::IsWindowVisible(hwnd) &&
        (!owner || owner == ::GetDesktopWindow()) &&
        (!(exStyle & WS_EX_TOOLWINDOW) || (exStyle & WS_EX_APPWINDOW))) {
        gMainWindow = hwnd;
        return FALSE;
    }
    return TRUE;
}

bool FindMainWindow() {
    gMainWindow = nullptr;
    ::EnumWindows(CheckMainWindow, 0);
    return gMainWindow != nullptr;
}

// A null message that must be answered within the time: it fails while the window's thread is
// busy.
bool ProbeMainWindow(int milliseconds) {
    DWORD_PTR answer = 0;
    return ::SendMessageTimeoutW(gMainWindow, WM_NULL, 0, 0, SMTO_NORMAL,
                                 static_cast<UINT>(milliseconds), &answer) != 0;
}

// ---- The platform of the capture flow ----

class WindowsCapture final : public FaultCapturePlatform {
  public:
    explicit WindowsCapture(FaultLoggerState& logger) : reporter_(logger) {}

    std::uint64_t CurrentThread() override { return ::GetCurrentThreadId(); }
    void PauseBriefly() override { ::Sleep(10); }
    void WakeReporter() override { ::SetEvent(gRequest); }
    bool WaitForReport(int milliseconds) override {
        return ::WaitForSingleObject(gDone, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0;
    }
    bool WaitForRequest() override {
        return ::WaitForSingleObject(gRequest, INFINITE) == WAIT_OBJECT_0;
    }
    void ReportDone() override { ::SetEvent(gDone); }
    bool MakeReport() override { return reporter_.Report(gRecord); }
    std::string RecordedType() override { return gRecord.type; }
    std::int64_t RecordedCode() override { return static_cast<std::int64_t>(gRecord.code); }
    void RecordCurrentException() override {
        packmeter::RecordCurrentException();
        // Without this function: the calls start at the caller's catch block.
        gRecord.callCount = CaptureCalls(gRecord.calls, kMostStackEntries, 1);
    }
    FaultMailPlatform& Mail() override { return *reporter_.MailPlatform(); }
    [[noreturn]] void EndProcess(int exitCode) override {
        packmeter::EndProcess(static_cast<UINT>(exitCode));
    }
    [[noreturn]] void EndInsideLogger(int) override { packmeter::EndProcess(kLoggerFaultExit); }
    void Restart() override { packmeter::Restart(); }
    bool SuspendMainThread(const std::string& message) override {
        if (!gMainThread || ::SuspendThread(gMainThread) == static_cast<DWORD>(-1)) {
            return false;
        }
        alignas(16) CONTEXT context{};
        context.ContextFlags = CONTEXT_FULL;
#if defined(_M_X64) || defined(__x86_64__)
        const bool read = ::GetThreadContext(gMainThread, &context) && context.Rip && context.Rsp;
        const std::uintptr_t instruction = read ? context.Rip : 0;
#else
        const bool read = ::GetThreadContext(gMainThread, &context) && context.Eip && context.Esp;
        const std::uintptr_t instruction = read ? context.Eip : 0;
#endif
        if (!read) {
            ::ResumeThread(gMainThread);
            return false;
        }
        gRecord = FaultRecord{};
        gRecord.frozen = true;
        gRecord.hasContext = true;
        gRecord.instruction = instruction;
        gRecord.stackTop = gMainStackTop;
        CopyFaultText(gRecord.type, sizeof gRecord.type, "EFrozenApplication");
        CopyFaultText(gRecord.message, sizeof gRecord.message, message.c_str());
        gContext = context;
        return true;
    }
    void ResumeMainThread() override {
        ::ResumeThread(gMainThread);
    }
    bool FindMainWindow() override {
        return packmeter::FindMainWindow();
    }
    bool ProbeMainWindow(int milliseconds) override {
        return packmeter::ProbeMainWindow(milliseconds);
    }
    bool MainWindowExists() override {
        return ::IsWindow(gMainWindow) != 0;
    }
    std::vector<std::uintptr_t> CaptureCreatorStack() override {
        return packmeter::CaptureCreatorStack();
    }
    void EnterProgramThread() override {
        packmeter::EnterProgramThread();
    }

  private:
    Reporter reporter_;
};

bool InstallCapture(FaultLoggerState& logger, bool windowed) {
    gRequest = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    gDone = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!gRequest || !gDone) {
        return false;
    }
    EnterProgramThread();
    std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
    folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    gStartFolder = folder;
    gMainThreadId = ::GetCurrentThreadId();
    gMainThread =
        ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE,
                     gMainThreadId);
    gMainStackTop = StackTop();
    ::AddVectoredExceptionHandler(1, StackOverflowHandler);
    ::SetUnhandledExceptionFilter(UnhandledFilter);
    // No system error box for a fault: the logger reports it.
    ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    std::set_terminate(TerminateHandler);
    std::signal(SIGABRT, AbortHandler);
    // Lives as long as the process: its handlers may run until the very end.
    static NeverDestroyed<WindowsCapture> capture(logger);
    StartFaultCapture(capture.Get(), windowed);
    return true;
}

}  // namespace

bool InstallFaultLogger(bool windowedProgram) {
    static const bool installed = StartFaultLogger(
        PeModuleImage(::GetModuleHandleW(nullptr)), LastArgument(), windowedProgram,
        [&](FaultLoggerState& logger) { return InstallCapture(logger, windowedProgram); },
        // Reports the program went on after are mailed when it ends.
        [] {
            FaultMailWindows mail;
            SendPendingMail(mail);
        });
    return installed;
}

}  // namespace packmeter
