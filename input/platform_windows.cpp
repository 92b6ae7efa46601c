#include "input/platform.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

#include <shellapi.h>

namespace {

// 1970 in ticks of 100 ns since 1601.
constexpr std::int64_t unix_epoch = 116444736000000000;

HANDLE handle_of(int fd)
{
	return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// errno for the system's last error, as near as the messages need.
int errno_of_last_error()
{
	switch (GetLastError()) {
	case ERROR_FILE_NOT_FOUND:
	case ERROR_PATH_NOT_FOUND:
		return ENOENT;
	case ERROR_ACCESS_DENIED:
	case ERROR_WRITE_PROTECT:
		return EACCES;
	case ERROR_DISK_FULL:
	case ERROR_HANDLE_DISK_FULL:
		return ENOSPC;
	case ERROR_NOT_ENOUGH_MEMORY:
	case ERROR_OUTOFMEMORY:
		return ENOMEM;
	case ERROR_BROKEN_PIPE:
	case ERROR_NO_DATA:
		return EPIPE;
	default:
		return EIO;
	}
}

std::wstring wide(const char *utf8)
{
	int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
	std::wstring text(static_cast<std::size_t>(std::max(n, 1)), L'\0');
	MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), n);
	text.resize(text.size() - 1);
	return text;
}

std::string utf8(const wchar_t *text)
{
	int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
	std::string bytes(static_cast<std::size_t>(std::max(n, 1)), '\0');
	WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), n, nullptr, nullptr);
	bytes.resize(bytes.size() - 1);
	return bytes;
}

// The offset of a read or write, for a handle that then ignores its own
// position.
OVERLAPPED at(std::int64_t offset)
{
	OVERLAPPED o{};
	o.Offset = static_cast<DWORD>(offset & 0xffffffff);
	o.OffsetHigh = static_cast<DWORD>(offset >> 32);
	return o;
}

// The most one call moves.
DWORD chunk(std::size_t size)
{
	return static_cast<DWORD>(std::min<std::size_t>(size, std::size_t{1} << 30));
}

} // namespace

file_status status_of(int fd)
{
	HANDLE h = handle_of(fd);
	DWORD type = GetFileType(h);
	if (type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR)
		return {false, true, 0, 0};
	BY_HANDLE_FILE_INFORMATION info;
	if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
	    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
		return {false, false, 0, 0};
	auto size = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
	// Ticks of 100 ns since 1601, made nanoseconds since 1970.
	auto ticks = static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
					       info.ftLastWriteTime.dwLowDateTime);
	return {true, false, size, (ticks - unix_epoch) * 100};
}

ssize_t read_at_once(int fd, char *bytes, std::size_t size, std::int64_t offset)
{
	OVERLAPPED o = at(offset);
	DWORD got = 0;
	if (ReadFile(handle_of(fd), bytes, chunk(size), &got, &o))
		return static_cast<ssize_t>(got);
	if (GetLastError() == ERROR_HANDLE_EOF)
		return 0;
	errno = errno_of_last_error();
	return -1;
}

ssize_t read_once(int fd, char *bytes, std::size_t size)
{
	return _read(fd, bytes, static_cast<unsigned>(std::min<std::size_t>(size, std::size_t{1} << 30)));
}

ssize_t write_once(int fd, const char *bytes, std::size_t size)
{
	return _write(fd, bytes, static_cast<unsigned>(std::min<std::size_t>(size, std::size_t{1} << 30)));
}

// Files alone are told apart; a pipe, a console or NUL is taken as its
// own.
bool same_file(int a, int b)
{
	BY_HANDLE_FILE_INFORMATION first, second;
	return GetFileInformationByHandle(handle_of(a), &first) && GetFileInformationByHandle(handle_of(b), &second) &&
	       first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
	       first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

ssize_t write_at_once(int fd, const char *bytes, std::size_t size, std::int64_t offset)
{
	OVERLAPPED o = at(offset);
	DWORD put = 0;
	if (WriteFile(handle_of(fd), bytes, chunk(size), &put, &o))
		return static_cast<ssize_t>(put);
	errno = errno_of_last_error();
	return -1;
}

void widen_pipe(int /*fd*/)
{
}

const char *temporary_folder()
{
	static const std::string folder = [] {
		std::vector<wchar_t> path(MAX_PATH + 1);
		DWORD n = GetTempPathW(static_cast<DWORD>(path.size()), path.data());
		std::string name = n > 0 && n < path.size() ? utf8(path.data()) : ".";
		// Without the separator at its end, as messages name it.
		if (name.size() > 1 && (name.back() == '\\' || name.back() == '/'))
			name.pop_back();
		return name;
	}();
	return folder.c_str();
}

// A file of a name of its own that the system deletes once its handle
// closes, however the process ends.
int temporary_file(const char *folder)
{
	static std::atomic<unsigned> made{0};
	std::wstring name = wide(folder) + L"\\vblocks-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
			    std::to_wstring(made++) + L".tmp";
	HANDLE h = CreateFileW(name.c_str(),
			       GENERIC_READ | GENERIC_WRITE,
			       0,
			       nullptr,
			       CREATE_NEW,
			       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
			       nullptr);
	if (h == INVALID_HANDLE_VALUE) {
		errno = errno_of_last_error();
		return -1;
	}
	int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
	if (fd < 0) {
		CloseHandle(h);
		errno = EMFILE;
	}
	return fd;
}

// Large pages need a privilege that a user seldom has.
void large_pages(char * /*bytes*/, std::size_t /*size*/)
{
}

int available_processors()
{
	DWORD_PTR process = 0;
	DWORD_PTR system = 0;
	if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
		return std::popcount(static_cast<std::uint64_t>(process));
	return static_cast<int>(std::thread::hardware_concurrency());
}

char **utf8_arguments(int argc, char **argv)
{
	// Windows keeps the arguments in UTF-16; those main gets are in the
	// local code page, which may not hold them.
	static std::vector<std::string> arguments;
	static std::vector<char *> pointers;
	int n = 0;
	wchar_t **given = CommandLineToArgvW(GetCommandLineW(), &n);
	if (given == nullptr || n != argc)
		return argv;
	for (int i = 0; i < n; i++)
		arguments.push_back(utf8(given[i]));
	LocalFree(given);
	for (std::string &a : arguments)
		pointers.push_back(a.data());
	pointers.push_back(nullptr);
	return pointers.data();
}

std::FILE *open_input(const char *path)
{
	return _wfopen(wide(path).c_str(), L"rb");
}

void prepare_standard_streams()
{
	// The C runtime keeps 0, 1 and 2 taken even where the process was
	// given no handle for them, so no file the command opens takes one.
	_setmode(0, _O_BINARY);
	_setmode(1, _O_BINARY);
	_setmode(2, _O_BINARY);
}
