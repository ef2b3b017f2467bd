// The cost floor for annotating a file: read it whole with one read, call the
// key function once per line, write nothing. Whatever molstamp spends above
// this is its own overhead.
#include <fcntl.h>
#include <inchi_api.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: floor FILE\n");
    return 2;
  }
  int fd = open(argv[1], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    perror(argv[1]);
    return 2;
  }
  size_t size = static_cast<size_t>(st.st_size);
  char* text = static_cast<char*>(malloc(size + 1));
  if (text == nullptr || read(fd, text, size) != static_cast<ssize_t>(size)) {
    perror(argv[1]);
    return 2;
  }
  text[size] = '\0';
  long keys = 0;
  char key[256], extra1[65], extra2[65];
  for (char* line = text; line < text + size;) {
    char* end = static_cast<char*>(memchr(line, '\n', text + size - line));
    if (end == nullptr) end = text + size;
    *end = '\0';
    if (GetINCHIKeyFromINCHI(line, 0, 0, key, extra1, extra2) == 0) ++keys;
    line = end + 1;
  }
  printf("%ld keys\n", keys);
  free(text);
  return 0;
}
