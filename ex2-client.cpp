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
#include <unistd.h>

namespace {

constexpr char fifo_path[] = "fifo-2";

// Exactly these five bytes go into the FIFO: no terminating zero, no newline.
constexpr char payload[] = {'h', 'e', 'l', 'l', 'o'};

constexpr char null_path[] = "/dev/null";

} // namespace

// Arguments are accepted and ignored.
int
main()
{
	/*
	 * Started with a standard stream closed, we would be handed its
	 * number for the FIFO, and our own messages would go to the server.
	 * Give every closed one /dev/null first, so the FIFO lands above them.
	 */
	int null_fd;
	do
		null_fd = open(null_path, O_RDWR);
	while (null_fd != -1 && null_fd <= STDERR_FILENO);
	if (null_fd == -1) {
		// With all three open, /dev/null is not needed, and out of
		// descriptors the FIFO's own open says so below. With one closed,
		// refuse before the FIFO's open can wait for, or wake, a server.
		const int null_errno = errno;
		if (fcntl(STDIN_FILENO, F_GETFD) == -1 ||
		    fcntl(STDOUT_FILENO, F_GETFD) == -1 ||
		    fcntl(STDERR_FILENO, F_GETFD) == -1) {
			errno = null_errno;
			perror(null_path);
			return 1;
		}
	} else
		(void)close(null_fd);

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
		perror("open");
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
		errno = write_errno;
		perror("write");
		return 1;
	}
	// At most five bytes were asked for, so the count fits an int.
	const int count = static_cast<int>(written);
	(void)printf("wrote %d bytes to server\n", count);
	if (count != static_cast<int>(sizeof payload)) {
		// Only a regular file takes part of it, at a file size limit.
		(void)fflush(stdout);
		(void)dprintf(STDERR_FILENO, "write: short write (%d of %d bytes)\n",
		    count, static_cast<int>(sizeof payload));
		return 1;
	}

	(void)close(fd);
	return 0;
}
