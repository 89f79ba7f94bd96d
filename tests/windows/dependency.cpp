// A DLL that the needs-dependency inpout32.dll imports, so the loader has to find it.
extern "C" __declspec(dllexport) int portpanelDependency() { return 0; }
