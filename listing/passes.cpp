#include "listing/passes.h"

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

void tally_header(tally_pass &p, std::optional<std::int32_t> read, output &out, output &err)
{
	hand_on_lead_in(p.at, out, err);
	add_entries(p.counts, p.at.current, p.at.entries);
	enter_header(p.at, p.s, read);
}

void emit_header(emit_pass &p, std::optional<std::int32_t> read, const char *path, output &out, output &err)
{
	hand_on_lead_in(p.at, out, err);
	if (!block_complete(*p.counts, p.at) || p.at.index == p.headers)
		fail_changed(path);
	enter_header(p.at, p.s, read);
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

// Puts in the count of the pending variable line, whose block runs on
// past what in has buffered, by reading ahead. A block that cannot be
// read to its end has a count that cannot be known: its variable line is
// lost, with what follows it, and the pass fails where the look-ahead
// did, past a segment's end too, once it has the lines before.
void settle_ahead(reader &in, reader &ahead, const position &at, output &out)
{
	if (auto more = count_block_ahead(in, ahead)) {
		settle_variable_line(out, at.entries + *more);
	} else {
		out.lost = true;
		drop_if_lost(out, *out.pending);
	}
}

} // namespace

void fail_changed(const char *path)
{
	fail("File %s changed while it was read\n", path);
}

void cross_header(tally_pass &p, std::optional<std::int32_t> read, const char * /*path*/)
{
	output none;
	tally_header(p, read, none, none);
}

void cross_header(emit_pass &p, std::optional<std::int32_t> read, const char *path)
{
	output none;
	emit_header(p, read, path, none, none);
}

void finish(tally_pass &p, const char * /*path*/)
{
	add_entries(p.counts, p.at.current, p.at.entries);
	p.at.entries = 0;
}

void finish(emit_pass &p, const char *path)
{
	if (!block_complete(*p.counts, p.at) || p.at.index != p.headers)
		fail_changed(path);
}

void run_pass(tally_pass &p, reader &in, reader & /*ahead*/, output & /*out*/, output &err)
{
	while (auto c = next_chunk(in)) {
		switch (classify(*c)) {
		case kind::header:
			tally_header(p, header_number(*c), err, err);
			break;
		case kind::metadata:
			break;
		case kind::entry:
			p.at.entries += 1 + count_entry_lines(in);
			break;
		case kind::unrecognised:
			report_unrecognised(err, *c);
			break;
		}
	}
	if (in.error != 0)
		fail_read(in);
}

void run_pass(emit_pass &p, reader &in, reader &ahead, output &out, output &err)
{
	for (;;) {
		if (!has_line_room(out)) {
			// A block past variable 99 waits in the buffer for its count,
			// which it gets here by reading ahead when it does not fit.
			if (out.pending)
				settle_ahead(in, ahead, p.at, out);
			flush(out);
		}
		auto c = next_chunk(in);
		if (!c && in.error != 0)
			fail_read(in);
		if (!c && out.pending) {
			// The block runs on past in.
			settle_ahead(in, ahead, p.at, out);
			continue;
		}
		if (!c)
			break;
		std::size_t mark;
		switch (classify(*c)) {
		case kind::header:
			if (out.pending)
				settle_variable_line(out, p.at.entries);
			emit_header(p, header_number(*c), in.path, out, err);
			mark = out.used;
			if (in_table(p.at.current)) {
				put_variable_line(out, p.at.current, (*p.counts)[p.at.current]);
			} else {
				put_pending_variable_line(out, p.at.current);
				// Where both streams go to one file, diagnostics would
				// wait behind the line, and be lost with it.
				if (&err == &out)
					settle_ahead(in, ahead, p.at, out);
			}
			drop_if_lost(out, mark);
			break;
		case kind::metadata:
			break;
		case kind::entry: {
			std::int64_t room = room_left(*p.counts, p.at);
			if (room == 0)
				fail_changed(in.path);
			mark = out.used;
			p.at.entries += rewrite_entry_lines(in, *c, room, out);
			drop_if_lost(out, mark);
			break;
		}
		case kind::unrecognised:
			report_unrecognised(err, *c);
			break;
		}
	}
}
