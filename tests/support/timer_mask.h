// Masks the values of the DNG stage timer lines ("<label>: 1.23 sec") in a
// standard-error transcript, which depend on the machine, as "#.##".
#pragma once

#include <cctype>
#include <string>

namespace testing_support {

inline std::string mask_timer_values(const std::string& text) {
  std::string out;
  size_t line_start = 0;
  while (line_start < text.size()) {
    size_t end = text.find('\n', line_start);
    size_t next = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(line_start, next - line_start);
    const std::string tail = " sec\n";
    size_t colon = line.rfind(": ");
    if (line.size() > tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0 &&
        colon != std::string::npos) {
      std::string value = line.substr(colon + 2, line.size() - tail.size() - colon - 2);
      size_t dot = value.find('.');
      bool number = dot != std::string::npos && dot > 0 && value.size() == dot + 3;
      for (size_t i = 0; number && i < value.size(); ++i) {
        if (i != dot && !std::isdigit(static_cast<unsigned char>(value[i]))) number = false;
      }
      if (number) line = line.substr(0, colon + 2) + "#.##" + tail;
    }
    out += line;
    line_start = next;
  }
  return out;
}

}  // namespace testing_support
