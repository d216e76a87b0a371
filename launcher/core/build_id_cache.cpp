#include "launcher/core/build_id_cache.h"

#include <mutex>

namespace {

std::mutex g_lock;              // orders stores after forgets
std::atomic<uint64_t> g_generation{0};
Build_Id_Record g_record;       // under g_lock

}  // namespace

std::atomic<int>& build_id_state() {
    static std::atomic<int> state{Build_Id_Unread};
    return state;
}

void build_id_forget() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_generation.fetch_add(1);
    build_id_state().store(Build_Id_Unread);
}

uint64_t build_id_generation() { return g_generation.load(); }

void build_id_store(uint64_t generation, Build_Id_State state, const Build_Id_Record& record) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_generation.load() != generation) return;
    g_record = record;
    build_id_state().store(state);
}

Build_Id_Record build_id_record() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_record;
}
