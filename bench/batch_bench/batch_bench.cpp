// batch_bench: the batch interpreter against files that would run for ever
// or for very long (each must stop with its message, through the step or
// the work count) and against a sculpting loop over model lists of 12,000
// and 100,000 lines (each must run to its end). One row per file: the time
// (wall clock, and the processor time this process had), the statements
// run, the work done and how the run ended. A hostile file must stop
// within 5 s on a machine ten times slower than this one's processor time
// (a loaded machine): each row says so, from the processor time.
//
//   batch_bench
//
// Exit code 1 when a hostile file does not stop or a model list does not
// run to its end.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "launcher/mods/batch.h"

namespace {

bool run(const char* name, const std::string& text, const std::string& list, bool should_end) {
    Bat_State st;
    st.lines = bat_lines(text);
    st.labels = bat_labels(st.lines);
    st.files = {{"x.txt", list}};
    auto start = std::chrono::steady_clock::now();
    std::clock_t cpu_start = std::clock();
    bat_run(st, 0);
    double cpu = double(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-30s %6.2f s (cpu %5.2f s)  %8lld statements  %4lld MB of work  %s\n", name, seconds, cpu,
                (long long)st.steps, (long long)(st.work >> 20), st.error.empty() ? "ran to its end" : st.error.c_str());
    if (!should_end)
        std::printf("%-30s ten times slower: %.1f s, %s\n", "", cpu * 10, cpu * 10 < 5 ? "within 5 s" : "OVER 5 s");
    else
        std::printf("%-30s %.0f%% of the statement limit, %.0f%% of the work limit\n", "",
                    100.0 * double(st.steps) / double(bat_step_limit), 100.0 * double(st.work) / double(bat_work_limit));
    return should_end ? st.error.empty() : !st.error.empty();
}

std::string repeated(const std::string& head, const std::string& form, int count, const std::string& tail) {
    std::string s = head;
    for (int i = 0; i < count; i++) s += form;
    return s + tail;
}

std::string model_list(int lines) {
    std::string list;
    for (int i = 0; i < lines; i++)
        list += i % 50 ? "  Mesh_Part" + std::to_string(i) + " 1.0\r\n" : "MODEL c" + std::to_string(201 + i / 50) + "\r\n";
    return list;
}

}  // namespace

int main() {
    const std::string big = "set x=" + std::string(8000, 'a') + "\n:a\nset r=";
    std::string skipped = ":a\nif 1==2 (\n";
    for (int i = 0; i < 100000; i++) skipped += "echo x\n";
    skipped += ")\ngoto a\n";
    const std::string sculpt =
        "set total=0\nfor /f %%A in (x.txt) do (\nset line=%%A\nif \"!line:~0,5!\"==\"MODEL\" (\n"
        "echo %%A>>a_sculpt.txt\n) else (\nset /a total=total+1\necho !line:MESH=mesh!>>a_sculpt.txt\n)\n)\n"
        "echo MESHES=!total!>>a_sculpt.txt";
    bool ok = true;
    ok &= run("goto loop", ":a\ngoto a", "", false);
    ok &= run("loop around a skipped block", skipped, "", false);
    ok &= run("loop over empty lines", ":a\n" + std::string(100000, '\n') + "goto a", "", false);
    ok &= run("replacement bomb", repeated(big, "!x:a=!", 1300, "\ngoto a"), "", false);
    ok &= run("substring bomb", repeated(big, "!x:~0,1!", 900, "\ngoto a"), "", false);
    ok &= run("percent doubling", "set x=" + std::string(4000, 'a') + "\n:a\nset y=%x%%x%\ngoto a", "", false);
    ok &= run("model list of 12,000 lines", sculpt, model_list(12000), true);
    ok &= run("model list of 100,000 lines", sculpt, model_list(100000), true);
    return ok ? 0 : 1;
}
