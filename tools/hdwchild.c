/* Test child: its first argument picks what it does, so that tests can make
 * every kind of child the module has to cope with.
 *
 *   write TEXT        write TEXT (escapes: \xHH \n \r \\) and exit
 *   nothing           exit without writing
 *   sleep MS TEXT     sleep MS milliseconds, then write TEXT
 *   exit CODE TEXT    write TEXT, then exit with status CODE
 *   grandchild        start a long-lived copy of itself that inherits the
 *                     standard handles, then exit without writing
 *   crash             end through an unhandled access violation
 *   report PATH       write its command line and working directory to PATH
 *   handles PATH      write the pipe handles it inherited to PATH
 *   stamp PATH TEXT   write TEXT, then, just before exiting, write to PATH
 *                     the time of that write: the QueryPerformanceCounter
 *                     count and frequency and GetSystemTimePreciseAsFileTime
 *   d                 as the companion would be called; reports to the file
 *                     named by HDW_CHILD_REPORT when that is set
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define GRANDCHILD_LIFETIME_MS "20000"
#define HANDLE_PROBE_LIMIT 0x4000

static void write_bytes(const char *bytes, DWORD length) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, length, &written, NULL);
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* Decodes TEXT's escapes in place and returns the decoded length. */
static DWORD decode(char *text) {
  char *out = text;
  for (const char *in = text; *in; ++in) {
    if (*in != '\\' || !in[1]) {
      *out++ = *in;
      continue;
    }
    ++in;
    if (*in == 'n') {
      *out++ = '\n';
    } else if (*in == 'r') {
      *out++ = '\r';
    } else if (*in == 'x' && hex_digit(in[1]) >= 0 && hex_digit(in[2]) >= 0) {
      *out++ = (char)(hex_digit(in[1]) * 16 + hex_digit(in[2]));
      in += 2;
    } else {
      *out++ = *in;
    }
  }
  return (DWORD)(out - text);
}

static void write_text(char *text) { write_bytes(text, decode(text)); }

#define WRITE_LITERAL(text) write_bytes(text, sizeof text - 1)

static int report(const char *path) {
  FILE *file = fopen(path, "wb");
  char directory[MAX_PATH] = "";
  if (!file) return 3;
  GetCurrentDirectoryA(sizeof directory, directory);
  fprintf(file, "%s\n%s\n", GetCommandLineA(), directory);
  fclose(file);
  WRITE_LITERAL("report");
  return 0;
}

static int report_inherited_pipes(const char *path) {
  FILE *file = fopen(path, "wb");
  if (!file) return 3;
  for (ULONG_PTR value = 4; value < HANDLE_PROBE_LIMIT; value += 4) {
    HANDLE handle = (HANDLE)value;
    DWORD flags;
    if (!GetHandleInformation(handle, &flags)) continue;
    if (GetFileType(handle) == FILE_TYPE_PIPE)
      fprintf(file, "%lu\n", (unsigned long)value);
  }
  fclose(file);
  WRITE_LITERAL("handles");
  return 0;
}

/* The clocks are read right after the last write to the standard output;
 * the benchmark takes the time from there to its call's return. */
static int stamp(const char *path, char *text) {
  FILE *file = fopen(path, "wb");
  LARGE_INTEGER count;
  LARGE_INTEGER frequency;
  FILETIME now;
  if (!file) return 3;
  write_text(text);
  QueryPerformanceCounter(&count);
  GetSystemTimePreciseAsFileTime(&now);
  QueryPerformanceFrequency(&frequency);
  fprintf(file, "%lld %lld %llu\n", (long long)count.QuadPart,
          (long long)frequency.QuadPart,
          ((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime);
  fclose(file);
  return 0;
}

static int start_grandchild(void) {
  char self[MAX_PATH];
  char command_line[MAX_PATH + 64];
  STARTUPINFOA startup;
  PROCESS_INFORMATION created;
  GetModuleFileNameA(NULL, self, sizeof self);
  snprintf(command_line, sizeof command_line, "\"%s\" sleep %s late", self,
           GRANDCHILD_LIFETIME_MS);
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (!CreateProcessA(NULL, command_line, NULL, NULL, TRUE, 0, NULL, NULL,
                      &startup, &created)) {
    return 3;
  }
  CloseHandle(created.hThread);
  CloseHandle(created.hProcess);
  return 0;
}

/* Ends the process without a debugger, so that nothing is written to the
 * standard output on the child's behalf. */
static LONG WINAPI end_quietly(EXCEPTION_POINTERS *exception) {
  ExitProcess(exception->ExceptionRecord->ExceptionCode);
}

static int crash(void) {
  SetUnhandledExceptionFilter(end_quietly);
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, NULL);
  return 0;
}

int main(int argc, char **argv) {
  const char *mode = argc > 1 ? argv[1] : "";
  if (!strcmp(mode, "write") && argc > 2) {
    write_text(argv[2]);
  } else if (!strcmp(mode, "nothing")) {
  } else if (!strcmp(mode, "sleep") && argc > 3) {
    Sleep((DWORD)atoi(argv[2]));
    write_text(argv[3]);
  } else if (!strcmp(mode, "exit") && argc > 3) {
    write_text(argv[3]);
    return atoi(argv[2]);
  } else if (!strcmp(mode, "grandchild")) {
    return start_grandchild();
  } else if (!strcmp(mode, "crash")) {
    return crash();
  } else if (!strcmp(mode, "report") && argc > 2) {
    return report(argv[2]);
  } else if (!strcmp(mode, "handles") && argc > 2) {
    return report_inherited_pipes(argv[2]);
  } else if (!strcmp(mode, "stamp") && argc > 3) {
    return stamp(argv[2], argv[3]);
  } else if (!strcmp(mode, "d")) {
    const char *path = getenv("HDW_CHILD_REPORT");
    if (path) return report(path);
    WRITE_LITERAL("kvt-d");
  } else {
    fputs("hdwchild: unknown mode\n", stderr);
    return 2;
  }
  return 0;
}
