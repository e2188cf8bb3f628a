// Pictures handed over whole, without a heap allocation per frame: a pool of two pictures that
// keep their pixel storage. take() gives a picture nobody holds any more, as a shared pointer
// whose bookkeeping lives in the pool too; when the last holder (the chat session, a window)
// lets it go, it returns to the pool. With both still held a new picture is made as before.
//
// Threads: take may be called from any thread; the pictures go back on the thread that drops
// the last pointer. The pool lives as long as its owner or a picture of it, whichever is longer.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/reuse_pool.h"
#include "protocol/chat_session.h"

class picture_pool {
public:
    static std::shared_ptr<picture_pool> make() {
        return std::shared_ptr<picture_pool>(new picture_pool);
    }
    // A cleared picture (no pixels, every field at its default) to fill and publish.
    std::shared_ptr<peer_picture> take() {
        std::shared_ptr<peer_picture> p = m_pool->take();
        std::vector<uint8_t> pixels = std::move(p->rgb);
        *p = peer_picture{};
        p->rgb = std::move(pixels);
        p->rgb.clear();
        return p;
    }

private:
    picture_pool() = default;
    std::shared_ptr<reuse_pool<peer_picture, 2>> m_pool = reuse_pool<peer_picture, 2>::make();
};
