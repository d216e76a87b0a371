// Every page and the dialogs and browser over it, in every language, at the
// window's usual and smallest size and at several interface scales, scrolled
// through from top to bottom: no text may be drawn outside the box its
// widget or row gave it (what lies beyond the clip of a scrolled page does
// not count), no two texts of the same layer overlap, no text runs across
// a panel's or dialog's border, and only data (paths, file names, compiler
// versions, the log) may be shortened with "…": a label, heading, hint,
// note or drop-down entry is drawn whole. Besides, every button, tab and
// drop-down entry has a text in the language shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <set>
#include <string>

#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/core/i18n.h"
#include "launcher/core/settings.h"
#include "launcher/core/inputmap.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_harness.h"

namespace {

Ui_Rect intersect(const Ui_Rect& a, const Ui_Rect& b) {
    int64_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    int64_t x1 = std::min(a.x + a.w, b.x + b.w), y1 = std::min(a.y + a.h, b.y + b.h);
    if (x1 <= x0 || y1 <= y0) return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

bool contains(const Ui_Rect& outer, const Ui_Rect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

std::string show(const Ui_Rect& r) {
    return "(" + std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.w) + "x" +
           std::to_string(r.h) + ")";
}

// The fixed words of a catalogue text, split at its placeholders ("%s",
// "%d", "%.1f"; "%%" is a fixed "%").
std::vector<std::string> fixed_parts(std::string_view t) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] != '%') {
            parts.back() += t[i];
        } else if (i + 1 < t.size() && t[i + 1] == '%') {
            parts.back() += '%';
            ++i;
        } else {
            size_t j = i + 1;
            while (j < t.size() && !std::isalpha(uint8_t(t[j]))) ++j;
            i = j;
            parts.emplace_back();
        }
    }
    return parts;
}

// `cut` is the text of `parts` from its start, ending inside fixed words:
// the placeholders take anything.
bool cut_in_fixed_words(std::string_view cut, const std::vector<std::string>& parts, size_t part) {
    const std::string& p = parts[part];
    if (cut.size() <= p.size()) return !cut.empty() && p.compare(0, cut.size(), cut) == 0;
    if (cut.compare(0, p.size(), p) != 0 || part + 1 == parts.size()) return false;
    std::string_view rest = cut.substr(p.size());
    for (size_t taken = 0; taken < rest.size(); ++taken) {
        if (cut_in_fixed_words(rest.substr(taken), parts, part + 1)) return true;
    }
    return false;
}

// A text drawn cut with "…" that is the interface's own: what comes before
// the "…" is the start of a catalogue text (in the language shown or in
// English) ending inside its fixed words, or lies inside its fixed words (a
// later line of a wrapped text). What was cut inside a placeholder is data.
bool cut_system_text(const Catalog& cat, std::string_view drawn) {
    std::string_view cut = drawn.substr(0, drawn.size() - 3);
    while (!cut.empty() && cut.back() == ' ') cut.remove_suffix(1);
    if (cut.empty()) return true;   // nothing but the "…"
    bool cut_words = false;
    for (size_t k = 0; k < cat.keys.size(); ++k) {
        const Text_Value* v = text_get(cat, int(k), cat.current);
        for (std::string_view t : {cat.keys[k].text, v ? v->text : std::string_view()}) {
            if (t.empty()) continue;
            std::vector<std::string> parts = fixed_parts(t);
            // A text, or a line of one, whose own word ends in "…" ("Add Folder…") is whole.
            if (cut_in_fixed_words(drawn, parts, 0)) return false;
            if (cut_in_fixed_words(cut, parts, 0)) cut_words = true;
            for (const std::string& p : parts) {
                if (p.find(cut) != std::string::npos && p.find(drawn) == std::string::npos) cut_words = true;
            }
        }
    }
    return cut_words;
}

