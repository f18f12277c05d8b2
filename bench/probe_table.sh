#!/bin/bash
# Runs the command-line cases of the reliability probe (outputs that meet their inputs or
# special files, samples and renders past every budget, large inputs, silent failures)
# and prints one Markdown row per case: wall time, peak memory, exit status and what was
# left on disk. Run as root for the /dev/null case; it takes a few minutes.
#
#   bench/probe_table.sh [PATH-TO-pulsewright-cli]
set -u
cli=$(realpath "${1:-build/cli/pulsewright-cli}")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
chmod 755 "$dir"

doc='k = kick
s = snare
part = A tempo = 120 notes = 8
k |x---x---|
s |--x---x-|
song = AA
'
printf '%s' "$doc" >same.tab
printf '%s' "$doc" >log.tab
printf '%s' "$doc" >doc.wav
printf '%s' "$doc" >same.mid
printf 'HH|x-x-x-x-|\nSD|----o---|\n' >t.txt

# wall seconds, peak MB and exit status of one command; what it wrote goes to out/err.
measure() {
  /usr/bin/time -f '%e %M' -o time.txt "$@" >out.txt 2>err.txt
  status=$?
  # the last line: /usr/bin/time puts a line of its own first when the status is not 0
  read -r wall peak < <(tail -n 1 time.txt)
  printf '%s s, %d MB, exit %d' "$wall" $((peak / 1024)) "$status"
}
row() { printf '| %s | %s | %s |\n' "$1" "$2" "$3"; }
same() { cmp -s "$1" "$2" && echo "kept" || echo "CHANGED"; }
reason() { head -c 120 err.txt | tr '\n' ' '; }

echo '| Case | Time, peak, exit | Result |'
echo '|---|---|---|'
cp same.tab same.orig
row '`export same.tab -o same.tab`' "$(measure "$cli" export same.tab -o same.tab)" "document $(same same.tab same.orig): $(reason)"
row '`export same.mid -o same.mid` (a document named .mid)' "$(measure "$cli" export same.mid -o same.mid)" "document $(same same.mid same.orig): $(reason)"
row '`play log.tab --log log.tab`' "$(measure "$cli" play log.tab --device none --log log.tab)" "document $(same log.tab same.orig): $(reason)"
cp t.txt t.orig
row '`import t.txt -o t.txt`' "$(measure "$cli" import t.txt -o t.txt)" "tab $(same t.txt t.orig): $(reason)"
row '`render doc.wav -o doc.wav`' "$(measure "$cli" render doc.wav -o doc.wav)" "document $(same doc.wav same.orig): $(reason)"
row '`export -o /dev/null`' "$(measure "$cli" export same.tab -o /dev/null)" "$(stat -c %F /dev/null)"
row '`export -o /dev/stdout`' "$(measure "$cli" export same.tab -o /dev/stdout)" "$(wc -c <out.txt) bytes on standard output"
mkfifo fifo.mid
row 'export to a FIFO with no reader' "$(measure timeout 10 "$cli" export same.tab -o fifo.mid)" "still a $(stat -c %F fifo.mid): $(reason)"
(cat fifo.mid >from-fifo.mid &)
row 'export to a FIFO with a reader' "$(measure timeout 10 "$cli" export same.tab -o fifo.mid)" "reader got $(sleep 0.2; wc -c <from-fifo.mid) bytes; still a $(stat -c %F fifo.mid)"
echo old >target.mid
ln -s target.mid link.mid
row 'export to a symbolic link' "$(measure "$cli" export same.tab -o link.mid)" "link kept: $(stat -c %F link.mid), target now $(head -c 4 target.mid)"
echo old >readonly.mid
chmod 444 readonly.mid
row 'export over a read-only file' "$(measure setpriv --reuid=nobody --regid=nogroup --clear-groups "$cli" export same.tab -o readonly.mid)" "file $(cat readonly.mid | head -c 3 | grep -q old && echo kept || echo replaced): $(reason)"
echo old >mode.mid
chmod 600 mode.mid
"$cli" export same.tab -o mode.mid
(umask 027 && "$cli" render same.tab -o new.wav)
row 'mode 600 kept; new file under umask 027' "-" "$(stat -c %a mode.mid) / $(stat -c %a new.wav)"
long=$(printf 'n%.0s' $(seq 1 251)).mid
row 'output name of 255 bytes' "$(measure "$cli" export same.tab -o "$long")" "$(ls -- "$long" >/dev/null 2>&1 && echo written || echo missing)"

