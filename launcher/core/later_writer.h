// A coalescing writer: writes requested at any time, made one after another
// on a thread of its own. Requests that come while a write runs are merged
// into one more write after it, made by the newest request's procedure, so
// the last request wins. A request made before the writer ends is still
// written.
#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include "engine/kt_system/thread.h"

// The outcome of one write: ok, or the failure's sentence.
struct Later_Write {
    bool ok = true;
    std::string err;
};
// Makes one write; run on the writer's thread.
using Later_Write_Proc = std::function<Later_Write()>;

struct Later_Writer {
    // The writer's thread lowers its own priority (thread_lower_own_priority)
    // when its writes can wait for the window's frames.
    bool low_priority = false;

    std::mutex lock;
    std::condition_variable changed;
    Later_Write_Proc next;          // the newest request's write
    bool requested = false, writing = false, stop = false;
    Later_Write last;               // the outcome of the last write made
    Thread worker;

    explicit Later_Writer(bool lower_priority = false) : low_priority(lower_priority) {}
    Later_Writer(const Later_Writer&) = delete;
    Later_Writer& operator=(const Later_Writer&) = delete;
    // Writes what is still requested, then ends the thread.
    ~Later_Writer();
};

// Asks for `write` to be made on the writer's thread, replacing a request
// that has not started yet. The thread starts with the first request; when
// none can be started the write is made here, late rather than never.
void later_writer_request(Later_Writer& w, Later_Write_Proc write);
// Waits until no requested write waits or runs. False when the last write
// made failed, with its sentence in `err` (when given).
bool later_writer_wait(Later_Writer& w, std::string* err = nullptr);
// True while a requested write waits or runs.
bool later_writer_pending(Later_Writer& w);