// A label a page formatted itself from a translation ("Build for %s"): it
// matches that translation's text around its placeholder.
bool formatted_translation(const Catalog& cat, std::string_view label) {
    for (size_t k = 0; k < cat.keys.size(); ++k) {
        const Text_Value* v = text_get(cat, int(k), cat.current);
        if (!v) continue;
        std::string_view t = v->text;
        size_t at = t.find("%s");
        if (at == std::string_view::npos) continue;
        std::string_view before = t.substr(0, at), after = t.substr(at + 2);
        if (before.empty() && after.empty()) continue;   // "%s" alone says nothing
        if (label.size() >= before.size() + after.size() && label.substr(0, before.size()) == before &&
            label.substr(label.size() - after.size()) == after) {
            return true;
        }
    }
    return false;
}

// Labels and drop-down rows that are the same in every language: numbers
// and signs ("/"), and names
// (the game's people, whose outfits the models mod offers, and the products
// a CPU is known by).
bool stays_as_it_is(std::string_view entry) {
    if (std::none_of(entry.begin(), entry.end(), [](char c) { return std::isalpha(uint8_t(c)) != 0; })) return true;
    static constexpr std::string_view names[] = {
        "Maren Corran", "Dasha",      "Holm", "Veska Lorn", "Tarsa's Wyrmfall", "Oswin Tolvar",
        "Brisk Tolle",  "Ruel",       "Tobin", "Wenna Hale", "Garrow",          "Aldous Hale",
        "Kip",          "Vulkan",     "Raspberry Pi 4 (Cortex-A72)",           "Raspberry Pi 5 (Cortex-A76)",
        "Apple M1 / M2 (Asahi Linux)",
    };
    return std::find(std::begin(names), std::end(names), entry) != std::end(names);
}

bool ends_in_ellipsis(const std::string& s) { return s.size() >= 3 && s.compare(s.size() - 3, 3, "…") == 0; }

struct Faults {
    std::set<std::string> fit;            // texts outside their boxes, overlaps, across borders, cut
    std::set<std::string> untranslated;   // labels and drop-down entries the language has no text for
};

// The faults of the last frame; texts before `first` belong to the layer
// under a dialog, which is checked by itself.
void check_frame(const Ui_Harness& h, const std::string& where, size_t first, Faults& faults) {
    const std::vector<Text_Item>& texts = h.app.ui.texts;
    const Catalog& cat = the_catalog();
    std::vector<Ui_Rect> seen(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        const Text_Item& t = texts[i];
        seen[i] = intersect(t.ink, t.clip);
        if (seen[i].w == 0) continue;   // scrolled away
        // A glyph's quad may reach a pixel or two past its advance (the
        // hook of a "J", an edge of coverage).
        const int64_t slack = px(h.app.ui, 2);
        const Ui_Rect room{t.box.x - slack, t.box.y, t.box.w + 2 * slack, t.box.h};
        if (!contains(room, seen[i])) {
            faults.fit.insert(where + ": \"" + t.text + "\" drawn at " + show(seen[i]) + " outside its box " +
                              show(t.box));
        }
        if (ends_in_ellipsis(t.text) && cut_system_text(cat, t.text)) {
            faults.fit.insert(where + ": \"" + t.text + "\" is cut");
        }
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        for (size_t j = i + 1; j < texts.size(); ++j) {
            if (seen[i].w == 0 || seen[j].w == 0 || (i < first) != (j < first)) continue;
            Ui_Rect both = intersect(seen[i], seen[j]);
            // Glyph quads of neighbouring lines may touch by their padding.
            if (both.w > 1 && both.h > 2) {
                faults.fit.insert(where + ": \"" + texts[i].text + "\" and \"" + texts[j].text + "\" overlap at " +
                                  show(both));
            }
        }
    }
    // Panel and dialog borders: a text lies wholly inside a panel or wholly
    // outside it. The page's texts under a dialog meet only the page's panels.
    const Trace_Item* dialog = nullptr;
    for (const Trace_Item& w : h.app.ui.trace) {
        if (w.kind == Widget_Kind::Panel && w.id == "dialog") dialog = &w;
    }
    for (const Trace_Item& w : h.app.ui.trace) {
        if (w.kind != Widget_Kind::Panel) continue;
        bool in_dialog = dialog && (&w == dialog || contains(dialog->rect, w.rect));
        for (size_t i = 0; i < texts.size(); ++i) {
            if (seen[i].w == 0 || in_dialog != (dialog && i >= first)) continue;
            if (intersect(seen[i], w.rect).w > 0 && !contains(w.rect, seen[i])) {
                faults.fit.insert(where + ": \"" + texts[i].text + "\" at " + show(seen[i]) +
                                  " runs across the border of " + show(w.rect));
            }
        }
    }
    // The tabs end left of the language choice.
    const Trace_Item* choice = h.find_id("language", Widget_Kind::Dropdown);
    for (const Trace_Item& w : h.app.ui.trace) {
        if (w.kind == Widget_Kind::Tab && choice && w.rect.x + w.rect.w > choice->rect.x) {
            faults.fit.insert(where + ": the tab \"" + std::string(shown(w.label)) + "\" " + show(w.rect) +
                              " runs under the language choice " + show(choice->rect));
        }
    }
    // Labels of buttons and tabs and the rows of drop-downs: translated;
    // a row no wider than its drop-down's box.
    for (const Trace_Item& w : h.app.ui.trace) {
        bool entry = w.kind == Widget_Kind::Entry;
        if (w.kind != Widget_Kind::Button && w.kind != Widget_Kind::Tab && !entry) continue;
        if (w.id == "entry") continue;   // the browser's file names
        if (cat.current != 0 && !stays_as_it_is(w.label)) {
            int key = text_find(cat, w.label, text_hash(w.label));
            bool found = key >= 0 && text_get(cat, key, cat.current);
            if (!found && !formatted_translation(cat, w.label)) {
                faults.untranslated.insert(where + ": \"" + w.label + "\" has no translation");
            }
        }
        if (entry && text_width(h.app.ui.font, shown(w.label)) > w.rect.w) {
            faults.fit.insert(where + ": the row \"" + std::string(shown(w.label)) + "\" of drop-down " + w.id +
                              " is wider than its box " + show(w.rect));
        }
    }
}

