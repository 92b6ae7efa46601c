// The conversion written as plainly as it can be, a chunk at a time with
// nothing kept but the listing itself: the oracle that the fast paths and
// the threads are held to, on listings that do not change while read.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "listing/chunk.h"
#include "tests/captured.h"

// The rewritten form of one entry chunk.
inline std::string reference_entry(std::string_view chunk)
{
	std::string_view line = chunk.substr(0, chunk.find('\0'));
	line = line.substr(0, line.find('\n'));
	std::string numbers;
	int count = 0;
	std::int32_t last = 0;
	for (std::size_t at = line.find("Variable"); at != line.npos; at = line.find("Variable", at + 8)) {
		last = read_decimal(line.substr(at + 8)).value_or(last);
		numbers.append(" ").append(std::to_string(last));
		count++;
	}
	return std::string(line.substr(0, line.find(' '))) + " " + std::to_string(count) + numbers + "\n";
}

// Standard output, standard error and status of a run on input.
inline run_result reference_run(std::string_view input)
{
	std::string out, err;
	auto unrecognised = [&err](std::string_view chunk) {
		err += "trouble: unrecognized input line: ";
		err += chunk.substr(0, chunk.find('\0'));
		err += "\n";
	};
	auto chunks = [input](auto each) {
		for (std::size_t at = 0; at < input.size();) {
			std::size_t line = std::min(input.find('\n', at), input.size() - 1) - at + 1;
			std::size_t length = std::min(line, max_chunk);
			each(input.substr(at, length));
			at += length;
		}
	};
	// The tally: entry lines of each header's block, and the numbering.
	std::map<std::int64_t, std::int64_t> entries;
	std::int64_t headers = 0;
	std::int32_t current = -1;
	bool numbered = true;
	chunks([&](std::string_view c) {
		if (!numbered)
			return;
		kind k = classify(c);
		if (k == kind::header) {
			current = header_number(c).value_or(current);
			if (current != headers) {
				err += "trouble: v (" + std::to_string(current) + ") != i (" + std::to_string(headers) +
				       ")\n";
				numbered = false;
			}
			entries[headers++] = 0;
		}
		if (k == kind::entry && headers > 0)
			entries[headers - 1]++;
		if (k == kind::unrecognised)
			unrecognised(c);
	});
	if (!numbered)
		return {"", err, 6};
	out = std::to_string(headers > 0 ? headers : 1) + "\n";
	std::int64_t header = 0;
	chunks([&](std::string_view c) {
		kind k = classify(c);
		if (k == kind::header) {
			out += std::to_string(header) + " " + std::to_string(entries[header]) + "\n";
			header++;
		}
		if (k == kind::entry)
			out += reference_entry(c);
		if (k == kind::unrecognised)
			unrecognised(c);
	});
	return {out, err, 0};
}
