// SPDX-License-Identifier: ISC
/*
 * ex2-client: send "hello" to the server reading the FIFO "fifo-2" in the
 * working directory, and report each step on the console.
 *
 * Only the C library is used, through its own headers, so the program
 * builds against glibc and musl alike and loads no C++ runtime.
 */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr char fifo_path[] = "fifo-2";

// Exactly these five bytes go into the FIFO: no terminating zero, no newline.
constexpr char payload[] = {'h', 'e', 'l', 'l', 'o'};

constexpr char null_path[] = "/dev/null";

// Room for "short write (N of 5 bytes)" and its terminating zero.
constexpr size_t reason_max = 32;

} // namespace

// Arguments are accepted and ignored.
int
main()
{
	/*
	 * perror's text, "label: reason\n", but always in one system call:
	 * musl's perror makes five, and lines from clients failing at once
	 * into one log would come out broken.
	 */
	const auto report = [](const char *label, const char *reason) {
		const struct iovec line[] = {
			{const_cast<char *>(label), strlen(label)},
			{const_cast<char *>(": "), 2},
			{const_cast<char *>(reason), strlen(reason)},
			{const_cast<char *>("\n"), 1},
		};
		// A failure to write to stderr is left untold: there is nowhere
		// else to tell it. (The C library insists the result is taken.)
		const ssize_t untold =
		    writev(STDERR_FILENO, line, sizeof line / sizeof line[0]);
		(void)untold;
	};

	/*
	 * Started with a standard stream closed, we would be handed its
	 * number for the FIFO, and our own messages would go to the server.
	 * /dev/null takes each closed place, lowest first, before the FIFO is
	 * opened; being the lowest free number, it lands on the one just found.
	 * F_GETFD is asked of each, as no resource limit can refuse it and it
	 * sees any open descriptor, O_PATH included. Where /dev/null cannot be
	 * opened, refuse before the FIFO's open can wait for, or wake, a server.
	 */
	for (int std_fd = STDIN_FILENO; std_fd <= STDERR_FILENO; std_fd++) {
		if (fcntl(std_fd, F_GETFD) == -1 && errno == EBADF &&
		    open(null_path, O_RDWR) == -1) {
			report(null_path, strerror(errno));
			return 1;
		}
	}

	/*
	 * Chosen here, not left to the C library or to stdbuf: into a file or
	 * a pipe nothing goes to stdout before the payload, and the buffer is
	 * our own, so no failed allocation can leave stdout unbuffered. A
	 * terminal shows each line as it comes.
	 */
	static char out_buf[BUFSIZ];
	(void)setvbuf(stdout, out_buf, isatty(STDOUT_FILENO) == 1 ? _IOLBF : _IOFBF,
	    sizeof out_buf);

	// Blocks until the server has the FIFO open for reading.
	const int fd = open(fifo_path, O_WRONLY);
	if (fd == -1) {
		report("open", strerror(errno));
		return 1;
	}

	(void)puts("client: fifo opened for write");

	const ssize_t written = write(fd, payload, sizeof payload);
	const int write_errno = errno;

	// The payload is written or lost: from here on neither a reader of
	// stdout that has gone (SIGPIPE) nor a file size limit on stdout
	// (SIGXFSZ) may kill us, so the exit status still tells which.
	sigset_t after_write;
	(void)sigemptyset(&after_write);
	(void)sigaddset(&after_write, SIGPIPE);
	(void)sigaddset(&after_write, SIGXFSZ);
	(void)sigprocmask(SIG_BLOCK, &after_write, nullptr);

	if (written == -1) {
		// Keep a merged log in the order of events.
		(void)fflush(stdout);
		report("write", strerror(write_errno));
		return 1;
	}
	// At most five bytes were asked for, so the count fits an int.
	const int count = static_cast<int>(written);
	(void)printf("wrote %d bytes to server\n", count);
	if (count != static_cast<int>(sizeof payload)) {
		// Only a regular file takes part of it, at a file size limit.
		(void)fflush(stdout);
		char reason[reason_max];
		(void)snprintf(reason, sizeof reason, "short write (%d of %d bytes)",
		    count, static_cast<int>(sizeof payload));
		report("write", reason);
		return 1;
	}

	(void)close(fd);
	return 0;
}
