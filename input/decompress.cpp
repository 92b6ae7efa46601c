#include "input/decompress.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "input/fail.h"
#include "input/platform.h"

#ifdef VBLOCKS_ZLIB
#include <zlib.h>
#endif
#ifdef VBLOCKS_BZIP2
#include <bzlib.h>
#endif
#ifdef VBLOCKS_LZMA
#include <lzma.h>
#endif
#ifdef VBLOCKS_ZSTD
#include <zstd.h>
#endif

// The compressed file is read at offsets, so that a second decompressor
// of it needs nothing of the first. Each library takes the input from
// [next, end) and leaves what it has not used there.
namespace {

// A library the build has: how it starts, gives some of the listing, and
// ends.
struct library {
	format f;
	bool (*start)(decompressor &);
	ssize_t (*some)(decompressor &, char *, std::size_t);
	void (*end)(decompressor &);
};

} // namespace

struct decompressor {
	const library *lib = nullptr; // once started
	int fd = -1;
	std::int64_t offset = 0; // of the next byte to read
	read_in_turn in_turn;    // for input that cannot be reread
	bool input_ended = false;
	bool whole = false;  // the input so far ends where a stream ends
	bool padded = false; // zero bytes followed the last stream
	const char *reason = nullptr;
	std::array<char, std::size_t{64} * 1024> input;
	// The library fills this whole each time, so that what it makes, and
	// where it finds the file corrupt, does not depend on how much each
	// reader asks for.
	std::array<char, std::size_t{64} * 1024> output;
	std::size_t made = 0;  // bytes in it
	std::size_t taken = 0; // of those, already given out
#ifdef VBLOCKS_ZLIB
	z_stream z{};
#endif
#ifdef VBLOCKS_BZIP2
	bz_stream b{};
	bool next_stream = false; // a stream ended: the next, if any, starts afresh
#endif
#ifdef VBLOCKS_LZMA
	lzma_stream x = LZMA_STREAM_INIT;
#endif
#ifdef VBLOCKS_ZSTD
	ZSTD_DStream *zs = nullptr;
	ZSTD_inBuffer zin{nullptr, 0, 0};
#endif
};

