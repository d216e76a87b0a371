#include "launcher/core/later_writer.h"
#include <utility>

namespace {

// One write of the newest request, its outcome kept for the waiters.
void write_requested(Later_Writer& w, std::unique_lock<std::mutex>& guard) {
    Later_Write_Proc write = std::move(w.next);
    w.next = nullptr;
    w.requested = false;
    w.writing = true;
    guard.unlock();
    Later_Write done = write();
    write = nullptr;   // what it holds is released off the lock
    guard.lock();
    w.writing = false;
    w.last = std::move(done);
    if (w.last.ok) w.last.err.clear();
    w.changed.notify_all();
}

void write_loop(Later_Writer& w) {
    if (w.low_priority) thread_lower_own_priority();
    std::unique_lock<std::mutex> guard(w.lock);
    for (;;) {
        w.changed.wait(guard, [&] { return w.requested || w.stop; });
        // A write asked for before the end is still made.
        if (!w.requested) return;
        write_requested(w, guard);
    }
}

}  // namespace

Later_Writer::~Later_Writer() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stop = true;
    }
    changed.notify_all();
    thread_join(worker);
}

void later_writer_request(Later_Writer& w, Later_Write_Proc write) {
    std::unique_lock<std::mutex> guard(w.lock);
    w.next = std::move(write);
    w.requested = true;
    if (!w.worker.started() && !thread_start(w.worker, [&w] { write_loop(w); })) {
        write_requested(w, guard);
        return;
    }
    guard.unlock();
    w.changed.notify_all();
}

bool later_writer_wait(Later_Writer& w, std::string* err) {
    std::unique_lock<std::mutex> guard(w.lock);
    w.changed.wait(guard, [&] { return !w.requested && !w.writing; });
    if (!w.last.ok && err) *err = w.last.err;
    return w.last.ok;
}

bool later_writer_pending(Later_Writer& w) {
    std::lock_guard<std::mutex> guard(w.lock);
    return w.requested || w.writing;
}
