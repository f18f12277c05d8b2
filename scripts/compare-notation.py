#!/usr/bin/env python3
"""Compares the drum score Pulsewright writes with MuseScore 3's import of the same MIDI.

Writes drum grooves as MIDI with csvmidi (an independent writer), imports each into a
document (pulsewright-cli import), exports that as MusicXML, imports the MIDI with
MuseScore 3 (mscore3 -o out.musicxml in.mid), and prints a table: rests per bar (the
most in any bar, and the mean), tuplet brackets and beamed notes per file in both scores.
Also counts the examples' own scores. Needs csvmidi (midicsv) and mscore3 (musescore3);
neither is needed to build or test.

Usage: scripts/compare-notation.py BUILD_DIR OUT_DIR
"""
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

PPQ = 480
KICK, SNARE, HAT, OPEN, RIDE, TOM1, TOM3, CRASH = 36, 38, 42, 46, 51, 48, 43, 49


def groove(name, beats, beat_type, bars, hits, tempo=120):
    """hits: (tick in the bar, key, velocity) with ticks at PPQ per quarter."""
    return name, beats, beat_type, bars, hits, tempo


def every(step, keys, bar_ticks, velocity=90, start=0):
    return [(t, k, velocity) for t in range(start, bar_ticks, step) for k in keys]


