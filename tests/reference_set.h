// The reference set of tests/data/crosscheck.tsv.gz read back: real InChI
// strings with their keys as RDKit computed them, apart from this library
// (see tests/data/README.md), for tests that must not make keys up.
#ifndef MOLSTAMP_REFERENCE_SET_H
#define MOLSTAMP_REFERENCE_SET_H

#include <cstdio>
#include <map>
#include <string>

// Every InChI of the set with its key; empty when the set cannot be read.
inline std::map<std::string, std::string> reference_keys() {
  std::map<std::string, std::string> keys;
  FILE* in = popen("gzip -dc " MOLSTAMP_SOURCE_DIR "/tests/data/crosscheck.tsv.gz", "r");
  if (in == nullptr) return keys;
  std::string line;
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    size_t tab = line.find('\t');
    if (line[0] != '#' && tab != std::string::npos)
      keys[line.substr(0, tab)] = line.substr(tab + 1);
    line.clear();
  }
  pclose(in);
  return keys;
}

// The standard InChI of the structure of one of the set's non-standard
// InChIs ("InChI=1/"), as the set holds it: its main layers, before the
// fixed-H layer, under "InChI=1S/".
inline std::string paired_standard(const std::string& non_standard) {
  return "InChI=1S/" + non_standard.substr(8, non_standard.find("/f") - 8);
}

#endif
