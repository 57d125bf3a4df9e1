#include "common/crashhandler.h"

#include "common/logfile.h"
#include "common/sigsafe.h"

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <ucontext.h>
#include <unistd.h>

// How a fault is reported
// -----------------------
// The handler is a sigaction() handler for SIGSEGV, SIGILL, SIGFPE, SIGBUS and
// SIGTRAP with SA_ONSTACK (runs on the alternate signal stack, so a stack
// overflow can be reported) and SA_NODEFER (a fault inside the handler comes
// back to it, and the step that faulted is skipped). Only async-signal-safe
// calls are made: open/write/read/close, clock_gettime, the log file's signal
// path, and backtrace()/backtrace_symbols_fd(), whose one unsafe part (loading
// the unwinder on first use) is done at installation.
//
// Steps, in this order:
//  1. the dump file "log/" + "yyyy_MM_dd-hh_mm_ss" + ".dmp" under the working
//     directory, created anew (an older file of that name is replaced); if it
//     cannot be created, the level-2 line "Creat minidump file(...) failed";
//     otherwise a text report: signal, code, fault address, registers,
//     backtrace, memory map;
//  2. "[EXCEPTION]exceptionCode(%#x)!!!" and "[EXCEPTION]<text>!!!" at level 1;
//  3. the default action is restored and the signal raised again, so the
//     process ends by that signal (with a core file where enabled).
// One thread reports at a time: a second faulting thread waits for the first
// to end the process. A 10-second alarm ends the process should a report
// ever hang.

namespace {

using varno::sigsafe::LineBuffer;

constexpr size_t kAltStackSize = 128 * 1024;
constexpr uintptr_t kGuardSlack = 1024 * 1024; // below the stack: guard pages / gap
constexpr uintptr_t kNearStackPointer = 64 * 1024;
const int kSignals[] = {SIGSEGV, SIGILL, SIGFPE, SIGBUS, SIGTRAP};

constexpr unsigned kAccessViolation = 0xC0000005;
constexpr unsigned kStackOverflow = 0xC00000FD;

struct ExceptionText
{
    unsigned code;
    const char *text;
};

const ExceptionText kTexts[] = {
    {0x80000002, "The thread tried to read or write data that is misaligned on hardware that does not provide "
                 "alignment.For example, 16 - bit values must be aligned on 2 - byte boundaries; 32 - bit values "
                 "on 4 - byte boundaries, and so on."},
    {0x80000003, "A breakpoint was encountered."},
    {0x80000004, "A trace trap or other single - instruction mechanism signaled that one instruction has been "
                 "executed."},
    {0xC0000005, "The thread tried to read from or write to a virtual address for which it does not have the "
                 "appropriate access."},
    {0xC000001D, "The thread tried to execute an invalid instruction."},
    {0xC0000025, "The thread tried to continue execution after a noncontinuable exception occurred."},
    {0xC0000026, "An exception handler returned an invalid disposition to the exception dispatcher.Programmers "
                 "using a high - level language such as C should never encounter this exception."},
    {0xC000008C, "The thread tried to access an array element that is out of bounds and the underlying hardware "
                 "supports bounds checking."},
    {0xC000008D, "One of the operands in a floating - point operation is denormal.A denormal value is one that is "
                 "too small to represent as a standard floating - point value."},
    {0xC000008E, "The thread tried to divide a floating - point value by a floating - point divisor of zero."},
    {0xC000008F, "The result of a floating - point operation cannot be represented exactly as a decimal fraction."},
    {0xC0000090, "This exception represents any floating - point exception not included in this list."},
    {0xC0000091, "The exponent of a floating - point operation is greater than the magnitude allowed by the "
                 "corresponding type."},
    {0xC0000092, "The stack overflowed or underflowed as the result of a floating - point operation."},
    {0xC0000093, "The exponent of a floating - point operation is less than the magnitude allowed by the "
                 "corresponding type."},
    {0xC0000094, "The thread tried to divide an integer value by an integer divisor of zero."},
    {0xC0000095, "The result of an integer operation caused a carry out of the most significant bit of the "
                 "result."},
    {0xC0000096, "The thread tried to execute an instruction whose operation is not allowed in the current "
                 "machine mode."},
    {0xC00000FD, "The thread used up its stack."},
};
static_assert(sizeof(kTexts) / sizeof(kTexts[0]) == 19);

// ---- per-thread state ------------------------------------------------------

// Stack bounds of a thread that installed the handler (0 when unknown). Read
// by the handler: initial-exec TLS is a plain offset from the thread pointer.
struct StackBounds
{
    uintptr_t low;
    uintptr_t high;
};
thread_local StackBounds t_stack __attribute__((tls_model("initial-exec"))) = {0, 0};

// An alternate signal stack below which one inaccessible page catches an
// overflow of the handler itself.
struct AltStack
{
    void *mapping = nullptr;
    size_t mappingSize = 0;