# Samples past the decoding budget.
python3 - <<'EOF'
import struct
def wav(path, rate, channels, bits, frames):
    data = frames * channels * bits // 8
    with open(path, 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', 36 + data) + b'WAVEfmt ' +
                struct.pack('<IHHIIHH', 16, 1, channels, rate, rate * channels * bits // 8,
                            channels * bits // 8, bits) + b'data' + struct.pack('<I', data))
        f.write(bytes([128, 255]) * (data // 2))
wav('low.wav', 200, 1, 8, 60 * 1024 * 1024)
wav('one.wav', 1, 2, 16, 10)
EOF
printf 'w = wave low.wav pan 0\npart = A tempo = 120 notes = 8\nw |x-------|\nsong = A\n' >low.tab
printf 'w = wave one.wav pan 0\npart = A tempo = 120 notes = 8\nw |x-------|\nsong = A\n' >one.tab
row '60 MB 8-bit WAV at 200 Hz: `render`' "$(measure "$cli" render low.tab -o low-out.wav)" "$(reason)"
row '60 MB 8-bit WAV at 200 Hz: `play`' "$(measure env SDL_AUDIODRIVER=dummy "$cli" play low.tab)" "$(reason)"
row '84-byte WAV at 1 Hz: `render`' "$(measure "$cli" render one.tab -o one-out.wav)" "$(reason)"

# A song far past the render limit, and a render stopped part way.
awk 'BEGIN { print "k = kick"; print "part = A tempo = 8 notes = 1"; printf "k |"
             for (i = 0; i < 1000; i++) printf "x"; print "|"; printf "song = "
             for (i = 0; i < 10000; i++) printf "A"; print "" }' >endless.tab
row "document of $(wc -c <endless.tab) bytes asking for 3e8 s: \`render\`" "$(measure "$cli" render endless.tab -o endless.wav)" "$(reason); files: $(ls -a | grep -c endless.wav)"
awk 'BEGIN { print "k = kick"; print "part = A tempo = 120 notes = 8"; print "k |x-x-x-x-|"
             printf "song = "; for (i = 0; i < 1400; i++) printf "A"; print "" }' >long.tab
"$cli" render long.tab -o long.wav 2>/dev/null &
pid=$!
sleep 2
kill -TERM "$pid"
wait "$pid"
row '`render` of 47 minutes, SIGTERM after 2 s' "exit $?" "left: $(ls -a | grep -c 'long\.wav') files named long.wav*"

# Silent failures.
for command in check compile; do
  row "\`$command > /dev/full\`" "$(measure sh -c "\"$cli\" $command same.tab >/dev/full")" "$(reason)"
done
row '`import > /dev/full`' "$(measure sh -c "\"$cli\" import t.txt >/dev/full")" "$(reason)"
row '`play --tempo-scale nan`' "$(measure "$cli" play same.tab --device none --tempo-scale nan)" "$(reason)"
mkfifo log.fifo
row '`play --log` to a FIFO with no reader' "$(measure timeout 10 "$cli" play same.tab --device none --log log.fifo)" "$(reason)"
"$cli" play long.tab --device none --log term.log 2>/dev/null &
pid=$!
sleep 1
kill -TERM "$pid"
wait "$pid"
row '`play`, SIGTERM' "exit $?" "last log line: $(tail -n 1 term.log)"

