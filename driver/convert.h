// The two passes over one variable listing.
#pragma once

#include <cstdio>

#include "listing/output.h"

// Tallies the listing, rewinds it and writes the numeric listing to out,
// on up to threads threads; one runs the passes in turn on the calling
// thread alone. Every fatal problem goes through fail; path names the
// input in its messages.
void convert(std::FILE *in, const char *path, output &out, int threads);
