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
// of it needs nothing of the first. It is read a buffer at a time into
// input, whose unused bytes are [next, end): each library takes what it
// can of them.
namespace {

// What one call of a library made: bytes of the listing, why it failed,
// and whether a stream ended there, after which the decompressing loop
// looks at what follows.
struct decoded {
	std::size_t made;
	const char *failure;
	bool stream_ended;
};

// A library the build has: how a stream starts (the first, or the next
// after one ended), how it gives some of the listing, and how it ends.
struct library {
	bool (*start)(decompressor &);
	decoded (*decode)(decompressor &, char *, std::size_t);
	void (*end)(decompressor &);
};

} // namespace

struct decompressor {
	const library *lib = nullptr; // once its first stream has started
	char lead = 0;                // the first byte of a stream, where the loop looks for the next
	int fd = -1;
	std::int64_t offset = 0; // of the next byte to read
	read_in_turn in_turn;    // for input that cannot be reread
	bool input_ended = false;
	bool whole = false;    // the input so far ends where a stream ends
	bool padded = false;   // zero bytes followed the last stream
	bool finished = false; // the last stream has ended, and the file with it
	const char *reason = nullptr;
	std::array<char, std::size_t{64} * 1024> input;
	char *next = input.data();
	char *end = input.data();
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
#endif
#ifdef VBLOCKS_LZMA
	lzma_stream x = LZMA_STREAM_INIT;
#endif
#ifdef VBLOCKS_ZSTD
	ZSTD_DStream *zs = nullptr;
#endif
};

namespace {

using namespace std::literals;

constexpr const char *cut_short = "unexpected end of file";
constexpr const char *no_memory = "out of memory";

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

// Reads more of the compressed file into d.input, its bytes all used:
// how many bytes, 0 at its end, -1 where a read fails.
ssize_t read_input(decompressor &d)
{
	ssize_t n = d.in_turn ? read_in_turn_whole(d) : read_at(d.fd, d.input.data(), d.input.size(), d.offset);
	if (n < 0)
		return failed(d, std::strerror(errno));
	d.offset += n;
	d.input_ended = n == 0;
	d.next = d.input.data();
	d.end = d.next + n;
	return n;
}

// Where a stream of a format that the loop reads stream by stream has
// ended, made bytes after the call began: nothing where another stream
// follows, at next; else what the call returns: at the end of the file,
// any zero bytes before it passed over, the bytes made; for any other
// byte, or a read that fails, the end.
std::optional<ssize_t> after_stream(decompressor &d, std::size_t made)
{
	for (;;) {
		for (; d.next != d.end && *d.next == 0; d.next++)
			d.padded = true;
		if (d.next != d.end && (d.padded || *d.next != d.lead))
			return failed(d, "bytes after the compressed data", made);
		if (d.next != d.end)
			return std::nullopt;
		ssize_t n = read_input(d);
		if (n == 0)
			d.finished = true;
		if (n <= 0)
			return n == 0 ? static_cast<ssize_t>(made) : failed(d, d.reason, made);
	}
}

// Up to size bytes of the listing into bytes: the one loop over the
// streams of every format. How many, 0 at the end of the last stream; -1
// where the file cannot be read, or is cut short or corrupt.
ssize_t decode_some(decompressor &d, char *bytes, std::size_t size)
{
	if (d.finished)
		return 0;
	for (;;) {
		decoded r = d.lib->decode(d, bytes, size);
		if (r.failure != nullptr)
			return failed(d, r.failure, r.made);
		if (r.stream_ended) {
			d.whole = true;
			if (auto end = after_stream(d, r.made))
				return *end;
			if (!d.lib->start(d))
				return failed(d, no_memory, r.made);
		}
		if (r.made > 0)
			return static_cast<ssize_t>(r.made);
		// The library has all the input: it has one more call, to end,
		// once there is no more.
		if (d.next == d.end && d.input_ended)
			return d.whole ? 0 : failed(d, cut_short);
		if (d.next == d.end && read_input(d) < 0)
			return -1;
	}
}

#ifdef VBLOCKS_ZLIB
const char *zlib_reason(const z_stream &z, int r)
{
	if (r == Z_MEM_ERROR)
		return no_memory;
	return z.msg != nullptr ? z.msg : "invalid compressed data";
}

// Members follow one another, as gzip writes them.
decoded inflate_some(decompressor &d, char *bytes, std::size_t size)
{
	z_stream &z = d.z;
	z.next_in = reinterpret_cast<Bytef *>(d.next);
	z.avail_in = static_cast<uInt>(d.end - d.next);
	z.next_out = reinterpret_cast<Bytef *>(bytes);
	z.avail_out = static_cast<uInt>(size);
	int r = inflate(&z, Z_NO_FLUSH);
	d.next = reinterpret_cast<char *>(z.next_in);
	std::size_t made = size - z.avail_out;
	if (r == Z_OK)
		d.whole = false;
	// No progress with input to spare would be no progress ever.
	bool stuck = r == Z_BUF_ERROR && z.avail_in > 0;
	if (r != Z_OK && r != Z_STREAM_END && (r != Z_BUF_ERROR || stuck))
		return {made, zlib_reason(z, r), false};
	return {made, nullptr, r == Z_STREAM_END};
}

constexpr library zlib{[](decompressor &d) {
			       return (d.lib != nullptr ? inflateReset(&d.z) : inflateInit2(&d.z, 16 + MAX_WBITS)) ==
				      Z_OK;
		       },
		       inflate_some,
		       [](decompressor &d) { inflateEnd(&d.z); }};
constexpr const library *gzip_library = &zlib;
#else
constexpr const library *gzip_library = nullptr;
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
		return no_memory;
	default:
		return "invalid compressed data";
	}
}

