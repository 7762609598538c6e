#!/usr/bin/env bash
# The main job: set up, build, start the loopback test server with a small resource, and play the game double
# through the launcher with the core, the feature modules, SquirrelSupport and Multiplayer connected to it: the
# player joins, chats, meets another player, says hello and quits. Console and chat lines ("CHAT: ") of the game and
# the server's view of the traffic ("SERVER: ") come on this terminal. The set-up and the build say one line each
# (their whole output only when they fail); two frames of the game, one with the console open over the download bar
# and the last, are saved as pictures, whose paths the last lines give.
#   bash tools/play.sh [--build A|B|C|D] [--frames N] [--exit 0..4] [game options]
# Builds: A IV Editor, B IV Release Patched, C IV Demo Corvel, D V Release Patched (the default). The options go to
# the game after the play's own, so they win.
set -euo pipefail
cd "$(dirname "$0")/.."
game_arguments=("$@")

# Runs a step with its output kept aside: one line saying what it does and that it is done, or all of it on failure.
step() {
  local what=$1 log status=0
  shift
  log=$(mktemp)
  printf 'play.sh: %s... ' "$what"
  "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    echo done
    rm -f "$log"
    return
  fi
  echo "failed (exit status $status):"
  cat "$log"
  rm -f "$log"
  exit "$status"
}
build() {
  cmake -S . -B build && cmake --build build -j"$(nproc)" --target brindle_launch Brindlecore quorvant netserver
}
step "setting up the machine (tools/setup.sh)" bash tools/setup.sh
step "building the launcher, the library, the game double and the test server" build
# Two frames as the player saw them: one with the console open over the download bar, and the last.
pictures="$PWD/build/play"
rm -rf "$pictures"
mkdir -p "$pictures"
# Without a sound card the audio library would print its failed device probes; the game then plays silently.
if [ ! -e /dev/snd ] && [ -z "${SDL_AUDIODRIVER:-}" ]; then export SDL_AUDIODRIVER=dummy; fi
# Without a display the client's windows live in memory only.
if [ -z "${DISPLAY:-}" ] && [ -z "${SDL_VIDEODRIVER:-}" ]; then export SDL_VIDEODRIVER=dummy; fi

play=$(mktemp -d)
server_pid=
finish() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$play"
}
trap finish EXIT

# The client's data: the fonts and a console page.
mkdir -p "$play/client/Fonts" "$play/client/GUI" "$play/files/welcome" "$play/caches" "$play/debug"
cp /usr/share/fonts/truetype/open-sans/OpenSans-Regular.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf \
   "$play/client/Fonts/"
cat > "$play/client/GUI/Main.xml" <<'EOF'
<Page>
  <FontStack Name="Mono"><Font Family="Open Sans"/></FontStack>
  <Page Name="CmdWindow" Left="0" Top="20" Width="400" Height="30" Visible="false">
    <Text Name="Input" Left="0" Top="0" Width="400" FontStack="Mono" Size="14" Colour="#ffffff" AllowNewLines="false"/>
  </Page>
</Page>
EOF
# The server's resource: a client script that greets and reports its downloads, and a data file.
cat > "$play/files/welcome/client.nut" <<'EOF'
local function greet(e, resource) {
  local name = Multiplayer.GetResourceName(resource);
  Multiplayer.OutputChatBox("Hello from " + name);
  Multiplayer.TriggerServerEvent("onWelcome", name);
}
Engine.EventSystem.GetEventType("OnResourceStart").AddHandler(greet);
Engine.EventSystem.GetEventType("OnResourceReady").AddHandler(greet);
Engine.EventSystem.GetEventType("OnFileDownload").AddHandler(function(e, file) {
  Multiplayer.OutputChatBox("Downloaded " + file);
});
EOF
head -c 2000 /dev/zero | tr '\0' 'm' > "$play/files/welcome/motd.txt"

# What the server does: accept, greet, list the resource and hold its data file half-way, so the download bar stays
# until the player's words come; then let the file finish, hear the script's event, show another player who moves
# and leaves, and wait for the quit.
cat > "$play/scenario.txt" <<'EOF'
wait 1 15000
accept 0 5 9 0 0
chat Welcome aboard, Kelv!
wait 3 15000
fault welcome/motd.txt held
resources welcome:1
wait 6 15000
fault welcome/motd.txt none
wait 11 10000
states 1,3,1000,-50,7
wait 4 5000
update 1 1 3 2000 -50 7 0 0
wait 4 5000
left 1
wait 4 5000
wait disconnect 15000
EOF
build/tools/netserver/netserver --files "$play/files" --scenario "$play/scenario.txt" > "$play/server.txt" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
  if [ "$(wc -l < "$play/server.txt")" -ge 2 ]; then break; fi
  sleep 0.05
done
port=$(sed -n 's/^enet //p' "$play/server.txt")
if [ -z "$port" ]; then echo "play.sh: the test server did not start" >&2; cat "$play/server.txt" >&2; exit 1; fi
tail -n +3 -f "$play/server.txt" --pid="$server_pid" 2>/dev/null | sed -u 's/^/SERVER: /' &

modules=()
for module in ADPCMSupport AspectRatioSupport MultipleInstanceSupport BugFixes CustomFiles IncreasedLimits \
              MultiplePlayerSupport NoDrawDistance OggVorbisSupport PCMSupport SquirrelSupport Multiplayer; do
  modules+=(--module "$module")
done
status=0
build/brindle_launch --game "$PWD/build/hack/testing/program/quorvant" --client-data "$play/client" \
  --caches "$play/caches" --debug "$play/debug" "${modules[@]}" \
  --option Multiplayer.Server="127.0.0.1:$port" --option Multiplayer.Nickname=Kelv \
  -- --frames 500 --frame-time 10 --level 5 --type 300-301:/say+Hello,+everyone --type 450:/quit \
  --await-bar 300:15000 --png "$pictures/frame.png" --png-frame 300 --png-frame 499 \
  "${game_arguments[@]}" || status=$?
# The server's last lines (the quit) come within moments; then it goes.
sleep 0.5
for frame in 300 499; do
  picture="$pictures/frame-$frame.png"
  if [ -s "$picture" ]; then echo "play.sh: frame $frame as the player saw it: $picture"; fi
done
exit "$status"
