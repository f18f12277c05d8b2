// Import of the foreign formats: the median time to import a generated 1,000-bar
// GrooveScribe link, Hydrogen song (a column a bar, patterns of two sizes, some columns
// of two patterns) and MusicXML score (hands and feet in two voices, a change of tempo
// and of metre, repeats), each with a few distinct grooves.
// Usage: pw_bench_foreign_import [runs [FILE...]]: files are timed too, by their kind

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tabimport/GrooveScribe.h"
#include "tabimport/Hydrogen.h"
#include "tabimport/MusicXmlImport.h"

using namespace pulsewright;

namespace {

constexpr int kBars = 1000;

std::string generateLink() {
  std::string h, s, k;
  for (int bar = 0; bar < kBars; ++bar) {
    h += bar % 4 == 3 ? "|x-x-x-x-x-x-x-o-" : "|x-x-x-x-x-x-x-x-";
    s += bar % 8 == 7 ? "|----O--g-g--OOOO" : "|----O-------O---";
    k += bar % 2 == 1 ? "|o-----o---o--o--" : "|o-----o---o-----";
  }
  return "https://www.mikeslessons.com/groove/?TimeSig=4/4&Div=16&Tempo=96&Measures=" +
         std::to_string(kBars) + "&H=" + h + "|&S=" + s + "|&K=" + k + "|";
}

std::string generateSong() {
  std::string x = "<?xml version=\"1.0\"?>\n<song><bpm>110</bpm><instrumentList>";
  const char* names[] = {"Kick", "Snare Rock", "Closed HH", "Open HH", "Crash", "Tom Hi"};
  for (int i = 0; i < 6; ++i) {
    x += "<instrument><id>" + std::to_string(i) + "</id><name>" + names[i] +
         "</name><midiOutNote>" + std::to_string(36 + i) + "</midiOutNote></instrument>";
  }
  x += "</instrumentList><patternList>";
  auto note = [](int position, int instrument, double velocity) {
    return "<note><position>" + std::to_string(position) +
           "</position><leadlag>0</leadlag>"
           "<velocity>" +
           std::to_string(velocity) +
           "</velocity><pan_L>0.5</pan_L><pan_R>0.5"
           "</pan_R><pitch>0</pitch><key>C0</key><length>-1</length><instrument>" +
           std::to_string(instrument) + "</instrument><note_off>false</note_off></note>";
  };
  for (int p = 0; p < 6; ++p) {
    const int size = p == 5 ? 144 : 192;
    x += "<pattern><name>p" + std::to_string(p) + "</name><size>" + std::to_string(size) +
         "</size><noteList>";
    for (int t = 0; t < size; t += 12) x += note(t, p == 3 && t == 84 ? 3 : 2, t % 48 ? 0.6 : 0.9);
    for (int t = 0; t < size; t += 96) x += note(t + (p % 2) * 24, 0, 0.8);
    for (int t = 48; t < size; t += 96) x += note(t, 1, 1.0);
    if (p == 4) x += note(0, 4, 1.0);
    if (p == 5) x += note(132, 5, 0.7);
    x += "</noteList></pattern>";
  }
  x += "</patternList><patternSequence>";
  for (int bar = 0; bar < kBars; ++bar) {
    x += "<group><patternID>p" + std::to_string(bar % 5) + "</patternID>";
    if (bar % 16 == 15) x += "<patternID>p5</patternID>";
    x += "</group>";
  }
  return x + "</patternSequence></song>\n";
}

std::string generateScore() {
  std::string x =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"4.0\"><part-list>"
      "<score-part id=\"P1\"><part-name>Drums</part-name>"
      "<score-instrument id=\"P1-I1\"><instrument-name>Kick</instrument-name></score-instrument>"
      "<score-instrument id=\"P1-I2\"><instrument-name>Snare</instrument-name></score-instrument>"
      "<score-instrument id=\"P1-I3\"><instrument-name>Hi-hat</instrument-name></score-instrument>"
      "<midi-instrument id=\"P1-I1\"><midi-unpitched>37</midi-unpitched></midi-instrument>"
      "<midi-instrument id=\"P1-I2\"><midi-unpitched>39</midi-unpitched></midi-instrument>"
      "<midi-instrument id=\"P1-I3\"><midi-unpitched>43</midi-unpitched></midi-instrument>"
      "</score-part></part-list><part id=\"P1\">";
  auto note = [](const char* instrument, const char* step, int octave, int duration, bool chord) {
    return std::string("<note>") + (chord ? "<chord/>" : "") + "<unpitched><display-step>" + step +
           "</display-step><display-octave>" + std::to_string(octave) +
           "</display-octave></unpitched><duration>" + std::to_string(duration) +
           "</duration><instrument id=\"" + instrument +
           "\"/><voice>1</voice><type>eighth</type>"
           "</note>";
  };
  for (int bar = 1; bar <= kBars; ++bar) {
    x += "<measure number=\"" + std::to_string(bar) + "\">";
    if (bar == 1) {
      x += "<attributes><divisions>2</divisions><time><beats>4</beats><beat-type>4</beat-type>"
           "</time></attributes><direction><sound tempo=\"100\"/></direction>";
    }
    if (bar % 10 == 1) x += "<barline location=\"left\"><repeat direction=\"forward\"/></barline>";
    for (int e = 0; e < 8; ++e) {
      x += note("P1-I3", "G", 5, 1, false);
      if (e == 2 || e == 6) x += note("P1-I2", "C", 5, 1, true);
    }
    x += "<backup><duration>8</duration></backup>";
    for (int q = 0; q < 4; ++q) {
      x += q == 0 || (q == 2 && bar % 3 == 0)
               ? note("P1-I1", "F", 4, 2, false)
               : "<note><rest/><duration>2</duration><voice>2</voice></note>";
    }
    if (bar % 10 == 2) {
      x += "<barline location=\"right\"><repeat direction=\"backward\"/></barline>";
    }
    x += "</measure>";
  }
  return x + "</part></score-partwise>\n";
}

double medianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void measure(const char* name, const std::string& input, int runs,
             const std::function<std::string(const std::string&)>& import) {
  std::vector<double> times;
  std::size_t bytes = 0;
  std::size_t played = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const std::string document = import(input);
    bytes = document.size();
    // Song positions: the song line's characters (part names are ASCII here).
    const std::size_t song = document.rfind("song = ");
    played = song == std::string::npos ? 0 : document.size() - song - 8;
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::printf("%-18s %5d bars  %8zu bytes in  %6zu out, %5zu played  median %6.2f ms  (%d runs)\n",
              name, kBars, input.size(), bytes, played, medianOf(times), runs);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  measure("GrooveScribe link", generateLink(), runs,
          [](const std::string& in) { return importGrooveScribeLink(in).document; });
  measure("Hydrogen song", generateSong(), runs,
          [](const std::string& in) { return importHydrogenFile(in).document; });
  measure("MusicXML score", generateScore(), runs,
          [](const std::string& in) { return importMusicXml(in).document; });
  for (int i = 2; i < argc; ++i) {
    std::ostringstream bytes;
    bytes << std::ifstream(argv[i], std::ios::binary).rdbuf();
    const std::string input = bytes.str();
    if (looksLikeHydrogenFile(input)) {
      measure(argv[i], input, runs,
              [](const std::string& in) { return importHydrogenFile(in).document; });
    } else if (looksLikeMusicXml(input)) {
      measure(argv[i], input, runs,
              [](const std::string& in) { return importMusicXml(in).document; });
    } else {
      measure(argv[i], input, runs,
              [](const std::string& in) { return importGrooveScribeLink(in).document; });
    }
  }
  return 0;
}
