/*
 * Lets 32-bit Wine run under qemu-user (qemu-i386 7.2) on a 64-bit kernel without IA-32
 * emulation. Preloaded into the 32-bit Wine processes only (through QEMU_SET_ENV=LD_PRELOAD=...),
 * it puts back three things of the kernel that qemu-i386 does not give and Wine relies on:
 *
 * 1. mmap with MAP_FIXED_NOREPLACE fails with EEXIST when the range is taken. qemu treats the flag
 *    as a hint and maps elsewhere, so Wine's address space reservations land on top of each other
 *    and the shared user data page at 0x7ffe0000 cannot be mapped ("failed to map the shared user
 *    data: c0000018").
 *
 * 2. The trap number in the signal context of a fault (page fault 14, ...). qemu always stores -1
 *    there; Wine then reports every access violation as an illegal instruction and never handles
 *    guard pages, stack growth or write watches.
 *
 * 3. Per-thread thread-local-storage entries in the GDT. qemu keeps one GDT for the whole process,
 *    so the entries set_thread_area fills are shared: a thread that reloads %gs (the C library's
 *    thread-local storage) or %fs (Wine's TEB) from such a selector gets the base of whichever
 *    thread set the entry last. Wine reloads both at every switch between Windows and Unix code.
 *    So each thread moves its %gs to an LDT entry of its own, and Wine is refused a GDT entry for
 *    %fs, which makes it take an LDT entry per thread (its own fallback).
 *
 * Built for x86_64 it is empty: preloaded through "$LIB", the 64-bit programs that 32-bit Wine
 * starts (wineserver) load that one silently instead of complaining about the word size.
 */
#define _GNU_SOURCE

#if defined(__i386__)

#include <asm/ldt.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <ucontext.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

typedef long (*syscall_fn)(long, ...);
typedef int (*sigaction_fn)(int, const struct sigaction*, struct sigaction*);
typedef int (*pthread_create_fn)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

/* The C library's definition of a name this file replaces. */
static void* next_symbol(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

static syscall_fn real_syscall(void) {
    static syscall_fn fn;
    if (!fn) {
        void* p = next_symbol("syscall");
        memcpy(&fn, &p, sizeof fn);
    }
    return fn;
}

/* ---- 1. MAP_FIXED_NOREPLACE ---------------------------------------------------------------- */

static void* map_pages(void* addr, size_t len, int prot, int flags, int fd, off64_t off) {
    if (off & 4095) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    long r = syscall(SYS_mmap2, addr, len, prot, flags, fd, (unsigned long)(off >> 12));
    return r == -1 ? MAP_FAILED : (void*)r;
}

void* mmap64(void* addr, size_t len, int prot, int flags, int fd, off64_t off) {
    if (!(flags & MAP_FIXED_NOREPLACE))
        return map_pages(addr, len, prot, flags, fd, off);
    if (flags & MAP_FIXED)
        return map_pages(addr, len, prot, flags & ~MAP_FIXED_NOREPLACE, fd, off);
    void* p = map_pages(addr, len, prot, flags & ~MAP_FIXED_NOREPLACE, fd, off);
    if (p != MAP_FAILED && p != addr) {
        syscall(SYS_munmap, p, len);
        errno = EEXIST;
        return MAP_FAILED;
    }
    return p;
}

void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off) {
    return mmap64(addr, len, prot, flags, fd, (off64_t)(uint32_t)off);
}

/* ---- 2. Trap numbers of faults -------------------------------------------------------------- */

enum {
    trap_divide = 0,
    trap_debug = 1,
    trap_breakpoint = 3,
    trap_overflow = 4,
    trap_invalid_opcode = 6,
    trap_general_protection = 13,
    trap_page_fault = 14,
    trap_x87 = 16,
    trap_alignment = 17,
};

static struct sigaction wanted[_NSIG];
static volatile sig_atomic_t relayed[_NSIG];

static int fault_signal(int sig) {
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP;
}

static int trap_of(int sig, const siginfo_t* info) {
    switch (sig) {
    case SIGSEGV:
        return info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR
                   ? trap_page_fault
                   : trap_general_protection;
    case SIGBUS:
        return info->si_code == BUS_ADRALN ? trap_alignment : trap_general_protection;
    case SIGILL:
        return info->si_code == ILL_PRVOPC ? trap_general_protection : trap_invalid_opcode;
    case SIGFPE:
        return info->si_code == FPE_INTDIV   ? trap_divide
               : info->si_code == FPE_INTOVF ? trap_overflow
                                             : trap_x87;
    case SIGTRAP:
        return info->si_code == TRAP_TRACE ? trap_debug : trap_breakpoint;
    }
    return -1;
}

/* Runs on whatever %fs and %gs the interrupted code had: touches no thread-local data. */
static void relay(int sig, siginfo_t* info, void* context) {
    ucontext_t* uc = context;
    if (uc && uc->uc_mcontext.gregs[REG_TRAPNO] == -1)
        uc->uc_mcontext.gregs[REG_TRAPNO] = trap_of(sig, info);
    const struct sigaction* act = &wanted[sig];
    if (act->sa_flags & SA_SIGINFO)
        act->sa_sigaction(sig, info, context);
    else if (act->sa_handler != SIG_DFL && act->sa_handler != SIG_IGN)
        act->sa_handler(sig);
}

static int installs_handler(const struct sigaction* act) {
    if (act->sa_flags & SA_SIGINFO)
        return act->sa_sigaction != NULL;
    return act->sa_handler != SIG_DFL && act->sa_handler != SIG_IGN;
}

