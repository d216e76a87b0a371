#!/usr/bin/env bash
# The main job: installs what is missing, builds the Linux launcher and runs
# it on a demo data folder under build/demo. Safe to run again: the demo
# folder is prepared afresh each time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${QM_JOBS:-$(nproc)}

bash scripts/setup.sh

cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target quillmarsh-launcher

demo="$root/build/demo"
app="$demo/app"              # the launcher's own folder
local_dir="$demo/local"      # stands for LOCALAPPDATA
data="$local_dir/efsg-launcher"
rm -rf "$demo"
mkdir -p "$app" "$data"
cp build/linux/launcher/quillmarsh-launcher "$app/"

# A data folder and a launcher folder as earlier runs leave them: unpacked
# sources, objects and a built game's files to clear; saves, mod sources and
# the language choice to keep.
mkdir -p "$data/src/game" "$data/obj" "$data/cdrive" "$data/mod_src"
echo 'int main(void) { return 0; }' > "$data/src/game/main.c"
: > "$data/obj/main.o"
echo 'slot 1' > "$data/cdrive/save0.dat"
printf 'en' > "$data/language.txt"
echo '# written by the launcher' > "$app/Quillmarsh.cfg"
: > "$app/Quillmarsh.build-id"

run() {
  echo "== quillmarsh-launcher $*"
  LOCALAPPDATA="$local_dir" "$app/quillmarsh-launcher" "$@"
}

run --clear-cache
echo "== left in the data folder: $(cd "$data" && ls -A | tr '\n' ' ')"

# "--check" on a fixture install of the game: a store library under a
# stand-in ProgramFiles (found through its libraryfolders.vdf), with movie
# containers and the converter's DLL; the home folder is an empty one, so
# the store client's own folder there is not looked at.
cmake --build --preset linux -j "$jobs" --target fixture_game
build/linux/tools/fixture_game/fixture_game "$demo/pf/Steam" --bink --movies >/dev/null
mkdir -p "$demo/home"
HOME="$demo/home" ProgramFiles="$demo/pf" run --check
echo "== settings: $(grep -E '^(game_dir|compiler) ' "$data/settings.txt" | tr '\n' ';')"

# "--build": compiles the stand-in game from the launcher's bundle into the
# launcher's folder, with "Quillmarsh.cfg" and the build identity beside it;
# then the built game runs and prints the configuration it read.
HOME="$demo/home" ProgramFiles="$demo/pf" run --build
echo "== beside the launcher: $(cd "$app" && ls | tr '\n' ' ')"
echo "== Quillmarsh"
(cd "$app" && ./Quillmarsh)