    bool create()
    {
        if (mapping)
            return true;
        const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        mappingSize = kAltStackSize + page;
        void *p = ::mmap(nullptr, mappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (p == MAP_FAILED)
            return false;
        ::mprotect(p, page, PROT_NONE);
        stack_t ss {};
        ss.ss_sp = static_cast<char *>(p) + page;
        ss.ss_size = kAltStackSize;
        ss.ss_flags = 0;
        if (::sigaltstack(&ss, nullptr) != 0) {
            ::munmap(p, mappingSize);
            return false;
        }
        mapping = p;
        return true;
    }

    void release()
    {
        if (!mapping)
            return;
        stack_t ss {};
        ss.ss_flags = SS_DISABLE;
        ::sigaltstack(&ss, nullptr);
        ::munmap(mapping, mappingSize);
        mapping = nullptr;
    }
};

// The first (main) thread's stack lives as long as the process, also through
// the static destructors; other threads' stacks go with their thread.
AltStack g_mainAltStack;
struct ThreadAltStack
{
    AltStack stack;
    ~ThreadAltStack() { stack.release(); }
};
thread_local ThreadAltStack t_altStack;

void noteStackBounds()
{
    pthread_attr_t attr;
    if (::pthread_getattr_np(::pthread_self(), &attr) != 0)
        return;
    void *addr = nullptr;
    size_t size = 0;
    if (::pthread_attr_getstack(&attr, &addr, &size) == 0 && addr) {
        t_stack.low = reinterpret_cast<uintptr_t>(addr);
        t_stack.high = t_stack.low + size;
    }
    ::pthread_attr_destroy(&attr);
}

bool hasAltStack()
{
    stack_t current {};
    return ::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
           current.ss_size >= kAltStackSize / 2;
}

// ---- handler state (one reporting thread at a time) ------------------------

std::atomic<pid_t> g_reportingThread{0};
sigjmp_buf g_stepJump;
volatile sig_atomic_t g_stepArmed = 0;
char g_lineStorage[4096];
char g_readBuffer[4096];
void *g_frames[64];
std::atomic<bool> g_installed{false};
pid_t g_mainTid = 0;

static_assert(std::atomic<pid_t>::is_always_lock_free);

// ---- classification --------------------------------------------------------

uintptr_t stackPointerOf(const void *context)
{
    const auto *uc = static_cast<const ucontext_t *>(context);
    if (!uc)
        return 0;
#if defined(__x86_64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    return static_cast<uintptr_t>(uc->uc_mcontext.sp);
#elif defined(__i386__)
    return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_ESP]);
#else
    return 0;
#endif
}

bool sentByProcess(const siginfo_t *info)
{
    // SI_USER (kill), SI_TKILL (raise, tgkill), SI_QUEUE and the like are
    // zero or negative; the kernel's own codes are positive.
    return info->si_code <= 0;
}

