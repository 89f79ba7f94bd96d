// The floor for portpanel-io's start-up: a bare program that loads the same
// port library, reads one port and prints it.
#include <cstdio>
#include <dlfcn.h>

int main()
{
    void *library = dlopen("libinpout32.so", RTLD_NOW);
    using Inp32 = short (*)(short);
    const auto inp32 = library ? reinterpret_cast<Inp32>(dlsym(library, "Inp32")) : nullptr;
    if (!inp32)
        return 3;
    std::printf("0x0378 = 0x%02X\n", static_cast<unsigned>(inp32(0x378) & 0xFF));
    return 0;
}
