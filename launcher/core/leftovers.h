// What an earlier run left behind when it was killed or stopped mid-way,
// removed at start-up. Only names this launcher makes are touched.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// How old a leftover without an owner process must be before it goes: no
// write of the launcher's takes that long.
inline constexpr int64_t leftover_age_ns = int64_t(10) * 60 * 1000000000;

// Removes, for every file path in `files`, the temporary files of its atomic
// writes ("<name>.<pid>-<n>.tmp", see fs_temp_name) whose process no longer
// runs; in the data folder "write-test.tmp", and in its "obj" and "obj-*"
// folders the compiler's "*.o.tmp", when older than leftover_age_ns.
// `now_ns` is the wall-clock time in ns since the Unix epoch. Returns the
// number of files removed.
int leftovers_remove(const std::vector<std::string>& files, const std::string& data_dir, int64_t now_ns);
