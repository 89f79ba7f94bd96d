// A port library that does nothing but latch, so the binding's own cost shows.
#include "inpout32.h"

namespace {
volatile short latch = 0;
}

void INPOUT_CALL Out32(short, short value) { latch = value; }
short INPOUT_CALL Inp32(short) { return latch; }
const char *ReadinessProblem(void) { return nullptr; }
