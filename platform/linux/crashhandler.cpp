#include "platform/crashhandler.h"

#include "platform/crashdumpnames.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <system_error>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

// Everything below that runs at crash time uses only async-signal-safe
// system calls, the caller's stack and state prepared at installation: the
// crash may have happened inside malloc or with a lock held.

namespace vek::platform {
namespace {

constexpr std::size_t kPathCapacity = 4096;
constexpr std::size_t kNameRoom = 48;  // time, process id, extension
constexpr std::uintptr_t kStackDumpBytes = 16 * 1024;
constexpr int kFatalSignals[] = { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS };

// Written by InstallCrashHandler before the handlers go in; read-only after.
struct ReportState {
    char prefix[kPathCapacity] = {};
    std::size_t prefixLength = 0;
    char program[256] = {};
    std::size_t programLength = 0;
    // Where the program's argument and environment strings begin, at the
    // top of the main thread's stack: they may hold passwords (a proxy's,
    // for one), so stack bytes stop below them. 0 when unknown.
    std::uintptr_t argumentsStart = 0;
};
ReportState g_report;

// Room for the handler's frames when the crash was a stack overflow.
alignas(16) char g_alternateStack[64 * 1024];

// The thread writing a report. Another crashing thread waits for the process
// to end; the same thread crashing again while it writes gives up.
std::atomic<pid_t> g_reportingThread { 0 };
static_assert(std::atomic<pid_t>::is_always_lock_free);

// Buffered writes to the report file from fixed stack storage.
class ReportWriter {
public:
    explicit ReportWriter(int fd)
        : fd_(fd)
    {
    }
    ReportWriter(const ReportWriter &) = delete;
    ReportWriter &operator=(const ReportWriter &) = delete;
    ~ReportWriter() { flush(); }

    void bytes(const char *data, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i) {
            if (used_ == sizeof buffer_)
                flush();
            buffer_[used_++] = data[i];
        }
    }
    void text(const char *data)
    {
        std::size_t size = 0;
        while (data[size] != '\0')
            ++size;
        bytes(data, size);
    }
    void decimal(std::int64_t value)
    {
        char digits[24];
        std::size_t size = 0;
        if (value < 0) {
            digits[size++] = '-';
            size += WriteDecimal(digits + size, 0 - static_cast<std::uint64_t>(value));
        } else {
            size = WriteDecimal(digits, static_cast<std::uint64_t>(value));
        }
        bytes(digits, size);
    }
    void hex(std::uint64_t value, int digitCount = 16)
    {
        char digits[16];
        for (int i = digitCount - 1; i >= 0; --i, value >>= 4)
            digits[i] = "0123456789abcdef"[value & 0xf];
        bytes(digits, static_cast<std::size_t>(digitCount));
    }
    void address(std::uint64_t value)
    {
        text("0x");
        hex(value);
    }
    void flush()
    {
        std::size_t done = 0;
        while (done < used_) {
            const ssize_t written = write(fd_, buffer_ + done, used_ - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                break;
            done += static_cast<std::size_t>(written);
        }
        used_ = 0;
    }
    int fd() const { return fd_; }

private:
    int fd_;
    char buffer_[1024];
    std::size_t used_ = 0;
};

const char *SignalName(int signal)
{
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    case SIGSYS:
        return "SIGSYS";
    default:
        return "signal";
    }
}

void WriteRegisters(ReportWriter &out, const ucontext_t *context)
{
    out.text("registers:\n");
#if defined(__x86_64__)
    static constexpr struct {
        const char *name;
        int index;
    } kRegisters[] = {
        { "rip", REG_RIP },
        { "rsp", REG_RSP },
        { "rbp", REG_RBP },
        { "rax", REG_RAX },
        { "rbx", REG_RBX },
        { "rcx", REG_RCX },
        { "rdx", REG_RDX },
        { "rsi", REG_RSI },
        { "rdi", REG_RDI },
        { "r8", REG_R8 },
        { "r9", REG_R9 },
        { "r10", REG_R10 },
        { "r11", REG_R11 },
        { "r12", REG_R12 },
        { "r13", REG_R13 },
        { "r14", REG_R14 },
        { "r15", REG_R15 },
        { "eflags", REG_EFL },
        { "err", REG_ERR },
        { "trapno", REG_TRAPNO },
    };
    for (const auto &reg : kRegisters) {
        out.text(reg.name);
        out.text(" ");
        out.address(static_cast<std::uint64_t>(context->uc_mcontext.gregs[reg.index]));
        out.text("\n");
    }
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i) {
        out.text("x");
        out.decimal(i);
        out.text(" ");
        out.address(context->uc_mcontext.regs[i]);
        out.text("\n");
    }
    out.text("sp ");
    out.address(context->uc_mcontext.sp);
    out.text("\npc ");
    out.address(context->uc_mcontext.pc);
    out.text("\npstate ");
    out.address(context->uc_mcontext.pstate);
    out.text("\n");
#else
    (void)context;
    out.text("(not recorded on this architecture)\n");
#endif
}

