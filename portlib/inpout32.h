#pragma once

// What every libinpout32.so of this project exports.
#define INPOUT_EXPORT extern "C" __attribute__((visibility("default")))

INPOUT_EXPORT void Out32(short port, short value);
INPOUT_EXPORT short Inp32(short port);
// Null when the library can reach the ports, else the cause and the fix.
INPOUT_EXPORT const char *ReadinessProblem(void);
