#pragma once
// A tiny SF2 kit written on the spot from the SoundFont 2.01 layout: one preset, one
// instrument and one 16-bit sample of a decaying tone that every drum key (27-87) plays
// at its own pitch, so a test knows the sound of any note it plays on the kit.

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace pulsewright::test {

inline void writeTinySoundFont(const std::string& path, const std::string& presetName, double hz,
                               int rate = 44100) {
  auto u16 = [](std::string& s, int v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
  };
  auto u32 = [&](std::string& s, std::uint32_t v) {
    u16(s, static_cast<int>(v & 0xFFFF));
    u16(s, static_cast<int>(v >> 16));
  };
  auto name20 = [](std::string& s, const std::string& n) {
    s += (n + std::string(20, '\0')).substr(0, 20);
  };
  auto chunk = [&](const std::string& id, const std::string& body) {
    std::string c = id;
    u32(c, static_cast<std::uint32_t>(body.size()));
    return c + body + (body.size() % 2 ? std::string(1, '\0') : std::string());
  };
  auto list = [&](const std::string& type, const std::string& body) {
    return chunk("LIST", type + body);
  };

  const int frames = rate * 3 / 10;  // 0.3 s
  std::string smpl;
  for (int i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    u16(smpl,
        static_cast<int>(std::lround(26000 * std::sin(2 * M_PI * hz * t) * std::exp(-t / 0.05))));
  }
  for (int i = 0; i < 46; ++i) u16(smpl, 0);  // the zeros the format asks after a sample

  std::string ifil, phdr, pbag, pmod(10, '\0'), pgen, inst, ibag, imod(10, '\0'), igen, shdr;
  u16(ifil, 2);
  u16(ifil, 1);
  name20(phdr, presetName);
  u16(phdr, 0), u16(phdr, 0), u16(phdr, 0);  // program, bank, first zone
  u32(phdr, 0), u32(phdr, 0), u32(phdr, 0);
  name20(phdr, "EOP");
  u16(phdr, 0), u16(phdr, 0), u16(phdr, 1);
  u32(phdr, 0), u32(phdr, 0), u32(phdr, 0);
  u16(pbag, 0), u16(pbag, 0), u16(pbag, 1), u16(pbag, 0);
  u16(pgen, 41), u16(pgen, 0);  // instrument 0
  u16(pgen, 0), u16(pgen, 0);
  name20(inst, "Tiny");
  u16(inst, 0);
  name20(inst, "EOI");
  u16(inst, 1);
  u16(ibag, 0), u16(ibag, 0), u16(ibag, 4), u16(ibag, 0);
  u16(igen, 43), u16(igen, 27 + (87 << 8));  // the General MIDI drums' keys
  u16(igen, 56), u16(igen, 0);  // scale tuning 0: every key plays the sample's own pitch
  u16(igen, 38), u16(igen, 0);  // a release of 1 s: a note off leaves the tone ringing
  u16(igen, 53), u16(igen, 0);  // sample 0
  u16(igen, 0), u16(igen, 0);
  name20(shdr, "Tone");
  u32(shdr, 0), u32(shdr, static_cast<std::uint32_t>(frames));
  u32(shdr, 0), u32(shdr, static_cast<std::uint32_t>(frames - 1));
  u32(shdr, static_cast<std::uint32_t>(rate));
  shdr += static_cast<char>(60), shdr += '\0';
  u16(shdr, 0), u16(shdr, 1);  // no link, mono
  name20(shdr, "EOS");
  shdr += std::string(26, '\0');

  const std::string info =
      list("INFO", chunk("ifil", ifil) + chunk("isng", std::string("EMU8000\0", 8)) +
                       chunk("INAM", presetName + std::string(2 - presetName.size() % 2, '\0')));
  const std::string sdta = list("sdta", chunk("smpl", smpl));
  const std::string pdta =
      list("pdta", chunk("phdr", phdr) + chunk("pbag", pbag) + chunk("pmod", pmod) +
                       chunk("pgen", pgen) + chunk("inst", inst) + chunk("ibag", ibag) +
                       chunk("imod", imod) + chunk("igen", igen) + chunk("shdr", shdr));
  std::ofstream(path, std::ios::binary) << chunk("RIFF", "sfbk" + info + sdta + pdta);
}

// The tone the tiny sound font's sample holds, at `t` seconds.
inline double tinySoundFontTone(double hz, double t) {
  return t < 0 || t >= 0.3 ? 0 : std::sin(2 * M_PI * hz * t) * std::exp(-t / 0.05);
}

}  // namespace pulsewright::test
