// The HD Project texture import: the mod's ZIP is unpacked into a work
// folder, the game's archives are pulled apart there with the mod's archive
// tool, the mod's texture tools rebuild the zones and models, and the
// results, packed into new copies of the game's archives, replace the HD
// folder as a whole at the very end. The game's own files are only read.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

struct Task;

// One zone of the mod's lists: its code, the game's zone folder and the
// location folder inside the zone's "bg" tree.
struct Hd_Zone {
    std::string_view code, zone, location;
};
inline constexpr Hd_Zone hd_zones[] = {
    {"Z2", "z002", "loc006"},  {"Z3", "z003", "loc007"},  {"Z4", "z004", "loc008"},  {"Z6", "z006", "loc010"},
    {"Z8", "z008", "loc012"},  {"Z10", "z010", "loc014"}, {"Z15", "z015", "loc015"}, {"Z16", "z016", "loc016"},
    {"Z17", "z017", "loc017"}, {"Z18", "z018", "loc018"}, {"Z19", "z019", "loc019"}, {"Z20", "z020", "loc020"},
    {"Z21", "z021", "loc021"}, {"Z22", "z022", "loc022"}, {"Z23", "z023", "loc023"}, {"Z24", "z024", "loc024"},
    {"Z26", "z026", "loc026"}, {"Z27", "z027", "loc027"}, {"Z29", "z029", "loc019"}, {"Z30", "z030", "loc030"},
};

// The task procedure's body for an HD Project ZIP (task "HD Textures").
void hd_import_task(Task& t, std::string_view archive_path);

// Free bytes the import needs on the work folder's disk: 25 GB less what
// is already unpacked (at most 12.5 GB of it), and never less than what the
// unpacking itself still has to write.
uint64_t hd_room_needed(uint64_t wanted_bytes, uint64_t unpacked_bytes);

// Whether a texture tool's run rebuilt its block or model: an exit code
// from 1 to 1000, or 0 when the mod's own list file drove the run. The code
// is taken as the 32-bit value Windows gives (so 0xFFFFFFFF is -1).
bool hd_texture_done(int64_t exit_code, bool list_used);

// A model id from the mod's lists becomes part of paths: refused when it
// holds "/", "\", ":" or "..".
bool hd_model_id_ok(std::string_view id);

// The first `limit` bytes of a text, cut back to a whole UTF-8 character.
std::string utf8_head(std::string_view text, size_t limit);

// Every entry of the game file list at `list` lies within the archive at
// `archive`; false with the first problem in `why`.
bool hd_pair_ok(std::string_view list, std::string_view archive, std::string* why);
