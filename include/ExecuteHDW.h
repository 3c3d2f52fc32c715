/*
 * ExecuteHDW.dll: runs the KVT companion (or a command line of the host's
 * own), waits for it while keeping the calling thread's window messages
 * flowing, and returns the first 20 bytes the child wrote to its standard
 * output.
 *
 * The function uses the C calling convention (the caller removes the
 * arguments) and is exported by its plain name as ordinal 1.
 */
#ifndef EXECUTEHDW_H
#define EXECUTEHDW_H

#ifdef __cplusplus
extern "C" {
#endif

/*
 * pStarted:       receives the launch result (nonzero: the child was
 *                 started, 0: it was not). Left untouched when the call ends
 *                 before a launch is attempted. May be null.
 * pszCommandLine: null to run "<InstallDir>\KVT.exe d", or a command line of
 *                 the host's own, which is then run in the directory
 *                 "C:\Program Files\tavrel\KVT".
 *
 * Returns the address of the module's 40-byte result area (the same address
 * on every call), or null when no pipe could be made or when the child's
 * answer begins with a space. The text stays valid until the next call; take
 * a copy before calling again. One call at a time per process.
 */
char* __cdecl ExecuteHDW(int* pStarted, const char* pszCommandLine);

typedef char*(__cdecl* ExecuteHDWProc)(int* pStarted,
                                       const char* pszCommandLine);

#ifdef __cplusplus
}
#endif

#endif /* EXECUTEHDW_H */
