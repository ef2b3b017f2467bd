// A deliberately plain model of how a file splits into lines, to check the
// line reader against: LF, CR LF and a lone CR each end a line; bytes after
// the last line end form one more line.
#ifndef MOLSTAMP_LINE_MODEL_H
#define MOLSTAMP_LINE_MODEL_H

#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> model_lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line;
  bool pending = false;  // bytes since the last line end
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
      pending = false;
    } else {
      line += c;
      pending = true;
    }
  }
  if (pending) lines.push_back(line);
  return lines;
}

// For each line of model_lines, the input offset just past its line end.
inline std::vector<uint64_t> model_line_ends(const std::string& bytes) {
  std::vector<uint64_t> ends;
  bool pending = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      ends.push_back(i + 1);
      pending = false;
    } else {
      pending = true;
    }
  }
  if (pending) ends.push_back(bytes.size());
  return ends;
}

#endif
