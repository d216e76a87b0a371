// The window's interface: the frame record every widget and page draws
// through (Ui_State), what the interface keeps between frames (Ui_Shared),
// and the App that ties them to the procedures with side effects, so that a
// test can run whole frames without a window and replace those procedures.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/kt_input/state.h"
#include "engine/kt_render/draw_list.h"
#include "engine/kt_render/font.h"
#include "engine/kt_system/file_dialog.h"
#include "engine/kt_system/window.h"
#include "launcher/core/task.h"
#include "launcher/gamebuild/deps.h"
#include "launcher/gamebuild/game_state.h"
#include "launcher/mod_tasks/cutscenes.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mod_tasks/hd_remove.h"
#include "launcher/mods/sculpt.h"
#include "launcher/mod_tasks/model_tasks.h"
#include "launcher/ui/features.h"

// A rectangle of the interface in client pixels.
struct Ui_Rect {
    int64_t x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Ui_Rect&) const = default;
};

inline bool ui_inside(const Ui_Rect& r, int64_t x, int64_t y) {
    return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h;
}

// What a frame drew, one entry per widget, for tests and tools that read
// the interface without pixels ("click Build" finds the button by label).
// A Panel is a panel's or a dialog's frame; an Entry is one row of a
// drop-down whose rows are translated (id: the drop-down's, rect: where its
// closed box shows a row).
enum class Widget_Kind : uint8_t { Button, Toggle, Slider, Dropdown, Link, Tab, Tooltip, Text, Panel, Entry };
struct Trace_Item {
    Widget_Kind kind = Widget_Kind::Button;
    std::string id;      // the widget's id (a button's: its English label)
    std::string label;   // English, before translation
    Ui_Rect rect;
    bool enabled = false;
    int64_t value = 0;   // toggle, slider, drop-down index, selected tab
};

// A text a frame drew (with tracing on), in window pixels: the string, the
// box its widget gave it to stay in, the bounds of its glyph quads and the
// clip they were drawn under.
struct Text_Item {
    std::string text;
    Ui_Rect box, ink, clip;
};

struct Ui_State {
    Draw_List* draw_list = nullptr;
    Window* window = nullptr;
    Font* font = nullptr;         // body text, 14
    Font* small_font = nullptr;   // second lines, hints, secondary buttons, 12
    Font* bold_font = nullptr;    // tabs, titles, primary buttons, bold 14
    Font* title_font = nullptr;   // dialog titles, bold 20
    int64_t mouse_x = 0, mouse_y = 0;
    uint8_t clicked = 0;          // the left button went down this frame
    uint8_t mouse_down = 0;       // the left button is held
    uint8_t modal = 0;            // a dialog or the folder browser is open
    uint8_t in_dialog = 0;        // the open dialog is drawing its widgets
    float scale = 1.0f;
    Ui_Rect area;
    Cursor cursor = Cursor::Arrow;
    std::string popup_id;
    Ui_Rect popup_anchor;
    std::vector<std::string> popup_labels;
    uint8_t popup_raw = 0;
    std::vector<uint8_t> popup_enabled;
    int64_t popup_current = 0;
    std::string result_id;
    int64_t result_index = 0;
    std::string tooltip_id;
    int64_t tooltip_since = 0;
    std::string tooltip_text;
    uint8_t tooltip_hover = 0;
    std::string active_id;
    // The frame's time (clock_ns): tooltip delay, step timer, moving block.
    int64_t now = 0;
    // The background effect: panels and dialog boxes are drawn through the
    // rounded-panel shader, sampling the blurred background texture (the
    // window's size stretched over it); section rules are left out.
    bool panel_effect = false;
    Handle panel_shader = 0;
    Handle panel_texture = 0;
    bool trace_on = false;
    std::vector<Trace_Item> trace;
    std::vector<Text_Item> texts;
};

enum class Page : int64_t { Home = 0, Cross_Compile = 1, Game_Options = 2, Build_Options = 3, Features = 4, Input_Map = 5 };
inline constexpr int page_count = 6;
extern const std::string_view page_labels[page_count];

enum class Pick_Mode : int64_t { Game_Folder = 0, Save_Folder = 1, Mod_Archive = 2 };

// A folder pick handed to the main loop, possibly from another thread: the
// poster fills path and open_browser, then sets pending.
struct Pick_Request {
    std::atomic<uint8_t> pending{0};
    std::string path;
    bool open_browser = false;
};

