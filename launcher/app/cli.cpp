#include "launcher/app/cli.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "engine/kt_system/clock.h"
#include "engine/kt_system/interrupt.h"
#include "launcher/gamebuild/build_game.h"
#include "launcher/gamebuild/check_report.h"
#include "launcher/gamebuild/cross.h"
#include "launcher/gamebuild/game.h"
#include "launcher/core/clear_cache.h"
#include "launcher/core/settings.h"
#include "launcher/mod_tasks/hd_remove.h"
#include "launcher/mod_tasks/mod_import.h"

namespace {

// The game check that modes with check_first run before their own task.
Task_Proc checking_proc = find_game;

// "--cross-build <target>": the name goes unchanged into the live setting
// (not saved); the cross build resolves it. Without a value the setting
// stays as loaded.
void cross_build_prepare(const std::string* value) {
    if (!value) return;
    std::string name = *value;
    settings_edit([&](Settings& s) { s.cross_target = name; });
}
// "--hd-import PATH": the path is kept by the import itself (an option
// without its path imports "").
void start_hd_import(const std::string* value) { hd_import_start(value ? *value : std::string()); }

// The modes, in no particular order: the command line's order decides.
const Cli_Mode modes[] = {
    {.option = "--check", .takes_value = false, .check_first = false, .task_name = "Checking", .proc = find_game,
     .wait = Cli_Wait::Plain, .report = cli_check_report, .prepare = nullptr, .start = nullptr},
    {.option = "--clear-cache", .takes_value = false, .check_first = false, .task_name = "Clear Cache",
     .proc = cli_task_clear_cache, .wait = Cli_Wait::Plain, .report = nullptr, .prepare = nullptr, .start = nullptr},
    {.option = "--build", .takes_value = false, .check_first = true, .task_name = "Build", .proc = cli_task_build,
     .wait = Cli_Wait::Steps, .report = nullptr, .prepare = nullptr, .start = nullptr},
    {.option = "--cross-build", .takes_value = true, .check_first = true, .task_name = "Cross-Compile",
     .proc = cli_task_cross_build, .wait = Cli_Wait::Steps, .report = nullptr, .prepare = cross_build_prepare,
     .start = nullptr},
    {.option = "--hd-import", .takes_value = true, .check_first = true, .task_name = "HD Textures",
     .proc = hd_import_any, .wait = Cli_Wait::Steps, .report = nullptr, .prepare = nullptr,
     .start = start_hd_import},
    {.option = "--hd-uninstall", .takes_value = false, .check_first = false, .task_name = "Uninstall HD Project",
     .proc = hd_uninstall_task, .wait = Cli_Wait::Plain, .report = nullptr, .prepare = nullptr, .start = nullptr},
};

// The chosen mode's value; the task procedure receives its address.
std::string chosen_value;

// Set once Ctrl-C (or its kin) cancelled the running task.
bool interrupted = false;

// Ctrl-C cancels the running task the way the window's Cancel does.
void cancel_on_interrupt(Task& t) {
    if (interrupted || !interrupt_seen() || !t.running.load()) return;
    interrupted = true;
    task_cancel(t);
}

}  // namespace

std::span<const Cli_Mode> cli_modes() { return modes; }

Cli_Choice cli_choose(const std::vector<std::string>& args, std::span<const Cli_Mode> table) {
    Cli_Choice choice;
    for (const std::string& arg : args) {
        for (const Cli_Mode& m : table) {
            if (arg == m.option) {
                choice.mode = &m;
                break;
            }
        }
        if (choice.mode) break;
    }
    if (choice.mode && choice.mode->takes_value) {
        for (size_t i = 0; i + 1 < args.size(); ++i) {
            if (args[i] == choice.mode->option) {
                choice.has_value = true;
                choice.value = args[i + 1];
            }
        }
    }
    return choice;
}

Cli_Choice cli_choose(const std::vector<std::string>& args) { return cli_choose(args, cli_modes()); }

void cli_stdout(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void cli_wait_plain(Task& t) {
    while (t.running.load()) {
        cancel_on_interrupt(t);
        sleep_ms(10);
    }
}

void cli_wait_steps(Task& t, const Cli_Out& out, int64_t interval_ms) {
    if (!t.running.load()) return;
    std::string printed;
    for (;;) {
        bool changed = false;
        {
            Lock_Guard guard(t.lock);
            if (t.status != printed) {
                printed = t.status;
                changed = true;
            }
        }
        // Printed outside the lock: a blocked output must not stall the task.
        if (changed) out(printed + "\n");
        for (int64_t waited = 0; waited < interval_ms && t.running.load(); waited += 10) {
            cancel_on_interrupt(t);
            sleep_ms(std::min<int64_t>(10, interval_ms - waited));
        }
        if (!t.running.load()) return;
    }
}

void cli_print_log(Task& t, const Cli_Out& out) {
    Task_View view = task_view(t);
    std::string text;
    for (const std::string& line : view.log) {
        text += line;
        text += '\n';
    }
    if (!text.empty()) out(text);
}

int cli_run(const Cli_Choice& choice, const Cli_Out& out) {
    const Cli_Mode& m = *choice.mode;
    chosen_value = choice.value;
    const std::string* value = choice.has_value ? &chosen_value : nullptr;
    if (m.prepare) m.prepare(value);

    interrupt_catch();
    interrupted = false;
    Task& t = the_task();
    if (m.check_first && checking_proc) {
        task_start("Checking", checking_proc, 0);
        cli_wait_plain(t);
    }
    // An interrupted check ends the mode with its own log.
    if (!interrupted) {
        if (m.start) {
            m.start(value);
        } else {
            task_start(m.task_name, m.proc, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&chosen_value)));
        }
        if (m.wait == Cli_Wait::Steps) {
            cli_wait_steps(t, out);
        } else {
            cli_wait_plain(t);
        }
    }
    // A Ctrl-C seen at any time (before the task began, or as it ended)
    // ends the mode as cancelled, never with success.
    if (!interrupted && interrupt_seen()) {
        interrupted = true;
        Task_View view = task_view(t);
        if (view.log.empty() || view.log.back() != "Cancelled.") log_line(t, "Cancelled.");
    }
    cli_print_log(t, out);

    int code = t.failed.load() ? 1 : 0;
    if (interrupted) {
        // 128 + SIGINT, as a shell reports a program ended by Ctrl-C.
        code = 130;
        interrupt_finished();
    } else if (m.report) {
        m.report(out);
        code = 0;
    }
    // The procedure has returned; release its thread before the process ends.
    thread_join(t.thread);
    return code;
}

void cli_task_cross_build(Task& t) { cross_build_task(t); }

void cli_check_report(const Cli_Out& out) { out(check_report_text()); }
