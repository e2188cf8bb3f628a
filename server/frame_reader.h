// Cuts a received byte stream into framed messages (20-character header, scrambled body) and
// recovers from bad input: a malformed header is skipped by searching for the next place where a
// well-formed header starts; a negative len is taken as a header without a body; a body larger
// than a client can ever send is read and thrown away. Only a stream that yields nothing but
// garbage for a long stretch is given up on.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "protocol/framing.h"

namespace srv {

class FrameReader {
public:
    enum class Result {
        kNeedMore,     // nothing complete yet
        kMessage,      // header and body (unscrambled) filled in
        kFormatError,  // a malformed header was skipped; error_pos() and bad_header() tell which
        kBadLength,    // header with a negative len: header filled in, body empty
        kOversized,    // header with a len above the limit: the body is being discarded
        kFatal,        // too much garbage without one good header; close the connection
    };

    // Largest body accepted; larger ones are discarded. Defaults to what a client can receive.
    explicit FrameReader(int max_body = kMaxRecvBody) : m_max_body(max_body) {}

    void feed(const char* data, size_t n);
    // Takes the next event out of the buffered bytes.
    Result next(msg_header* header, std::string* body);

    int error_pos() const { return m_error_pos; }
    const std::string& bad_header() const { return m_bad_header; }
    size_t buffered() const { return m_buf.size() - m_pos; }

    // Garbage bytes tolerated between two good headers before giving up.
    static constexpr size_t kMaxGarbage = 64 * 1024;

private:
    void compact();

    std::string m_buf;
    size_t m_pos = 0;
    size_t m_discard = 0;  // body bytes of an oversized message still to drop
    size_t m_garbage = 0;  // bytes skipped since the last good header
    int m_max_body;
    int m_error_pos = 0;
    std::string m_bad_header;
};

// True when the 20 characters look exactly like what the header builder writes: four fields of
// blanks, an optional minus sign and digits, each followed by ':'. Returns the first bad position
// (0..19) through bad_pos when not.
bool header_well_formed(const char* text, int* bad_pos);

}  // namespace srv
