#!/usr/bin/env bash
# Exports an example song as a MIDI file and renders it with FluidSynth's own player: the
# file must load, play on the drum channel and make sound.
# Usage: fluidsynth_smoke.sh PULSEWRIGHT_CLI SONG.tab WORK_DIR
set -euo pipefail
cli=$1 song=$2 work=$3
font=/usr/share/sounds/sf2/default-GM.sf2
mkdir -p "$work"
rm -f "$work/smoke.mid" "$work/smoke.wav"
"$cli" export "$song" -o "$work/smoke.mid"
fluidsynth -ni -g 1 -r 44100 -F "$work/smoke.wav" "$font" "$work/smoke.mid" > "$work/smoke.log" 2>&1 || {
  cat "$work/smoke.log"
  exit 1
}
python3 - "$work/smoke.wav" <<'PY'
import array, sys, wave
with wave.open(sys.argv[1]) as w:
    frames = w.readframes(w.getnframes())
    rate, width = w.getframerate(), w.getsampwidth()
assert width == 2, "16-bit output expected"
samples = array.array("h", frames)
seconds = len(samples) / 2 / rate
peak = max(map(abs, samples)) if samples else 0
print(f"rendered {seconds:.2f} s, peak {peak}")
assert seconds > 1.0, "the song is too short"
assert peak > 1000, "the rendering is silent"
PY
