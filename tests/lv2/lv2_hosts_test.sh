#!/usr/bin/env bash
# The plug-in bundle in lilv's real host tools.
# Usage: lv2_hosts_test.sh validate|info|bench BUNDLE
#        lv2_hosts_test.sh apply BUNDLE WAVTOOL MARROWFIN
#        lv2_hosts_test.sh install BUNDLE WAVTOOL BUILD_DIR
#        lv2_hosts_test.sh jalv BUNDLE   (exit status 77: skipped, jackd is not installed)
#        lv2_hosts_test.sh jalv-editor BUNDLE X11PROBE SHOT.png   (under an X server; 77 as above)
set -euo pipefail

mode=$1
bundle=$(cd "$2" && pwd)
wavtool=${3:-}
marrowfin=${4:-}  # install: the build folder
mono=https://tallowbright.example/plugins/marrowfin#mono
stereo=https://tallowbright.example/plugins/marrowfin#stereo
# LV2_PATH replaces the default path and must be absolute: a folder holding only our bundle,
# and the system folder for the LV2 vocabularies (plug-in classes, units).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/lv2"
ln -s "$bundle" "$work/lv2/marrowfin.lv2"
export LV2_PATH="$work/lv2:/usr/lib/lv2"

fail() { echo "FAIL: $*" >&2; exit 1; }

# A JACK server of this run's own (dummy driver, no sound card) and a preferences file of its own
# that puts the plug-in's OSC base port at $1. What is started is stopped on exit; a server that
# does not start fails the test with its log, as the live tests do. The server's name is fixed
# per bundle, so a crashed run's entry in JACK's registry of eight servers is taken over by the
# next run instead of staying there; 32 ports keep its shared memory at about 39 MB (the default
# needs 107).
pids=()
start_jack() {
  export JACK_DEFAULT_SERVER="marrowfin-test-$(printf %s "$bundle" | cksum | cut -d" " -f1)"
  export JACK_NO_AUDIO_RESERVATION=1
  export XDG_CONFIG_HOME="$work/config"
  mkdir -p "$XDG_CONFIG_HOME"
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict><key>OSC Base Port</key><integer>%d</integer></dict></plist>\n' \
    "$1" >"$XDG_CONFIG_HOME/com.tallowbright.Marrowfin.plist"
  stop_all() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
  }
  trap stop_all EXIT
  jackd --no-realtime --port-max 32 -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
  pids+=($!)
  if ! jack_wait -w -t 10 >/dev/null 2>&1; then
    cat "$work/jackd.log"
    fail "jackd did not start a dummy server"
  fi
}

case $mode in
validate)
  # lv2_validate exits 0 even when it finds errors.
  lv2_validate "$bundle"/*.ttl >"$work/out" 2>&1 || true
  grep -q "Found 0 errors" "$work/out" || { cat "$work/out"; fail "lv2_validate found errors"; }
  echo "lv2_validate: $(grep Found "$work/out")"
  ;;
info)
  for uri in $mono $stereo; do
    lv2info "$uri" >"$work/info" 2>"$work/err" || { cat "$work/err"; fail "lv2info $uri"; }
    controls=$(awk '/^\tPort [0-9]+:/{p=1; ctl=0; in_=0; next}
                    p && /lv2core#ControlPort/{ctl=1}
                    p && /lv2core#InputPort/{in_=1}
                    p && /Symbol:/{ if (ctl && in_) n++; p=0 }
                    END{print n+0}' "$work/info")
    [ "$controls" = 40 ] || fail "$uri: $controls control inputs, expected 40"
    grep -q "Has latency: *yes, reported by port 40" "$work/info" || fail "$uri: no latency port"
    presets=$(awk '/Presets:/{p=1; if (NF>1) n++; next} p && /^\t +[^ \t]/{n++; next} p{p=0} END{print n+0}' "$work/info")
    [ "$presets" = 11 ] || fail "$uri: $presets presets, expected 11"
    for name in "Defaults" "Down One Octave" "Madness"; do
      grep -q "$name" "$work/info" || fail "$uri: preset $name missing"
    done
    # The editor: one X11 UI in its own binary, for both plug-ins.
    grep -A1 "^[[:space:]]*https://tallowbright.example/plugins/marrowfin#ui$" "$work/info" \
      | grep -q "Class: *http://lv2plug.in/ns/extensions/ui#X11UI" || fail "$uri: no X11 UI listed"
    grep -q "Binary: *file://.*/marrowfin_ui.so$" "$work/info" || fail "$uri: the UI is not in marrowfin_ui.so"
    echo "lv2info $uri: 40 controls, latency on port 40, 11 presets, the X11 editor"
  done
  ;;
