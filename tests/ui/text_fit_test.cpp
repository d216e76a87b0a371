// Every page and the dialogs it opens, in every language, scrolled through
// from top to bottom: no text may be drawn outside the box its widget or
// row gave it (what lies beyond the clip of a scrolled page does not
// count), a button or tab label that does not fit ends in "…", and no two
// texts of the same layer overlap. Besides, every button and tab label has
// a text in the language shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>

#include "launcher/core/i18n.h"
#include "launcher/core/settings.h"
#include "launcher/ui/inputmap.h"
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

bool ends_in_ellipsis(const std::string& s) { return s.size() >= 3 && s.compare(s.size() - 3, 3, "…") == 0; }

struct Faults {
    std::set<std::string> fit;            // texts outside their boxes, overlaps, labels cut without "…"
    std::set<std::string> untranslated;   // button and tab labels the language has no text for
};

// The faults of the last frame; texts before `first` belong to the layer
// under a dialog and are only checked against their own boxes.
void check_frame(const Ui_Harness& h, const std::string& where, size_t first, Faults& faults) {
    const std::vector<Text_Item>& texts = h.app.ui.texts;
    std::vector<Ui_Rect> seen(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        const Text_Item& t = texts[i];
        seen[i] = intersect(t.ink, t.clip);
        if (seen[i].w == 0) continue;   // scrolled away
        // A glyph's quad may reach a pixel or two past its advance (the
        // hook of a "J", an edge of coverage).
        const Ui_Rect room{t.box.x - 2, t.box.y, t.box.w + 4, t.box.h};
        if (!contains(room, seen[i])) {
            faults.fit.insert(where + ": \"" + t.text + "\" drawn at " + show(seen[i]) + " outside its box " +
                          show(t.box));
        }
    }
    for (size_t i = first; i < texts.size(); ++i) {
        for (size_t j = i + 1; j < texts.size(); ++j) {
            if (seen[i].w == 0 || seen[j].w == 0) continue;
            Ui_Rect both = intersect(seen[i], seen[j]);
            // Glyph quads of neighbouring lines may touch by their padding.
            if (both.w > 1 && both.h > 2) {
                faults.fit.insert(where + ": \"" + texts[i].text + "\" and \"" + texts[j].text + "\" overlap at " +
                              show(both));
            }
        }
    }
    // Labels of buttons and tabs: translated, and drawn whole or cut with "…".
    const Catalog& cat = the_catalog();
    for (const Trace_Item& w : h.app.ui.trace) {
        if (w.kind != Widget_Kind::Button && w.kind != Widget_Kind::Tab) continue;
        if (cat.current != 0) {
            int key = text_find(cat, w.label, text_hash(w.label));
            bool found = key >= 0 && text_get(cat, key, cat.current);
            if (!found && !formatted_translation(cat, w.label)) {
                faults.untranslated.insert(where + ": label \"" + w.label + "\" has no translation");
            }
        }
        const std::string full(shown(w.label));
        for (size_t i = 0; i < texts.size(); ++i) {
            const Text_Item& t = texts[i];
            if (seen[i].w == 0 || !contains(w.rect, t.box)) continue;
            if (t.text != full && !ends_in_ellipsis(t.text)) {
                faults.fit.insert(where + ": label \"" + full + "\" drawn as \"" + t.text + "\"");
            }
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
    for (int64_t at = 0;; at += 300) {
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
    h.frame();
}

struct Language_Reset {
    ~Language_Reset() { language_set(0); }
};

// Walks every page, state and dialog in every language once for the tests below.
Faults walk_every_page() {
    i18n_init("");
    Language_Reset reset;
    Fresh_Settings fresh(full_settings());
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
    struct Dialog_Case {
        const char* name;
        Page page;
        std::function<void(Ui_Shared&)> open;
    } const dialogs[] = {
        {"the launcher was updated", Page::Home, [](Ui_Shared& s) { s.updated_dialog = 1; }},
        {"discard the old movies", Page::Home, [](Ui_Shared& s) { s.movies_dialog = 1; }},
        {"discard the old assets", Page::Features, [](Ui_Shared& s) { s.assets_dialog = 1; }},
        {"uninstall the HD Project", Page::Features,
         [](Ui_Shared& s) {
             s.uninstall_dialog = 1;
             s.uninstall_bytes = 12'345'000'000;
         }},
        {"a C compiler is needed", Page::Home, [](Ui_Shared& s) { s.compiler_probe = 1; }},
    };
    Faults faults;
    for (int lang = 0; lang < language_count; ++lang) {
        if (!language_set(lang)) {
            faults.fit.insert(std::string(language_table[lang].code) + ": the language cannot be chosen");
            continue;
        }
        const std::string code(language_table[lang].code);
        for (bool running : {false, true}) {
            Ui_Harness h;
            h.world.game.edition = "JP";
            h.world.game.to_convert = 12;
            h.world.features = full_features();
            h.world.hd_gui = h.world.hd_discarded = true;
            h.world.hd_zip = "/games/EMBERFALL SAGA/EF SAGA HD.zip";
            h.world.zip_bytes = 2'500'000'000;
            h.world.old_assets = 41;
            h.world.old_asset_bytes = 5'100'000'000;
            h.world.deps[0].status = "clang-18 (exits 1), clang (not found), cc (not Clang)";
            h.world.task_running = running;
            h.world.task_name = "Build";
            h.world.task_step = "Compiling 1532 of 4210";
            h.app.shared.updated_dialog = 0;
            h.app.shared.compiler_probe = 2;
            for (const Page_Case& p : pages) {
                check_page(h, p.page, code + (running ? ", task running, " : ", ") + p.name, faults);
            }
            if (running) continue;
            // A key capture in its two steps, in place of the row's note.
            for (int64_t state : {1, 2}) {
                h.app.shared.remap_state = uint8_t(state);
                h.app.shared.remap_first = 230;
                check_page(h, Page::Input_Map, code + ", key capture step " + std::to_string(state), faults);
                EXPECT_EQ(h.app.shared.remap_state, state);
            }
            h.app.shared.remap_state = 0;
            for (const Dialog_Case& d : dialogs) {
                h.app.shared.current_page = d.page;
                check_dialog(h, code + ", " + d.name, d.open, faults);
            }
        }
    }
    return faults;
}

const Faults& every_page() {
    static const Faults faults = walk_every_page();
    return faults;
}

void report(const std::set<std::string>& faults) {
    size_t n = 0;
    for (const std::string& f : faults) {
        ADD_FAILURE() << f;
        if (++n == 60) break;
    }
}

TEST(TextFit, EveryPageAndDialogKeepsItsTextsInTheirWidgetsInEveryLanguage) {
    const Faults& faults = every_page();
    report(faults.fit);
    EXPECT_TRUE(faults.fit.empty()) << faults.fit.size() << " texts outside their widgets";
}

TEST(TextFit, EveryButtonAndTabLabelIsTranslated) {
    const Faults& faults = every_page();
    report(faults.untranslated);
    EXPECT_TRUE(faults.untranslated.empty()) << faults.untranslated.size() << " labels without a translation";
}

}  // namespace
