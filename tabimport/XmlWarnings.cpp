#include "tabimport/XmlWarnings.h"

#include <algorithm>

#include "tabimport/XmlFields.h"
#include "tabimport/XmlPosition.h"

namespace pulsewright {

void CappedXmlWarnings::warn(const pugi::xml_node& node, std::string text) {
  if (out_->size() >= cap_) {
    if (suppressed_++ == 0) suppressedAt_ = node;
    return;
  }
  const std::size_t offset = std::min(xmlOffsetOf(node), bytes_.size());
  if (offset < countedTo_) {
    countedTo_ = 0;
    line_ = column_ = 1;
  }
  // Counting on from the last place gives what counting from the start would: a line
  // end is told by its own byte and the one after it, both inside the text.
  const auto [lines, column] = lineAndColumnOf(bytes_.substr(countedTo_), offset - countedTo_);
  column_ = lines == 1 ? column_ + column - 1 : column;
  line_ += lines - 1;
  countedTo_ = offset;
  out_->push_back({line_, column_, std::move(text)});
}

void CappedXmlWarnings::finish() {
  if (suppressed_ == 0) return;
  const std::size_t more = suppressed_ + 1;
  out_->pop_back();
  suppressed_ = 0;
  warn(suppressedAt_, std::to_string(more) + " more warnings not shown");
}

}  // namespace pulsewright