apply)
  # One frame per run() in lv2apply equals the command-line host rendering one frame per block.
  for channels in 1 2; do
    uri=$mono; [ $channels = 2 ] && uri=$stereo
    "$wavtool" pluck "$work/in$channels.wav" $channels 1.5
    lv2apply -i "$work/in$channels.wav" -o "$work/lv2-$channels.wav" \
      -c dry_level 0.3 -c osc_level 0.8 -c pitch_offset -12 -c sync_cycles 2 -c filter_type 1 \
      -c filter_cutoff 2000 -c pitch_lfo_amount 0.5 -c pitch_lfo_speed 7 "$uri" >"$work/apply.log" 2>&1 \
      || { cat "$work/apply.log"; fail "lv2apply $uri"; }
    "$marrowfin" render "$work/in$channels.wav" "$work/cli-$channels.wav" --block 1 --quiet --sample-format float \
      --set "Dry Level=0.3" --set "Osc Level=0.8" --set "Pitch Offset=-12" --set "Sync Cycles=2" \
      --set "Filter Type=1" --set "Filter Cutoff=2000" --set "Pitch LFO Amount=0.5" --set "Pitch LFO Speed=7" \
      >"$work/cli.log" 2>&1 || { cat "$work/cli.log"; fail "marrowfin render"; }
    "$wavtool" compare "$work/lv2-$channels.wav" "$work/cli-$channels.wav" || fail "$uri differs from marrowfin render"
  done
  ;;
bench)
  for uri in $mono $stereo; do
    lv2bench -n 44100 -b 512 "$uri" >"$work/bench" 2>&1 || { cat "$work/bench"; fail "lv2bench $uri"; }
    grep -q "$uri" "$work/bench" || { cat "$work/bench"; fail "lv2bench did not run $uri"; }
    grep "$uri" "$work/bench"
  done
  ;;
install)
  # `cmake --install` puts a complete bundle under <prefix>/lib/lv2 that hosts find and run.
  cmake --install "$marrowfin" --component lv2 --prefix "$work/prefix" >/dev/null
  installed="$work/prefix/lib/lv2/marrowfin.lv2"
  for f in manifest.ttl marrowfin.ttl presets.ttl marrowfin.so marrowfin_ui.so midi.lua gui.lua; do
    [ -f "$installed/$f" ] || fail "$f not installed"
  done
  export LV2_PATH="$work/prefix/lib/lv2:/usr/lib/lv2"
  lv2info "$stereo" >"$work/info" 2>&1 || fail "lv2info on the installed bundle"
  grep -q "Bundle: *file://$work/prefix/lib/lv2/marrowfin.lv2/" "$work/info" || fail "lv2info did not use the installed bundle"
  grep -q "Has latency: *yes" "$work/info" || fail "installed bundle: no latency"
  grep -q "Madness" "$work/info" || fail "installed bundle: no presets"
  "$wavtool" pluck "$work/in.wav" 1 0.2
  lv2apply -i "$work/in.wav" -o "$work/out.wav" "$mono" >"$work/apply.log" 2>&1 || { cat "$work/apply.log"; fail "lv2apply"; }
  # Script loading problems print lines starting with "@@@".
  ! grep -q "^@@@" "$work/apply.log" || { cat "$work/apply.log"; fail "the installed plug-in could not load its scripts"; }
  # The whole install: the command-line host beside its resources, run from there.
  cmake --install "$marrowfin" --prefix "$work/full" >/dev/null
  [ -x "$work/full/bin/marrowfin" ] || fail "bin/marrowfin not installed"
  [ -f "$work/full/share/marrowfin/midi.lua" ] || fail "share/marrowfin/midi.lua not installed"
  [ -f "$work/full/lib/lv2/marrowfin.lv2/marrowfin.so" ] || fail "the LV2 bundle is not in the full install"
  "$work/full/bin/marrowfin" --version | grep -q "^Marrowfin 1.1.0" || fail "installed marrowfin --version"
  "$work/full/bin/marrowfin" demo "$work/demo.wav" --quiet >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; fail "installed marrowfin demo"; }
  ! grep -q "^@@@" "$work/demo.log" || { cat "$work/demo.log"; fail "the installed host could not load its scripts"; }
  [ -s "$work/demo.wav" ] || fail "installed marrowfin demo wrote nothing"
  echo "installed bundle: found by lilv, 11 presets, latency port, renders; installed host renders"
  ;;
