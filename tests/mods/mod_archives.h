// The mod archives the import tests hand to the launcher, made on the spot:
// each holds what its mod's recognition and checks look for, plus the
// members an import must leave alone.
#pragma once
#include <string>
#include <vector>

#include "launcher/mods/buttons.h"
#include "launcher/mods/hard_mode.h"
#include "launcher/mods/hd_models.h"
#include "launcher/mods/sculpt.h"
#include "tests/mods/zip_maker.h"
#include "tests/rar5/rar5_test_writer.h"

inline std::vector<Zip_Member> hard_mode_members() {
    std::vector<Zip_Member> m = {{"Hard Mode 1.16/", ""}};
    for (const Hard_Option& o : hard_options) {
        for (std::string_view f : o.files) {
            if (!f.empty()) m.push_back({"Hard Mode 1.16/Options/" + std::string(f), "db/x.wdb\nrow,1,w,2\n", true});
        }
    }
    m.push_back({"Hard Mode 1.16/NOTES.TXT", "upper-case text counts"});
    m.push_back({"Hard Mode 1.16/preview.png", "not a text file"});
    return m;
}

inline std::vector<Zip_Member> sculpt_members() {
    std::vector<Zip_Member> m;
    for (const Sculpt_Character& c : sculpt_characters)
        m.push_back({"Sculpting 4.0.5/" + std::string(c.batch_file), "@echo off\r\n:SCULPT\r\nexit\r\n"});
    m.push_back({"Sculpting 4.0.5/bin/SAGA_Sculpting.bin", std::string(3000, 's'), true});
    m.push_back({"Sculpting 4.0.5/readme.txt", "left out"});
    m.push_back({"Sculpting 4.0.5/.bat", "the shortest name that is unpacked"});
    return m;
}

// HD Models+ below a root folder, with members an import must skip.
inline std::vector<Zip_Member> hd_models_members() {
    const std::string root = "EF SAGA HD Models 4.1.7/";
    std::vector<Zip_Member> m = {
        {root, ""},
        {root + "SupportFiles/", ""},
        {root + "SupportFiles/EF SAGA HD Models.exe", "MZ tool", true},
        {root + "SupportFiles/helper.dll", "MZ helper"},
        {root + "SupportFiles/run.BAT", "@echo off"},
        {root + "Textures/c201/skin.dds", std::string(5000, 't'), true},
        {root + "Data/../escape.txt", "must not be written"},
        {root + "Readme.txt", "outside the wanted folders"},
        {"Data/X_Kestrel1.txt", "outside the root folder"},
    };
    for (const Hdm_Character& c : hdm_characters)
        for (const Hdm_Variant& v : c.variants)
            for (std::string_view f : v.files) m.push_back({root + "Data/" + std::string(f), "list " + std::string(f)});
    return m;
}

// A glyph sheet that passes the blank test: alpha 0 on the left half,
// 255 on the right, colours varying.
inline std::string glyph_sheet(uint8_t seed) {
    std::string s(bb_sheet_size, '\0');
    for (size_t i = 0; i < bb_sheet_size / 4; i++) {
        s[4 * i + 0] = char(uint8_t(i * 7 + seed));
        s[4 * i + 1] = char(uint8_t(i * 3));
        s[4 * i + 2] = char(uint8_t(i >> 5));
        s[4 * i + 3] = char((i % 256) < 128 ? 0 : 255);
    }
    return s;
}

inline std::string button_file(const std::string& sheet) {
    std::string f(size_t(bb_file_size), '\x11');
    f.replace(bb_sheet_offset, bb_sheet_size, sheet);
    return f;
}

inline std::vector<Zip_Member> button_members() {
    return {{"Better Button Icons v2.0/PS3/SYSTEM.WIN32.PS3", button_file(glyph_sheet(1)), true},
            {"Better Button Icons v2.0/360/system.win32.360", button_file(glyph_sheet(2)), true}};
}

// HD Fonts and GUI as a RAR5 archive, and a file with only its signature.
inline std::string rar5_fonts() {
    rar5_writer::Entry folder, db;
    folder.name = "HD Fonts";
    folder.directory = true;
    db.name = "HD Fonts/HD_Textures/hash_database.txt";
    db.content = "hash list";
    return rar5_writer::archive({folder, db});
}
inline std::string rar5_damaged() { return std::string("Rar!\x1a\x07\x01\x00", 8) + "rest of a RAR5 archive"; }
inline std::string rar4_bytes() { return std::string("Rar!\x1a\x07\x00", 7) + "rest of a RAR 4 archive"; }