int sigaction(int sig, const struct sigaction* act, struct sigaction* old) {
    static sigaction_fn next;
    if (!next) {
        void* p = next_symbol("sigaction");
        memcpy(&next, &p, sizeof next);
    }
    if (sig <= 0 || sig >= _NSIG || !fault_signal(sig))
        return next(sig, act, old);

    struct sigaction previous = wanted[sig];
    int was_relayed = relayed[sig];
    int result;
    if (act && installs_handler(act)) {
        struct sigaction mine = *act;
        mine.sa_flags |= SA_SIGINFO;
        mine.sa_sigaction = relay;
        wanted[sig] = *act;
        result = next(sig, &mine, old);
        if (result == 0)
            relayed[sig] = 1;
        else
            wanted[sig] = previous;
    } else {
        result = next(sig, act, old);
        if (result == 0 && act)
            relayed[sig] = 0;
    }
    if (result == 0 && old && was_relayed) {
        old->sa_flags = previous.sa_flags;
        if (previous.sa_flags & SA_SIGINFO)
            old->sa_sigaction = previous.sa_sigaction;
        else
            old->sa_handler = previous.sa_handler;
    }
    return result;
}

/* ---- 3. Segment registers of each thread ---------------------------------------------------- */

/* LDT entries for %gs, taken from the top; Wine takes its own from 512 up. */
enum { ldt_top = 8191, ldt_bottom = 4096 };
static int next_entry = ldt_top;
static unsigned short gdt_gs; /* the C library's own %gs selector, a GDT entry */
static pthread_mutex_t creating = PTHREAD_MUTEX_INITIALIZER;

static unsigned short get_gs(void) {
    unsigned short sel;
    __asm__ volatile("movw %%gs, %0" : "=r"(sel));
    return sel;
}

static void set_gs(unsigned short sel) {
    __asm__ volatile("movw %0, %%gs" : : "r"(sel));
}

/* The base of %gs: the thread control block starts with a pointer to itself. */
static unsigned long gs_base(void) {
    unsigned long base;
    __asm__ volatile("movl %%gs:0, %0" : "=r"(base));
    return base;
}

static struct user_desc data_segment(int entry, unsigned long base) {
    struct user_desc d;
    memset(&d, 0, sizeof d);
    d.entry_number = (unsigned)entry;
    d.base_addr = base;
    d.limit = 0xfffff;
    d.seg_32bit = 1;
    d.limit_in_pages = 1;
    d.useable = 1;
    return d;
}

/* After 4096 threads the oldest entries come round again: those threads are long gone. */
static int take_entry(void) {
    const int span = ldt_top - ldt_bottom + 1;
    int taken = ldt_top - __atomic_fetch_sub(&next_entry, 1, __ATOMIC_RELAXED);
    return ldt_top - (taken % span + span) % span;
}

/* Moves the calling thread's %gs to an LDT entry of its own with the same base. */
static void own_gs(void) {
    if (get_gs() & 4)
        return;
    struct user_desc d = data_segment(take_entry(), gs_base());
    if (real_syscall()(SYS_modify_ldt, 1, &d, sizeof d) != 0)
        return;
    set_gs((unsigned short)((d.entry_number << 3) | 7));
}

/* Before any other thread exists: qemu gives the LDT to the threads created after its first use. */
__attribute__((constructor)) static void own_main_gs(void) {
    real_syscall();
    gdt_gs = get_gs();
    if (gdt_gs && !(gdt_gs & 4))
        own_gs();
}

struct start {
    void* (*fn)(void*);
    void* arg;
    sigset_t mask;
};

static void* started(void* p) {
    struct start s = *(struct start*)p;
    free(p);
    own_gs();
    pthread_sigmask(SIG_SETMASK, &s.mask, NULL);
    return s.fn(s.arg);
}

/*
 * A new thread gets its thread-local storage by the kernel filling the GDT entry of the selector
 * that its creator has in %gs at that moment, and keeps that selector. So for the time of the
 * creation the creator goes back to the GDT entry, pointed at its own storage again, with signals
 * blocked (its handlers reload %gs) and one creation at a time (each one refills the entry).
 */
int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*fn)(void*), void* arg) {
    static pthread_create_fn next;
    if (!next) {
        void* p = next_symbol("pthread_create");
        memcpy(&next, &p, sizeof next);
    }
    unsigned short mine = get_gs();
    if (!(mine & 4) || !gdt_gs || (gdt_gs & 4))
        return next(thread, attr, fn, arg);

    struct start* s = malloc(sizeof *s);
    if (!s)
        return EAGAIN;
    s->fn = fn;
    s->arg = arg;
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &s->mask);
    pthread_mutex_lock(&creating);
    struct user_desc d = data_segment(gdt_gs >> 3, gs_base());
    int result = EAGAIN;
    if (real_syscall()(SYS_set_thread_area, &d) == 0) {
        set_gs(gdt_gs);
        result = next(thread, attr, started, s);
        set_gs(mine);
    }
    pthread_mutex_unlock(&creating);
    pthread_sigmask(SIG_SETMASK, &s->mask, NULL);
    if (result)
        free(s);
    return result;
}

/* Wine asks for a free GDT entry (number -1) for %fs through syscall(); it gets none. */
long syscall(long number, ...) {
    va_list ap;
    va_start(ap, number);
    long a[6];
    for (int i = 0; i < 6; i++)
        a[i] = va_arg(ap, long);
    va_end(ap);
    if (number == SYS_set_thread_area && a[0] &&
        ((struct user_desc*)a[0])->entry_number == (unsigned)-1) {
        errno = ENOSYS;
        return -1;
    }
    return real_syscall()(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

#else

typedef int wine32_qemu_shim_is_for_i386_only;

#endif
