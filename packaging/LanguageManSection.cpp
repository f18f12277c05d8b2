// Turns the language reference (docs/language.md, the same text Help > Language Reference
// shows) into a section of a manual page in help2man's include format, so the two never
// drift apart. Reads the small part of Markdown the reference uses: "#" and "##"
// headings, paragraphs, "- " items, fenced code and pipe tables; inline `code` and
// **bold**.
// Usage: pw_language_man_section SECTION-NAME IN.md OUT.h2m

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Roff reads a backslash as an escape and a leading dot or quote as a request; a plain
// "-" may be set as a hyphen, not the minus or dash that options and grids need.
std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

// Inline marks: `code` and **bold** in bold, a backslash before "|" dropped.
std::string inlineText(const std::string& text) {
  std::string out;
  std::string plain;
  auto flush = [&] {
    out += escaped(plain);
    plain.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '|') {
      plain += '|';
      ++i;
    } else if (text[i] == '`' || text.compare(i, 2, "**") == 0) {
      const std::string mark = text[i] == '`' ? "`" : "**";
      const std::size_t end = text.find(mark, i + mark.size());
      if (end == std::string::npos) {
        plain += text[i];
        continue;
      }
      flush();
      out += "\\fB" + escaped(text.substr(i + mark.size(), end - i - mark.size())) + "\\fR";
      i = end + mark.size() - 1;
    } else {
      plain += text[i];
    }
  }
  flush();
  // A line that starts with a request character after the marks are made.
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

// The cells of "| a | b |", trimmed; "\|" stays inside its cell.
std::vector<std::string> cells(const std::string& row) {
  std::vector<std::string> out;
  std::string cell;
  for (std::size_t i = 1; i < row.size(); ++i) {
    if (row[i] == '\\' && i + 1 < row.size() && row[i + 1] == '|') {
      cell += "\\|";
      ++i;
    } else if (row[i] == '|') {
      const std::size_t first = cell.find_first_not_of(' ');
      const std::size_t last = cell.find_last_not_of(' ');
      out.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
      cell.clear();
    } else {
      cell += row[i];
    }
  }
  return out;
}

// "|---|:--|", which ends a table's head; a cell of one "-" is a rest mark, not this.
bool isDelimiterRow(const std::vector<std::string>& row) {
  for (const std::string& cell : row) {
    if (cell.size() < 3 || cell.find_first_not_of("-:") != std::string::npos) return false;
  }
  return !row.empty();
}

bool startsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: " << argv[0] << " SECTION-NAME IN.md OUT.h2m\n";
    return 2;
  }
  std::ifstream in(argv[2]);
  if (!in) {
    std::cerr << argv[0] << ": cannot read " << argv[2] << "\n";
    return 2;
  }
  std::ostringstream out;
  out << "[" << argv[1] << "]\n";
  std::string line;
  std::string paragraph;
  bool inCode = false;
  bool inItem = false;
  std::vector<std::string> header;
  auto endParagraph = [&] {
    if (!paragraph.empty()) out << inlineText(paragraph) << "\n";
    paragraph.clear();
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (startsWith(line, "```")) {
      endParagraph();
      out << (inCode ? ".fi\n.RE\n" : ".PP\n.RS 4\n.nf\n");
      inCode = !inCode;
      continue;
    }
    if (inCode) {
      out << escaped(line) << "\n";
      continue;
    }
    if (line.empty()) {
      endParagraph();
      inItem = false;
      header.clear();
      continue;
    }
    if (startsWith(line, "# ")) continue;  // the page's own title says it
    if (startsWith(line, "## ")) {
      endParagraph();
      out << ".SS " << escaped(line.substr(3)) << "\n";
      continue;
    }
    if (startsWith(line, "|")) {
      endParagraph();
      const std::vector<std::string> row = cells(line);
      if (header.empty()) {
        header = row;  // the column names go into each entry instead
      } else if (!row.empty() && !isDelimiterRow(row)) {
        // The first cell as the tag; the others each under its column's name.
        out << ".TP\n.B " << inlineText(row[0]) << "\n";
        std::string body;
        for (std::size_t i = 1; i < row.size(); ++i) {
          if (i > 1) body += "; ";
          if (row.size() > 2 && i < header.size()) body += header[i] + ": ";
          body += row[i];
        }
        out << inlineText(body) << "\n";
      }
      continue;
    }
    if (startsWith(line, "- ")) {
      endParagraph();
      out << ".IP \\(bu 2\n";
      paragraph = line.substr(2);
      inItem = true;
      continue;
    }
    if (paragraph.empty() && !inItem) out << ".PP\n";
    paragraph += paragraph.empty() ? line : " " + line.substr(line.find_first_not_of(' '));
  }
  endParagraph();
  std::ofstream file(argv[3]);
  file << out.str();
  if (!file.flush()) {
    std::cerr << argv[0] << ": cannot write " << argv[3] << "\n";
    return 2;
  }
  return 0;
}
