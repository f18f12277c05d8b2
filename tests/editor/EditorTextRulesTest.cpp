// The editor's text rules without widgets: document bytes, search and Replace All, and
// the stored appearance values.

#include <gtest/gtest.h>

#include <QLocale>
#include <random>

#include "editor/AppearanceValues.h"
#include "editor/DocumentFile.h"
#include "editor/FindReplace.h"

using namespace pulsewright;

namespace {

std::string roundTrip(const std::string& bytes) {
  const LoadedDocument doc = loadDocument(bytes);
  return saveDocument(doc.text, doc.format).bytes;
}

}  // namespace

TEST(EditorDocumentBytes, LineEndsAreReadOnceAndWrittenBackAsTheFileHadThem) {
  for (const std::string bytes :
       {"a\r\nb\r\n", "a\nb\n", "a\rb\r", "a\r\n\r\n", "\r\n", "\n\n\n", "x\r\n"}) {
    EXPECT_EQ(roundTrip(bytes), bytes) << bytes;
  }
  LoadedDocument lf = loadDocument("one\ntwo\n");
  EXPECT_EQ(lf.text, "one\ntwo");
  EXPECT_EQ(lf.format.lineEnding, LineEnding::Lf);
  // Only the one line end that saving appends is dropped.
  EXPECT_EQ(loadDocument("a\r\n\r\n").text, "a\n");
  EXPECT_EQ(loadDocument("a\rb\r").text, "a\nb");
  // Mixed ends all become lines; the first one decides how they are written.
  EXPECT_EQ(loadDocument("a\r\nb\nc\rd").text, "a\nb\nc\nd");
  EXPECT_EQ(saveDocument("a\nb\nc\nd", loadDocument("a\r\nb\nc\rd").format).bytes,
            "a\r\nb\r\nc\r\nd\r\n");
  // Without a line end a file is taken as CR LF, and one is appended on saving.
  EXPECT_EQ(roundTrip("no end"), "no end\r\n");
  EXPECT_EQ(roundTrip(""), "\r\n");
  EXPECT_EQ(saveDocument("", DocumentFormat{}).bytes, "\r\n");
}

TEST(EditorDocumentBytes, EncodingsRoundTripAndTextWindows1252CannotHoldIsWrittenAsUtf8) {
  // Every byte Windows-1252 has, including the five it leaves undefined and the no-break
  // space, comes back as it was.
  std::string all1252;
  for (int b = 0x20; b <= 0xFF; ++b) all1252 += static_cast<char>(b);
  all1252 += "\r\n";
  const LoadedDocument doc = loadDocument(all1252);
  EXPECT_EQ(doc.format.encoding, DocumentEncoding::Windows1252);
  EXPECT_EQ(saveDocument(doc.text, doc.format).bytes, all1252);

  const std::string withBom = "\xEF\xBB\xBFk |x---|\r\n";
  EXPECT_TRUE(loadDocument(withBom).format.byteOrderMark);
  EXPECT_EQ(loadDocument(withBom).text, "k |x---|");
  EXPECT_EQ(roundTrip(withBom), withBom);

  DocumentFormat old1252;
  old1252.encoding = DocumentEncoding::Windows1252;
  const SavedDocument euro = saveDocument("\xE2\x82\xAC caf\xC3\xA9", old1252);  // "€ café"
  EXPECT_EQ(euro.bytes, "\x80 caf\xE9\r\n");
  EXPECT_EQ(euro.format.encoding, DocumentEncoding::Windows1252);
  const SavedDocument kanji = saveDocument("caf\xC3\xA9 \xE6\x97\xA5", old1252);  // "café 日"
  EXPECT_EQ(kanji.bytes, "caf\xC3\xA9 \xE6\x97\xA5\r\n");
  EXPECT_EQ(kanji.format.encoding, DocumentEncoding::Utf8);
  EXPECT_FALSE(encodeWindows1252("\xC2\x80").has_value());  // U+0080 has no byte
}