// Streams follow one another, as parallel compressors write them.
decoded bunzip_some(decompressor &d, char *bytes, std::size_t size)
{
	bz_stream &b = d.b;
	b.next_in = d.next;
	b.avail_in = static_cast<unsigned>(d.end - d.next);
	b.next_out = bytes;
	b.avail_out = static_cast<unsigned>(size);
	int r = BZ2_bzDecompress(&b);
	d.next = b.next_in;
	std::size_t made = size - b.avail_out;
	if (r != BZ_OK && r != BZ_STREAM_END)
		return {made, bzip2_reason(r), false};
	return {made, nullptr, r == BZ_STREAM_END};
}

constexpr library bzip2{[](decompressor &d) {
				if (d.lib != nullptr)
					BZ2_bzDecompressEnd(&d.b);
				return BZ2_bzDecompressInit(&d.b, 0, 0) == BZ_OK;
			},
			bunzip_some,
			[](decompressor &d) { BZ2_bzDecompressEnd(&d.b); }};
constexpr const library *bzip2_library = &bzip2;
#else
constexpr const library *bzip2_library = nullptr;
#endif

#ifdef VBLOCKS_LZMA
const char *lzma_reason(lzma_ret r)
{
	switch (r) {
	case LZMA_MEM_ERROR:
	case LZMA_MEMLIMIT_ERROR:
		return no_memory;
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

// The library reads one stream after another itself, and what follows
// the last, told where the file ends.
decoded unxz_some(decompressor &d, char *bytes, std::size_t size)
{
	lzma_stream &x = d.x;
	x.next_in = reinterpret_cast<const std::uint8_t *>(d.next);
	x.avail_in = static_cast<std::size_t>(d.end - d.next);
	x.next_out = reinterpret_cast<std::uint8_t *>(bytes);
	x.avail_out = size;
	lzma_ret r = lzma_code(&x, d.input_ended ? LZMA_FINISH : LZMA_RUN);
	d.next += x.next_in - reinterpret_cast<const std::uint8_t *>(d.next);
	std::size_t made = size - x.avail_out;
	if (r != LZMA_OK && r != LZMA_STREAM_END)
		return {made, lzma_reason(r), false};
	if (r == LZMA_STREAM_END)
		d.whole = d.finished = true;
	return {made, nullptr, false};
}

constexpr library lzma{
	[](decompressor &d) { return lzma_stream_decoder(&d.x, UINT64_MAX, LZMA_CONCATENATED) == LZMA_OK; },
	unxz_some,
	[](decompressor &d) { lzma_end(&d.x); }};
constexpr const library *xz_library = &lzma;
#else
constexpr const library *xz_library = nullptr;
#endif

#ifdef VBLOCKS_ZSTD
// The library reads one frame after another itself; a call that moves
// nothing says nothing of where the last one ended.
decoded unzstd_some(decompressor &d, ZSTD_outBuffer out)
{
	ZSTD_inBuffer in{d.next, static_cast<std::size_t>(d.end - d.next), 0};
	std::size_t r = ZSTD_decompressStream(d.zs, &out, &in);
	d.next += in.pos;
	if (ZSTD_isError(r))
		return {out.pos, ZSTD_getErrorName(r), false};
	if (in.pos > 0 || out.pos > 0)
		d.whole = r == 0;
	return {out.pos, nullptr, false};
}

constexpr library zstd{[](decompressor &d) { return (d.zs = ZSTD_createDStream()) != nullptr; },
		       [](decompressor &d, char *bytes, std::size_t size) {
			       return unzstd_some(d, {bytes, size, 0});
		       },
		       [](decompressor &d) { ZSTD_freeDStream(d.zs); }};
constexpr const library *zstd_library = &zstd;
#else
constexpr const library *zstd_library = nullptr;
#endif

// The formats: how each is known, what converts it, and its library
// where the build has it.
struct known_format {
	format f;
	std::string_view magic;
	const char *name;
	const char *command;
	const library *lib;
};

// bzip2's magic number is its whole header: "BZh", a block size from 1
// to 9, and the start of a block, or of the end of an empty stream.
constexpr std::array<known_format, 4> formats{{
	{format::gzip, "\x1f\x8b"sv, "gzip", "gzip -dc", gzip_library},
	{format::bzip2, "BZh"sv, "bzip2", "bzip2 -dc", bzip2_library},
	{format::xz, "\xfd\x37zXZ\0"sv, "xz", "xz -dc", xz_library},
	{format::zstd, "\x28\xb5\x2f\xfd"sv, "zstd", "zstd -dc", zstd_library},
}};

bool bzip2_header(std::string_view data)
{
	constexpr std::string_view block = "\x31\x41\x59\x26\x53\x59"sv;
	constexpr std::string_view end = "\x17\x72\x45\x38\x50\x90"sv;
	return data.size() >= 10 && data.starts_with("BZh") && data[3] >= '1' && data[3] <= '9' &&
	       (data.substr(4, 6) == block || data.substr(4, 6) == end);
}

static_assert(
	[] {
		for (std::size_t i = 0; i < formats.size(); i++)
			if (formats[i].f != static_cast<format>(i + 1))
				return false;
		return true;
	}(),
	"the table holds the formats in the order format names them, after none");

const known_format &format_entry(format f)
{
	return formats[static_cast<std::size_t>(f) - 1];
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
	while (d.reason == nullptr && decode_some(d, d.output.data(), d.output.size()) > 0)
		d.made = d.taken = 0;
	return d.reason == nullptr;
}

decompressing start_decompressing(int fd, format f, const char *path, read_in_turn in_turn)
{
	const known_format &k = format_entry(f);
	if (k.lib == nullptr)
		fail("File %s is compressed with %s, which this build cannot read: convert it with %s %s | vblocks -\n",
		     path,
		     k.name,
		     k.command,
		     path);
	decompressing d(new (std::nothrow) decompressor);
	if (d) {
		d->fd = fd;
		d->in_turn = std::move(in_turn);
		d->lead = k.magic[0];
	}
	if (!d || !k.lib->start(*d))
		fail("Could not read file %s: %s\n", path, std::strerror(ENOMEM));
	d->lib = k.lib;
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
		ssize_t n = decode_some(d, d.output.data(), d.output.size());
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
