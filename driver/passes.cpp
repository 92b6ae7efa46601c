#include "driver/passes.h"

#include <cerrno>
#include <cstring>

#include "driver/diagnostics.h"

namespace {

// In the emit pass, a block of a counted variable must hold as many entry
// lines as the tally pass counted in it.
void check_block(const char *path, const emit_state &state)
{
	if (in_table(state.current) && state.entries != (*state.counts)[state.current])
		fail_changed(path);
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

} // namespace

void fail_numbering(std::int32_t number, std::int64_t index)
{
	fail("trouble: v (%d) != i (%lld)\n", number, static_cast<long long>(index));
}

void accept_header(std::string_view chunk, std::int32_t &current, std::int64_t &index)
{
	current = header_number(chunk).value_or(current);
	if (current != index)
		fail_numbering(current, index);
	index++;
}

void add_entries(entry_counts &counts, std::int32_t variable, std::int64_t entries)
{
	if (in_table(variable))
		counts[variable] += entries;
}

std::int64_t room_left(const entry_counts &counts, std::int32_t variable, std::int64_t entries)
{
	return in_table(variable) ? counts[variable] - entries : no_limit;
}

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

void fail_changed(const char *path)
{
	fail("File %s changed while it was read\n", path);
}

void write_after(output &out, std::string_view bytes)
{
	flush(out);
	if (!write_all(out.fd, bytes))
		fail("Could not write output: %s\n", std::strerror(errno));
}

void flush(output &out)
{
	std::string_view bytes(out.bytes.data(), out.used);
	out.used = 0;
	if (!write_all(out.fd, bytes))
		fail("Could not write output: %s\n", std::strerror(errno));
}

void tally_lines(reader &in, tally_state &state)
{
	while (auto c = next_chunk(in)) {
		switch (classify(*c)) {
		case kind::header:
			accept_header(*c, state.current, state.index);
			break;
		case kind::metadata:
			break;
		case kind::entry:
			add_entries(state.counts, state.current, 1 + count_entry_lines(in));
			break;
		case kind::unrecognised:
			report_unrecognised(*c);
			break;
		}
	}
}

// A listing that no longer agrees with the tally ends the run before the
// line that would be wrong.
void emit_lines(reader &in, reader &ahead, emit_state &state, output &out)
{
	const entry_counts &counts = *state.counts;
	for (;;) {
		if (!has_line_room(out))
			make_room(in, ahead, out, state.entries);
		auto c = next_chunk(in);
		if (!c)
			break;
		switch (classify(*c)) {
		case kind::header:
			if (out.pending)
				settle_variable_line(out, state.entries);
			check_block(in.path, state);
			if (state.index == state.headers)
				fail_changed(in.path);
			accept_header(*c, state.current, state.index);
			if (in_table(state.current))
				put_variable_line(out, state.current, counts[state.current]);
			else
				put_pending_variable_line(out, state.current);
			state.entries = 0;
			break;
		case kind::metadata:
			break;
		case kind::entry: {
			std::int64_t room = room_left(counts, state.current, state.entries);
			if (room == 0)
				fail_changed(in.path);
			state.entries += rewrite_entry_lines(in, *c, room, out);
			break;
		}
		case kind::unrecognised:
			report_unrecognised(*c);
			break;
		}
	}
	if (out.pending)
		settle_variable_line(out, state.entries + count_block_ahead(in, ahead));
}

void finish_emit(const char *path, const emit_state &state)
{
	check_block(path, state);
	if (state.index != state.headers)
		fail_changed(path);
}
