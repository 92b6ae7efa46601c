#include "driver/passes.h"

#include <cerrno>
#include <cstring>

#include "driver/platform.h"

namespace {

// Moves into the block of a header whose number reads as read, if the
// header follows the numbering where the pass stands.
void enter_numbered_block(position &at, std::optional<std::int32_t> read, lane &l)
{
	std::int32_t number = header_value(read, at.current);
	if (!follows_numbering(number, at.index))
		fail(l, "trouble: v (%d) != i (%lld)\n", number, static_cast<long long>(at.index));
	enter_block(at, number);
}

// The whole chunks before a read that failed have been taken.
[[noreturn]] void fail_read(lane &l, const reader &in)
{
	if (in.error == copy_not_written)
		fail(l,
		     "Could not copy file %s to a temporary file in %s: %s\n",
		     in.path,
		     temporary_folder(),
		     std::strerror(in.source->write_error));
	const char *reason = in.error == not_decompressed ? why(*in.source->unpack) : std::strerror(in.error);
	fail(l, "Could not read file %s: %s\n", in.path, reason);
}

// The entry lines from where in stands to the next header, read ahead;
// nothing when a read fails before it, and then in goes on to where the
// look-ahead failed, and no further.
std::optional<std::int64_t> count_block_ahead(reader &in, reader &ahead)
{
	start_ahead(ahead, in);
	std::int64_t entries = count_entry_lines(ahead);
	while (auto c = next_chunk(ahead)) {
		kind k = classify(*c);
		if (k == kind::header)
			return entries;
		entries += k == kind::entry;
		entries += count_entry_lines(ahead);
	}
	if (ahead.error == 0)
		return entries;
	in.limit = ahead.limit;
	in.error = ahead.error;
	in.at_end = false;
	return std::nullopt;
}

// Puts in the count of the pending variable line, whose block runs on
// past what in has buffered, by reading ahead. A block that cannot be
// read to its end has a count that cannot be known: its variable line is
// lost, with what follows it, and the pass fails where the look-ahead
// did, past a segment's end too, once it has the lines before.
void settle_ahead(reader &in, reader &ahead, const position &at, output &out)
{
	if (auto more = count_block_ahead(in, ahead))
		settle_variable_line(out, at.entries + *more);
	else
		out.lost = true;
}

// Empties the output buffer. A block past variable 99 waits in it for
// its count, which it gets here by reading ahead when it does not fit.
void make_room(reader &in, reader &ahead, const position &at, output &out, lane &l)
{
	if (out.pending && !out.lost)
		settle_ahead(in, ahead, at, out);
	flush(out, l);
}

} // namespace

void fail_changed(lane &l, const char *path)
{
	fail(l, "File %s changed while it was read\n", path);
}

void write_output(int fd, std::string_view bytes, lane &l)
{
	if (write_all(fd, bytes) != bytes.size())
		fail(l, "Could not write output: %s\n", std::strerror(errno));
}

void flush(output &out, lane &l)
{
	take_turn(l);
	write_output(out.fd, ready(out), l);
	// A lost variable line holds back what follows it for good.
	out.used = 0;
	if (out.lost)
		out.pending = 0;
}

void tally_header(tally_state &state, std::optional<std::int32_t> read, lane &l)
{
	add_entries(state.counts, state.at.current, state.at.entries);
	enter_numbered_block(state.at, read, l);
}

void emit_header(emit_state &state, std::optional<std::int32_t> read, const char *path, lane &l)
{
	if (!block_complete(*state.counts, state.at) || state.at.index == state.headers)
		fail_changed(l, path);
	enter_numbered_block(state.at, read, l);
}

void finish_tally(tally_state &state)
{
	add_entries(state.counts, state.at.current, state.at.entries);
	state.at.entries = 0;
}

void finish_emit(const emit_state &state, const char *path, lane &l)
{
	if (!block_complete(*state.counts, state.at) || state.at.index != state.headers)
		fail_changed(l, path);
}

void tally_lines(reader &in, tally_state &state, lane &l)
{
	while (auto c = next_chunk(in)) {
		switch (classify(*c)) {
		case kind::header:
			if (state.at.index == unknown) {
				put_back(in, *c);
				return;
			}
			tally_header(state, header_number(*c), l);
			break;
		case kind::metadata:
			break;
		case kind::entry:
			state.at.entries += 1 + count_entry_lines(in);
			break;
		case kind::unrecognised:
			report_unrecognised(l, *c);
			break;
		}
	}
	if (in.error != 0)
		fail_read(l, in);
}

// A listing that no longer agrees with the tally ends the run before the
// line that would be wrong.
void emit_lines(reader &in, reader &ahead, emit_state &state, output &out, lane &l)
{
	const entry_counts &counts = *state.counts;
	for (;;) {
		if (!has_line_room(out))
			make_room(in, ahead, state.at, out, l);
		auto c = next_chunk(in);
		if (!c && in.error != 0)
			fail_read(l, in);
		if (!c && out.pending && !out.lost) {
			// The block runs on past in.
			settle_ahead(in, ahead, state.at, out);
			continue;
		}
		if (!c)
			break;
		switch (classify(*c)) {
		case kind::header:
			if (state.at.index == unknown) {
				put_back(in, *c);
				return;
			}
			if (out.pending)
				settle_variable_line(out, state.at.entries);
			emit_header(state, header_number(*c), in.path, l);
			if (in_table(state.at.current))
				put_variable_line(out, state.at.current, counts[state.at.current]);
			else
				put_pending_variable_line(out, state.at.current);
			break;
		case kind::metadata:
			break;
		case kind::entry: {
			std::int64_t room = room_left(counts, state.at);
			if (room == 0)
				fail_changed(l, in.path);
			state.at.entries += rewrite_entry_lines(in, *c, room, out);
			break;
		}
		case kind::unrecognised:
			report_unrecognised(l, *c);
			break;
		}
	}
}
