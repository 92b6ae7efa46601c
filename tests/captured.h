// Runs a conversion as main does, with standard output and standard
// error captured: what a fatal problem leaves in the output buffer still
// goes out, and the status is 6.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "driver/diagnostics.h"
#include "listing/output.h"

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

// passes(out) runs the conversion.
template <typename Passes> run_result captured(Passes passes)
{
	std::FILE *out = std::tmpfile();
	std::FILE *err = std::tmpfile();
	int saved_err = dup(STDERR_FILENO);
	dup2(fileno(err), STDERR_FILENO);
	output_buffer buffer;
	output o{fileno(out), buffer};
	int status = 0;
	try {
		passes(o);
	} catch (const run_failed &) {
		write_all(o.fd, ready(o));
		status = 6;
	}
	dup2(saved_err, STDERR_FILENO);
	close(saved_err);
	run_result result{contents(out), contents(err), status};
	std::fclose(out);
	std::fclose(err);
	return result;
}