TEST(EditorFindText, FindsLiterallyFromAPositionInEitherComparison) {
  const QString text = QStringLiteral("Drum drum (drum)");
  EXPECT_EQ(findMatch(text, "drum", 0, Qt::CaseInsensitive), 0);
  EXPECT_EQ(findMatch(text, "drum", 0, Qt::CaseSensitive), 5);
  EXPECT_EQ(findMatch(text, "(drum)", 6, Qt::CaseSensitive), 10);
  EXPECT_EQ(findMatch(text, ".", 0, Qt::CaseSensitive), -1);  // no pattern syntax
  EXPECT_EQ(findMatch(text, "", 0, Qt::CaseSensitive), -1);
  EXPECT_EQ(findMatch(text, "drum", text.size() + 1, Qt::CaseSensitive), -1);
  EXPECT_EQ(findMatch("aaa", "aa", 1, Qt::CaseSensitive), 1);
  EXPECT_EQ(findMatch("aaa", "aa", 2, Qt::CaseSensitive), -1);
}

namespace {

// Replace All as the repeated passes describe it, for a replacement shorter than the
// find text (where it always ends).
QString naiveRepeatedPasses(QString text, const QString& needle, const QString& replacement,
                            Qt::CaseSensitivity cs) {
  for (qsizetype at = text.indexOf(needle, 0, cs); at >= 0; at = text.indexOf(needle, 0, cs)) {
    text.replace(at, needle.size(), replacement);
  }
  return text;
}

}  // namespace

TEST(EditorReplaceAllText, RepeatedPassesEndInEveryCase) {
  ReplaceAllResult shrink = replaceAllText("aaaa", "aa", "a", Qt::CaseSensitive);
  EXPECT_EQ(shrink.text, "a");
  EXPECT_EQ(shrink.replacements, 3);
  EXPECT_FALSE(shrink.singlePass);
  EXPECT_EQ(replaceAllText("abab", "ab", "ba", Qt::CaseSensitive).text, "bbaa");
  EXPECT_EQ(replaceAllText("x DRUM drum", "Drum", "Tom", Qt::CaseInsensitive).text, "x Tom Tom");

  // The replacement contains the find text: each original occurrence once.
  ReplaceAllResult grow = replaceAllText("aaa", "a", "ba", Qt::CaseSensitive);
  EXPECT_EQ(grow.text, "bababa");
  EXPECT_TRUE(grow.singlePass);
  EXPECT_EQ(grow.replacements, 3);
  // ... under the comparison in force: "A" is in "xa" only without case.
  EXPECT_EQ(replaceAllText("AA", "A", "xa", Qt::CaseInsensitive).text, "xaxa");
  EXPECT_EQ(replaceAllText("aaaa", "aa", "aa", Qt::CaseSensitive).replacements, 2);

  // An empty find text replaces nothing.
  ReplaceAllResult empty = replaceAllText("abc", "", "x", Qt::CaseSensitive);
  EXPECT_EQ(empty.text, "abc");
  EXPECT_EQ(empty.replacements, 0);

  // Passes that keep making new occurrences although the replacement lacks the find
  // text ("a" before "ab" -> "bbaa" makes "ab" again) fall back to one pass.
  ReplaceAllLimits tight;
  tight.maxReplacements = 1000;
  ReplaceAllResult runaway = replaceAllText("aab", "ab", "bbaa", Qt::CaseSensitive, tight);
  EXPECT_TRUE(runaway.singlePass);
  EXPECT_EQ(runaway.text, "abbaa");
  ReplaceAllLimits small;
  small.maxGrowth = 64;
  EXPECT_TRUE(replaceAllText("aaaaaaaab", "ab", "bba", Qt::CaseSensitive, small).singlePass);
  // Without a limit in the way the same kind of passes end normally.
  EXPECT_EQ(replaceAllText("aab", "ab", "bba", Qt::CaseSensitive).text, "bbbbaa");
}

