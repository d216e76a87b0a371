// Handles: 32-bit names of the objects a renderer backend keeps (textures,
// shaders). The low 20 bits are the slot index plus one (0 is no object),
// the high 12 bits the slot's generation, which changes every time the slot
// is freed, so a handle kept after its object was destroyed is refused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

using Handle = uint32_t;

inline constexpr uint32_t handle_index_bits = 20;
inline constexpr uint32_t handle_index_mask = 0xFFFFF;     // also the most slots a pool has
inline constexpr uint32_t handle_generation_mask = 0xFFF;

inline constexpr Handle handle_make(uint32_t slot, uint32_t generation) {
    return ((generation & handle_generation_mask) << handle_index_bits) | ((slot + 1) & handle_index_mask);
}

template <typename T>
struct Pool_Entry {
    T object{};
    uint32_t generation = 0;   // 0 .. 0xFFF
    bool live = false;
};

// One pool per kind of object. Dead slots are reused last-in first-out.
template <typename T>
struct Handle_Pool {
    std::vector<Pool_Entry<T>> slots;
    std::vector<uint32_t> free;   // indices of dead slots
    uint32_t count = 0;           // live entries
};

namespace handle_detail {
// Growth to twice the capacity, at least 8 elements.
template <typename V>
void grow_for_one(V& v) {
    if (v.size() == v.capacity()) v.reserve(v.capacity() < 4 ? 8 : v.capacity() * 2);
}
}  // namespace handle_detail

template <typename T>
void pool_init(Handle_Pool<T>& pool) {
    pool = Handle_Pool<T>{};
}

template <typename T>
void pool_destroy(Handle_Pool<T>& pool) {
    pool = Handle_Pool<T>{};
}

// The entry a handle names, or nullptr for 0, a stale or a dead handle.
template <typename T>
Pool_Entry<T>* pool_entry(Handle_Pool<T>& pool, Handle h) {
    uint32_t index = h & handle_index_mask;
    if (index == 0 || index > pool.slots.size()) return nullptr;
    Pool_Entry<T>& e = pool.slots[index - 1];
    if (!e.live || e.generation != (h >> handle_index_bits)) return nullptr;
    return &e;
}

// The object a live handle names, or nullptr.
template <typename T>
T* pool_get(Handle_Pool<T>& pool, Handle h) {
    Pool_Entry<T>* e = pool_entry(pool, h);
    return e ? &e->object : nullptr;
}

// Stores the object and returns its handle; 0 when the pool holds 0xFFFFF
// live objects already.
template <typename T>
Handle pool_add(Handle_Pool<T>& pool, T object) {
    uint32_t slot;
    if (!pool.free.empty()) {
        slot = pool.free.back();
        pool.free.pop_back();
    } else {
        if (pool.slots.size() >= handle_index_mask) return 0;
        handle_detail::grow_for_one(pool.slots);
        pool.slots.emplace_back();
        slot = uint32_t(pool.slots.size() - 1);
    }
    Pool_Entry<T>& e = pool.slots[slot];
    e.object = std::move(object);
    e.live = true;
    ++pool.count;
    return handle_make(slot, e.generation);
}

// Frees the handle's slot; 0, stale and dead handles are ignored.
template <typename T>
void pool_remove(Handle_Pool<T>& pool, Handle h) {
    Pool_Entry<T>* e = pool_entry(pool, h);
    if (!e) return;
    e->object = T{};
    e->live = false;
    e->generation = (e->generation + 1) & handle_generation_mask;
    handle_detail::grow_for_one(pool.free);
    pool.free.push_back((h & handle_index_mask) - 1);
    --pool.count;
}