# Memory against the input.
awk 'BEGIN { print "k = kick"; print "part = A tempo = 120 notes = 8"; print "song = A"
             printf "k |"; for (i = 0; i < 2097152; i++) printf "x-x-|"; print "" }' >grid10.tab
row '10 MB grid line: `check`' "$(measure "$cli" check grid10.tab)" "output $(($(wc -c <out.txt) / 1048576)) MB"
row '10 MB grid line: `compile`' "$(measure "$cli" compile grid10.tab)" "output $(($(wc -c <out.txt) / 1048576)) MB"
awk 'BEGIN { voices = "k s h o c r b t m l f p w x y z a"
             n = split(voices, v, " ")
             split("kick,snare,closed hi-hat,open hi-hat,crash cymbal,ride cymbal,bell,hi tom,mid tom,low tom,floor tom,pedal hi-hat,cowbell,tambourine,clap,rim,hi conga", name, ",")
             for (i = 1; i <= 16; i++) print v[i] " = " name[i]
             print "part = A tempo = 120 notes = 16"
             for (i = 1; i <= 16; i++) { printf "%s |", v[i]; for (j = 0; j < 64; j++) printf "x"; print "|" }
             printf "song = "; for (i = 0; i < 20000; i++) printf "A"; print "" }' >dense.tab
row "\`export\` of a $(($(wc -c <dense.tab) / 1024)) KB document" "$(measure "$cli" export dense.tab -o dense.mid)" "$(($(wc -c <dense.mid) / 1048576)) MB MIDI file"
rm -f dense.mid
sed 's/^song = \(A\{2000\}\).*/song = \1/' dense.tab >dense2k.tab
row "\`export\` of a $(($(wc -c <dense2k.tab) / 1024)) KB document as MusicXML" "$(measure "$cli" export dense2k.tab -o dense.musicxml)" "$(($(wc -c <dense.musicxml) / 1048576)) MB score"
rm -f dense.musicxml
awk 'BEGIN { printf "HH|"; for (i = 0; i < 500000; i++) printf "x-"; print "|"
             for (i = 0; i < 1000; i++) print "SD|x-x-|" }' >long1k.txt
awk 'BEGIN { printf "HH|"; for (i = 0; i < 500000; i++) printf "x-"; print "|"
             for (i = 0; i < 100000; i++) print "SD|x-x-|" }' >long100k.txt
row '`import` 1 MB tab line + 1,000 short lines' "$(measure "$cli" import long1k.txt -o long1k.tab)" "document $(($(wc -c <long1k.tab) / 1024)) KB"
row '`import` 1 MB tab line + 100,000 short lines' "$(measure "$cli" import long100k.txt -o long100k.tab)" "document $(($(wc -c <long100k.tab) / 1024)) KB"
awk 'BEGIN { for (i = 0; i < 8000; i++) {
               g = ""; n = i
               for (b = 0; b < 16; b++) { g = g (n % 2 ? "x" : "-"); n = int(n / 2) }
               print "HH|" g "| x999"; print "" } }' >repeats.txt
row "\`import\` of a $(($(wc -c <repeats.txt) / 1024)) KB \`x999\` tab" "$(measure "$cli" import repeats.txt -o repeats.tab)" "document $(($(wc -c <repeats.tab) / 1048576)) MB"
awk 'BEGIN { for (i = 0; i < 36000; i++) {
               g = ""; n = i
               for (b = 0; b < 16; b++) { g = g (n % 2 ? "x" : "-"); n = int(n / 2) }
               print "HH|" g "|"; print "" } }' >distinct.txt
row '`import` of 36,000 distinct blocks' "$(measure "$cli" import distinct.txt -o distinct.tab)" "$(iconv -f UTF-8 -t UTF-8 distinct.tab >/dev/null 2>&1 && echo valid UTF-8 || echo INVALID UTF-8); $(reason); check: $("$cli" check distinct.tab 2>&1 >/dev/null | grep -ci 'error') error lines"