struct Fresh_Settings {
    explicit Fresh_Settings(const Settings& s) { settings_replace(s); }
    ~Fresh_Settings() { settings_replace(Settings{}); }
};

// The state that puts the most on the pages: every mod imported, the
// Japanese edition's eight voice rows, save folders, remapped buttons and
// keys.
Settings full_settings() {
    Settings s;
    s.save_dirs = {"/home/player/Documents/EMBERFALL SAGA/Saves", "/media/backup/old saves of the game"};
    pad_map_parse(s, "a=b,b=a,start=back");
    key_map_parse(s, "4=224,26=41,44=230");
    return s;
}

Features_State full_features() {
    Features_State f;
    f.hd_folder = f.hd_project = f.hd_gui = true;
    f.hd_zip = "EF SAGA HD.zip";
    f.hd_region = "u";
    f.hd_left = {"/games/amber_data_hd"};
    f.hd_left_real = true;
    f.old_bytes = 3'000'000'000;
    f.buttons = f.hard = f.hdm = f.sculpt = true;
    return f;
}

// Scrolls the page from top to bottom, half a view at a time, checking
// each frame.
void check_page(Ui_Harness& h, Page page, const std::string& where, Faults& faults) {
    Ui_Shared& sh = h.app.shared;
    sh.current_page = page;
    int64_t* scroll = page == Page::Game_Options    ? &sh.options_scroll[0]
                      : page == Page::Build_Options ? &sh.options_scroll[1]
                      : page == Page::Features      ? &sh.options_scroll[2]
                      : page == Page::Input_Map     ? &sh.input_scroll
                                                    : nullptr;
    if (scroll) *scroll = 0;
    h.frame();   // the content height is measured in the first frame
    for (int64_t at = 0;; at += px(h.app.ui, 300)) {
        if (scroll) *scroll = at;
        h.frame();
        EXPECT_FALSE(h.app.ui.texts.empty()) << where << ": no text drawn";
        check_frame(h, where + " at " + std::to_string(scroll ? *scroll : 0), 0, faults);
        if (!scroll || *scroll < at) break;   // the page stopped short: its end
    }
}