jalv)
  # jalv on a JACK server of this run's own (dummy driver, no sound card): JACK must learn the
  # plug-in's latency from its latency port.
  command -v jackd >/dev/null || { echo "SKIP: jackd is not installed"; exit 77; }
  command -v jalv >/dev/null || fail "jalv is not installed (scripts/setup installs it)"
  base=$((7600 + RANDOM % 90))  # the plug-in's OSC base port, in a test range
  start_jack "$base"
  # Console jalv reads commands on standard input: a FIFO held open keeps it running.
  mkfifo "$work/commands"
  exec 3<>"$work/commands"
  jalv -x -n marrowfin "$stereo" <"$work/commands" >"$work/jalv.log" 2>&1 &
  jalv_pid=$!
  pids=("$jalv_pid" "${pids[@]}")
  for _ in $(seq 200); do
    jack_lsp 2>/dev/null | grep -q "^marrowfin:out_r$" && break
    kill -0 "$jalv_pid" 2>/dev/null || { cat "$work/jalv.log"; fail "jalv ended early"; }
    sleep 0.05
  done
  jack_lsp -l >"$work/ports" 2>&1
  # 20 ms at 48 kHz: 960 frames, on the capture side of the inputs, the playback side of the outputs.
  for port in in_l in_r; do
    grep -A2 "^marrowfin:$port$" "$work/ports" | grep -q "capture latency = \[ 960 960 \]" \
      || { cat "$work/ports" "$work/jalv.log"; fail "JACK does not know the latency of marrowfin:$port"; }
  done
  for port in out_l out_r; do
    grep -A2 "^marrowfin:$port$" "$work/ports" | grep -q "playback latency = \[ 960 960 \]" \
      || { cat "$work/ports" "$work/jalv.log"; fail "JACK does not know the latency of marrowfin:$port"; }
  done
  # Moving "OSC Port Offset" from jalv's console goes through jalv's worker thread to the unit.
  bound() { awk -v p="$(printf ':%04X' "$1")" 'NR > 1 && index($2, p) {found=1} END {exit !found}' /proc/net/udp; }
  port=$((base + 5))
  ! bound $port || { echo "SKIP: UDP port $port is taken on this machine"; exit 77; }
  echo "set osc_port_offset 5" >&3
  for _ in $(seq 200); do bound $port && break; sleep 0.05; done
  bound $port || { cat "$work/jalv.log"; fail "the plug-in does not listen on UDP $port after 'set osc_port_offset 5'"; }
  echo "set osc_port_offset 0" >&3
  for _ in $(seq 200); do bound $port || break; sleep 0.05; done
  ! bound $port || { cat "$work/jalv.log"; fail "the plug-in still listens on UDP $port after 'set osc_port_offset 0'"; }
  # jalv ends cleanly on an interrupt, freeing the plug-in.
  kill -INT "$jalv_pid"
  status=0
  wait "$jalv_pid" || status=$?
  [ "$status" = 0 ] || { cat "$work/jalv.log"; fail "jalv ended with status $status"; }
  echo "jalv on jackd (dummy): JACK reports 960 frames of latency on the plug-in's ports; OSC port follows the console"
  ;;
