#include "driver/convert.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "driver/fail.h"
#include "listing/chunk.h"

namespace {

// Tests build with a small read size to cross many refills.
#ifndef VBLOCKS_READ_SIZE
#define VBLOCKS_READ_SIZE (std::size_t{128} * 1024)
#endif
constexpr std::size_t read_size = VBLOCKS_READ_SIZE;
static_assert(read_size >= max_chunk, "a read must hold a whole chunk");

// Variables 0 to 99 have their entry lines counted in the tally pass;
// the blocks of later ones are counted by reading ahead in the emit pass.
using entry_counts = std::array<std::int64_t, 100>;

bool in_table(std::int32_t variable)
{
	return variable >= 0 && static_cast<std::size_t>(variable) < entry_counts{}.size();
}

// Cuts a stream into chunks through a fixed buffer. While reading ahead,
// data may point into another reader's buffer until the first refill.
struct reader {
	std::FILE *stream;
	const char *path;
	char *storage;
	const char *data;
	std::size_t begin = 0; // the unread bytes are data[begin, end)
	std::size_t end = 0;
	std::int64_t offset = 0; // the stream's position: just past data[end)
	bool at_end = false;
};

void refill(reader &in)
{
	std::size_t kept = in.end - in.begin;
	std::memmove(in.storage, in.data + in.begin, kept);
	in.data = in.storage;
	in.begin = 0;
	std::size_t got = std::fread(in.storage + kept, 1, read_size - kept, in.stream);
	if (std::ferror(in.stream))
		fail("Could not read file %s\n", in.path);
	in.end = kept + got;
	in.offset += static_cast<std::int64_t>(got);
	in.at_end = std::feof(in.stream) != 0;
}

std::optional<std::string_view> next_chunk(reader &in)
{
	for (;;) {
		std::string_view window(in.data + in.begin, in.end - in.begin);
		std::size_t length = chunk_length(window, in.at_end);
		if (length != 0) {
			in.begin += length;
			return window.substr(0, length);
		}
		if (in.at_end)
			return std::nullopt;
		refill(in);
	}
}

void seek(reader &in, std::int64_t offset)
{
	if (std::fseek(in.stream, static_cast<long>(offset), SEEK_SET) != 0)
		fail("Could not rewind file %s\n", in.path);
}

void start_over(reader &in)
{
	seek(in, 0);
	in.data = in.storage;
	in.begin = in.end = 0;
	in.offset = 0;
	in.at_end = false;
}

// Counts the entry lines from where in stands to the next header, then
// leaves the stream where in expects it.
std::int64_t count_block_ahead(const reader &in, reader &ahead)
{
	ahead.data = in.data;
	ahead.begin = in.begin;
	ahead.end = in.end;
	ahead.offset = in.offset;
	ahead.at_end = in.at_end;

	std::int64_t entries = 0;
	while (auto chunk = next_chunk(ahead)) {
		kind k = classify(*chunk);
		if (k == kind::header)
			break;
		if (k == kind::entry)
			entries++;
	}
	if (ahead.offset != in.offset)
		seek(ahead, in.offset);
	return entries;
}

// Reads a header's number and holds it to the numbering rule: the k-th
// header of a pass carries k.
void accept_header(std::string_view chunk, std::int32_t &current, std::int64_t &index)
{
	current = header_number(chunk, current);
	if (current != index)
		fail("trouble: v (%d) != i (%lld)\n", current, static_cast<long long>(index));
	index++;
}

void report_unrecognised(std::string_view chunk)
{
	// %s shows the chunk as far as its first NUL.
	std::fprintf(stderr, "trouble: unrecognized input line: %.*s\n", static_cast<int>(chunk.size()), chunk.data());
}

// Returns how many headers the listing holds.
std::int64_t tally(reader &in, entry_counts &counts)
{
	std::int32_t current = -1;
	std::int64_t index = 0;
	while (auto chunk = next_chunk(in)) {
		switch (classify(*chunk)) {
		case kind::header:
			accept_header(*chunk, current, index);
			break;
		case kind::metadata:
			break;
		case kind::entry:
			// Entry lines before the first header belong to no block.
			if (in_table(current))
				counts[current]++;
			break;
		case kind::unrecognised:
			report_unrecognised(*chunk);
			break;
		}
	}
	return index;
}

void emit(reader &in, reader &ahead, const entry_counts &counts, output &out)
{
	std::int32_t current = -1;
	std::int64_t index = 0;
	while (auto chunk = next_chunk(in)) {
		switch (classify(*chunk)) {
		case kind::header:
			accept_header(*chunk, current, index);
			if (in_table(current))
				put_variable_line(out, current, counts[current]);
			else
				put_variable_line(out, current, count_block_ahead(in, ahead));
			break;
		case kind::metadata:
			break;
		case kind::entry:
			process(*chunk, out);
			break;
		case kind::unrecognised:
			report_unrecognised(*chunk);
			break;
		}
	}
}

} // namespace

void convert(std::FILE *in, const char *path, output &out)
{
	std::array<char, read_size> pass_buffer;
	std::array<char, read_size> ahead_buffer;
	reader pass{in, path, pass_buffer.data(), pass_buffer.data()};
	reader ahead{in, path, ahead_buffer.data(), ahead_buffer.data()};
	entry_counts counts{};

	std::setvbuf(in, nullptr, _IONBF, 0);
	std::int64_t headers = tally(pass, counts);
	start_over(pass);
	put_count_line(out, headers > 0 ? headers : 1);
	emit(pass, ahead, counts, out);

	flush(out);
	if (std::fflush(out.stream) != 0 || std::ferror(out.stream))
		fail("Could not write output\n");
}
