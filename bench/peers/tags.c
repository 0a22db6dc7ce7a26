/* Tag removal alone as a plain C byte loop: tags FILE writes the text without its tags to
   stdout. Reads and writes in 64 KiB blocks, one byte at a time in between. */
#include <stdio.h>

int main(int argc, char** argv) {
  static unsigned char in[1 << 16], out[1 << 16];
  FILE* f = argc > 1 ? fopen(argv[1], "rb") : NULL;
  if (f == NULL) return 1;
  int inTag = 0;
  size_t got;
  while ((got = fread(in, 1, sizeof in, f)) > 0) {
    size_t n = 0;
    for (size_t i = 0; i < got; ++i) {
      unsigned char c = in[i];
      if (inTag) {
        if (c == '>') inTag = 0;
      } else if (c == '<') {
        inTag = 1;
      } else {
        out[n++] = c;
      }
    }
    fwrite(out, 1, n, stdout);
  }
  fclose(f);
  return 0;
}
