#pragma once

// Where the library finds the kernel's files (/proc, /dev). A test build
// points it at a tree of its own, relative to its working directory.
#ifndef PORTPANEL_SYSTEM_ROOT
#define PORTPANEL_SYSTEM_ROOT ""
#endif
