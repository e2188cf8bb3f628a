// Objects handed over whole through a shared pointer (a notification's payload) without a heap
// allocation each time: a pool of N objects that are kept, storage and all. take() gives one that
// nobody holds any more, as a shared pointer whose bookkeeping lives in the pool too; when the
// last holder lets it go it returns to the pool. With all N still held a new object is made.
//
// Threads: take may be called from any thread; the objects go back on the thread that drops the
// last pointer. The pool lives as long as its owner or an object of it, whichever is longer.
#pragma once
#include <cstddef>
#include <memory>
#include <mutex>
#include <new>

template <typename T, int N>
class reuse_pool : public std::enable_shared_from_this<reuse_pool<T, N>> {
public:
    static std::shared_ptr<reuse_pool> make() {
        return std::shared_ptr<reuse_pool>(new reuse_pool);
    }
    // The object as its last user left it: the caller sets every part it hands over.
    std::shared_ptr<T> take() {
        int i = 0;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            while (i < N && m_slots[i].out) i++;
            if (i == N) return std::make_shared<T>();
            m_slots[i].out = true;
        }
        return std::shared_ptr<T>(
            &m_slots[i].object, [](T*) {}, block_allocator<T>{this->shared_from_this(), i});
    }

private:
    static constexpr size_t kBlockBytes = 128;  // a shared pointer's bookkeeping fits

    reuse_pool() = default;

    // Puts a shared pointer's bookkeeping in its slot's block. Freeing the block is the last
    // thing done with an object that went out, so that is when the slot becomes free again.
    template <typename U>
    struct block_allocator {
        using value_type = U;
        std::shared_ptr<reuse_pool> pool;
        int slot;
        template <typename V>
        block_allocator(const block_allocator<V>& o) : pool(o.pool), slot(o.slot) {}
        block_allocator(std::shared_ptr<reuse_pool> p, int s) : pool(std::move(p)), slot(s) {}
        U* allocate(size_t n) {
            if (n * sizeof(U) <= kBlockBytes && alignof(U) <= alignof(std::max_align_t))
                return reinterpret_cast<U*>(pool->m_slots[slot].block);
            return static_cast<U*>(::operator new(n * sizeof(U)));
        }
        void deallocate(U* p, size_t) {
            if (reinterpret_cast<unsigned char*>(p) != pool->m_slots[slot].block) {
                ::operator delete(p);
                return;
            }
            std::lock_guard<std::mutex> lk(pool->m_mutex);
            pool->m_slots[slot].out = false;
        }
        template <typename V>
        bool operator==(const block_allocator<V>& o) const {
            return pool == o.pool && slot == o.slot;
        }
    };

    struct slot_type {
        T object{};
        alignas(std::max_align_t) unsigned char block[kBlockBytes];
        bool out = false;  // guarded by m_mutex
    };
    std::mutex m_mutex;
    slot_type m_slots[N];
};