struct Ui_Shared {
    Page current_page = Page::Home;
    int64_t language_request = -1;
    int64_t updated_dialog = -1;   // -1 undecided, 0 closed, 1 open
    uint8_t movies_dialog = 0;
    uint8_t assets_dialog = 0;
    uint8_t uninstall_dialog = 0;
    int64_t uninstall_bytes = 0;   // -1 while it is being measured
    int64_t compiler_probe = 0;    // 0 not probed, 1 none found (dialog), 2 found or closed
    uint8_t browser_open = 0;
    Pick_Mode pick_mode = Pick_Mode::Game_Folder;
    uint8_t pick_saves = 0;
    uint8_t game_was_running = 0;
    int64_t wheel_step = 0;
    double wheel_carry = 0;   // the part of a step the wheel moved beyond wheel_step
    int64_t log_scroll = 0;
    // The two Options pages (0 Game, 1 Build): pixels scrolled, the content
    // height the previous frame measured, the held scroll thumb and where in
    // it the drag began; a change not yet written (a slider still held).
    // The Features & Mods page scrolls the same way, as the third entry.
    int64_t options_scroll[3] = {0, 0, 0};
    int64_t options_height[3] = {0, 0, 0};
    uint8_t options_drag = 0;
    int64_t options_grab = 0;
    uint8_t options_unsaved = 0;
    uint8_t options_cfg_unsaved = 0;
    // The Body Sculpting character shown (0 to 2).
    int64_t sculpt_character = 0;
    // The uninstall's size while a worker measures it (-1 until done).
    std::shared_ptr<std::atomic<int64_t>> uninstall_measure;
    // The in-window folder browser: the folder shown, its entries (the
    // sub-folders first, then archives when picking one), the first entry
    // shown and how many entries are folders.
    std::string browser_folder;
    std::vector<std::string> browser_entries;
    int64_t browser_scroll = 0;
    int64_t browser_folders = 0;
    // The Input Map page: pixels scrolled, the held scroll thumb and where in
    // it the drag began; the key capture (0 idle, 1 waiting for the key to
    // change, 2 waiting for the game's key) and the key being changed.
    int64_t input_scroll = 0;
    uint8_t input_drag = 0;
    int64_t input_grab = 0;
    uint8_t remap_state = 0;
    int64_t remap_first = 0;
};

struct App;

struct Cross_Toolchain {
    std::string compiler, linker, message;
};

// Everything the interface reads from or does to the rest of the launcher.
// Each starts as the real procedure; tests replace single entries.
struct Ui_Procs {
    // Reads.
    std::function<bool()> task_running;
    std::function<bool()> game_running;
    std::function<Game_State()> game_state;
    std::function<Dependency(Dep_Kind)> dependency;
    std::function<bool()> deps_checked;            // the toolchain check has published
    std::function<std::vector<Compiler>()> compilers;
    std::function<std::string()> built_exe;        // "" when no built game
    std::function<bool()> build_stale;
    std::function<bool()> build_outdated;
    std::function<std::string()> game_dir;
    std::function<bool()> fsr4_present;
    // The options signature of the current settings and of the last build.
    std::function<std::string()> options_sig;
    std::function<std::string()> built_options_sig;
    // LLVM's linker beside the compiler ("" when there is none).
    std::function<std::string(std::string_view compiler)> find_lld;
    std::function<int64_t()> core_count;
    // What the old-assets and uninstall dialogs tell.
    std::function<int64_t()> old_asset_count;
    std::function<int64_t()> old_asset_bytes;
    std::function<std::string()> hd_zip;           // "" when none
    std::function<int64_t(std::string_view path)> file_size;
    std::function<bool()> hd_gui_imported;
    std::function<bool()> hd_discarded;
    // The mods' markers and states the Features & Mods page shows.
    std::function<Features_State(const Settings&)> features_state;
    // The step text of the running task when it has this name.
    std::function<bool(std::string_view name, std::string& step)> task_step;
    // The cross build's compiler and linker; `message` is "" when usable.
    std::function<Cross_Toolchain()> cross_toolchain;
    // The path names a file (not a folder).
    std::function<bool(std::string_view path)> is_file;
    // Effects.
    std::function<bool(std::string_view name, Task_Proc proc, uint64_t data)> task_start;
    std::function<void()> task_cancel;
    std::function<bool(std::string_view program, std::string_view folder)> run_game;
    std::function<bool(std::string_view target)> shell_open;
    // The system folder or file picker for the App's pick mode; a chosen
    // path goes to pick_apply.
    std::function<void(App&)> pick_with_dialog;
    std::function<bool(App&, std::string_view path)> pick_apply;
    std::function<void(App&, std::string_view path)> browser_go;
    // The system's file or folder dialog; "not available" in the error where
    // there is none.
    std::function<File_Dialog_Result(App&, const File_Dialog_Request&)> file_dialog;
    // The compiler dialog's file picker: the chosen clang stored as the
    // compiler setting (and saved); "" when nothing was chosen. Null where
    // the system has no file dialog.
    std::function<std::string(App&)> choose_compiler;
    // A compiler picked from the list: the toolchain follows the setting.
    std::function<void()> compiler_chosen;
    // Writes "settings.txt"; rewrites "Quillmarsh.cfg" beside the launcher
    // only when it exists there.
    std::function<bool()> save_settings;
    std::function<bool()> cfg_rewrite;
    // Keeps the archive and starts its import; false when it did not start.
    std::function<bool(std::string_view archive)> import_archive;
    std::function<void()> cfg_import;
    // After a language change: the fonts again, "language.txt" written.
    std::function<void(App&)> reload_fonts;
    std::function<void()> save_language;
    // The window's background, drawn first into the begun frame (the
    // window sets it; none without a window).
    std::function<void(App&)> draw_background;
    // The system's message box for an error the player must read.
    std::function<void(std::string_view title, std::string_view text)> message_box;
};

