// The build identity: what the game beside the launcher was built from.
// "Quillmarsh.build-id" holds the bundle identity, the options signature and
// whether DLSS was chosen; the home page compares it with the present state.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view build_id_file_name = "Quillmarsh.build-id";
// The most read of it: a few short lines; a larger file is stale.
inline constexpr uint64_t build_id_file_limit = 64 * 1024;

// Four-lane FNV-1a 64 over `bytes` (the bundle from its magic on), folded
// with the length; never 0.
uint64_t bundle_identity_of(std::string_view bytes);
// The identity of the open bundle, computed once per process.
uint64_t bundle_identity();

// "options %s|O%d|pgo %v|lto %v|experimental %v|tools %v" of the settings.
std::string build_options_sig();
// The file's whole text for a build.
std::string build_id_text(uint64_t identity, std::string_view signature, bool dlss);
// Writes "Quillmarsh.build-id" into `folder` (replacing the old file in one
// step; `err` gets the system's reason on failure) and forgets the cached
// answer.
bool build_id_write(std::string_view folder, bool dlss, std::string* err = nullptr);

// The game beside the launcher was not built from this launcher's bundle
// (no file counts as stale). Read once, then cached until the next write.
bool build_stale();
// A built game exists, is not stale, and the options differ from those it
// was built with (or DLSS was chosen since and can be built in).
bool build_outdated();
