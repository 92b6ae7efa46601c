#include "input/platform.h"

#include <algorithm>
#include <cerrno>
#include <new>

namespace {

// The size of a large page on x86-64 and on AArch64 with 4 KiB pages.
constexpr std::align_val_t large_page{std::size_t{2} << 20};

} // namespace

ssize_t read_at(int fd, char *bytes, std::size_t size, std::int64_t offset)
{
	ssize_t n = read_at_once(fd, bytes, size, offset);
	if (n >= 0 || size == 1)
		return n;
	int error = errno;
	std::size_t half = size / 2;
	ssize_t first = read_at(fd, bytes, half, offset);
	if (first == static_cast<ssize_t>(half)) {
		ssize_t second = read_at(fd, bytes + half, size - half, offset + static_cast<std::int64_t>(half));
		first += std::max<ssize_t>(second, 0);
	}
	errno = error;
	return first;
}

std::size_t write_all(int fd, std::string_view bytes, std::int64_t offset)
{
	std::size_t written = 0;
	while (written < bytes.size()) {
		const char *from = bytes.data() + written;
		std::size_t left = bytes.size() - written;
		ssize_t n = offset < 0 ? write_once(fd, from, left)
				       : write_at_once(fd, from, left, offset + static_cast<std::int64_t>(written));
		// A write that takes nothing would take nothing again.
		if (n == 0)
			errno = EIO;
		if (n <= 0)
			break;
		written += static_cast<std::size_t>(n);
	}
	return written;
}

pages allocate_pages(std::size_t size)
{
	pages memory(static_cast<char *>(::operator new[](size, large_page, std::nothrow)));
	if (memory)
		large_pages(memory.get(), size);
	return memory;
}

void pages_end::operator()(char *bytes) const
{
	::operator delete[](bytes, large_page);
}
