#include "Form1.h"
#include "Startup.h"

int main(int argc, char **argv) { return runtime::start<panel::Form1>(argc, argv); }
