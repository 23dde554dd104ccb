// SPDX-License-Identifier: ISC
/*
 * ex2-client: send "hello" to the server reading the FIFO "fifo-2" in the
 * working directory, and report each step on the console.
 */
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <signal.h> // SIGPIPE is POSIX, not in <csignal>
#include <stdio.h>  // so is dprintf, not in <cstdio>
#include <unistd.h>

namespace {

constexpr char fifo_path[] = "fifo-2";

// Exactly these five bytes go into the FIFO: no terminating zero, no newline.
constexpr char payload[] = {'h', 'e', 'l', 'l', 'o'};

constexpr char null_path[] = "/dev/null";

} // namespace

int
main([[maybe_unused]] int argc, [[maybe_unused]] char *argv[])
{
	/*
	 * Started with a standard stream closed, we would be handed its
	 * number for the FIFO, and our own messages would go to the server.
	 * Give every closed one /dev/null first, so the FIFO lands above them.
	 * Out of descriptors, the FIFO's own open says so below.
	 */
	int null_errno = 0;
	for (;;) {
		const int null_fd = open(null_path, O_RDWR);
		if (null_fd == -1) {
			null_errno = errno;
			break;
		}
		if (null_fd > STDERR_FILENO) {
			(void)close(null_fd);
			break;
		}
	}

	// Blocks until the server has the FIFO open for reading.
	const int fd = open(fifo_path, O_WRONLY);
	if (fd == -1) {
		perror("open");
		return 1;
	}
	if (fd <= STDERR_FILENO) {
		// Only where /dev/null could not be opened: send nothing rather
		// than our messages.
		(void)close(fd);
		errno = null_errno;
		perror(null_path);
		return 1;
	}

	// Buffered as the C library chooses: a terminal shows it at once, but
	// into a file or a pipe it waits for our exit, so that no trouble on
	// stdout can come before the payload.
	(void)puts("client: fifo opened for write");

	const ssize_t written = write(fd, payload, sizeof payload);
	const int write_errno = errno;

	// The payload is written or lost: from here on a stdout whose reader
	// has gone must not kill us, so the exit status still tells which.
	(void)signal(SIGPIPE, SIG_IGN);

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
		// A regular file at its size limit or on a full disk takes only part.
		(void)fflush(stdout);
		(void)dprintf(STDERR_FILENO, "write: short write (%d of %d bytes)\n",
		    count, static_cast<int>(sizeof payload));
		return 1;
	}

	(void)close(fd);
	return 0;
}
