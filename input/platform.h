// What the command asks of the system where POSIX systems and Windows
// differ, one file a platform: platform_posix.cpp, platform_windows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>
#include <sys/types.h>

// What a file descriptor is open on.
struct file_status {
	bool regular;          // a file, which can be read at offsets
	bool stream;           // a pipe, a FIFO, a socket, a terminal
	std::int64_t size;     // of a regular file
	std::int64_t modified; // a regular file's last change, in nanoseconds
};

// The status of fd; neither regular nor a stream when it cannot be had.
file_status status_of(int fd);

// One read of up to size bytes at offset, or one write, again when a
// signal breaks in: how many, or -1 with errno. Neither moves the file's
// own position, so that threads may read one file at once. read_once
// reads where the input stands, as a pipe must be read, and write_once
// writes there.
ssize_t read_at_once(int fd, char *bytes, std::size_t size, std::int64_t offset);
ssize_t read_once(int fd, char *bytes, std::size_t size);
ssize_t write_once(int fd, const char *bytes, std::size_t size);
ssize_t write_at_once(int fd, const char *bytes, std::size_t size, std::int64_t offset);

// read_at_once, tried again in halves where it fails, so that reading
// stops at the first byte that cannot be read however the reads were cut:
// the bytes before it, or -1 with errno when that is the first.
ssize_t read_at(int fd, char *bytes, std::size_t size, std::int64_t offset);

// Writes bytes to fd where it stands, or at offset; returns how many it
// took: all of them, unless it refused the rest, with errno telling why. A
// write that takes none is refused, for EIO.
std::size_t write_all(int fd, std::string_view bytes, std::int64_t offset = -1);

// Whether two file descriptors write to one file, pipe or terminal, where
// the order of their bytes together is kept; a device that keeps nothing,
// as /dev/null, keeps no order.
bool same_file(int a, int b);

// Lets a pipe hold more, where the system allows it, so that the command
// and the process at its other end take fewer turns; nothing where fd is
// not a pipe.
void widen_pipe(int fd);

// The folder for temporary files, and a file in it that no other user can
// open and that goes when it is closed or the process ends; -1 with errno
// when there is none.
const char *temporary_folder();
int temporary_file(const char *folder);

// Memory that is written before it is read, on the largest pages the
// system gives it for, so that it is paged in with few faults as it is
// first written; nothing without the memory. large_pages is the system's
// part: it asks for them.
struct pages_end {
	void operator()(char *bytes) const;
};
using pages = std::unique_ptr<char[], pages_end>;
pages allocate_pages(std::size_t size);
void large_pages(char *bytes, std::size_t size);

// How many processors the process may run on.
int available_processors();

// The arguments as UTF-8, and the input opened by such a name, read as
// bytes.
char **utf8_arguments(int argc, char **argv);
std::FILE *open_input(const char *path);

// Makes standard input, output and error carry bytes as they are, and
// opens each that is closed on the null device, for reading where the
// command writes and for writing where it reads: its use fails, as on a
// descriptor that cannot serve, and no file the command opens is ever
// 0, 1 or 2.
void prepare_standard_streams();