// The real procedures.
Ui_Procs ui_real_procs();

// The tasks the Home page and the dialogs start; a null one (tests) keeps
// its button disabled.
struct Ui_Tasks {
    Task_Proc convert_movies = convert_task;
    Task_Proc discard_movies = discard_task;
    Task_Proc discard_assets = hd_discard_task;
    Task_Proc uninstall_hd = hd_uninstall_task;
    Task_Proc hdm_apply = hdm_apply_task;
    Task_Proc sculpt_apply = sculpt_apply_task;
};

struct App {
    Ui_State ui;
    Ui_Shared shared;
    Ui_Procs procs = ui_real_procs();
    Ui_Tasks tasks;
    Pick_Request pick;
    int width = 0, height = 0;   // client size
    const Input_State* input = nullptr;   // the frame's keys and pads
    uint32_t dialogs_at_start = 0;   // the dialogs showing as the frame began
};

// Set by the Build to Run task when it succeeded; the Home page starts the
// game in the first frame after it with no task running.
std::atomic<uint8_t>& play_after_build_flag();

// Task procedures started from the window.
void task_build(Task& t);
void task_build_and_run(Task& t);
void task_clear_cache(Task& t);
void task_clear_and_build(Task& t);
void task_run_failed(Task& t);

// Lengths of the interface: units x scale, truncated to whole pixels.
inline int64_t px(const Ui_State& ui, double units) { return int64_t(units * double(ui.scale)); }

// The modal test of the main loop: a dialog or the browser is open.
bool ui_modal(const Ui_Shared& s);

// One frame of the interface without a window: pointer and wheel from the
// input state, the one compiler probe, a pending pick, a language change,
// the frame's draw list begun, the popup's click, the pages and dialogs, the
// popup and the tooltip on top. `now` is clock_ns (or a test's clock).
struct Frame_Result {
    bool modal = false;
};
Frame_Result ui_frame(App& app, const Input_State& input, int64_t now);

// The sort order of the browser's entries: byte order of the lower-cased names.
bool name_less(std::string_view a, std::string_view b);
// The real pick procedures (a test may call them with its own procedures).
void pick_with_dialog(App& app);
bool pick_apply(App& app, std::string_view path);
void browser_go(App& app, std::string_view path);
// Where a mod archive is looked for first: the profile's Downloads (else the
// profile) where USERPROFILE is set (Windows); elsewhere the XDG download
// folder, else HOME/Downloads, else HOME. Empty when none is a folder.
std::string downloads_folder();
// The compiler dialog's picker: the system's file dialog for clang, the
// chosen path stored as the compiler setting and saved; "" when none.
std::string choose_compiler_file(App& app);
// The browser dialog; drawn by draw_dialogs while browser_open is set.
void draw_browser(App& app);
void draw_cross(App& app, const Ui_Rect& content);
void draw_input_map(App& app, const Ui_Rect& content);
// The two Options pages (0 Game, 1 Build) and Features & Mods (2).
void draw_options(App& app, const Ui_Rect& content, int page);

// Draws the tabs, the language choice, the page and the dialogs.
void draw_ui(App& app);
