#include "driver/convert.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sys/stat.h>

#include "driver/diagnostics.h"
#include "driver/reader.h"

namespace {

// Variables 0 to 99 have their entry lines counted in the tally pass;
// the blocks of later ones are counted by reading ahead in the emit pass.
using entry_counts = std::array<std::int64_t, 100>;

constexpr std::int64_t no_limit = std::numeric_limits<std::int64_t>::max();

bool in_table(std::int32_t variable)
{
	return variable >= 0 && static_cast<std::size_t>(variable) < entry_counts{}.size();
}

// Counts the entry lines from where in stands to the next header, then
// leaves the stream where in expects it.
std::int64_t count_block_ahead(const reader &in, reader &ahead)
{
	start_ahead(ahead, in);
	std::int64_t entries = count_entry_lines(ahead);
	while (auto c = next_chunk(ahead)) {
		kind k = classify(*c);
		if (k == kind::header)
			break;
		entries += k == kind::entry;
		entries += count_entry_lines(ahead);
	}
	end_ahead(ahead, in);
	return entries;
}

// What shows that a regular file changed between two looks at it.
struct stamp {
	bool known; // false for what is not a regular file
	off_t size;
	timespec modified;
};

// When the file was last changed: the build names the field, which is
// st_mtim in POSIX and st_mtimespec on macOS.
timespec modified(const struct stat &status)
{
	return status.VBLOCKS_MTIME;
}

stamp stamp_of(std::FILE *stream)
{
	struct stat status;
	if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode))
		return {false, 0, {}};
	return {true, status.st_size, modified(status)};
}

bool same(const stamp &a, const stamp &b)
{
	return a.known == b.known && a.size == b.size && a.modified.tv_sec == b.modified.tv_sec &&
	       a.modified.tv_nsec == b.modified.tv_nsec;
}

[[noreturn]] void fail_changed(const reader &in)
{
	fail("File %s changed while it was read\n", in.path);
}

// How many more entry lines the emit pass may meet in the block of
// variable: what the tally pass counted in it, less those already met;
// any number before the first header and past variable 99.
std::int64_t room_left(const entry_counts &counts, std::int32_t variable, std::int64_t entries)
{
	return in_table(variable) ? counts[variable] - entries : no_limit;
}

// In the emit pass, a block of a counted variable must hold as many entry
// lines as the tally pass counted in it.
void check_block(const reader &in, const entry_counts &counts, std::int32_t variable, std::int64_t entries)
{
	if (in_table(variable) && entries != counts[variable])
		fail_changed(in);
}

// Reads a header's number and holds it to the numbering rule: the k-th
// header of a pass carries k.
void accept_header(std::string_view chunk, std::int32_t &current, std::int64_t &index)
{
	current = header_number(chunk).value_or(current);
	if (current != index)
		fail("trouble: v (%d) != i (%lld)\n", current, static_cast<long long>(index));
	index++;
}

// Entry lines before the first header belong to no block.
void add_entries(entry_counts &counts, std::int32_t variable, std::int64_t entries)
{
	if (in_table(variable))
		counts[variable] += entries;
}

// Returns how many headers the listing holds.
std::int64_t tally(reader &in, entry_counts &counts)
{
	std::int32_t current = -1;
	std::int64_t index = 0;
	while (auto c = next_chunk(in)) {
		switch (classify(*c)) {
		case kind::header:
			accept_header(*c, current, index);
			break;
		case kind::metadata:
			break;
		case kind::entry:
			add_entries(counts, current, 1 + count_entry_lines(in));
			break;
		case kind::unrecognised:
			report_unrecognised(*c);
			break;
		}
	}
	return index;
}

// Writes the buffered output; ends the run at the first write that
// standard output refuses.
void flush(output &out)
{
	std::string_view bytes(out.bytes.data(), out.used);
	out.used = 0;
	if (!write_all(out.fd, bytes))
		fail("Could not write output: %s\n", std::strerror(errno));
}

// Empties the output buffer. A block past variable 99 waits in it for
// its count, or, when it does not fit, has the rest of its entry lines
// counted by reading ahead.
void make_room(const reader &in, reader &ahead, output &out, std::int64_t entries)
{
	if (out.pending)
		settle_variable_line(out, entries + count_block_ahead(in, ahead));
	flush(out);
}

// Writes the listing that the tally pass counted; a listing that no longer
// agrees with the count ends the run before the line that would be wrong.
void emit(reader &in, reader &ahead, const entry_counts &counts, std::int64_t headers, output &out)
{
	std::int32_t current = -1;
	std::int64_t index = 0;
	std::int64_t entries = 0; // written in the current block
	for (;;) {
		if (!has_line_room(out))
			make_room(in, ahead, out, entries);
		auto c = next_chunk(in);
		if (!c)
			break;
		switch (classify(*c)) {
		case kind::header:
			if (out.pending)
				settle_variable_line(out, entries);
			check_block(in, counts, current, entries);
			if (index == headers)
				fail_changed(in);
			accept_header(*c, current, index);
			if (in_table(current))
				put_variable_line(out, current, counts[current]);
			else
				put_pending_variable_line(out, current);
			entries = 0;
			break;
		case kind::metadata:
			break;
		case kind::entry: {
			std::int64_t room = room_left(counts, current, entries);
			if (room == 0)
				fail_changed(in);
			entries += rewrite_entry_lines(in, *c, room, out);
			break;
		}
		case kind::unrecognised:
			report_unrecognised(*c);
			break;
		}
	}
	if (out.pending)
		settle_variable_line(out, entries);
	check_block(in, counts, current, entries);
	if (index != headers)
		fail_changed(in);
}

} // namespace

void convert(std::FILE *in, const char *path, output &out)
{
	buffer pass_buffer;
	buffer ahead_buffer;
	reader pass{in, path, &pass_buffer};
	reader ahead{in, path, &ahead_buffer};
	entry_counts counts{};

	std::setvbuf(in, nullptr, _IONBF, 0);
	copy_if_unrewindable(pass);
	stamp before = stamp_of(in);
	std::int64_t headers = tally(pass, counts);
	std::int64_t tallied = pass.offset;
	flush_diagnostics();
	start_over(pass);
	put_count_line(out, headers > 0 ? headers : 1);
	emit(pass, ahead, counts, headers, out);
	if (pass.offset != tallied || !same(before, stamp_of(in)))
		fail_changed(pass);
	if (pass.stream != in)
		std::fclose(pass.stream);
	flush_diagnostics();
	flush(out);
}
