// The AppImage of the Linux cross build: the runtime for the architecture
// (carried in the bundle under "appimage/") followed by our own uncompressed
// SquashFS image with "AppRun", the desktop entry, the icon and the game.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "launcher/gamebuild/squashfs.h"

struct Task;

inline constexpr std::string_view program_name = "Quillmarsh";
extern const std::string_view desktop_entry_text;
// The launcher's icon: one 256x256 PNG.
std::string_view icon_png();

// The start script for the program name; `game_folder` adds the block that
// puts the game's install, saves and cache beside the .AppImage.
std::string apprun_text(std::string_view program, bool game_folder);

// The image's files, in packing order. `program` and `cfg` are borrowed;
// `extras` holds the optional files read from the bundle (kept alive by the
// caller).
std::vector<Sq_File> appimage_files(std::string_view apprun, std::string_view program, std::string_view cfg,
                                    std::string_view arch, std::vector<std::string>& extras);

// Writes the AppImage at `path` (under "<path>.tmp", then renamed) from the
// linked program at `program_path` and the configuration text. True on
// success; the reason is logged otherwise.
bool appimage_pack(Task& t, std::string_view path, std::string_view program_path, std::string_view cfg,
                   std::string_view arch, bool game_folder);
