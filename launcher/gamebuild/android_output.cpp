// The Android output of a cross build: the signed "Quillmarsh.apk" with the
// manifest, the compiled resources, the configuration and the game library,
// and the "README.txt" beside it.
#include "engine/kt_system/fs.h"
#include "engine/kt_system/path.h"
#include "launcher/gamebuild/apk.h"
#include "launcher/gamebuild/config.h"
#include "launcher/gamebuild/cross.h"
#include "launcher/core/paths.h"
#include "launcher/core/task.h"

std::string android_cfg_text(const Cross_Target& target) {
    std::string cfg = fmt("# Quillmarsh's settings for %s, written by the launcher's Cross-Compile Build.\n",
                          target.label);
    cfg += "# (An efsg.cfg in the app's own folder on the device, Android/data/com.quillmarsh.efsg/files, overrides "
           "it.)\n";
    cfg_game_lines(cfg, &target);
    return cfg;
}

bool android_write_output(Task& t, const Cross_Target& target, std::string_view out_dir, std::string_view linked) {
    std::string inputs = data_path({"cross", target.name, "apk"});
    std::vector<Apk_Entry> entries(2);
    entries[0].name = "AndroidManifest.xml";
    entries[1].name = "resources.arsc";
    for (Apk_Entry& e : entries) {
        if (!fs_read(path_join({inputs, e.name}), e.data)) {
            logf(t, "This launcher carries no APK files for %s (%s).", target.label, inputs);
            return false;
        }
    }
    apk_add_dir(entries, path_join({inputs, "res"}), "res");
    Apk_Entry cfg;
    cfg.name = "assets/Quillmarsh.cfg";
    cfg.data = android_cfg_text(target);
    entries.push_back(std::move(cfg));
    Apk_Entry lib;
    lib.name = "lib/arm64-v8a/libmain.so";
    lib.align = 16384;
    if (!fs_read(linked, lib.data)) {
        logf(t, "Cannot read %s.", linked);
        return false;
    }
    entries.push_back(std::move(lib));

    set_status(t, 0.96f, "Writing the APK");
    if (!apk_write(t, path_join({out_dir, "Quillmarsh.apk"}), entries)) return false;
    std::string readme = path_join({out_dir, "README.txt"});
    std::string err;
    if (fs_write(readme, cross_readme_android(cross_cpu(target)), &err)) return true;
    logf(t, "Cannot write %s: %s.", readme, err);
    return false;
}

std::string cross_readme_android(std::string_view cpu) {
    const std::string apk = "Quillmarsh.apk";
    std::string s;
    s += "Quillmarsh for Android (ARM64)\n";
    s += "===============================\n";
    s += "\n";
    s += fmt("Built by the Quillmarsh launcher's Cross-Compile tab (CPU: %s). Needs Android 10 or newer on a 64-bit "
             "ARM\n",
             cpu);
    s += "device with Vulkan graphics. It has on-screen touch controls (A, B, 0 = pause, 1 = select / skip, and an\n";
    s += "analog stick wherever a finger goes down: left half to move, right half for the camera); a game controller,\n";
    s += "or a keyboard and mouse, work too. Cutscenes play through Android's own video decoder once they are\n";
    s += "converted on a PC (Convert Movies: the .mp4 files go with the game folder).\n";
    s += "\n";
    s += fmt("1. Install %s on the device: copy it there and open it (allow installing apps from that source when\n",
             apk);
    s += fmt("   Android asks), or from a computer with adb:   adb install -r %s\n", apk);
    s += "   A new build installs over the old one (it is signed with the same key: the launcher keeps it).\n";
    s += "\n";
    s += "2. Copy your EMBERFALL SAGA folder (the one with amber_data in it) to the device's internal storage,\n";
    s += "   named \"EMBERFALL SAGA\" (so: Internal storage/EMBERFALL SAGA/amber_data/...), or to the top of a\n";
    s += "   microSD card (SD card/EMBERFALL SAGA/amber_data/...): the game looks on every card and USB drive too.\n";
    s += "   Without the movies it is about 19 GB (run Convert Movies and Discard Movies on the PC first: that keeps\n";
    s += "   the converted cutscenes and makes the original movie files tiny). Somewhere else: write the folder's\n";
    s += "   full path into Android/data/com.quillmarsh.efsg/files/game_dir.txt (e.g. /storage/1234-ABCD/Games/EMBERFALL "
         "SAGA).\n";
    s += "\n";
    s += "3. Start Quillmarsh. The first time it asks for access to your files (on Android 11 and later: \"Allow access "
         "to\n";
    s += "   manage all files\" -- turn it on, then go back to the app). It then finds the game and starts.\n";
    s += "   (Or, without that permission: put the game folder in Android/data/com.quillmarsh.efsg/files/ instead,\n";
    s += "   e.g. adb push \"EMBERFALL SAGA\" /sdcard/Android/data/com.quillmarsh.efsg/files/ after starting it once.)\n";
    s += "\n";
    s += "Saves: the game keeps a copy of every save in the folder \"Quillmarsh Saves\" at the top of the phone's "
         "internal\n";
    s += "storage (with the access to your files from step 3), for copying off the phone. To bring saves from a PC "
         "(efsg-00.dat,\n";
    s += "efsg-01.dat ... from the launcher's save folder or Steam's), put them in that folder, at the top of the "
         "internal\n";
    s += "storage or in Download: the next time the game starts it takes in each one newer than its own (the one it "
         "replaces\n";
    s += "is kept in Android/data/com.quillmarsh.efsg/files/cdrive/.../save_cloud_backup).\n";
    s += "The game's log (efsg.log), its own save folder and its shader cache are in "
         "Android/data/com.quillmarsh.efsg/files/.\n";
    s += "If it does not start, that log says why: adb pull /sdcard/Android/data/com.quillmarsh.efsg/files/efsg.log\n";
    return s;
}
