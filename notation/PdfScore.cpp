#include "notation/PdfScore.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "notation/Engraving.h"

namespace pulsewright {

namespace {

constexpr double kMarginPoints = 36.0;  // half an inch all round
constexpr double kCircle = 0.5523;      // a quarter circle's Bezier handles

// The text in the standard fonts' WinAnsi encoding: Latin-1 as it is, quotes escaped,
// what it cannot show as '?'.
std::string winAnsi(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    unsigned code = c;
    if (c >= 0xC0 && c < 0xE0 && i + 1 < utf8.size()) {
      code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
    } else if (c >= 0x80) {
      while (i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) ++i;
      code = '?';
    }
    if (code < 0x20 || code > 0xFF || (code >= 0x7F && code < 0xA0)) code = '?';
    if (code == '(' || code == ')' || code == '\\') out += '\\';
    out += static_cast<char>(code);
  }
  return out;
}

class Page {
 public:
  Page(double pageHeight, double space) : height_(pageHeight), s_(space) {}

  void draw(const Engraving& e) {
    for (const EngravedStroke& st : e.strokes) {
      const bool round = st.kind == StrokeKind::Flag || st.kind == StrokeKind::RepeatDot;
      op(fmt("%.3f w %d J ", st.width * s_, round ? 1 : 0));
      line(st.x1, st.y1, st.x2 + (st.kind == StrokeKind::RepeatDot ? 0.001 : 0.0), st.y2);
    }
    for (const EngravedHead& h : e.heads) head(h);
    for (const EngravedRest& r : e.rests) rest(r);
    for (const EngravedText& t : e.texts) text(t);
  }

  const std::string& content() const { return out_; }

