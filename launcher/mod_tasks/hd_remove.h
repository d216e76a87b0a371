// The two clean-up actions of the HD textures: "Discard Old Assets" deletes
// the game's own archives that a finished HD Project import replaced (and
// the HD Project's ZIP), "Uninstall HD Project" deletes what the HD Project
// import left in the game folder and the data folder, keeping the HD Fonts
// and GUI textures.
#pragma once
#include <string>
#include <vector>

struct Task;

struct Hd_Leftover {
    std::string path;
    // An HD folder that also holds HD Fonts and GUI: everything in it goes
    // but "quillmarsh_hd_gui.txt" and "hd_textures".
    bool keeps_gui = false;
};
// What the HD Project left on disk, in the order the uninstall deletes it:
// the probe file, the HD folders (only with HD Project files in them) and
// work folders, what a stopped swap or clean-up left beside them (".old",
// ".out"), the import log.
std::vector<Hd_Leftover> hd_project_left();

// The task "Discard Old Assets".
void hd_discard_task(Task& t);
// The task "Uninstall HD Project"; failed when something could not be
// deleted.
void hd_uninstall_task(Task& t);
