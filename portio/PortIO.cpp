#include "PortIO.h"

namespace portio::declared {

constexpr const char *portLibrary = "inpout32.dll";

runtime::EntryPoint out32{portLibrary, "Out32"};
runtime::EntryPoint inp32{portLibrary, "Inp32"};

} // namespace portio::declared