 private:
  static std::string fmt(const char* f, double a, double b = 0, double c = 0, double d = 0,
                         double e = 0, double g = 0) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, f, a, b, c, d, e, g);
    return buffer;
  }
  static std::string fmt(const char* f, double a, int b) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, f, a, b);
    return buffer;
  }
  double X(double x) const { return kMarginPoints + x * s_; }
  double Y(double y) const { return height_ - kMarginPoints - y * s_; }
  void op(const std::string& text) { out_ += text; }
  void line(double x1, double y1, double x2, double y2) {
    op(fmt("%.2f %.2f m %.2f %.2f l S\n", X(x1), Y(y1), X(x2), Y(y2)));
  }
  // An ellipse around (x, y), radii in spaces; filled or stroked.
  void ellipse(double x, double y, double rx, double ry, bool fill) {
    const double cx = X(x), cy = Y(y), a = rx * s_, b = ry * s_;
    op(fmt("%.2f %.2f m ", cx + a, cy));
    op(fmt("%.2f %.2f %.2f %.2f %.2f %.2f c ", cx + a, cy + b * kCircle, cx + a * kCircle, cy + b,
           cx, cy + b));
    op(fmt("%.2f %.2f %.2f %.2f %.2f %.2f c ", cx - a * kCircle, cy + b, cx - a, cy + b * kCircle,
           cx - a, cy));
    op(fmt("%.2f %.2f %.2f %.2f %.2f %.2f c ", cx - a, cy - b * kCircle, cx - a * kCircle, cy - b,
           cx, cy - b));
    op(fmt("%.2f %.2f %.2f %.2f %.2f %.2f c ", cx + a * kCircle, cy - b, cx + a, cy - b * kCircle,
           cx + a, cy));
    op(fill ? "f\n" : "S\n");
  }
  void polygon(const std::vector<std::pair<double, double>>& points, bool fill) {
    for (std::size_t i = 0; i < points.size(); ++i) {
      op(fmt(i == 0 ? "%.2f %.2f m " : "%.2f %.2f l ", X(points[i].first), Y(points[i].second)));
    }
    op(fill ? "h f\n" : "h S\n");
  }

  void head(const EngravedHead& h) {
    const double k = h.grace ? 0.6 : 1.0;  // grace heads are small
    op(fmt("%.3f w 1 J ", 0.16 * k * s_));
    const double x = h.x, y = h.y;
    switch (h.head) {
      case Notehead::Normal: ellipse(x, y, 0.6 * k, 0.45 * k, !h.hollow); break;
      case Notehead::Slashed:
        ellipse(x, y, 0.6 * k, 0.45 * k, !h.hollow);
        line(x - 0.8 * k, y + 0.6 * k, x + 0.8 * k, y - 0.6 * k);
        break;
      case Notehead::X:
      case Notehead::CircleX:
        line(x - 0.45 * k, y - 0.45 * k, x + 0.45 * k, y + 0.45 * k);
        line(x - 0.45 * k, y + 0.45 * k, x + 0.45 * k, y - 0.45 * k);
        if (h.head == Notehead::CircleX) ellipse(x, y, 0.62 * k, 0.62 * k, false);
        break;
      case Notehead::Diamond:
        polygon({{x - 0.6 * k, y}, {x, y - 0.5 * k}, {x + 0.6 * k, y}, {x, y + 0.5 * k}},
                !h.hollow);
        break;
      case Notehead::Triangle:
        polygon({{x - 0.6 * k, y + 0.45 * k}, {x, y - 0.5 * k}, {x + 0.6 * k, y + 0.45 * k}},
                !h.hollow);
        break;
    }
    mark(h);
    if (h.parentheses) {
      text({x - 1.3, y + 0.5, "(", 1.4, TextKind::PartName});
      text({x + 0.75, y + 0.5, ")", 1.4, TextKind::PartName});
    }
    if (h.dotted) ellipse(x + 1.1, h.dotY, 0.14, 0.14, true);
    if (h.accent) {
      op(fmt("%.3f w ", 0.15 * s_));
      line(x - 0.6, h.accentY - 0.35, x + 0.6, h.accentY);
      line(x + 0.6, h.accentY, x - 0.6, h.accentY + 0.35);
    }
  }

  // A half-open hat's circle with a slash, a choke's apostrophe, an edge's dash.
  void mark(const EngravedHead& h) {
    op(fmt("%.3f w 1 J ", 0.12 * s_));
    const double x = h.x, y = h.markY;
    switch (h.articulation) {
      case Articulation::HalfOpen:
        ellipse(x, y, 0.4, 0.4, false);
        line(x - 0.45, y + 0.45, x + 0.45, y - 0.45);
        break;
      case Articulation::Choke: line(x + 0.1, y - 0.4, x - 0.15, y + 0.35); break;
      case Articulation::Edge: line(x - 0.45, y, x + 0.45, y); break;
      default: break;
    }
  }

  void rest(const EngravedRest& r) {
    const double x = r.x, y = r.y;
    op(fmt("%.3f w 1 J 1 j ", 0.18 * s_));
    if (r.typeLog2 >= 1) {  // whole below the second line, half on the middle one
      const double top = r.typeLog2 >= 2 ? y - 1.0 : y - 0.5;
      polygon({{x - 0.55, top}, {x + 0.55, top}, {x + 0.55, top + 0.5}, {x - 0.55, top + 0.5}},
              true);
    } else if (r.typeLog2 == 0) {
      line(x - 0.3, y - 1.4, x + 0.3, y - 0.6);
      line(x + 0.3, y - 0.6, x - 0.3, y + 0.1);
      line(x - 0.3, y + 0.1, x + 0.3, y + 0.7);
      line(x + 0.3, y + 0.7, x, y + 1.4);
    } else {
      const int hooks = std::min(4, -r.typeLog2);
      line(x + 0.4, y - 0.8, x - 0.1, y + 0.6 + 0.6 * (hooks - 1));
      for (int k = 0; k < hooks; ++k) {
        const double ex = x + 0.4 - 0.1 * k, ey = y - 0.8 + 0.6 * k;
        ellipse(ex - 0.55, ey + 0.05, 0.18, 0.18, true);
        line(ex - 0.55, ey + 0.1, ex, ey);
      }
    }
    if (r.dotted) ellipse(x + 0.8, y - 0.3, 0.12, 0.12, true);
  }

  void text(const EngravedText& t) {
    std::string words = t.text;
    double x = t.x;
    const Box box = textBox(t);
    double y = t.y;
    if (t.kind == TextKind::TimeSignature || t.kind == TextKind::TupletNumber) {
      y = t.y + t.size * 0.36;
    }
    if (t.kind != TextKind::PartName && t.kind != TextKind::Tempo &&
        t.kind != TextKind::MeasureNumber && t.kind != TextKind::RepeatCount) {
      x = box.left;
    }
    static const std::string kNote = "\xE2\x99\xA9";
    if (words.compare(0, kNote.size(), kNote) == 0) {
      // The tempo's note drawn: a head and a stem.
      const double h = t.size;
      ellipse(x + 0.35 * h, y - 0.18 * h, 0.3 * h, 0.22 * h, true);
      op(fmt("%.3f w 0 J ", 0.08 * h * s_));
      line(x + 0.62 * h, y - 0.18 * h, x + 0.62 * h, y - 1.0 * h);
      words = words.substr(kNote.size());
      x += 0.75 * h;
    }
    const char* font = t.kind == TextKind::Title || t.kind == TextKind::PartName ||
                               t.kind == TextKind::TimeSignature || t.kind == TextKind::RepeatCount
                           ? "/F2"
                       : t.kind == TextKind::TupletNumber || t.kind == TextKind::MeasureNumber
                           ? "/F3"
                           : "/F1";
    op(std::string("BT ") + font + fmt(" %.2f Tf %.2f %.2f Td (", t.size * s_ * 0.95, X(x), Y(y)) +
       winAnsi(words) + ") Tj ET\n");
  }

  double height_;
  double s_;
  std::string out_;
};

}  // namespace

