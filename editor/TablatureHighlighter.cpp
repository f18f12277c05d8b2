#include "editor/TablatureHighlighter.h"

#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace pulsewright {

namespace {

double channel(double c) {
  c /= 255.0;
  return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c) {
  const QColor rgb = c.toRgb();
  return 0.2126 * channel(rgb.red()) + 0.7152 * channel(rgb.green()) + 0.0722 * channel(rgb.blue());
}

// `a` moved `amount` (0-1) of the way to `b`.
QColor mix(const QColor& a, const QColor& b, double amount) {
  const QColor x = a.toRgb();
  const QColor y = b.toRgb();
  auto m = [amount](int p, int q) { return static_cast<int>(std::lround(p + (q - p) * amount)); };
  return QColor(m(x.red(), y.red()), m(x.green(), y.green()), m(x.blue(), y.blue()));
}

// A colour of the hue that reads on `base`: dark on light backgrounds, light on dark
// ones, stepped away from the background until the contrast is enough for text.
QColor readable(int hue, int saturation, const QColor& base) {
  const bool darkBase = luminance(base) < 0.2;
  int lightness = darkBase ? 170 : 90;
  QColor c = QColor::fromHsl(hue, saturation, lightness);
  while (contrastRatio(c, base) < 4.5 && lightness > 0 && lightness < 255) {
    lightness = std::clamp(lightness + (darkBase ? 8 : -8), 0, 255);
    c = QColor::fromHsl(hue, saturation, lightness);
  }
  return c;
}

QTextCharFormat format(const QColor& color, bool bold = false, bool italic = false) {
  QTextCharFormat f;
  f.setForeground(color);
  if (bold) f.setFontWeight(QFont::Bold);
  if (italic) f.setFontItalic(true);
  return f;
}

// Block states: a line far from the view waits, uncoloured, until it comes into view. A
// line never coloured has the state -1 too, so a document made elsewhere needs no pass
// over all its lines: only those that come into view are coloured, and colouring one
// changes no state of a line far away, so Qt does not go on to the lines after it.
constexpr int kColoured = 0;
constexpr int kWaiting = -1;

bool isGridChar(QChar c) {
  return c.unicode() < 0x80 && pulsewright::isGridChar(static_cast<char>(c.unicode()));
}

void gridFormats(const QString& text, const LineStyles& styles,
                 QList<QTextLayout::FormatRange>& runs) {
  auto add = [&runs](int start, int length, const QTextCharFormat& format) {
    if (length > 0) runs.append({start, length, format});
  };
  // A grid line is all ASCII: blanks, the symbol, then grid characters after the first
  // bar line.
  const int n = static_cast<int>(text.size());
  int i = 0;
  while (i < n && text[i] != QLatin1Char('|')) ++i;
  add(0, i, styles.gridSymbol);
  int runStart = i;
  const QTextCharFormat* runFormat = nullptr;
  for (; i < n; ++i) {
    const QChar c = text[i];
    const QTextCharFormat* f = &styles.bar;
    if (isGridChar(c)) {
      switch (c.unicode()) {
        case '|': f = &styles.bar; break;
        case '-': f = &styles.rest; break;
        case '[':
        case ']': f = &styles.bracket; break;
        case 'X':
        case 'O': f = &styles.accent; break;
        case 'x':
        case 'o': f = &styles.level[5]; break;
        default: f = &styles.level[static_cast<std::size_t>(c.unicode() - '0')]; break;
      }
    }
    if (f != runFormat) {
      if (runFormat != nullptr) add(runStart, i - runStart, *runFormat);
      runStart = i;
      runFormat = f;
    }
  }
  if (runFormat != nullptr) add(runStart, n - runStart, *runFormat);
}

}  // namespace

QList<QTextLayout::FormatRange> lineFormats(const QString& text, const LineMatcher& matcher,
                                            const LineStyles& styles) {
  QList<QTextLayout::FormatRange> runs;
  if (text.size() > TablatureHighlighter::kLongestColouredLine || text.isEmpty()) return runs;
  const QByteArray bytes = text.toUtf8();
  const LineKind kind = lineKindOf(matcher.classify(std::string_view(bytes.data(), bytes.size())));
  if (kind == LineKind::Grid) {
    gridFormats(text, styles, runs);
  } else {
    runs.append({0, static_cast<int>(text.size()), styles.of(kind)});
  }
  return runs;
}

