#include "driver/convert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "driver/diagnostics.h"

namespace {

// A listing that is rewritten when it is rewound: the first pass reads
// before, the second after.
struct changing {
	std::string before, after;
	const std::string *now = &before;
	std::size_t at = 0;
};

std::size_t read_changing(changing &c, char *bytes, std::size_t size)
{
	std::size_t n = c.now->copy(bytes, size, c.at);
	c.at += n;
	return n;
}

bool rewind_changing(changing &c, long long offset, int whence)
{
	if (offset != 0 || whence != SEEK_SET)
		return false;
	c.now = &c.after;
	c.at = 0;
	return true;
}

// A stream over it: glibc's fopencookie, or the BSDs' and macOS's
// funopen.
#ifdef __GLIBC__
std::FILE *open_changing(changing &c)
{
	auto read = [](void *cookie, char *bytes, std::size_t size) {
		return static_cast<ssize_t>(read_changing(*static_cast<changing *>(cookie), bytes, size));
	};
	auto seek = [](void *cookie, off64_t *offset, int whence) {
		return rewind_changing(*static_cast<changing *>(cookie), *offset, whence) ? 0 : -1;
	};
	return fopencookie(&c, "r", {read, nullptr, seek, nullptr});
}
#else
std::FILE *open_changing(changing &c)
{
	auto read = [](void *cookie, char *bytes, int size) {
		return static_cast<int>(
			read_changing(*static_cast<changing *>(cookie), bytes, static_cast<std::size_t>(size)));
	};
	auto seek = [](void *cookie, fpos_t offset, int whence) -> fpos_t {
		return rewind_changing(*static_cast<changing *>(cookie), offset, whence) ? 0 : -1;
	};
	return funopen(&c, read, nullptr, seek, nullptr);
}
#endif

std::string contents(std::FILE *file)
{
	std::string text(1 << 16, '\0');
	std::rewind(file);
	text.resize(std::fread(text.data(), 1, text.size(), file));
	return text;
}

// Converts the listing; gives standard output, then standard error.
std::string converted(changing listing)
{
	std::FILE *in = open_changing(listing);
	std::FILE *out = std::tmpfile();
	std::FILE *err = std::tmpfile();
	int saved_err = dup(STDERR_FILENO);
	dup2(fileno(err), STDERR_FILENO);
	output_buffer buffer;
	output o{fileno(out), buffer};
	try {
		convert(in, "input", o, 1);
	} catch (const run_failed &) {
		write_all(o.fd, ready(o));
	}
	dup2(saved_err, STDERR_FILENO);
	close(saved_err);
	std::string result = contents(out) + "|" + contents(err);
	std::fclose(in);
	std::fclose(out);
	std::fclose(err);
	return result;
}

} // namespace

TEST(Convert, AListingThatChangesBetweenThePassesFails)
{
	const std::string changed = "File input changed while it was read\n";
	const std::string two = "VAR Variable0\n-1\nVAR Variable1\n-2\n";
	struct {
		std::string after, want;
	} cases[] = {
		{two, "2\n0 1\n-1 0\n1 1\n-2 0\n|"},
		{two + "-3\n", "2\n0 1\n-1 0\n1 1\n-2 0\n|" + changed},
		{two + "VAR Variable2\n", "2\n0 1\n-1 0\n1 1\n-2 0\n|" + changed},
		{two + "META\n", "2\n0 1\n-1 0\n1 1\n-2 0\n|" + changed},
		{"VAR Variable0\n-1\n-2\nVAR Variable1\n", "2\n0 1\n-1 0\n|" + changed},
		{"VAR Variable0\nVAR Variable1\n-1\n-2\n", "2\n0 1\n|" + changed},
		{"VAR Variable0\n-1\n", "2\n0 1\n-1 0\n|" + changed},
	};
	for (const auto &c : cases)
		EXPECT_EQ(converted({two, c.after}), c.want) << c.after;
}