TEST(EditorReplaceAllText, OneScanGivesWhatTheRepeatedPassesGive) {
  std::mt19937 random(12345);
  const auto randomText = [&](int maxLength, const char* alphabet) {
    QString s;
    const int length = std::uniform_int_distribution<int>(0, maxLength)(random);
    const int letters = static_cast<int>(std::strlen(alphabet));
    for (int i = 0; i < length; ++i) {
      s += QLatin1Char(alphabet[std::uniform_int_distribution<int>(0, letters - 1)(random)]);
    }
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const QString text = randomText(24, "abAB");
    QString needle = randomText(4, "abAB");
    if (needle.isEmpty()) needle = "a";
    const QString replacement = randomText(static_cast<int>(needle.size()) - 1, "abAB");
    const auto cs = round % 2 == 0 ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (replacement.contains(needle, cs)) continue;
    ASSERT_EQ(replaceAllText(text, needle, replacement, cs).text,
              naiveRepeatedPasses(text, needle, replacement, cs))
        << text.toStdString() << " / " << needle.toStdString() << " -> "
        << replacement.toStdString();
  }
}

TEST(EditorAppearanceValues, ColoursAndSizesAsStoredText) {
  EXPECT_EQ(colorToStoredText(Qt::white), "16777215");
  EXPECT_EQ(colorToStoredText(Qt::black), "0");
  EXPECT_EQ(colorToStoredText(QColor(255, 0, 0)), "255");
  EXPECT_EQ(colorToStoredText(QColor(0x12, 0x34, 0x56)), QString::number(0x563412));
  EXPECT_EQ(colorFromStoredText("255"), QColor(255, 0, 0));
  EXPECT_EQ(colorFromStoredText(" 16777215"), QColor(Qt::white));
  EXPECT_EQ(colorFromStoredText(QString::number(0x563412)), QColor(0x12, 0x34, 0x56));
  EXPECT_FALSE(colorFromStoredText("-2147483643").has_value());  // a system colour
  EXPECT_FALSE(colorFromStoredText("16777216").has_value());
  EXPECT_FALSE(colorFromStoredText("red").has_value());
  EXPECT_FALSE(colorFromStoredText("").has_value());

  EXPECT_EQ(roundHalfToEven(8.5), 8);
  EXPECT_EQ(roundHalfToEven(9.5), 10);
  EXPECT_EQ(roundHalfToEven(9.75), 10);
  EXPECT_EQ(roundHalfToEven(10.25), 10);
  EXPECT_EQ(fontSizeFromStoredText("9.75"), 10);
  EXPECT_EQ(fontSizeFromStoredText("8.5"), 8);
  EXPECT_EQ(fontSizeFromStoredText("10"), 10);
  EXPECT_FALSE(fontSizeFromStoredText("big").has_value());
  EXPECT_FALSE(fontSizeFromStoredText("0.5").has_value());
  EXPECT_FALSE(fontSizeFromStoredText("1e9").has_value());
  EXPECT_FALSE(fontSizeFromStoredText("nan").has_value());

  EXPECT_EQ(fontSizeToStoredText(9.75), "9.75");
  EXPECT_EQ(fontSizeToStoredText(10), "10");
  EXPECT_EQ(fontSizeToStoredText(9.123456), "9.1235");
  EXPECT_EQ(fontSizeToStoredText(1200), "1200");

  // Written and read with the user's decimal separator.
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(fontSizeToStoredText(9.75), "9,75");
  EXPECT_EQ(fontSizeToStoredText(12000), "12000");
  EXPECT_EQ(fontSizeFromStoredText("9,75"), 10);
  EXPECT_EQ(fontSizeFromStoredText("8.5"), 8);  // a file written elsewhere
  QLocale::setDefault(before);
}
