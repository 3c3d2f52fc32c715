/* Sample companion: asked with the argument "d", it writes a short answer to
 * its standard output and exits. */
#include <stdio.h>
#include <string.h>

#define ANSWER "KVT:ready"

int main(int argc, char **argv) {
  if (argc < 2 || strcmp(argv[1], "d") != 0) {
    fputs("usage: KVT d\n", stderr);
    return 2;
  }
  fputs(ANSWER, stdout);
  fflush(stdout);
  return 0;
}