bool isStackOverflow(const siginfo_t *info, const void *context)
{
    if (sentByProcess(info) || (info->si_code != SEGV_MAPERR && info->si_code != SEGV_ACCERR))
        return false;
    const uintptr_t addr = reinterpret_cast<uintptr_t>(info->si_addr);
    // Just below the thread's known stack: its guard page or the gap the
    // kernel keeps below the main thread's stack.
    if (t_stack.low != 0 && addr < t_stack.low + kNearStackPointer && addr + kGuardSlack >= t_stack.low)
        return true;
    // Unknown bounds: a fault right at the stack pointer is the stack that
    // could not grow (the stack above the stack pointer is always mapped).
    const uintptr_t sp = stackPointerOf(context);
    return sp != 0 && addr + kNearStackPointer >= sp && addr <= sp + kNearStackPointer;
}

unsigned exceptionCode(int sig, const siginfo_t *info, const void *context)
{
    switch (sig) {
    case SIGSEGV:
        return isStackOverflow(info, context) ? kStackOverflow : kAccessViolation;
    case SIGILL:
        if (info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG)
            return 0xC0000096; // privileged instruction
        return 0xC000001D;
    case SIGFPE:
        switch (info->si_code) {
        case FPE_INTDIV: return 0xC0000094;
        case FPE_INTOVF: return 0xC0000095;
        case FPE_FLTDIV: return 0xC000008E;
        case FPE_FLTOVF: return 0xC0000091;
        case FPE_FLTUND: return 0xC0000093;
        case FPE_FLTRES: return 0xC000008F;
        case FPE_FLTSUB: return 0xC000008C; // subscript out of range
        default: return 0xC0000090;         // invalid operation, and any other
        }
    case SIGBUS:
        return 0x80000002;
    case SIGTRAP:
        return info->si_code == TRAP_TRACE ? 0x80000004 : 0x80000003;
    default:
        return 0;
    }
}

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGBUS: return "SIGBUS";
    case SIGTRAP: return "SIGTRAP";
    default: return "?";
    }
}

const char *codeName(int sig, int code)
{
    switch (code) {
    case SI_USER: return "SI_USER";
    case SI_KERNEL: return "SI_KERNEL";
    case SI_QUEUE: return "SI_QUEUE";
    case SI_TKILL: return "SI_TKILL";
    default: break;
    }
    if (sig == SIGSEGV) {
        switch (code) {
        case SEGV_MAPERR: return "SEGV_MAPERR";
        case SEGV_ACCERR: return "SEGV_ACCERR";
        default: break;
        }
    } else if (sig == SIGFPE) {
        switch (code) {
        case FPE_INTDIV: return "FPE_INTDIV";
        case FPE_INTOVF: return "FPE_INTOVF";
        case FPE_FLTDIV: return "FPE_FLTDIV";
        case FPE_FLTOVF: return "FPE_FLTOVF";
        case FPE_FLTUND: return "FPE_FLTUND";
        case FPE_FLTRES: return "FPE_FLTRES";
        case FPE_FLTINV: return "FPE_FLTINV";
        case FPE_FLTSUB: return "FPE_FLTSUB";
        default: break;
        }
    } else if (sig == SIGILL) {
        switch (code) {
        case ILL_ILLOPC: return "ILL_ILLOPC";
        case ILL_ILLOPN: return "ILL_ILLOPN";
        case ILL_ILLADR: return "ILL_ILLADR";
        case ILL_ILLTRP: return "ILL_ILLTRP";
        case ILL_PRVOPC: return "ILL_PRVOPC";
        case ILL_PRVREG: return "ILL_PRVREG";
        case ILL_COPROC: return "ILL_COPROC";
        case ILL_BADSTK: return "ILL_BADSTK";
        default: break;
        }
    } else if (sig == SIGBUS) {
        switch (code) {
        case BUS_ADRALN: return "BUS_ADRALN";
        case BUS_ADRERR: return "BUS_ADRERR";
        case BUS_OBJERR: return "BUS_OBJERR";
        default: break;
        }
    } else if (sig == SIGTRAP) {
        switch (code) {
        case TRAP_BRKPT: return "TRAP_BRKPT";
        case TRAP_TRACE: return "TRAP_TRACE";
        default: break;
        }
    }
    return "?";
}

