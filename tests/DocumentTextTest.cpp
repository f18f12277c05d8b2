#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/DocumentText.h"
#include "text/Utf8.h"

namespace pulsewright {
namespace {

TEST(DocumentText, Utf8IsKeptAndAnythingElseIsReadAsWindows1252) {
  struct Case {
    std::string bytes;
    std::string text;
    DocumentEncoding encoding;
  };
  const std::vector<Case> cases = {
      {"k = kick", "k = kick", DocumentEncoding::Utf8},
      {"\xEF\xBB\xBFk = kick", "k = kick", DocumentEncoding::Utf8},  // byte-order mark
      {"caf\xC3\xA9 \xF0\x9F\xA5\x81", "caf\xC3\xA9 \xF0\x9F\xA5\x81", DocumentEncoding::Utf8},
      {"\x80", "\xE2\x82\xAC", DocumentEncoding::Windows1252},  // euro sign
      {"caf\xE9", "caf\xC3\xA9", DocumentEncoding::Windows1252},
      {"\x93q\x94", "\xE2\x80\x9Cq\xE2\x80\x9D", DocumentEncoding::Windows1252},
      {"\x9D\xFF", "\xC2\x9D\xC3\xBF", DocumentEncoding::Windows1252},  // 0x9D is undefined
      // Not UTF-8: overlong forms, a surrogate, past U+10FFFF, a cut sequence.
      {"\xC0\xAF", "\xC3\x80\xC2\xAF", DocumentEncoding::Windows1252},
      {"\xE0\x80\xAF", "\xC3\xA0\xE2\x82\xAC\xC2\xAF", DocumentEncoding::Windows1252},
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC", DocumentEncoding::Windows1252},
      {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC",
       DocumentEncoding::Windows1252},
      {"a\xE2\x82", "a\xC3\xA2\xE2\x80\x9A", DocumentEncoding::Windows1252},
  };
  for (const Case& c : cases) {
    DocumentEncoding encoding{};
    EXPECT_EQ(decodeDocumentBytes(c.bytes, &encoding), c.text) << testing::PrintToString(c.bytes);
    EXPECT_EQ(encoding, c.encoding) << testing::PrintToString(c.bytes);
    EXPECT_TRUE(isValidUtf8(decodeDocumentBytes(c.bytes)));
  }
}

TEST(DocumentText, EveryKindOfLineEndBecomesCrLf) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"a\r\nb", "a\r\nb"},
      {"a\nb", "a\r\nb"},
      {"a\rb", "a\r\nb"},
      {"a\n\rb", "a\r\n\r\nb"},
      {"a\r\r\nb", "a\r\n\r\nb"},
      {"a\n\n", "a\r\n\r\n"},
      {"a\r", "a\r\n"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(joinLinesWithCrLf(in), out) << testing::PrintToString(in);
  }
}

// Line ends of every kind wherever they stand, against the rule read a byte at a time.
TEST(DocumentText, LineEndsAnywhereInALongTextAreJoinedWithCrLf) {
  auto byByte = [](std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\r' && text[i] != '\n') {
        out += text[i];
        continue;
      }
      out += "\r\n";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return out;
  };
  const char* pieces[] = {"a", "bc", "\r", "\n", "\r\n", "\n\r", "long line of text "};
  std::uint32_t seed = 12345;
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const int count = round % 40;
    for (int i = 0; i < count; ++i) {
      seed = seed * 1103515245U + 12345U;
      text += pieces[(seed >> 16) % std::size(pieces)];
    }
    EXPECT_EQ(joinLinesWithCrLf(text), byByte(text)) << testing::PrintToString(text);
  }
  const std::string manyLoneEnds(100000, '\n');
  EXPECT_EQ(joinLinesWithCrLf(manyLoneEnds), byByte(manyLoneEnds));
}

// A byte that spoils UTF-8, or a character that does not, is seen wherever it stands in a
// long ASCII text; the text the compiler reads comes out as decoding and joining make it.
TEST(DocumentText, LongTextsAreReadWhateverStandsWhere) {
  for (std::size_t at = 0; at < 24; ++at) {
    std::string text(24, 'x');
    text.insert(at, "\xC3\xA9");
    EXPECT_TRUE(isValidUtf8(text)) << at;
    text.erase(at + 1, 1);  // a cut sequence
    EXPECT_FALSE(isValidUtf8(text)) << at;
    EXPECT_EQ(documentTextFromBytes(text), joinLinesWithCrLf(decodeDocumentBytes(text))) << at;
  }
  const std::vector<std::string> documents = {"", "\xEF\xBB\xBFk = kick\npart",
                                              "k = kick\r\n\rcaf\xC3\xA9\n", "caf\xE9\r\n\n"};
  for (const std::string& bytes : documents) {
    EXPECT_EQ(documentTextFromBytes(bytes), joinLinesWithCrLf(decodeDocumentBytes(bytes)))
        << testing::PrintToString(bytes);
  }
}

// Every byte read as Windows-1252 is written back as itself, and columns count a
// character outside the basic plane as one code point and two UTF-16 units.
TEST(DocumentText, Windows1252RoundTripsAndColumnsCountCharacters) {
  std::string all;
  for (int b = 0x80; b < 0x100; ++b) all += static_cast<char>(b);
  const std::string decoded = decodeDocumentBytes(all);
  EXPECT_EQ(encodeWindows1252(decoded), all);

  std::string text = "a";
  appendUtf8(text, 0x1D15F);  // a musical note
  text += "\xC3\xA9|";
  EXPECT_EQ(codePointCount(text), 4u);
  LineColumns columns;
  columns.reset(text);
  EXPECT_EQ(columns.at(text.size() - 1).column, 4);
  EXPECT_EQ(columns.at(text.size() - 1).utf16, 4);
  EXPECT_EQ(columns.at(1).utf16, 1);
  std::size_t at = 1;
  EXPECT_EQ(nextCodePoint(text, at), U'\U0001D15F');
  EXPECT_EQ(at, 5u);
}

}  // namespace
}  // namespace pulsewright
