// Text quoted in a message (a file name, an argument) with its control characters written as \n,
// \t or \xNN, so that the message keeps its lines and shows the name as it is.
#pragma once
#include <string>

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