// ---- report ----------------------------------------------------------------

void emit(int fd, LineBuffer &line)
{
    varno::sigsafe::writeAll(fd, line.data(), line.size());
    line.clear();
}

void writeRegisters(int fd, const void *context, LineBuffer &line)
{
    line.add("registers:\n");
    const auto *uc = static_cast<const ucontext_t *>(context);
    if (!uc) {
        line.add("  (no context)\n");
        emit(fd, line);
        return;
    }
#if defined(__x86_64__)
    static const char *const kNames[NGREG] = {"r8",  "r9",  "r10", "r11", "r12",    "r13", "r14",    "r15",
                                              "rdi", "rsi", "rbp", "rbx", "rdx",    "rax", "rcx",    "rsp",
                                              "rip", "efl", "csgsfs", "err", "trapno", "oldmask", "cr2"};
    for (int i = 0; i < NGREG; ++i) {
        line.add("  ").add(kNames[i]).add(' ').add("0x").hex(static_cast<unsigned long long>(uc->uc_mcontext.gregs[i]), 16);
        line.add((i % 4 == 3 || i == NGREG - 1) ? '\n' : ' ');
    }
#elif defined(__aarch64__)
    for (int i = 0; i < 31; ++i) {
        line.add("  x").dec(i).add(" 0x").hex(uc->uc_mcontext.regs[i], 16).add((i % 4 == 3) ? '\n' : ' ');
    }
    line.add("\n  sp 0x").hex(uc->uc_mcontext.sp, 16).add("  pc 0x").hex(uc->uc_mcontext.pc, 16);
    line.add("  pstate 0x").hex(uc->uc_mcontext.pstate, 16).add('\n');
#else
    line.add("  (not available on this processor)\n");
#endif
    emit(fd, line);
}

void writeBacktrace(int fd, LineBuffer &line)
{
    line.add("backtrace:\n");
    emit(fd, line);
    const int frames = ::backtrace(g_frames, static_cast<int>(sizeof(g_frames) / sizeof(g_frames[0])));
    ::backtrace_symbols_fd(g_frames, frames, fd);
}

