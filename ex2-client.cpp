/*
 * ex2-client: send "hello" to the server reading the FIFO "fifo-2" in the
 * working directory, and report each step on the console.
 */
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char fifo_path[] = "fifo-2";

// Exactly these five bytes go into the FIFO: no terminating zero, no newline.
constexpr char payload[] = {'h', 'e', 'l', 'l', 'o'};

} // namespace

int
main([[maybe_unused]] int argc, [[maybe_unused]] char *argv[])
{
	// Blocks until the server has the FIFO open for reading.
	int fd = open(fifo_path, O_WRONLY);
	if (fd == -1) {
		perror("open");
		return 1;
	}

	/*
	 * Started with a standard stream closed, we were handed its number:
	 * our own messages would then go into the FIFO ahead of the payload.
	 * Move the FIFO above the standard streams before printing anything.
	 */
	if (fd <= STDERR_FILENO) {
		const int high = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
		if (high == -1) {
			// Descriptor 2 means stderr was closed: there is nowhere to
			// report, and perror would write into the FIFO.
			if (fd != STDERR_FILENO)
				perror("open");
			return 1;
		}
		(void)close(fd);
		fd = high;
	}

	(void)puts("client: fifo opened for write");
	// Let a watched log show the line while the write waits, and keep it if
	// SIGPIPE ends us there: it must not sit in a buffer when stdout is a file.
	(void)fflush(stdout);

	const ssize_t written = write(fd, payload, sizeof payload);
	if (written == -1) {
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
