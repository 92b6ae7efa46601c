#include "listing/reader.h"

#include <cstring>

#include "input/platform.h"

namespace {

// Where in the buffer to keep the unread bytes before a read from offset.
// The system's copy into memory runs several times slower on some
// processors (rep movsb on AMD's) when it lands 1 to 31 bytes past where
// its source stands in a page; such a read lands 32 bytes past instead.
std::size_t landing(const buffer &b, std::size_t kept, std::int64_t offset)
{
	auto at = reinterpret_cast<std::uintptr_t>(b.bytes.data() + kept);
	std::uintptr_t past = (at - static_cast<std::uintptr_t>(offset)) % 4096;
	return past >= 1 && past < 32 && read_size - kept >= 64 ? 32 - past : 0;
}

} // namespace

void refill(reader &in)
{
	buffer &b = *in.own;
	std::size_t kept = in.end - in.begin;
	std::size_t start = in.in_turn ? 0 : landing(b, kept, in.offset);
	std::memmove(b.bytes.data() + start, in.view->bytes.data() + in.begin, kept);
	in.view = &b;
	in.begin = start;
	std::size_t lands = start + kept;
	std::size_t want = std::min(read_size - lands, in.next_read);
	if (in.limit - in.offset < static_cast<std::int64_t>(want))
		want = static_cast<std::size_t>(in.limit - in.offset);
	in.next_read = std::min(2 * in.next_read, read_size);
	taken t = read_input(in.in_turn ? in.source : nullptr,
			     in.fd,
			     in.offset,
			     b.bytes.data() + lands,
			     want,
			     read_size - lands,
			     in.path);
	if (t.error != 0) {
		in.limit = in.offset + static_cast<std::int64_t>(t.bytes);
		in.error = t.error;
		in.reason = nullptr;
	}
	in.end = lands + t.bytes;
	in.offset += static_cast<std::int64_t>(t.bytes);
	in.at_end = t.bytes == 0 || in.offset == in.limit;
	kernel_in_use().map_bytes({b.bytes.data(), in.end}, {b.newlines.data(), b.dashes.data()});
	std::size_t words = bitmap_words(in.end);
	b.newlines[words] = b.dashes[words] = 0;
	// So that process sees no line end or start past the bytes.
	std::fill_n(b.bytes.begin() + static_cast<std::ptrdiff_t>(in.end), 64, '\0');
}

std::int64_t rewrite_entry_lines(reader &in, std::string_view chunk, std::int64_t most, output &out)
{
	const char *end = in.view->bytes.data() + in.end;
	rewritten r = process({chunk.data(), static_cast<std::size_t>(end - chunk.data())}, chunk.size(), most, out);
	in.begin += r.bytes - chunk.size();
	return r.lines;
}

void start_ahead(reader &ahead, const reader &in)
{
	ahead.fd = in.fd;
	ahead.view = in.view;
	ahead.begin = in.begin;
	ahead.end = in.end;
	ahead.offset = in.offset;
	ahead.next_read = first_read_ahead;
	// A segment's look-ahead reads on past its end, but not past a read
	// that failed.
	ahead.limit = in.error != 0 ? in.limit : no_end;
	ahead.error = in.error;
	ahead.reason = in.error != 0 ? read_failure(in) : nullptr;
	ahead.at_end = in.at_end && in.offset != in.limit;
}

const char *read_failure(const reader &in)
{
	if (in.reason != nullptr)
		return in.reason;
	return in.source != nullptr ? failure_of(*in.source, in.error) : std::strerror(in.error);
}
