#include "listing/passes.h"

#include <algorithm>
#include <cstring>

#include "input/platform.h"

namespace {

// A worker that does not know where the pass stands learns it at the
// first header of its segment. It first hands on what it wrote before,
// so that the joiner can write that alone if the header breaks the
// numbering; handing it on may join the worker in its turn, which tells
// it where it stands.
void hand_on_lead_in(const position &at, output &out, output &err)
{
	if (at.index == unknown) {
		flush(out);
		flush(err);
	}
}

// Moves into the block of a header whose number reads as read, where the
// pass stands; at a worker's first header, keeps the seam for the joiner
// and moves where the header says.
void enter_header(position &at, seam &s, std::optional<std::int32_t> read)
{
	if (at.index == unknown) {
		s = {at.entries, true, read};
		if (!read)
			throw stop_segment{};
		enter_block(at, *read);
		return;
	}
	std::int32_t number = header_value(read, at.current);
	if (!follows_numbering(number, at.index))
		fail("trouble: v (%d) != i (%lld)\n", number, static_cast<long long>(at.index));
	enter_block(at, number);
}

// The whole chunks before a read that failed have been taken.
[[noreturn]] void fail_read(const reader &in)
{
	if (in.error == copy_not_written)
		fail("Could not copy file %s to a temporary file in %s: %s\n",
		     in.path,
		     temporary_folder(),
		     read_failure(in));
	fail("Could not read file %s: %s\n", in.path, read_failure(in));
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
	in.reason = read_failure(ahead);
	in.at_end = false;
	return std::nullopt;
}

// A variable line whose count is not yet known keeps room for the
// longest count and its newline, closed up once the count is known.
constexpr std::size_t count_room = number_room + 1;

// Writes the variable line of the block the pass has just entered, with
// the count the tally made or, past variable 99, with room for the count
// that the block's end gives.
void put_block_line(emit_pass &p, output &out)
{
	if (in_table(p.at.current)) {
		put_variable_line(out, p.at.current, (*p.counts)[p.at.current]);
		return;
	}
	p.pending = out.used;
	char *at = decimal(out.bytes.data() + out.used, p.at.current);
	*at++ = ' ';
	out.used = static_cast<std::size_t>(at - out.bytes.data()) + count_room;
}

// Puts the count into the pending variable line.
void settle(emit_pass &p, output &out, std::int64_t entries)
{
	char *room = std::find(out.bytes.data() + *p.pending, out.bytes.data() + out.used, ' ') + 1;
	char *at = decimal(room, entries);
	*at++ = '\n';
	char *end = std::copy(room + count_room, out.bytes.data() + out.used, at);
	out.used = static_cast<std::size_t>(end - out.bytes.data());
	p.pending.reset();
}

// Takes back the pending variable line and the listing's lines after it,
// whose count cannot be known: the pass writes no more of the listing.
void lose_pending(emit_pass &p, output &out)
{
	out.used = *p.pending;
	p.pending.reset();
	p.lost = true;
}

// Settles the pending variable line before anything but the block's own
// lines follows it: its count is read ahead, as the block runs on past
// what in has buffered. A block that cannot be read to its end loses its
// line, and the pass fails where the look-ahead did, past a segment's end
// too, once it has the diagnostics before.
void settle_ahead(emit_pass &p, pass_io io)
{
	if (auto more = count_block_ahead(io.in, io.ahead))
		settle(p, io.out, p.at.entries + *more);
	else
		lose_pending(p, io.out);
}

// Takes back the listing's lines written since mark, a variable line
// among them, where a block's count is lost.
void drop_if_lost(emit_pass &p, output &out, std::size_t mark)
{
	if (p.lost) {
		out.used = mark;
		p.pending.reset();
	}
}

// Takes a chunk of the emit pass, where it stands in io.in.
void emit_chunk(emit_pass &p, std::string_view c, pass_io &io)
{
	output &out = io.out;
	switch (classify(c)) {
	case kind::header: {
		if (p.pending)
			settle(p, out, p.at.entries);
		hand_on_lead_in(p.at, out, io.err);
		cross_header(p, header_number(c));
		std::size_t mark = out.used;
		put_block_line(p, out);
		drop_if_lost(p, out, mark);
		break;
	}
	case kind::metadata:
		break;
	case kind::entry: {
		std::int64_t room = room_left(*p.counts, p.at);
		if (room == 0)
			fail_changed(p.path);
		std::size_t mark = out.used;
		p.at.entries += rewrite_entry_lines(io.in, c, room, out);
		drop_if_lost(p, out, mark);
		break;
	}
	case kind::unrecognised:
		// Where err is out, a diagnostic must not wait behind the line.
		if (p.pending)
			settle_ahead(p, io);
		report_unrecognised(io.err, c);
		break;
	}
}

} // namespace

void fail_changed(const char *path)
{
	fail("File %s changed while it was read\n", path);
}

void cross_header(tally_pass &p, std::optional<std::int32_t> read)
{
	add_entries(p.counts, p.at.current, p.at.entries);
	enter_header(p.at, p.s, read);
}

void cross_header(emit_pass &p, std::optional<std::int32_t> read)
{
	if (!block_complete(*p.counts, p.at) || p.at.index == p.headers)
		fail_changed(p.path);
	enter_header(p.at, p.s, read);
}

void finish(tally_pass &p)
{
	add_entries(p.counts, p.at.current, p.at.entries);
	p.at.entries = 0;
}

void finish(emit_pass &p)
{
	if (!block_complete(*p.counts, p.at) || p.at.index != p.headers)
		fail_changed(p.path);
}

void run_pass(tally_pass &p, pass_io io)
{
	reader &in = io.in;
	while (auto c = next_chunk(in)) {
		switch (classify(*c)) {
		case kind::header:
			hand_on_lead_in(p.at, io.err, io.err);
			cross_header(p, header_number(*c));
			break;
		case kind::metadata:
			break;
		case kind::entry:
			p.at.entries += 1 + count_entry_lines(in);
			break;
		case kind::unrecognised:
			report_unrecognised(io.err, *c);
			break;
		}
	}
	if (in.error != 0)
		fail_read(in);
}

void run_pass(emit_pass &p, pass_io io)
{
	try {
		for (;;) {
			if (!has_line_room(io.out)) {
				if (p.pending)
					settle_ahead(p, io);
				flush(io.out);
			}
			auto c = next_chunk(io.in);
			if (!c && p.pending) {
				// The block runs on past in, which reads on to where its
				// look-ahead fails, if it does.
				settle_ahead(p, io);
				continue;
			}
			if (!c)
				break;
			emit_chunk(p, *c, io);
		}
		if (io.in.error != 0)
			fail_read(io.in);
	} catch (...) {
		// An unsettled line is never written.
		if (p.pending)
			io.out.used = *p.pending;
		throw;
	}
}
