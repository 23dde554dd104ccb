// SPDX-License-Identifier: ISC
/*
 * The floor of a spawn, for the bench: a program that makes the system
 * calls ex2-client makes for its job (open the FIFO, write the payload,
 * write both lines to stdout, close, exit) and nothing else. No C library
 * and no start-up code: what it costs is what any process costs.
 */

namespace {

// A system call's number and arguments are all registers of one type.
// NOLINTBEGIN(bugprone-easily-swappable-parameters)
#if defined(__x86_64__)
constexpr long sys_openat = 257, sys_close = 3, sys_write = 1, sys_exit = 60;

long
sys(long number, long a, long b = 0, long c = 0, long d = 0)
{
	register const long r10 __asm__("r10") = d;
	long result;
	__asm__ volatile("syscall"
	    : "=a"(result)
	    : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10)
	    : "rcx", "r11", "memory");
	return result;
}
#elif defined(__aarch64__)
constexpr long sys_openat = 56, sys_close = 57, sys_write = 64, sys_exit = 93;

long
sys(long number, long a, long b = 0, long c = 0, long d = 0)
{
	register long x8 __asm__("x8") = number;
	register long x0 __asm__("x0") = a;
	register long x1 __asm__("x1") = b;
	register long x2 __asm__("x2") = c;
	register long x3 __asm__("x3") = d;
	__asm__ volatile("svc 0"
	    : "+r"(x0)
	    : "r"(x8), "r"(x1), "r"(x2), "r"(x3)
	    : "memory");
	return x0;
}
#else
#error the floor is written for x86_64 and aarch64 only
#endif
// NOLINTEND(bugprone-easily-swappable-parameters)

constexpr long at_fdcwd = -100, o_wronly = 1;
constexpr char payload[] = {'h', 'e', 'l', 'l', 'o'};
constexpr char lines[] = "client: fifo opened for write\nwrote 5 bytes to server\n";

} // namespace

// The kernel enters here with the stack aligned for no call at all.
extern "C" [[noreturn]] __attribute__((force_align_arg_pointer)) void
_start()
{
	long status = 1;
	const long fd = sys(sys_openat, at_fdcwd, reinterpret_cast<long>("fifo-2"), o_wronly);
	if (fd >= 0 &&
	    sys(sys_write, fd, reinterpret_cast<long>(payload), sizeof payload) == sizeof payload) {
		(void)sys(sys_write, 1, reinterpret_cast<long>(lines), sizeof lines - 1);
		(void)sys(sys_close, fd);
		status = 0;
	}
	for (;;)
		(void)sys(sys_exit, status);
}
