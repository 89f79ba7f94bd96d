"""Real X input and window lookups for the end-to-end tests (xdotool)."""
import subprocess
import time


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True,
                          text=True, timeout=120).stdout.strip()


def wait_for(what, probe, timeout=120):
    """The probe's first true answer. The bound only ends a hang: a busy machine
    may take seconds for what an idle one does at once, and a cold wine prefix
    a minute for its first window."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def wait_equal(what, probe, want, timeout=120):
    """Waits until the probe answers want; a timeout names the last answer."""
    seen = []
    def matches():
        seen[:] = [probe()]
        return seen[0] == want
    try:
        wait_for(what, matches, timeout)
    except AssertionError:
        raise AssertionError(f"timed out waiting for {what}: saw {seen[0]!r}, want {want!r}")
    return want


def windows(name):
    """The visible X windows whose name matches the regular expression name."""
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                          capture_output=True, text=True).stdout.split()


def close(window):
    """Asks the window to close, as a window manager's close button does (WM_DELETE_WINDOW)."""
    import ctypes
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    display = ctypes.c_void_p(x11.XOpenDisplay(None))
    x11.XInternAtom.restype = ctypes.c_ulong

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    event = Event()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = int(window)
    event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x11.XSendEvent(display, ctypes.c_ulong(int(window)), 0, 0, ctypes.byref(event))
    x11.XCloseDisplay(display)