// A dialog over the page: the page's texts keep to their boxes, the
// dialog's to theirs and among themselves.
void check_dialog(Ui_Harness& h, const std::string& where, const std::function<void(Ui_Shared&)>& open,
                  Faults& faults) {
    h.frame();
    size_t page_texts = h.app.ui.texts.size();
    open(h.app.shared);
    h.frame();
    EXPECT_GT(h.app.ui.texts.size(), page_texts) << where << ": the dialog drew no text";
    check_frame(h, where, page_texts, faults);
    Ui_Shared& s = h.app.shared;
    s.updated_dialog = 0;
    s.movies_dialog = s.assets_dialog = s.uninstall_dialog = 0;
    s.compiler_probe = 2;
    s.remap_state = 0;
    s.browser_open = 0;
    h.frame();
}

struct Language_Reset {
    ~Language_Reset() { language_set(0); }
};

// A folder for the browser: sub-folders, one of them the game's, and
// archives, with names long enough to be cut.
struct Browser_Folder {
    Temp_Dir dir;
    std::string game;
    Browser_Folder() {
        game = path_join({dir.path, "EMBERFALL SAGA"});
        fs_make_dirs(path_join({game, "amber_data/prog/win/bin"}));
        fs_write(path_join({game, "amber_data/prog/win/bin/efsagaimg.exe"}), "MZ");
        fs_make_dirs(path_join({dir.path, "A folder with a name much longer than any row of the browser can show"}));
        fs_make_dirs(path_join({dir.path, "Saves"}));
        fs_write(path_join({dir.path, "EF SAGA HD Project (textures, models, fonts and the GUI, all regions).zip"}),
                 "PK");
        fs_write(path_join({dir.path, "Console Button Prompts.zip"}), "PK");
    }
};

// The world with the most to show: every mod imported (or none), old
// assets and movies to discard, a compiler that winget can install.
void fill_world(Ui_Harness& h, bool running, bool mods) {
    h.app.procs.browser_go = browser_go;
    h.world.game.edition = "JP";
    h.world.game.to_convert = 12;
    h.world.features = mods ? full_features() : Features_State{};
    h.world.hd_gui = h.world.hd_discarded = true;
    h.world.hd_zip = "/games/EMBERFALL SAGA/EF SAGA HD.zip";
    h.world.zip_bytes = 2'500'000'000;
    h.world.old_assets = 41;
    h.world.old_asset_bytes = 5'100'000'000;
    h.world.game.discardable = 812;
    h.world.game.discard_bytes = 24'600'000'000;
    h.world.game.kept = 3;
    h.world.deps[0].status = "clang-18 (exits 1), clang (not found), cc (not Clang)";
    h.world.deps[0].install = {"winget", "install", "MartinStorsjo.LLVM-MinGW.UCRT"};
    h.world.deps[0].install_label = "Install LLVM-MinGW (winget)";
    h.world.task_running = running;
    h.world.task_name = "Build";
    h.world.task_step = "Compiling 1532 of 4210";
    h.app.shared.updated_dialog = 0;
    h.app.shared.compiler_probe = 2;
}

struct Window_Size {
    int width, height;
    float scale;
};

std::string size_name(const Window_Size& s) {
    char out[64];
    std::snprintf(out, sizeof out, "%dx%d at %.2f", s.width, s.height, double(s.scale));
    return out;
}

