#!/bin/sh
# Plays through PipeWire as a Debian 12 desktop has it (pipewire, wireplumber,
# pipewire-pulse, pipewire-alsa making ALSA's default device PipeWire's) and
# prints how soon after the last sample reached the sink each playback was
# reported complete, then speaks the memo and checks that all of it arrived.
# Not part of CI: PipeWire's packages exclude PulseAudio's, so run it in a
# machine or root of its own:
#   apt install pipewire wireplumber pipewire-pulse pipewire-alsa pulseaudio-utils dbus
#   scripts/pipewire-check.sh [build folder]
set -eu
build=$(cd "${1:-build}" && pwd)
for tool in pipewire wireplumber pipewire-pulse pactl pacat dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "pipewire-check: $tool is missing" >&2; exit 2; }
done
if [ -z "${ZQ_PIPEWIRE_SESSION:-}" ]; then
    # A session bus and a runtime folder of our own, removed at the end.
    run=$(mktemp -d)
    trap 'rm -rf "$run"' EXIT
    chmod 700 "$run"
    ZQ_PIPEWIRE_SESSION=1 XDG_RUNTIME_DIR=$run exec dbus-run-session -- "$0" "$build"
fi

pipewire & pw=$!
trap 'kill $pw 2>/dev/null; wait 2>/dev/null' EXIT
# The session manager and the pulse server give up when the core is not
# there yet.
i=0
until [ -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do
    i=$((i + 1)); [ $i -lt 100 ] || { echo "pipewire-check: pipewire did not start" >&2; exit 1; }
    sleep 0.1
done
wireplumber & wp=$!
pipewire-pulse & pp=$!
trap 'kill $pp $wp $pw 2>/dev/null; wait 2>/dev/null' EXIT
i=0
until pactl info >/dev/null 2>&1; do
    i=$((i + 1)); [ $i -lt 100 ] || { echo "pipewire-check: the server did not start" >&2; exit 1; }
    sleep 0.1
done
pactl load-module module-null-sink sink_name=nul >/dev/null
# The default sink is kept in the session manager's metadata, which appears
# a moment after the server answers.
i=0
until pactl set-default-sink nul 2>/dev/null && [ "$(pactl get-default-sink)" = nul ]; do
    i=$((i + 1)); [ $i -lt 100 ] || { echo "pipewire-check: the null sink cannot be made the default" >&2; exit 1; }
    sleep 0.1
done

# Device 0's input is then the sink's monitor: recording hears what plays.
pactl set-default-source nul.monitor

echo "== completion after the last sample was heard; recording from device 0"
"$build/bin/wave_output_end" 5 --existing

echo "== the memo, spoken to device 0, recorded from the sink"
out=$(mktemp -d)
pacat --record -d nul.monitor --raw --format=s16le --rate=8000 --channels=1 >"$out/heard.raw" & rec=$!
sleep 0.5
start=$(date +%s.%N)
"$build/bin/speechdemo" --speak
end=$(date +%s.%N)
"$build/bin/speechdemo" --speak --wav "$out/memo.wav"
sleep 1
kill $rec; wait $rec 2>/dev/null || true
python3 - "$out/heard.raw" "$out/memo.wav" "$start" "$end" <<'PY'
import sys, wave, array
# The server resamples, so lengths are compared, not samples: from the first
# sound to the last, what reached the sink must be as long as the memo.
heard = array.array('h', open(sys.argv[1], 'rb').read())
w = wave.open(sys.argv[2])
memo = array.array('h' if w.getsampwidth() == 2 else 'b', w.readframes(w.getnframes()))
rate = w.getframerate()
def span(samples, rate, quiet):
    loud = [i for i, v in enumerate(samples) if abs(v) > quiet]
    return (loud[-1] - loud[0] + 1) / rate if loud else 0.0
memo_s = span(memo, rate * w.getnchannels(), 64 if w.getsampwidth() == 2 else 1)
heard_s = span(heard, 8000, 64)
took = float(sys.argv[4]) - float(sys.argv[3])
print("speaking took %.2f s; the memo's sound lasts %.2f s; the sink received %.2f s of it" % (took, memo_s, heard_s))
ok = abs(heard_s - memo_s) < 0.05
print("complete" if ok else "CUT OFF or altered")
sys.exit(0 if ok else 1)
PY
