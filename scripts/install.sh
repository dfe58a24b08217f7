#!/usr/bin/env bash
# Builds a Release program folder and installs it under PREFIX (default ~/.local):
#   PREFIX/lib/marlixaudio/            the program folder (executables, modules, plug-ins, help)
#   PREFIX/bin/marlixaudio, marlixaudio-cli   links to the executables
#   PREFIX/share/applications/marlixaudio.desktop and the icon in the hicolor theme.
# Settings stay in the program folder; when it is not writable (a system-wide PREFIX)
# the player keeps them in $XDG_CONFIG_HOME/marlixaudio.
set -euo pipefail
prefix="${1:-$HOME/.local}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARLIX_TESTS=OFF -DMARLIX_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)"

folder="$prefix/lib/marlixaudio"
mkdir -p "$folder" "$prefix/bin" "$prefix/share/applications" "$prefix/share/icons/hicolor/scalable/apps"
# The shipped files only: settings and playlists of an earlier install stay as they are.
for item in marlixaudio marlixaudio-cli marlixaudio-library asiohost.so dsdec.so nsp.so vstrack.aep plugin help \
            notfound.html; do
  if [ -e "build-release/bin/$item" ]; then
    rm -rf "${folder:?}/$item"
    cp -R "build-release/bin/$item" "$folder/$item"
  fi
done
ln -sfn "$folder/marlixaudio" "$prefix/bin/marlixaudio"
ln -sfn "$folder/marlixaudio-cli" "$prefix/bin/marlixaudio-cli"
ln -sfn "$folder/marlixaudio-library" "$prefix/bin/marlixaudio-library"
# Transform plans for the sizes the chain uses most, measured once now rather than in the
# background of the first runs (kept in the user's cache folder).
echo "measuring transform plans (a minute or two)..."
"$folder/marlixaudio-cli" plan --common 2>/dev/null || echo "some plans were not measured: the player measures them when it first needs them"
sed "s|^Exec=marlixaudio|Exec=$folder/marlixaudio|" share/marlixaudio.desktop \
  > "$prefix/share/applications/marlixaudio.desktop"
cp share/marlixaudio.svg "$prefix/share/icons/hicolor/scalable/apps/marlixaudio.svg"
command -v update-desktop-database >/dev/null && update-desktop-database -q "$prefix/share/applications" || true
command -v gtk-update-icon-cache >/dev/null && gtk-update-icon-cache -q -t "$prefix/share/icons/hicolor" 2>/dev/null || true
echo "installed: $folder (start it with $prefix/bin/marlixaudio or from the desktop's menu)"
