// The cached answer of the build-identity check. Reading "Quillmarsh.build-id"
// happens once; whoever changes the file or deletes it (a build, Clear Cache)
// forgets the answer so that the next check reads the file again.
//
// The answer is read by the interface and forgotten by tasks on other
// threads: the state is atomic, and a reader stores what it read only when
// nobody forgot the answer while it was reading (the generation tells).
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

enum Build_Id_State : int {
    Build_Id_Unread = -1,
    Build_Id_Fresh = 0,
    Build_Id_Stale = 1,
};

// The process-wide state: Build_Id_Unread until the file has been read.
std::atomic<int>& build_id_state();

// Forgets the cached answer: the next check reads the file again.
void build_id_forget();

// What the last read of the file found besides the answer.
struct Build_Id_Record {
    std::string signature;    // line 2, trimmed; "" when missing
    bool dlss = false;        // line 3 reads "dlss 1"
};
// The number of forgets so far; a reader takes it before reading the file.
uint64_t build_id_generation();
// Stores a reader's answer and record, unless a forget came after
// `generation` was taken (then the next check reads the file again).
void build_id_store(uint64_t generation, Build_Id_State state, const Build_Id_Record& record);
// A copy of the stored record.
Build_Id_Record build_id_record();
