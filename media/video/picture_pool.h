// Pictures handed over whole, without a heap allocation per frame: a pool of two pictures that
// keep their pixel storage. take() gives a picture nobody holds any more, as a shared pointer
// whose bookkeeping lives in the pool too; when the last holder (the chat session, a window)
// lets it go, it returns to the pool. With both still held a new picture is made as before.
//
// Threads: take may be called from any thread; the pictures go back on the thread that drops
// the last pointer. The pool lives as long as its owner or a picture of it, whichever is longer.
#pragma once
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>

#include "protocol/chat_session.h"

class picture_pool : public std::enable_shared_from_this<picture_pool> {
public:
    static std::shared_ptr<picture_pool> make() {
        return std::shared_ptr<picture_pool>(new picture_pool);
    }
    // A cleared picture (no pixels, every field at its default) to fill and publish.
    std::shared_ptr<peer_picture> take() {
        int i = 0;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            while (i < kSlots && m_slots[i].out) i++;
            if (i == kSlots) return std::make_shared<peer_picture>();
            m_slots[i].out = true;
        }
        peer_picture& p = m_slots[i].picture;
        std::vector<uint8_t> pixels = std::move(p.rgb);
        p = peer_picture{};
        p.rgb = std::move(pixels);
        p.rgb.clear();
        return std::shared_ptr<peer_picture>(
            &p, [](peer_picture*) {}, block_allocator<peer_picture>{shared_from_this(), i});
    }

private:
    static constexpr int kSlots = 2;
    static constexpr size_t kBlockBytes = 128;  // a shared pointer's bookkeeping fits

    picture_pool() = default;

    // Puts a shared pointer's bookkeeping in its slot's block. Freeing the block is the last
    // thing done with a picture that went out, so that is when the slot becomes free again.
    template <typename T>
    struct block_allocator {
        using value_type = T;
        std::shared_ptr<picture_pool> pool;
        int slot;
        template <typename U>
        block_allocator(const block_allocator<U>& o) : pool(o.pool), slot(o.slot) {}
        block_allocator(std::shared_ptr<picture_pool> p, int s) : pool(std::move(p)), slot(s) {}
        T* allocate(size_t n) {
            if (n * sizeof(T) <= kBlockBytes && alignof(T) <= alignof(std::max_align_t))
                return reinterpret_cast<T*>(pool->m_slots[slot].block);
            return static_cast<T*>(::operator new(n * sizeof(T)));
        }
        void deallocate(T* p, size_t) {
            if (reinterpret_cast<unsigned char*>(p) != pool->m_slots[slot].block) {
                ::operator delete(p);
                return;
            }
            std::lock_guard<std::mutex> lk(pool->m_mutex);
            pool->m_slots[slot].out = false;
        }
        template <typename U>
        bool operator==(const block_allocator<U>& o) const {
            return pool == o.pool && slot == o.slot;
        }
    };

    struct slot_type {
        peer_picture picture;
        alignas(std::max_align_t) unsigned char block[kBlockBytes];
        bool out = false;  // guarded by m_mutex
    };
    std::mutex m_mutex;
    slot_type m_slots[kSlots];
};