double contrastRatio(const QColor& a, const QColor& b) {
  const double la = luminance(a);
  const double lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

LineKind lineKindOf(const LineTests& tests) {
  namespace t = line_test;
  if (isSectionLine(tests)) return LineKind::Section;
  if (tests[t::kSong]) return LineKind::Song;
  if (tests[t::kWave]) return LineKind::Wave;
  for (int i = 0; i < 34; ++i) {
    if (tests[t::kVoiceFirst + i]) return LineKind::Voice;
  }
  for (int k = 0; k < 5; ++k) {
    if (tests[t::kMetaFirst + k]) return LineKind::Meta;
  }
  if (tests[t::kGrid]) return LineKind::Grid;
  return LineKind::None;
}

Severity DiagnosticsBlockData::worst() const {
  for (const BlockDiagnostic& d : items) {
    if (d.severity == Severity::Error) return Severity::Error;
  }
  return Severity::Warning;
}

LineStyles LineStyles::forColors(const QColor& text, const QColor& base) {
  LineStyles s;
  s.voice = format(readable(215, 170, base), true);
  s.section = format(readable(285, 150, base), true);
  s.song = format(readable(135, 170, base), true);
  s.wave = format(readable(180, 170, base));
  s.meta = format(readable(30, 150, base), false, true);
  s.plain = format(mix(text, base, 0.45), false, true);
  s.gridSymbol = format(readable(215, 170, base), true);
  s.bar = format(mix(text, base, 0.3));
  s.rest = format(mix(text, base, 0.55));
  s.bracket = format(readable(285, 150, base), true);
  // Hits from faint to full strength by level; accents strongest.
  const QColor hit = readable(10, 190, base);
  for (int level = 0; level < 10; ++level) {
    s.level[static_cast<std::size_t>(level)] =
        format(mix(base, hit, 0.45 + 0.55 * (level + 1) / 10.0), level >= 7);
  }
  s.accent = format(hit, true);
  s.error = readable(0, 220, base);
  s.warning = readable(40, 220, base);
  return s;
}

const QTextCharFormat& LineStyles::of(LineKind kind) const {
  switch (kind) {
    case LineKind::Wave: return wave;
    case LineKind::Meta: return meta;
    case LineKind::Voice: return voice;
    case LineKind::Song: return song;
    case LineKind::Section: return section;
    case LineKind::Grid: return bar;
    case LineKind::None: break;
  }
  return plain;
}

TablatureHighlighter::TablatureHighlighter(QTextDocument* document)
    : QSyntaxHighlighter(document), styles_(LineStyles::forColors(Qt::black, Qt::white)) {}

TablatureHighlighter::TablatureHighlighter(QTextDocument* document, const LineStyles& styles)
    : QSyntaxHighlighter(document), styles_(styles) {}

TablatureHighlighter::~TablatureHighlighter() = default;

void TablatureHighlighter::setColors(const QColor& text, const QColor& base) {
  styles_ = LineStyles::forColors(text, base);
  rehighlight();
}

void TablatureHighlighter::setDetailFilter(std::function<bool(const QTextBlock&)> filter) {
  detailFilter_ = std::move(filter);
}

bool TablatureHighlighter::isShadedLater(const QTextBlock& block) {
  return block.userState() == kWaiting;
}

void TablatureHighlighter::highlightBlock(const QString& text) {
  setCurrentBlockState(kColoured);
  if (text.size() > kLongestColouredLine || text.isEmpty()) return;
  if (detailFilter_ && !detailFilter_(currentBlock())) {
    // Far from the view: no format at all, so that neither the line is read nor its
    // layout is marked for redrawing; a document of hundreds of thousands of lines
    // opens at nearly the speed of the plain editor.
    setCurrentBlockState(kWaiting);
    return;
  }
  for (const QTextLayout::FormatRange& run : lineFormats(text, matcher_, styles_)) {
    setFormat(run.start, run.length, run.format);
  }
  if (const auto* data = dynamic_cast<const DiagnosticsBlockData*>(currentBlockUserData())) {
    underline(*data, static_cast<int>(text.size()));
  }
}

void TablatureHighlighter::underline(const DiagnosticsBlockData& data, int length) {
  for (const BlockDiagnostic& d : data.items) {
    const int from = std::clamp(d.utf16Column, 0, length);
    // An empty range still marks the character it stands before.
    const int to = std::clamp(d.utf16Column + std::max(d.utf16Length, 1), from, length);
    const QColor color = d.severity == Severity::Error ? styles_.error : styles_.warning;
    for (int i = from; i < to; ++i) {
      QTextCharFormat f = format(i);
      f.setUnderlineStyle(QTextCharFormat::WaveUnderline);
      f.setUnderlineColor(color);
      setFormat(i, 1, f);
    }
  }
}

}  // namespace pulsewright