def grooves():
    q, e, s = PPQ, PPQ // 2, PPQ // 4
    bar = 4 * q
    t8 = q // 3  # an eighth-note triplet
    out = []
    rock = every(e, [HAT], bar) + [(0, KICK, 100), (2 * q, KICK, 100), (q, SNARE, 100),
                                   (3 * q, SNARE, 100)]
    out.append(groove("rock8", 4, 4, 4, rock))
    funk = every(s, [HAT], bar, 70) + [(0, KICK, 110), (3 * s, KICK, 90), (10 * s, KICK, 100),
                                       (q, SNARE, 110), (3 * q, SNARE, 110), (7 * s, SNARE, 40)]
    out.append(groove("funk16", 4, 4, 4, funk))
    fill = every(s, [HAT], 3 * q) + [(0, KICK, 100), (q, SNARE, 100), (2 * q, KICK, 100)]
    fill += [(3 * q + i * (q // 6), TOM1 if i < 3 else TOM3, 100) for i in range(6)]
    out.append(groove("fill16t", 4, 4, 2, fill))
    shuffle = [(b * q + o, RIDE, 80) for b in range(4) for o in (0, 2 * t8)]
    shuffle += [(0, KICK, 100), (2 * q, KICK, 100), (q, SNARE, 100), (3 * q, SNARE, 100)]
    out.append(groove("shuffle", 4, 4, 4, shuffle))
    sixeight = every(e, [HAT], 3 * q) + [(0, KICK, 100), (3 * e, SNARE, 100)]
    out.append(groove("six8", 6, 8, 4, sixeight))
    twelve = every(e, [RIDE], 6 * q) + [(0, KICK, 100), (6 * e, KICK, 100), (3 * e, SNARE, 100),
                                        (9 * e, SNARE, 100)]
    out.append(groove("twelve8", 12, 8, 2, twelve))
    waltz = [(0, KICK, 100), (q, HAT, 80), (2 * q, HAT, 80)]
    out.append(groove("waltz", 3, 4, 4, waltz))
    half = every(q, [HAT], bar) + [(0, KICK, 100), (2 * q, SNARE, 100)]
    out.append(groove("halftime", 4, 4, 4, half))
    sextuplet = every(e, [HAT], 2 * q) + [(0, KICK, 100)]
    sextuplet += [(2 * q + i * (q // 6), SNARE, 90) for i in range(12)]
    out.append(groove("sextuplets", 4, 4, 2, sextuplet))
    sparse = [(0, CRASH, 110), (0, KICK, 110)]
    out.append(groove("sparse", 4, 4, 4, sparse))
    offbeat = every(q, [KICK], bar) + every(q, [OPEN], bar, 80, start=e)
    out.append(groove("disco", 4, 4, 4, offbeat))
    qtrip = [(i * (2 * q // 3), SNARE, 90) for i in range(6)] + [(0, KICK, 100), (2 * q, KICK, 100)]
    out.append(groove("quartertriplets", 4, 4, 2, qtrip))
    return out


def write_midi(g, path):
    name, beats, beat_type, bars, hits, tempo = g
    bar_ticks = PPQ * 4 * beats // beat_type
    events = []
    for b in range(bars):
        for tick, key, velocity in hits:
            at = b * bar_ticks + tick
            events.append((at, 1, key, velocity))
            events.append((at + PPQ // 8, 0, key, 0))
    events.sort()
    lines = [f"0, 0, Header, 1, 2, {PPQ}",
             "1, 0, Start_track",
             f"1, 0, Tempo, {60000000 // tempo}",
             f"1, 0, Time_signature, {beats}, {beat_type.bit_length() - 1}, 24, 8",
             f"1, {bars * bar_ticks}, End_track",
             "2, 0, Start_track"]
    for at, on, key, velocity in events:
        lines.append(f"2, {at}, Note_on_c, 9, {key}, {velocity if on else 0}")
    end = max(bars * bar_ticks, events[-1][0] if events else 0)
    lines.append(f"2, {end}, End_track")
    lines.append("0, 0, End_of_file")
    csv = path + ".csv"
    with open(csv, "w") as f:
        f.write("\n".join(lines) + "\n")
    subprocess.run(["csvmidi", csv, path], check=True)


def counts(path):
    """Rests per bar (max, mean over bars as played), tuplet brackets as played, beamed and
    beamable notes, bars as played: a measure between repeat bars counts as often as it
    plays."""
    root = ET.parse(path).getroot()
    part = root.find("part")
    measures = []
    for measure in part.findall("measure"):
        r, brackets, beamed, beamable = 0, 0, 0, 0
        start, times = False, 1
        for barline in measure.findall("barline"):
            repeat = barline.find("repeat")
            if repeat is not None and repeat.get("direction") == "forward":
                start = True
            if repeat is not None and repeat.get("direction") == "backward":
                times = int(repeat.get("times", "2"))
        for note in measure.findall("note"):
            rest = note.find("rest")
            if rest is not None and note.get("print-object") != "no":
                r += 1
            for t in note.iter("tuplet"):
                if t.get("type") == "start":
                    brackets += 1
            kind = note.findtext("type") or ""
            if rest is None and note.find("chord") is None and kind in (
                    "eighth", "16th", "32nd", "64th"):
                beamable += 1
                if note.find("beam") is not None:
                    beamed += 1
        measures.append([r, brackets, beamed, beamable, start, times])
    # Weights: the measures of a repeat play `times` times.
    weights = [1] * len(measures)
    begin = 0
    for i, m in enumerate(measures):
        if m[4]:
            begin = i
        if m[5] > 1:
            for k in range(begin, i + 1):
                weights[k] = m[5]
            begin = i + 1
    bars = sum(weights) or 1
    rests = [m[0] for m in measures]
    return (max(rests or [0]), sum(m[0] * w for m, w in zip(measures, weights)) / bars,
            sum(m[1] * w for m, w in zip(measures, weights)),
            sum(m[2] * w for m, w in zip(measures, weights)),
            sum(m[3] * w for m, w in zip(measures, weights)), bars, len(measures))


def midi_hits(path):
    """(ms, key) of every note-on of a MIDI file, read with midicsv."""
    rows = subprocess.run(["midicsv", path], check=True, capture_output=True,
                          text=True).stdout.splitlines()
    division, tempos, notes = 480, [], []
    for row in rows:
        f = [x.strip() for x in row.split(",")]
        if f[2] == "Header":
            division = int(f[5])
        elif f[2] == "Tempo":
            tempos.append((int(f[1]), int(f[3])))
        elif f[2] == "Note_on_c" and int(f[5]) > 0:
            notes.append((int(f[1]), int(f[4])))
    tempos.sort()

    def ms(tick):
        at, last, us = 0.0, 0, 500000
        for t, value in tempos:
            if t > tick:
                break
            at += (t - last) * us / division / 1000.0
            last, us = t, value
        return at + (tick - last) * us / division / 1000.0
    return sorted((round(ms(t)), k) for t, k in notes)


def played_hits(cli, tab, out):
    log = out + ".log"
    subprocess.run([cli, "play", tab, "--device", "none", "--channel", "10", "--log", log],
                   check=True, capture_output=True)
    hits = []
    for line in open(log):
        m = re.match(r"(\d+\.\d+) midi 99 (\d+) (\d+)", line)
        if m and int(m.group(2)) != 0 and int(m.group(3)) != 0:
            hits.append((float(m.group(1)), int(m.group(2))))
    return sorted((round(t), k) for t, k in hits)


def same_hits(a, b):
    """Equal keys at times within 2 ms of each other, from the first hit."""
    if len(a) != len(b) or not a:
        return len(a) == len(b)
    a0, b0 = a[0][0], b[0][0]
    sa = sorted((t - a0, k) for t, k in a)
    sb = sorted((t - b0, k) for t, k in b)
    return all(ka == kb and abs(ta - tb) <= 2 + 0.005 * ta for (ta, ka), (tb, kb) in zip(sa, sb))


def main():
    build, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    cli = os.path.join(build, "cli", "pulsewright-cli")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    rows = []
    documents = []
    for g in grooves():
        name = g[0]
        mid = os.path.join(out, name + ".mid")
        write_midi(g, mid)
        tab = os.path.join(out, name + ".tab")
        subprocess.run([cli, "import", mid, "-o", tab], check=True, capture_output=True)
        documents.append((name, tab, mid))
    examples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
    for f in sorted(os.listdir(examples)):
        if f.endswith(".tab"):
            # The examples' MIDI as Pulsewright writes it, for MuseScore to import.
            tab = os.path.join(examples, f)
            mid = os.path.join(out, f[:-4] + ".mid")
            subprocess.run([cli, "export", tab, "-o", mid], check=True, capture_output=True)
            documents.append((f[:-4], tab, mid))
    for name, tab, mid in documents:
        ours = os.path.join(out, name + ".pw.musicxml")
        subprocess.run([cli, "export", tab, "-o", ours], check=True, capture_output=True)
        theirs = None
        if mid:
            theirs = os.path.join(out, name + ".ms.musicxml")
            subprocess.run(["mscore3", "-o", theirs, mid], env=env, capture_output=True,
                           timeout=300)
        # MuseScore's reading of our score, played back as MIDI, against Play.
        back = os.path.join(out, name + ".pw.mid")
        subprocess.run(["mscore3", "-o", back, ours], env=env, capture_output=True, timeout=300)
        read = midi_hits(back) if os.path.exists(back) else []
        played = played_hits(cli, tab, back)
        # Play's steps are whole milliseconds (41 for 41.67 at notes = 48): the source MIDI
        # file is the exact reference where there is one.
        equal = same_hits(read, played)
        source = same_hits(read, midi_hits(mid)) if mid else None
        rows.append((name, counts(ours), counts(theirs) if theirs and os.path.exists(theirs)
                     else None, equal, len(played), source))
    print("| document | bars played (written) | rests/bar max (mean) PW | MS3 | tuplets PW | MS3 "
          "| beamed notes PW | MS3 | MS3 reads PW = play --log | = source MIDI |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for name, a, b, equal, hits, source in rows:
        bs = b or ("-", 0, "-", "-", "-", "-", "-")
        theirs = f"{bs[0]} ({bs[1]:.1f})" if b else "-"
        print(f"| {name} | {a[5]} ({a[6]}) | {a[0]} ({a[1]:.1f}) | {theirs} | {a[2]} | {bs[2]} "
              f"| {a[3]}/{a[4]} | {bs[3]}/{bs[4]} | {'yes' if equal else 'NO'} ({hits} hits) "
              f"| {'-' if source is None else 'yes' if source else 'NO'} |")


if __name__ == "__main__":
    main()
