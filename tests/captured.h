// Runs a conversion as main does, with standard output and standard
// error captured, apart or into one file: what a fatal problem leaves in
// the buffers still goes out, and the status is 6.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "driver/run.h"
#include "listing/output.h"
#include "tests/in_time.h"

inline std::string contents(std::FILE *file)
{
	std::string text;
	std::array<char, 4096> bytes;
	std::rewind(file);
	while (std::size_t n = std::fread(bytes.data(), 1, bytes.size(), file))
		text.append(bytes.data(), n);
	return text;
}

struct run_result {
	std::string out, err;
	int status;
	bool operator==(const run_result &) const = default;
};

// passes(out, err) runs the conversion; with merged, err is out, and
// both streams go to one file, whose bytes the result gives as out.
template <typename Passes> run_result captured(Passes passes, bool merged = false)
{
	std::fflush(stdout);
	std::FILE *out = std::tmpfile();
	std::FILE *err = std::tmpfile();
	int saved_out = dup(STDOUT_FILENO);
	int saved_err = dup(STDERR_FILENO);
	dup2(fileno(out), STDOUT_FILENO);
	dup2(fileno(merged ? out : err), STDERR_FILENO);
	std::array<char, output_size> out_bytes, err_bytes;
	output o{out_bytes, 0, STDOUT_FILENO, write_out};
	output own_err{err_bytes, 0, STDERR_FILENO, write_out};
	output &e = merged ? o : own_err;
	auto run = [&] {
		try {
			passes(o, e);
		} catch (const run_failed &f) {
			return end_failed(f, o, e);
		}
		return 0;
	};
	int status = in_time(run, saved_err, "a conversion did not end: the pool's pieces may be stuck\n");
	dup2(saved_out, STDOUT_FILENO);
	dup2(saved_err, STDERR_FILENO);
	close(saved_out);
	close(saved_err);
	run_result result{contents(out), contents(err), status};
	std::fclose(out);
	std::fclose(err);
	return result;
}