std::uintptr_t StackPointer(const ucontext_t *context)
{
#if defined(__x86_64__)
    if (context != nullptr)
        return static_cast<std::uintptr_t>(context->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    if (context != nullptr)
        return static_cast<std::uintptr_t>(context->uc_mcontext.sp);
#else
    (void)context;
#endif
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

// Follows /proc/self/maps as it is copied, one byte at a time, to find the
// readable mapping that holds an address: the crashing stack.
class MappingFinder {
public:
    explicit MappingFinder(std::uintptr_t address)
        : address_(address)
    {
    }
    void feed(char c)
    {
        if (c == '\n') {
            endLine();
            return;
        }
        if (field_ == 0 || field_ == 1) {
            std::uintptr_t &bound = field_ == 0 ? start_ : end_;
            const int digit = HexDigit(c);
            if (digit >= 0)
                bound = bound * 16 + static_cast<std::uintptr_t>(digit);
            else
                ++field_;  // '-' after the start, ' ' after the end
        } else if (field_ == 2) {
            readable_ = c == 'r';
            field_ = 3;
        }
        // A stack on the heap would leak heap memory into the report.
        static constexpr char kHeap[] = "[heap]";
        heapMatch_ = c == kHeap[heapMatch_] ? heapMatch_ + 1 : (c == '[' ? 1 : 0);
        if (heapMatch_ == sizeof kHeap - 1)
            heap_ = true;
    }
    void endLine()
    {
        if (field_ >= 2 && readable_ && !heap_ && start_ <= address_ && address_ < end_) {
            foundStart_ = start_;
            foundEnd_ = end_;
        }
        field_ = 0;
        start_ = end_ = 0;
        readable_ = heap_ = false;
        heapMatch_ = 0;
    }
    bool found() const { return foundEnd_ != 0; }
    std::uintptr_t start() const { return foundStart_; }
    std::uintptr_t end() const { return foundEnd_; }

private:
    static int HexDigit(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    }

    std::uintptr_t address_;
    int field_ = 0;
    std::uintptr_t start_ = 0;
    std::uintptr_t end_ = 0;
    bool readable_ = false;
    bool heap_ = false;
    std::size_t heapMatch_ = 0;
    std::uintptr_t foundStart_ = 0;
    std::uintptr_t foundEnd_ = 0;
};

void CopyMemoryMap(ReportWriter &out, MappingFinder &stack)
{
    out.text("memory map:\n");
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0) {
        out.text("(unreadable)\n");
        return;
    }
    char chunk[1024];
    for (;;) {
        const ssize_t got = read(maps, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t i = 0; i < got; ++i)
            stack.feed(chunk[i]);
        out.bytes(chunk, static_cast<std::size_t>(got));
    }
    stack.endLine();
    close(maps);
}

// Reads raw stack bytes, sanitizer red zones of the crashed frames included.
__attribute__((no_sanitize("address"))) void WriteStack(
    ReportWriter &out, std::uintptr_t stackPointer, const MappingFinder &stack)
{
    out.text("stack:\n");
    if (!stack.found()) {
        out.text("(not in a readable mapping)\n");
        return;
    }
    std::uintptr_t begin = stackPointer & ~std::uintptr_t { 15 };
    if (begin < stack.start())
        begin = stackPointer;
    std::uintptr_t end
        = stack.end() - begin > kStackDumpBytes ? begin + kStackDumpBytes : stack.end();
    if (g_report.argumentsStart > begin && g_report.argumentsStart < end)
        end = g_report.argumentsStart;
    constexpr std::uintptr_t kLine = 32;
    for (std::uintptr_t line = begin; line < end; line += kLine) {
        out.hex(line);
        out.text(" ");
        for (std::uintptr_t at = line; at < line + kLine && at < end; ++at)
            out.hex(*reinterpret_cast<const volatile unsigned char *>(at), 2);
        out.text("\n");
    }
}

// signal is 0 for a call of the termination handler.
void WriteReport(int signal, const siginfo_t *info, const ucontext_t *context)
{
    char path[kPathCapacity];
    std::size_t length = 0;
    for (; length < g_report.prefixLength; ++length)
        path[length] = g_report.prefix[length];
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000
        + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
    length += WriteCrashDumpNameSuffix(
        path + length, milliseconds, static_cast<std::uint64_t>(getpid()));
    path[length] = '\0';
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    {
        ReportWriter out(fd);
        out.text("Crash report of ");
        out.bytes(g_report.program, g_report.programLength);
        out.text("\nprocess ");
        out.decimal(getpid());
        out.text(", thread ");
        out.decimal(static_cast<std::int64_t>(syscall(SYS_gettid)));
        if (signal == 0) {
            out.text("\nreason: terminate\n");
        } else {
            out.text("\nreason: signal ");
            out.decimal(signal);
            out.text(" (");
            out.text(SignalName(signal));
            out.text(")\ncode: ");
            out.decimal(info != nullptr ? info->si_code : 0);
            out.text("\naddress: ");
            out.address(
                reinterpret_cast<std::uintptr_t>(info != nullptr ? info->si_addr : nullptr));
            out.text("\n");
        }
        if (context != nullptr)
            WriteRegisters(out, context);

        out.text("backtrace:\n");
        out.flush();
        void *frames[64];
        backtrace_symbols_fd(frames, backtrace(frames, 64), fd);

        const std::uintptr_t stackPointer = StackPointer(context);
        MappingFinder stack(stackPointer);
        CopyMemoryMap(out, stack);
        WriteStack(out, stackPointer, stack);
    }
    close(fd);
}

// True for the first thread to crash; blocks any other one for good.
bool ClaimReport()
{
    const auto thread = static_cast<pid_t>(syscall(SYS_gettid));
    pid_t idle = 0;
    if (g_reportingThread.compare_exchange_strong(idle, thread))
        return true;
    if (idle != thread) {
        for (;;)
            pause();
    }
    return false;
}

void OnFatalSignal(int signal, siginfo_t *info, void *context)
{
    const int savedErrno = errno;
    if (ClaimReport())
        WriteReport(signal, info, static_cast<const ucontext_t *>(context));
    // The default action again, so that the exit status and the system's
    // core handling see the real signal. It stays pending until the handler
    // returns; a fault would also simply recur.
    struct sigaction fallback { };
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
    errno = savedErrno;
}

[[noreturn]] void OnTerminate()
{
    if (ClaimReport())
        WriteReport(0, nullptr, nullptr);
    _exit(3);
}

// The kernel's record of where the argument strings start (field 48 of
// /proc/self/stat); 0 when it cannot be read.
std::uintptr_t ArgumentsStart()
{
    std::ifstream file("/proc/self/stat");
    std::string stat;
    std::getline(file, stat);
    // The command name in brackets may hold spaces and brackets itself.
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(nameEnd + 1));
    constexpr int kArgumentsStartField = 48;
    std::string field;
    for (int number = 3; fields >> field; ++number) {
        if (number != kArgumentsStartField)
            continue;
        std::uintptr_t address = 0;
        const auto [end, error]
            = std::from_chars(field.data(), field.data() + field.size(), address);
        return error == std::errc() && end == field.data() + field.size() ? address : 0;
    }
    return 0;
}

}  // namespace

