// Text quoted in a message (a file name, an argument) with its control characters written as \n,
// \t or \xNN, so that the message keeps its lines and shows the name as it is.
#pragma once
#include <algorithm>
#include <string>
#include <string_view>

// Calls `each` with every line of `text` (split at '\n'; an empty text is one empty line).
template <class Each>
void for_each_line(const std::string& text, Each each) {
  size_t start = 0;
  do {
    const size_t end = std::min(text.find('\n', start), text.size());
    each(std::string_view(text).substr(start, end - start));
    start = end + 1;
  } while (start < text.size());
}

inline std::string printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += "0123456789ABCDEF"[u >> 4];
      out += "0123456789ABCDEF"[u & 15];
    } else out += c;
  }
  return out;
}
