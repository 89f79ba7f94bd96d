#pragma once

// What every port library of this project exports. 32-bit Windows DLLs use
// __stdcall and are linked with --kill-at, so the names stay undecorated.
#ifdef _WIN32
#define INPOUT_EXPORT extern "C" __declspec(dllexport)
#define INPOUT_CALL __stdcall
#else
#define INPOUT_EXPORT extern "C" __attribute__((visibility("default")))
#define INPOUT_CALL
#endif

INPOUT_EXPORT void INPOUT_CALL Out32(short port, short value);
INPOUT_EXPORT short INPOUT_CALL Inp32(short port);
// Null when the library can reach the ports, else the cause and the fix.
INPOUT_EXPORT const char *ReadinessProblem(void);