namespace {

using namespace std::literals;

constexpr const char *cut_short = "unexpected end of file";

struct known_format {
	format f;
	std::string_view magic;
	const char *name;
	const char *command;
};

// bzip2's is its whole header: "BZh", a block size from 1 to 9, and the
// start of a block, or of the end of an empty stream.
constexpr std::array<known_format, 4> formats{{
	{format::gzip, "\x1f\x8b"sv, "gzip", "gzip -dc"},
	{format::bzip2, "BZh"sv, "bzip2", "bzip2 -dc"},
	{format::xz,
	 "\xfd"
	 "7zXZ\0"sv,
	 "xz",
	 "xz -dc"},
	{format::zstd, "\x28\xb5\x2f\xfd"sv, "zstd", "zstd -dc"},
}};

bool bzip2_header(std::string_view data)
{
	constexpr std::string_view block = "\x31\x41\x59\x26\x53\x59"sv;
	constexpr std::string_view end = "\x17\x72\x45\x38\x50\x90"sv;
	return data.size() >= 10 && data.starts_with("BZh") && data[3] >= '1' && data[3] <= '9' &&
	       (data.substr(4, 6) == block || data.substr(4, 6) == end);
}

// The end of the listing where it cannot be decompressed for reason: the
// made bytes that came before in the same call go first, so that how
// much of the listing there is does not depend on how it was asked for.
ssize_t failed(decompressor &d, const char *reason, std::size_t made = 0)
{
	d.reason = reason;
	return made > 0 ? static_cast<ssize_t>(made) : -1;
}

// Fills d.input from input that cannot be reread, as a read of a file
// fills it, up to its end or a read that fails: where a library finds a
// stream's end, or that it is corrupt, must not depend on how the writer
// of a pipe cut what it wrote. How many bytes; -1 where the first read
// fails.
ssize_t read_in_turn_whole(decompressor &d)
{
	std::size_t got = 0;
	for (ssize_t n = 1; n > 0 && got < d.input.size(); got += static_cast<std::size_t>(std::max<ssize_t>(n, 0))) {
		n = d.in_turn(d.input.data() + got, d.input.size() - got);
		if (n < 0 && got == 0)
			return -1;
	}
	return static_cast<ssize_t>(got);
}

// Reads more of the compressed file into d.input: how many bytes, 0 at
// its end, -1 where a read fails.
ssize_t read_input(decompressor &d)
{
	ssize_t n = d.in_turn ? read_in_turn_whole(d) : read_at(d.fd, d.input.data(), d.input.size(), d.offset);
	if (n < 0)
		return failed(d, std::strerror(errno));
	d.offset += n;
	d.input_ended = n == 0;
	return n;
}

// Reads more for a library that finds where its streams end itself: how
// many bytes; at the end of the file, 0 if a stream ended there, else -1,
// the file being cut short; -1 where a read fails.
[[maybe_unused]] ssize_t more_input(decompressor &d)
{
	ssize_t n = read_input(d);
	if (n != 0)
		return n;
	return d.whole ? 0 : failed(d, cut_short);
}

// Where a stream of a format that allows zero bytes after its last one
// has ended, made bytes after the call began: nothing where another
// stream follows, whose first byte is lead, at next; else what the call
// returns: at the end of the file, any zero bytes before it passed over,
// the bytes made; for any other byte, or a read that fails, the end.
template <typename Byte, typename Size>
[[maybe_unused]] std::optional<ssize_t> after_stream(decompressor &d, Byte *&next, Size &available, char lead,
						     std::size_t made)
{
	for (;;) {
		for (; available > 0 && *next == 0; next++, available--)
			d.padded = true;
		if (available > 0 && (d.padded || *next != static_cast<Byte>(lead)))
			return failed(d, "bytes after the compressed data", made);
		if (available > 0)
			return std::nullopt;
		ssize_t n = read_input(d);
		if (n <= 0)
			return n == 0 ? static_cast<ssize_t>(made) : failed(d, d.reason, made);
		next = reinterpret_cast<Byte *>(d.input.data());
		available = static_cast<Size>(n);
	}
}

#ifdef VBLOCKS_ZLIB
const char *zlib_reason(const z_stream &z, int r)
{
	if (r == Z_MEM_ERROR)
		return "out of memory";
	return z.msg != nullptr ? z.msg : "invalid compressed data";
}

ssize_t inflate_some(decompressor &d, char *bytes, std::size_t size)
{
	z_stream &z = d.z;
	z.next_out = reinterpret_cast<Bytef *>(bytes);
	z.avail_out = static_cast<uInt>(size);
	for (;;) {
		int r = inflate(&z, Z_NO_FLUSH);
		if (r == Z_STREAM_END) {
			// Members follow one another, as gzip writes them.
			d.whole = true;
			inflateReset(&z);
			if (auto end = after_stream(d, z.next_in, z.avail_in, '\x1f', size - z.avail_out))
				return *end;
		} else if (r == Z_OK) {
			d.whole = false;
		} else if (r != Z_BUF_ERROR || z.avail_in > 0) {
			// No progress with input to spare would be no progress ever.
			return failed(d, zlib_reason(z, r), size - z.avail_out);
		}
		if (z.avail_out < size)
			return static_cast<ssize_t>(size - z.avail_out);
		if (z.avail_in == 0) {
			ssize_t n = more_input(d);
			if (n <= 0)
				return n;
			z.next_in = reinterpret_cast<Bytef *>(d.input.data());
			z.avail_in = static_cast<uInt>(n);
		}
	}
}
#endif

#ifdef VBLOCKS_BZIP2
const char *bzip2_reason(int r)
{
	switch (r) {
	case BZ_DATA_ERROR:
		return "data integrity (CRC) error in data";
	case BZ_DATA_ERROR_MAGIC:
		return "bad magic number";
	case BZ_MEM_ERROR:
		return "out of memory";
	default:
		return "invalid compressed data";
	}
}

ssize_t bunzip_some(decompressor &d, char *bytes, std::size_t size)
{
	bz_stream &b = d.b;
	b.next_out = bytes;
	b.avail_out = static_cast<unsigned>(size);
	for (;;) {
		if (d.next_stream && b.avail_in > 0) {
			// Streams follow one another, as parallel compressors write
			// them.
			BZ2_bzDecompressEnd(&b);
			int r = BZ2_bzDecompressInit(&b, 0, 0);
			if (r != BZ_OK)
				return failed(d, bzip2_reason(r), size - b.avail_out);
			d.next_stream = d.whole = false;
		}
		if (!d.next_stream) {
			int r = BZ2_bzDecompress(&b);
			if (r == BZ_STREAM_END) {
				d.next_stream = d.whole = true;
				if (auto end = after_stream(d, b.next_in, b.avail_in, 'B', size - b.avail_out))
					return *end;
			} else if (r != BZ_OK)
				return failed(d, bzip2_reason(r), size - b.avail_out);
		}
		if (b.avail_out < size)
			return static_cast<ssize_t>(size - b.avail_out);
		if (b.avail_in == 0) {
			ssize_t n = more_input(d);
			if (n <= 0)
				return n;
			b.next_in = d.input.data();
			b.avail_in = static_cast<unsigned>(n);
		}
	}
}
#endif

#ifdef VBLOCKS_LZMA
const char *lzma_reason(lzma_ret r)
{
	switch (r) {
	case LZMA_MEM_ERROR:
	case LZMA_MEMLIMIT_ERROR:
		return "out of memory";
	case LZMA_FORMAT_ERROR:
		return "file format not recognized";
	case LZMA_OPTIONS_ERROR:
		return "unsupported compression options";
	case LZMA_BUF_ERROR:
		return cut_short;
	default:
		return "compressed data is corrupt";
	}
}

ssize_t unxz_some(decompressor &d, char *bytes, std::size_t size)
{
	lzma_stream &x = d.x;
	x.next_out = reinterpret_cast<std::uint8_t *>(bytes);
	x.avail_out = size;
	for (;;) {
		lzma_ret r = lzma_code(&x, d.input_ended ? LZMA_FINISH : LZMA_RUN);
		if (r != LZMA_OK && r != LZMA_STREAM_END)
			return failed(d, lzma_reason(r), size - x.avail_out);
		if (x.avail_out < size || r == LZMA_STREAM_END)
			return static_cast<ssize_t>(size - x.avail_out);
		if (x.avail_in == 0 && !d.input_ended) {
			ssize_t n = read_input(d);
			if (n < 0)
				return -1;
			x.next_in = reinterpret_cast<const std::uint8_t *>(d.input.data());
			x.avail_in = static_cast<std::size_t>(n);
		}
	}
}
#endif

#ifdef VBLOCKS_ZSTD
ssize_t unzstd_some(decompressor &d, ZSTD_outBuffer out)
{
	for (;;) {
		std::size_t used = d.zin.pos;
		std::size_t r = ZSTD_decompressStream(d.zs, &out, &d.zin);
		if (ZSTD_isError(r))
			return failed(d, ZSTD_getErrorName(r), out.pos);
		// Frames follow one another, as zstd writes them; a call that
		// moves nothing says nothing of where the last one ended.
		if (d.zin.pos != used || out.pos > 0)
			d.whole = r == 0;
		if (out.pos > 0)
			return static_cast<ssize_t>(out.pos);
		if (d.zin.pos == d.zin.size) {
			ssize_t n = more_input(d);
			if (n <= 0)
				return n;
			d.zin = {d.input.data(), static_cast<std::size_t>(n), 0};
		}
	}
}
#endif

// The libraries the build has, as the table below gives them.
constexpr library libraries[] = {
#ifdef VBLOCKS_ZLIB
	{format::gzip,
	 [](decompressor &d) { return inflateInit2(&d.z, 16 + MAX_WBITS) == Z_OK; },
	 inflate_some,
	 [](decompressor &d) { inflateEnd(&d.z); }},
#endif
#ifdef VBLOCKS_BZIP2
	{format::bzip2,
	 [](decompressor &d) { return BZ2_bzDecompressInit(&d.b, 0, 0) == BZ_OK; },
	 bunzip_some,
	 [](decompressor &d) { BZ2_bzDecompressEnd(&d.b); }},
#endif
#ifdef VBLOCKS_LZMA
	{format::xz,
	 [](decompressor &d) { return lzma_stream_decoder(&d.x, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK; },
	 unxz_some,
	 [](decompressor &d) { lzma_end(&d.x); }},
#endif
#ifdef VBLOCKS_ZSTD
	{format::zstd,
	 [](decompressor &d) { return (d.zs = ZSTD_createDStream()) != nullptr; },
	 [](decompressor &d, char *bytes, std::size_t size) {
		 return unzstd_some(d, {bytes, size, 0});
	 },
	 [](decompressor &d) { ZSTD_freeDStream(d.zs); }},
#endif
	{format::none, nullptr, nullptr, nullptr}, // the end of the table
};

const library *library_of(format f)
{
	for (const library &l : libraries)
		if (l.f == f && f != format::none)
			return &l;
	return nullptr;
}

} // namespace

// A zstd file may begin with a skippable frame, whose magic number is any
// of 0x184D2A50 to 0x184D2A5F.
bool skippable_frame(std::string_view data)
{
	return data.size() >= 4 && (data[0] & 0xf0) == 0x50 && data.substr(1, 3) == "\x2a\x4d\x18"sv;
}

format format_of(std::string_view data)
{
	for (const known_format &k : formats)
		if (data.starts_with(k.magic) && (k.f != format::bzip2 || bzip2_header(data)))
			return k.f;
	return skippable_frame(data) ? format::zstd : format::none;
}

bool decompress_to_end(decompressor &d)
{
	while (d.reason == nullptr && d.lib->some(d, d.output.data(), d.output.size()) > 0)
		d.made = d.taken = 0;
	return d.reason == nullptr;
}

decompressing start_decompressing(int fd, format f, const char *path, read_in_turn in_turn)
{
	const library *lib = library_of(f);
	for (const known_format &k : formats)
		if (lib == nullptr && k.f == f)
			fail("File %s is compressed with %s, which this build cannot read: convert it with %s %s | "
			     "vblocks -\n",
			     path,
			     k.name,
			     k.command,
			     path);
	decompressing d(new (std::nothrow) decompressor);
	if (d) {
		d->fd = fd;
		d->in_turn = std::move(in_turn);
	}
	if (!d || lib == nullptr || !lib->start(*d))
		fail("Could not read file %s: %s\n", path, std::strerror(ENOMEM));
	d->lib = lib;
	return d;
}

void end_decompressing(decompressor *d)
{
	if (d->lib != nullptr)
		d->lib->end(*d);
	delete d;
}

ssize_t decompress(decompressor &d, char *bytes, std::size_t size)
{
	if (d.taken == d.made) {
		if (d.reason != nullptr)
			return -1;
		ssize_t n = d.lib->some(d, d.output.data(), d.output.size());
		if (n <= 0)
			return n;
		d.made = static_cast<std::size_t>(n);
		d.taken = 0;
	}
	std::size_t n = std::min(size, d.made - d.taken);
	std::memcpy(bytes, d.output.data() + d.taken, n);
	d.taken += n;
	return static_cast<ssize_t>(n);
}

const char *why(const decompressor &d)
{
	return d.reason != nullptr ? d.reason : "invalid compressed data";
}
