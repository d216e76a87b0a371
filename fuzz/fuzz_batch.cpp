// Running any bytes as a batch file: the run ends (no hang, no crash, no
// unbounded memory) with an error, an end label or at the last line, and
// its limits hold. The text after a line "--- list" is the model list the
// file's for loops read, under any name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/mods/batch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string_view list;
    size_t split = bytes.find("\n--- list\n");
    if (split != std::string_view::npos) {
        list = bytes.substr(split + 10);
        bytes = bytes.substr(0, split);
    }
    // The launcher refuses larger batch files unread.
    if (bytes.size() > bat_file_max) return 0;
    Bat_State st;
    st.lines = bat_lines(bytes);
    st.labels = bat_labels(st.lines);
    st.vars["errorlevel"] = "0";
    st.answers = {{"select the kestrel model with the (h)q hair or the (n)ormal hair", "h"}};
    for (const char* q : {"hips", "legs", "waist", "butt", "bust", "biceps", "arms", "neck"}) st.answers[q] = "7";
    for (const char* name : {"x_kestrel2.txt", "x_kestrel_hair2.txt", "x.txt"}) st.files[name] = std::string(list);
    bat_run(st, 0);
    if (st.out.size() > bat_out_max || st.call_depth != 0 || st.exec_depth != 0) __builtin_trap();
    if (st.steps > bat_step_limit && st.error.empty()) __builtin_trap();
    if (st.work > bat_work_limit && st.error.empty()) __builtin_trap();
    for (const auto& [name, value] : st.vars)
        if (value.size() > bat_line_max) __builtin_trap();
    return 0;
}
