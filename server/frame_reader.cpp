#include "server/frame_reader.h"

#include <cstring>

namespace srv {

bool header_well_formed(const char* text, int* bad_pos) {
    for (int field = 0; field < 4; field++) {
        const char* f = text + field * 5;
        if (f[4] != ':') {
            if (bad_pos) *bad_pos = field * 5 + 4;
            return false;
        }
        // Blanks, then an optional '-', then at least one digit, and nothing else.
        int i = 0;
        while (i < 4 && f[i] == ' ') i++;
        if (i < 4 && f[i] == '-') i++;
        int digits = 0;
        while (i < 4 && f[i] >= '0' && f[i] <= '9') {
            i++;
            digits++;
        }
        if (i != 4 || digits == 0) {
            if (bad_pos) *bad_pos = field * 5 + (i < 4 ? i : 3);
            return false;
        }
    }
    return true;
}

void FrameReader::feed(const char* data, size_t n) {
    compact();
    m_buf.append(data, n);
}

void FrameReader::compact() {
    if (m_pos == 0) return;
    m_buf.erase(0, m_pos);
    m_pos = 0;
}

FrameReader::Result FrameReader::next(msg_header* header, std::string* body) {
    if (m_discard > 0) {
        size_t n = buffered() < m_discard ? buffered() : m_discard;
        m_pos += n;
        m_discard -= n;
        if (m_discard > 0) return Result::kNeedMore;
    }
    if (buffered() < static_cast<size_t>(kHeaderLen)) return Result::kNeedMore;
    const char* h = m_buf.data() + m_pos;
    int bad = 0;
    if (!header_well_formed(h, &bad)) {
        m_error_pos = bad;
        m_bad_header.assign(h, kHeaderLen);
        // Most likely the 20 bytes were one damaged header: skip them as a unit when a good
        // header follows, or when too little has arrived to tell. Otherwise the stream is
        // shifted: look for the next offset where a well-formed header begins, keeping the tail
        // that could still be the start of one.
        size_t avail = buffered();
        size_t skip = kHeaderLen;
        if (avail >= 2 * static_cast<size_t>(kHeaderLen) &&
            !header_well_formed(h + kHeaderLen, nullptr)) {
            for (skip = 1; skip + kHeaderLen <= avail; skip++)
                if (header_well_formed(h + skip, nullptr)) break;
            if (skip + kHeaderLen > avail) skip = avail - (kHeaderLen - 1);
        }
        m_pos += skip;
        m_garbage += skip;
        if (m_garbage > kMaxGarbage) return Result::kFatal;
        return Result::kFormatError;
    }
    msg_header parsed;
    parse_header(h, &parsed);
    if (parsed.len < 0) {
        m_pos += kHeaderLen;
        m_garbage = 0;
        *header = parsed;
        body->clear();
        return Result::kBadLength;
    }
    if (parsed.len > m_max_body) {
        m_pos += kHeaderLen;
        m_garbage = 0;
        m_discard = static_cast<size_t>(parsed.len);
        *header = parsed;
        body->clear();
        return Result::kOversized;
    }
    size_t need = kHeaderLen + static_cast<size_t>(parsed.len);
    if (buffered() < need) return Result::kNeedMore;
    body->assign(h + kHeaderLen, static_cast<size_t>(parsed.len));
    xor_scramble(body->data(), parsed.len);
    *header = parsed;
    m_pos += need;
    m_garbage = 0;
    return Result::kMessage;
}

}  // namespace srv
