// Linked into the sanitizer build's portpanel: Qt 6.8's xcb platform leaks
// its desktop-services object when the program ends early as another user.
// That is Qt's, not ours, so LeakSanitizer is told to pass over it alone.
extern "C" const char *__lsan_default_suppressions() { return "leak:QGenericUnixServices\n"; }