bool InstallCrashHandler(const CrashDumpConfig &config)
{
    namespace fs = std::filesystem;
    if (config.directory.empty())
        return false;
    const fs::path directory(std::u8string(config.directory.begin(), config.directory.end()));
    std::error_code error;
    fs::create_directories(directory, error);
    if (error || !fs::is_directory(directory, error))
        return false;
    // Reports hold addresses and stack bytes: for the user's eyes only.
    if (chmod(directory.c_str(), 0700) != 0)
        return false;

    std::string prefix = config.directory;
    if (prefix.back() != '/')
        prefix += '/';
    prefix += CrashDumpNamePrefix(config);
    if (prefix.size() + kNameRoom >= kPathCapacity)
        return false;
    const std::string program = SanitizeFileNamePart(config.applicationName, "vek") + " "
        + SanitizeFileNamePart(config.version, "unknown");
    if (program.size() >= sizeof g_report.program)
        return false;

    // The first backtrace loads the unwinder, which allocates: done now.
    void *frames[2];
    backtrace(frames, 2);

    stack_t alternate {};
    alternate.ss_sp = g_alternateStack;
    alternate.ss_size = sizeof g_alternateStack;
    if (sigaltstack(&alternate, nullptr) != 0)
        return false;

    prefix.copy(g_report.prefix, prefix.size());
    g_report.prefixLength = prefix.size();
    program.copy(g_report.program, program.size());
    g_report.programLength = program.size();
    g_report.argumentsStart = ArgumentsStart();

    PruneCrashDumps(config);

    struct sigaction action { };
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : kFatalSignals)
        sigaction(signal, &action, nullptr);
    std::set_terminate(OnTerminate);
    return true;
}

}  // namespace vek::platform
