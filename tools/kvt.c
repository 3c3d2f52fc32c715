/* Sample companion: asked with the argument "d", it writes a short answer to
 * its standard output and exits.
 *
 * An optional second argument, a whole number of milliseconds (at most
 * 60000), makes it wait that long before answering, so that a host can be
 * seen staying responsive while the call waits: "KVT.exe d 1500". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define ANSWER "KVT:ready"
#define MAX_DELAY_MS 60000UL

/* Reads a whole number of milliseconds; 0 when the text is not one. */
static int parse_delay(const char *text, unsigned long *delay_ms) {
  char *end = NULL;
  if (text[0] < '0' || text[0] > '9') return 0;
  *delay_ms = strtoul(text, &end, 10);
  return *end == '\0' && *delay_ms <= MAX_DELAY_MS;
}

int main(int argc, char **argv) {
  unsigned long delay_ms = 0;
  if (argc < 2 || argc > 3 || strcmp(argv[1], "d") != 0 ||
      (argc == 3 && !parse_delay(argv[2], &delay_ms))) {
    fputs("usage: KVT d [milliseconds]\n", stderr);
    return 2;
  }
  if (delay_ms > 0) Sleep((DWORD)delay_ms);
  fputs(ANSWER, stdout);
  fflush(stdout);
  return 0;
}
