#pragma once

// What every port library of this project exports. 32-bit Windows DLLs use
// __stdcall and are linked with --kill-at, so the names stay undecorated.
//
// Refusals. Out32 and Inp32 cannot say "failed", so:
// - ReadinessProblem, asked once when the program binds the library, refuses
//   the whole library: null when some port may be reachable, else the cause
//   and the fix.
// - A port that cannot be reached is refused per port: Inp32 returns a
//   negative value (no port reads below 0), and PortProblem(port) then gives
//   the words: what was tried and how to get access. A refused Out32 is
//   silent, but the refusal is decided once per port and kept, so the read
//   that follows it on that port returns the refusal. PortProblem returns
//   null for a port that was not refused, and only looks: it never opens,
//   claims or starts anything.
// - PortRoute(port) names the route a port's accesses take, once its first
//   access decided it: "root (ioperm)", "lp (/dev/parport0)", ...; null
//   before that, for a refused port, and in a library that has no routes.
//   It only looks, as PortProblem does.
// The words all three return stay valid until the process ends. All are
// optional: a library without them is trusted per call.
//
// Linux's hardware library is a system library: thread-safe; it owns no
// signal and bounds every wait without one; a child after fork starts
// afresh and never uses the parent's helper, claims or lock, and never
// releases the parent's claim; calls from a host's global destructors work
// while the program exits. Root's port permission is taken per port at its
// first access (a held parallel port refused then, as on every route), so
// programs root starts later inherit only the ports used. The entry points
// are not async-signal-safe: called from a handler that interrupted the
// library in the same thread they are refused, never deadlocked.
#ifdef _WIN32
#define INPOUT_EXPORT extern "C" __declspec(dllexport)
#define INPOUT_CALL __stdcall
#else
#define INPOUT_EXPORT extern "C" __attribute__((visibility("default")))
#define INPOUT_CALL
#endif

INPOUT_EXPORT void INPOUT_CALL Out32(short port, short value);
INPOUT_EXPORT short INPOUT_CALL Inp32(short port);
INPOUT_EXPORT const char *ReadinessProblem(void);
INPOUT_EXPORT const char *PortProblem(short port);
INPOUT_EXPORT const char *PortRoute(short port);