struct Dialog_Case {
    const char* name;
    Page page;
    std::function<void(Ui_Shared&)> open;
};
const std::vector<Dialog_Case>& dialog_cases() {
    static const std::vector<Dialog_Case> cases = {
        {"the launcher was updated", Page::Home, [](Ui_Shared& s) { s.updated_dialog = 1; }},
        {"discard the old movies", Page::Home, [](Ui_Shared& s) { s.movies_dialog = 1; }},
        {"discard the old assets", Page::Features, [](Ui_Shared& s) { s.assets_dialog = 1; }},
        {"uninstall the HD Project", Page::Features,
         [](Ui_Shared& s) {
             s.uninstall_dialog = 1;
             s.uninstall_bytes = 12'345'000'000;
         }},
        {"uninstall the HD Project while measuring", Page::Features,
         [](Ui_Shared& s) {
             s.uninstall_dialog = 1;
             s.uninstall_bytes = -1;
         }},
        {"a C compiler is needed", Page::Home, [](Ui_Shared& s) { s.compiler_probe = 1; }},
    };
    return cases;
}

struct Browser_Case {
    const char* name;
    Pick_Mode mode;
    bool saves;
    bool at_game;
};
constexpr Browser_Case browser_cases[] = {
    {"the game folder browser", Pick_Mode::Game_Folder, false, false},
    {"the game folder browser at the game", Pick_Mode::Game_Folder, false, true},
    {"the save folder browser", Pick_Mode::Save_Folder, true, false},
    {"the mod archive browser", Pick_Mode::Mod_Archive, false, false},
};

// Opens the browser of a case over the page.
std::function<void(Ui_Shared&)> open_browser(Ui_Harness& h, const Browser_Case& b, const Browser_Folder& folder) {
    return [&h, &b, &folder](Ui_Shared& s) {
        s.pick_mode = b.mode;
        s.pick_saves = b.saves;
        browser_go(h.app, b.at_game ? folder.game : folder.dir.path);
        s.browser_open = 1;
    };
}

// Walks every page, state, dialog and browser mode in every language at one
// window size (given at scale 1) and interface scale.
Faults walk_every_page(const Window_Size& size) {
    i18n_init("");
    Language_Reset reset;
    Fresh_Settings fresh(full_settings());
    Browser_Folder folder;
    struct Page_Case {
        Page page;
        const char* name;
    } const pages[] = {
        {Page::Home, "Home"},
        {Page::Cross_Compile, "Cross-Compile"},
        {Page::Game_Options, "Game Options"},
        {Page::Build_Options, "Build Options"},
        {Page::Features, "Features & Mods"},
        {Page::Input_Map, "Input Map"},
    };
    const int width = int(std::lround(size.width * size.scale)), height = int(std::lround(size.height * size.scale));
    const std::string at_size = ", " + size_name(size);
    Faults faults;
    for (int lang = 0; lang < language_count; ++lang) {
        if (!language_set(lang)) {
            faults.fit.insert(std::string(language_table[lang].code) + ": the language cannot be chosen");
            continue;
        }
        const std::string code(language_table[lang].code);
        for (int state : {0, 1, 2}) {   // idle, a task running, idle with no mod imported and Android chosen
            const bool running = state == 1;
            settings_edit([&](Settings& s) { s.cross_target = state == 2 ? "android_arm64" : ""; });
            Ui_Harness h(width, height, size.scale);
            fill_world(h, running, state != 2);
            const std::string where = code + at_size + (running ? ", task running, " : state == 2 ? ", no mod, " : ", ");
            for (const Page_Case& p : pages) {
                if (state == 2 && p.page != Page::Features && p.page != Page::Cross_Compile) continue;
                check_page(h, p.page, where + p.name, faults);
            }
            if (state != 0) continue;
            // A key capture in its two steps, in place of the row's note.
            for (int64_t step : {1, 2}) {
                h.app.shared.remap_state = uint8_t(step);
                h.app.shared.remap_first = 230;
                check_page(h, Page::Input_Map, where + "key capture step " + std::to_string(step), faults);
                EXPECT_EQ(h.app.shared.remap_state, step);
            }
            h.app.shared.remap_state = 0;
            for (const Dialog_Case& d : dialog_cases()) {
                h.app.shared.current_page = d.page;
                check_dialog(h, where + d.name, d.open, faults);
            }
            for (const Browser_Case& b : browser_cases) {
                h.app.shared.current_page = Page::Home;
                check_dialog(h, where + b.name, open_browser(h, b, folder), faults);
            }
        }
    }
    return faults;
}