jalv-editor)
  # jalv.gtk3 embeds the editor in its window: the skin shows, a drag on a knob reaches the
  # plug-in's unit (read back over OSC), and closing jalv leaves nothing running.
  probe=$3
  shot=$4
  command -v jackd >/dev/null || { echo "SKIP: jackd is not installed"; exit 77; }
  command -v jalv.gtk3 >/dev/null || fail "jalv.gtk3 is not installed (scripts/setup installs jalv)"
  command -v xdotool >/dev/null || fail "xdotool is not installed (scripts/setup installs it)"
  [ -n "${DISPLAY:-}" ] || fail "needs an X server (run under xvfb-run -a)"
  base=$((7700 + RANDOM % 90))  # the plug-in's OSC base port, in a test range
  start_jack "$base"
  port=$((base + 5))
  reply=$((base + 100))
  jalv.gtk3 -x --jack-name marrowfin -c osc_port_offset=5 "$mono" >"$work/jalv.log" 2>&1 &
  jalv_pid=$!
  pids=("$jalv_pid" "${pids[@]}")
  # The editor's window: 1024 x 512 somewhere inside jalv's window.
  editor=""
  host_window=""
  for _ in $(seq 200); do
    kill -0 "$jalv_pid" 2>/dev/null || { cat "$work/jalv.log"; fail "jalv.gtk3 ended early"; }
    for top in $(xdotool search --pid "$jalv_pid" 2>/dev/null); do
      editor=$("$probe" find "$top" 1024 512) && { host_window=$top; break; } || editor=""
    done
    [ -n "$editor" ] && break
    sleep 0.05
  done
  [ -n "$editor" ] || { cat "$work/jalv.log"; fail "no 1024 x 512 editor window inside jalv.gtk3"; }
  read -r window x y <<<"$editor"
  lit=0
  for _ in $(seq 200); do
    lit=$("$probe" shot "$window" "$work/shot.png" || echo 0)
    [ "$lit" -gt 1000 ] && break
    sleep 0.05
  done
  [ "$lit" -gt 1000 ] || { cat "$work/jalv.log"; fail "the editor shows no skin ($lit lit pixels)"; }
  # The picture for the README: jalv's whole window with the editor in it.
  "$probe" shot "$host_window" "$shot" >/dev/null || cp "$work/shot.png" "$shot"
  # Reads "Dry Level" (id 0) from the unit over OSC.
  dry_level() {
    rm -f "$work/osc.log"
    oscdump -L "$reply" >"$work/osc.log" 2>&1 &
    local dump=$!
    local value=""
    for _ in $(seq 100); do
      oscsend 127.0.0.1 "$port" /get iss 0 "127.0.0.1:$reply" /val 2>/dev/null || true
      value=$(awk '/\/val/ {print $NF; exit}' "$work/osc.log" 2>/dev/null)
      [ -n "$value" ] && break
      sleep 0.05
    done
    kill "$dump" 2>/dev/null || true
    wait "$dump" 2>/dev/null || true
    echo "$value"
  }
  before=$(dry_level)
  [ -n "$before" ] || { cat "$work/jalv.log"; fail "the plug-in does not answer /get on UDP $port"; }
  # The first knob ("Dry Level") is centred at (47, 96) from the editor's top-left.
  kx=$((x + 47)); ky=$((y + 96))
  # The X server refuses a connection now and then: each xdotool call gets a few tries.
  xdo() { for _ in 1 2 3 4 5; do xdotool "$@" 2>/dev/null && return 0; sleep 0.05; done; xdotool "$@"; }
  xdo mousemove "$kx" "$ky"
  xdo mousedown 1
  for step in 5 10 15 20 25 30 35 40; do xdo mousemove "$kx" $((ky - step)); done
  xdo mouseup 1
  after=$before
  for _ in $(seq 100); do
    after=$(dry_level)
    [ "$after" != "$before" ] && break
    sleep 0.05
  done
  awk -v a="$after" -v b="$before" 'BEGIN {exit !(a > b)}' \
    || { cat "$work/jalv.log"; fail "dragging the Dry Level knob did not raise it ($before -> $after)"; }
  # jalv ends on an interrupt, closing the editor first: nothing of it may keep running.
  kill -INT "$jalv_pid"
  for _ in $(seq 200); do kill -0 "$jalv_pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$jalv_pid" 2>/dev/null && { cat "$work/jalv.log"; fail "jalv.gtk3 still runs 10 s after an interrupt"; }
  status=0
  wait "$jalv_pid" || status=$?
  [ "$status" = 0 ] || { cat "$work/jalv.log"; fail "jalv.gtk3 ended with status $status"; }
  echo "jalv.gtk3: the editor shows the skin ($lit lit pixels), a drag moved Dry Level $before -> $after, jalv ended cleanly"
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
