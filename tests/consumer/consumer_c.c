/* Calls the module the way a C host does: the header, the import library,
 * no command line of its own. */
#include <stdio.h>
#include <string.h>

#include "ExecuteHDW.h"
#include "consumer.h"

#define EXPECTED "KVT:ready"
#define ANSWER_SIZE 20

/* The text as printable ASCII, everything else escaped. */
static void print_text(const char *text) {
  size_t i;
  if (!text) {
    fputs("null", stdout);
    return;
  }
  putchar('"');
  for (i = 0; i < ANSWER_SIZE && text[i]; ++i) {
    const unsigned char byte = (unsigned char)text[i];
    if (byte >= 0x20 && byte < 0x7f && byte != '\\' && byte != '"') {
      putchar(byte);
    } else {
      printf("\\x%02x", byte);
    }
  }
  putchar('"');
}

int consumer_judge(const char *caller, const char *text, int started) {
  const int ok = text && started && strncmp(text, EXPECTED, ANSWER_SIZE) == 0;
  printf("%s: %s: ", caller, ok ? "pass" : "FAIL");
  if (!ok) printf("expected \"%s\" with started nonzero, got ", EXPECTED);
  print_text(text);
  printf(" with started = %d\n", started);
  return ok;
}

int consumer_check_from_c(void) {
  int started = 0;
  char copy[ANSWER_SIZE + 1] = {0};
  const char *text = ExecuteHDW(&started, NULL);
  /* The text lives until the next call: take a copy. */
  if (text) strncpy(copy, text, ANSWER_SIZE);
  return consumer_judge("C", text ? copy : NULL, started);
}
