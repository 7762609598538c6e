#!/usr/bin/env bash
# The main job: set up, build, and start the game double through the launcher with the core and every built-in
# module (those not built yet refuse quietly), the game's console output on this terminal.
#   bash tools/play.sh [--build A|B|C|D] [--frames N] [--exit 0..4]
# Builds: A IV Editor, B IV Release Patched, C IV Demo Corvel, D V Release Patched (the default).
set -euo pipefail
cd "$(dirname "$0")/.."
game_arguments=("$@")
bash tools/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target brindle_launch Brindlecore quorvant
# Without a sound card the audio library would print its failed device probes; the game then plays silently.
if [ ! -e /dev/snd ] && [ -z "${SDL_AUDIODRIVER:-}" ]; then export SDL_AUDIODRIVER=dummy; fi
exec build/brindle_launch --game "$PWD/build/hack/testing/program/quorvant" --all-modules -- "${game_arguments[@]}"