PdfScore pdfOfScore(const Score& score, Paper paper) {
  const double width = paper == Paper::A4 ? 595.276 : 612.0;
  const double height = paper == Paper::A4 ? 841.89 : 792.0;
  const double space = (width - 2 * kMarginPoints) / kPageSpacesAcross;
  const std::vector<Engraving> pages =
      engravePages(score, kPageSpacesAcross, (height - 2 * kMarginPoints) / space);
  std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets;
  auto object = [&](const std::string& body) {
    offsets.push_back(out.size());
    out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  // 1 catalog, 2 pages, 3-5 fonts, 6 info, then a page and its content for each page.
  const std::size_t firstPage = 7;
  std::string kids;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    kids += std::to_string(firstPage + 2 * p) + " 0 R ";
  }
  char box[64];
  std::snprintf(box, sizeof box, "[0 0 %.3f %.3f]", width, height);
  object("<< /Type /Catalog /Pages 2 0 R >>");
  object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) +
         " /MediaBox " + box + " >>");
  for (const char* face : {"Helvetica", "Helvetica-Bold", "Helvetica-Oblique"}) {
    object(std::string("<< /Type /Font /Subtype /Type1 /BaseFont /") + face +
           " /Encoding /WinAnsiEncoding >>");
  }
  object("<< /Title (" + winAnsi(score.title) + ") /Producer (Pulsewright) >>");
  for (std::size_t p = 0; p < pages.size(); ++p) {
    Page page(height, space);
    page.draw(pages[p]);
    object(
        "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 3 0 R /F2 4 0 R /F3 5 0 R "
        ">> >> /Contents " +
        std::to_string(firstPage + 2 * p + 1) + " 0 R >>");
    object("<< /Length " + std::to_string(page.content().size()) + " >>\nstream\n" +
           page.content() + "endstream");
  }
  const std::size_t xref = out.size();
  out += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::size_t at : offsets) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", at);
    out += entry;
  }
  out += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) +
         " /Root 1 0 R /Info 6 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return {std::move(out), static_cast<int>(pages.size())};
}

}  // namespace pulsewright
