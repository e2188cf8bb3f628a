// The deflate step shared by both codecs: every stream on the wire is a zlib stream (RFC 1950)
// that zlib's uncompress reads. Both directions use libdeflate when the build found it (the same
// format, several times faster than zlib at the same level), zlib's compress and uncompress
// otherwise.
#pragma once
#include <cstdint>

// Compresses src into dst (capacity bytes) at the default level. Sets *out_length and returns 0,
// or -1 when the result does not fit or the arguments are bad. Allocates nothing per call after
// the first call on a thread.
int deflate_stream(const uint8_t* src, int length, uint8_t* dst, int capacity, int* out_length);

// Inflates one zlib stream into dst (capacity bytes), accepting exactly what zlib's uncompress
// accepts. Sets *out_length and returns 0, or -1 when the stream is damaged, truncated or larger
// than capacity.
int inflate_stream(const uint8_t* src, int length, uint8_t* dst, int capacity, int* out_length);