void report(const std::string& what, const std::set<std::string>& faults) {
    size_t n = 0;
    for (const std::string& f : faults) {
        ADD_FAILURE() << f;
        if (++n == 60) break;
    }
    EXPECT_TRUE(faults.empty()) << faults.size() << " " << what;
}

const Faults& usual_size() {
    static const Faults faults = walk_every_page({1080, 760, 1.0f});
    return faults;
}

TEST(TextFit, EveryTextIsWholeAndInItsBoxAtTheUsualSize) { report("texts out of place", usual_size().fit); }

// The window at its smallest, and both sizes drawn at the display scales
// players use (the window then is that many times larger).
TEST(TextFit, EveryTextIsWholeAndInItsBoxAtTheSmallestSizeAndEveryScale) {
    const Window_Size sizes[] = {
        {940, 640, 1.0f},  {1080, 760, 1.25f}, {940, 640, 1.25f}, {1080, 760, 1.5f},
        {940, 640, 1.5f},  {1080, 760, 2.0f},  {940, 640, 2.0f},
    };
    for (const Window_Size& s : sizes) report("texts out of place at " + size_name(s), walk_every_page(s).fit);
}

// Pictures to look at, under the build folder's screenshots/: the Features
// & Mods page with every mod imported, each dialog and the browser in each
// mode, in four languages of four scripts, at the usual and smallest size.
TEST(UiPicture, FeaturesDialogsAndBrowserInFourLanguages) {
    i18n_init("");
    Language_Reset reset;
    Fresh_Settings fresh(full_settings());
    Browser_Folder folder;
    struct Shot {
        std::string name;
        Page page;
        std::function<void(Ui_Shared&)> open;   // nullptr: the page alone
        int64_t scroll = 0;
    };
    for (const char* code : {"en", "ja", "de", "ru"}) {
        ASSERT_TRUE(language_set(language_index(code))) << code;
        for (Window_Size size : {Window_Size{1080, 760, 1.0f}, Window_Size{940, 640, 1.0f}}) {
            Ui_Harness h(size.width, size.height);
            fill_world(h, false, true);
            // The page at its mods: the import rows with their notes.
            std::vector<Shot> shots = {{"features_mods", Page::Features, nullptr, 440}};
            const char* dialog_names[] = {"updated", "movies", "assets", "uninstall", "uninstall_measuring",
                                          "compiler"};
            for (size_t i = 0; i < dialog_cases().size(); ++i) {
                shots.push_back({std::string("dialog_") + dialog_names[i], dialog_cases()[i].page,
                                 dialog_cases()[i].open});
            }
            const char* browser_names[] = {"browser_game", "browser_game_found", "browser_saves", "browser_archive"};
            for (size_t i = 0; i < std::size(browser_cases); ++i) {
                shots.push_back({browser_names[i], Page::Home, open_browser(h, browser_cases[i], folder)});
            }
            for (const Shot& shot : shots) {
                h.app.shared.current_page = shot.page;
                h.app.shared.options_scroll[2] = shot.scroll;
                h.frame();
                if (shot.open) shot.open(h.app.shared);
                h.frame();
                ren_render(h.renderer.backend, h.renderer.draw_list);
                Fake_State& st = fake_state(h.renderer.backend);
                ASSERT_EQ(st.frame_width, size.width);
                const std::string name = "ui_" + shot.name + "_" + code + "_" + std::to_string(size.width) + "x" +
                                         std::to_string(size.height) + ".png";
                EXPECT_TRUE(write_png(screenshot_path(name), size.width, size.height, 4, st.frame.data())) << name;
                Ui_Shared& sh = h.app.shared;
                sh.updated_dialog = 0;
                sh.movies_dialog = sh.assets_dialog = sh.uninstall_dialog = sh.browser_open = 0;
                sh.compiler_probe = 2;
            }
        }
    }
}

TEST(TextFit, EveryLabelAndDropDownEntryIsTranslated) {
    report("texts without a translation", usual_size().untranslated);
}

}  // namespace