void writeMemoryMap(int fd, LineBuffer &line)
{
    line.add("memory map (/proc/self/maps):\n");
    emit(fd, line);
    const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps < 0)
        return;
    for (;;) {
        const ssize_t n = ::read(maps, g_readBuffer, sizeof(g_readBuffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        varno::sigsafe::writeAll(fd, g_readBuffer, static_cast<size_t>(n));
    }
    ::close(maps);
}

// Runs one step of the report; a fault inside it comes back to the handler,
// which jumps here and the report goes on with the next step.
template <typename Step>
void guarded(Step step)
{
    if (sigsetjmp(g_stepJump, 1) == 0) {
        g_stepArmed = 1;
        step();
    }
    g_stepArmed = 0;
}

[[noreturn]] void endBySignal(int sig)
{
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    // Not reached for these signals; never return into a faulting instruction
    // whose signal is no longer reported.
    ::_exit(128 + sig);
}

void report(int sig, siginfo_t *info, void *context)
{
    LineBuffer line(g_lineStorage, sizeof(g_lineStorage));

    const unsigned code = exceptionCode(sig, info, context);
    const varno::sigsafe::LocalTime now = varno::sigsafe::localNow();

    // Step 1: the dump file, relative to the working directory.
    char path[64];
    LineBuffer pathText(path, sizeof(path));
    pathText.add("log/").pad(now.year, 4).add('_').pad(now.month, 2).add('_').pad(now.day, 2).add('-');
    pathText.pad(now.hour, 2).add('_').pad(now.minute, 2).add('_').pad(now.second, 2).add(".dmp");

    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        line.add("Creat minidump file(").add(path).add(") failed, ret(").dec(errno).add(")!!!");
        WriteLogSignalSafe(2, line.data());
        line.clear();
    } else {
        guarded([&] {
            line.add("Varno crash report\n");
            line.add("time: ").time(now).add('\n');
            line.add("process: ").dec(::getpid()).add("  thread: ").dec(varno::sigsafe::currentTid());
            if (varno::sigsafe::currentTid() == g_mainTid)
                line.add(" (main)");
            line.add('\n');
            line.add("signal: ").dec(sig).add(" (").add(signalName(sig)).add(")  si_code: ").dec(info->si_code);
            line.add(" (").add(codeName(sig, info->si_code)).add(")\n");
            line.add("exception code: ").hexAlt(code).add('\n');
            if (const char *text = CrashExceptionText(code))
                line.add("exception: ").add(text).add('\n');
            if (sentByProcess(info)) {
                line.add("sent by: process ").dec(info->si_pid).add(" (uid ").dec(info->si_uid).add(")\n");
            } else {
                line.add("fault address: 0x").hex(reinterpret_cast<uintptr_t>(info->si_addr), 16).add('\n');
            }
            line.add("stack pointer: 0x").hex(stackPointerOf(context), 16).add('\n');
            if (t_stack.low != 0) {
                line.add("thread stack: 0x").hex(t_stack.low, 16).add(" - 0x").hex(t_stack.high, 16).add('\n');
            }
            emit(fd, line);
        });
        guarded([&] { writeRegisters(fd, context, line); });
        guarded([&] { writeBacktrace(fd, line); });
        guarded([&] { writeMemoryMap(fd, line); });
        guarded([&] {
            line.add("end of report\n");
            emit(fd, line);
        });
        line.clear();
        ::close(fd);
    }

    // Step 2: the log lines.
    guarded([&] {
        line.add("[EXCEPTION]exceptionCode(").hexAlt(code).add(")!!!");
        WriteLogSignalSafe(1, line.data());
        line.clear();
    });
    if (const char *text = CrashExceptionText(code)) {
        guarded([&] {
            line.add("[EXCEPTION]").add(text).add("!!!");
            WriteLogSignalSafe(1, line.data());
            line.clear();
        });
    }
}

void crashHandler(int sig, siginfo_t *info, void *context)
{
    const int savedErrno = errno;
    const pid_t self = varno::sigsafe::currentTid();
    pid_t expected = 0;
    if (!g_reportingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            // A fault inside the report: skip the step that faulted.
            if (g_stepArmed) {
                g_stepArmed = 0;
                siglongjmp(g_stepJump, 1);
            }
            endBySignal(sig);
        }
        // Another thread is reporting and will end the process.
        for (;;)
            ::pause();
    }
    ::alarm(10);
    report(sig, info, context);
    errno = savedErrno;
    endBySignal(sig);
}

} // namespace

const char *CrashExceptionText(unsigned int code)
{
    for (const ExceptionText &entry : kTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return nullptr;
}

void InstallCrashHandlerOnThread()
{
    noteStackBounds();
    if (!hasAltStack())
        t_altStack.stack.create();
}

bool CrashHandlerOnThisThread()
{
    return hasAltStack();
}

void InstallCrashHandler()
{
    // Everything the handler needs later that allocates or loads code is
    // done now: the log file object, the time-zone offset, the unwinder.
    CLogFile::instance();
    varno::sigsafe::refreshUtcOffset();
    void *warm[2];
    ::backtrace(warm, 2);

    noteStackBounds();
    if (!hasAltStack())
        g_mainAltStack.create();

    bool expected = false;
    if (!g_installed.compare_exchange_strong(expected, true))
        return;
    g_mainTid = varno::sigsafe::currentTid();

    struct sigaction sa {};
    sa.sa_sigaction = crashHandler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    for (int sig : kSignals)
        ::sigaction(sig, &sa, nullptr);
}
