"""portpanel in a real X server, driven by real key and pointer events (xdotool)
and read back through the accessibility bus (AT-SPI); or, with WAYLAND_DISPLAY
set and no X server, in a Wayland compositor, driven and read through AT-SPI."""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from xdriver import wait_equal, wait_for, windows, xdotool  # noqa: E402

BUILD = os.path.abspath(sys.argv.pop(1))
LIBS = os.path.join(BUILD, "tests", "libs")
WAYLAND = "WAYLAND_DISPLAY" in os.environ


class Panel:
    """One run of build/portpanel against a stand-in port library."""

    def __init__(self, library, read_value="7", folder=LIBS, as_user=None, program="portpanel",
                 title="Form1", env=None):
        self.record = tempfile.NamedTemporaryFile(prefix="portpanel-e2e-", delete=False).name
        self.program, self.title = program, title
        env = dict(os.environ, LD_LIBRARY_PATH=os.path.join(folder, library),
                   PORTPANEL_RECORD=self.record, PORTPANEL_READ_VALUE=read_value,
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   QT_QPA_PLATFORM="wayland" if WAYLAND else "xcb", **(env or {}))
        command = [os.path.join(BUILD, program)]
        self.leftovers = [self.record]
        if as_user:
            # Copies the user can reach whatever the checkout's folder allows.
            reachable = tempfile.mkdtemp(prefix="portpanel-e2e-", dir="/tmp")
            os.chmod(reachable, 0o755)
            command = [shutil.copy(command[0], reachable)]
            shutil.copy(os.path.join(folder, library, "libinpout32.so"), reachable)
            env["LD_LIBRARY_PATH"] = reachable
            # The X server's cookie, readable by that user too.
            cookie = tempfile.NamedTemporaryFile(prefix="portpanel-xauth-", delete=False).name
            self.leftovers += [reachable, cookie]
            with open(os.environ["XAUTHORITY"], "rb") as src, open(cookie, "wb") as dst:
                dst.write(src.read())
            os.chmod(cookie, 0o644)
            env["XAUTHORITY"] = cookie
            command = ["setpriv", "--reuid=" + as_user, "--regid=nogroup", "--clear-groups",
                       "--"] + command
        self.process = subprocess.Popen(command, env=env, stderr=subprocess.PIPE, text=True)

    def calls(self):
        with open(self.record) as f:
            return f.read().split("\n")[:-1]

    def window(self):
        return wait_for(self.title, lambda: windows(f"^{self.title}$"))[0]

    def accessible(self, *roles):
        import pyatspi
        def find():
            for app in pyatspi.Registry.getDesktop(0):
                if app is not None and app.name == self.program:
                    return pyatspi.findAllDescendants(app, lambda a: a.getRoleName() in roles)
            return None
        return wait_for("accessible " + " or ".join(roles), find)

    def label(self):
        return self.accessible("label")[0].name

    def fields(self):
        """Each text field's accessible name and its text."""
        return {t.name: t.queryText().getText(0, -1) for t in self.accessible("text")}

    def field_texts(self):
        return sorted(self.fields().values())

    def click(self, x, y):
        """A click at x, y in the window: the press carries its own position."""
        xdotool("mousemove", "--window", self.window(), str(x), str(y), "click", "1")

    def focused(self, *roles):
        """The accessible name of the text field (or control of those roles) that has the
        keyboard focus."""
        import pyatspi
        return next((t.name for t in self.accessible(*(roles or ("text",)))
                     if t.getState().contains(pyatspi.STATE_FOCUSED)), None)

    def click_field(self, name, x, y):
        self.click(x, y)
        wait_equal(name + " focused", self.focused, name)

    def focus(self):
        xdotool("windowfocus", "--sync", self.window())

    def keys(self, *keys):
        xdotool("key", "--delay", "30", *keys)

    def type(self, text):
        xdotool("type", "--delay", "30", "--", text)

    def dismiss_error(self):
        """Presses OK on the error box; returns the exit status and stderr."""
        box = wait_for("the error box", lambda: windows("^portpanel$"))[0]
        xdotool("windowfocus", "--sync", box)
        self.keys("Return")
        return self.end()

    def end(self, timeout=120):
        try:
            _, err = self.process.communicate(timeout=timeout)
        finally:
            for leftover in self.leftovers:
                shutil.rmtree(leftover) if os.path.isdir(leftover) else os.unlink(leftover)
        return self.process.returncode, err

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        return self.end()


@unittest.skipIf(WAYLAND, "the X session's tests")
class PinsWindow(unittest.TestCase):
    """portpanel-pins over a recording library whose registers latch in files."""

    def start(self):
        ports = tempfile.mkdtemp(prefix="portpanel-ports-")
        self.addCleanup(shutil.rmtree, ports)
        def set_port(port, value):  # whole, as a poll may come at any time
            with open(os.path.join(ports, "new"), "w") as f:
                f.write(f"{value}\n")
            os.rename(os.path.join(ports, "new"), os.path.join(ports, str(port)))
        for port, value in ((888, 0), (889, 0x78), (890, 0x0C)):
            set_port(port, value)
        panel = Panel("recording", program="portpanel-pins", title="portpanel-pins",
                      env={"PORTPANEL_PORT_FOLDER": ports, "PORTPANEL_LATCH": "1"})
        self.addCleanup(panel.close)
        return panel, set_port

    def test_keys_accessible_names_and_the_log(self):
        panel, set_port = self.start()
        panel.focus()
        # Each key after the last one's write: a key reads, flips and writes.
        panel.keys("0")
        wait_for("0x01 written", lambda: "out 888 1" in panel.calls())
        panel.keys("3")
        wait_for("0x09 written", lambda: "out 888 9" in panel.calls())
        def names():
            return [a.name for a in panel.accessible("check box")]
        wait_equal("D0 and D1 shown", lambda: names()[:3],
                   ["Pin 1, /Strobe, high", "Pin 2, D0, high", "Pin 3, D1, low"])
        self.assertIn("Pin 11, Busy, high", names())
        def log():  # the log's lines, not the plug drop-down's
            return [a.name for a in panel.accessible("list item")
                    if a.parent and a.parent.name == "Input changes, newest first"]
        # Busy low, high, /Ack low, high, /Error low: each change after the last is logged.
        for count, status in enumerate((0xF8, 0x78, 0x38, 0x78, 0x70), 1):
            set_port(889, status)
            wait_for(f"change {count} logged", lambda: len(log()) >= count)
        logged = log()
        self.assertEqual(len(logged), 5, logged)
        for line in logged:
            print("log:", line, file=sys.stderr)
        self.assertTrue(logged[0].endswith("Pin 15, /Error, low"), logged)
        self.assertTrue(logged[4].endswith("Pin 11, Busy, low"), logged)
        print("names:", [n for n in names() if n.startswith(("Pin 1,", "Pin 2,", "Pin 11,"))],
              file=sys.stderr)

    def test_labels_tab_order_and_the_drawn_connector(self):
        import pyatspi
        panel, _ = self.start()
        labels = [a.name for a in panel.accessible("label")]
        for words in ("Port", "Poll every", "ms", "Data byte", "File"):
            self.assertIn(words, labels)
        fields = panel.fields()
        print("labelled fields (name: text):", fields, file=sys.stderr)
        self.assertEqual({name: fields.get(name) for name in ("Port", "Poll every ms", "Data byte")},
                         {"Port": "888", "Poll every ms": "20", "Data byte": "0x00"})

        # Tab goes down the pins' list, then down the right column, as drawn.
        def focused():  # a drop-down's focus is its edit part's
            return panel.focused("check box", "text", "push button", "button", "list") or ""
        panel.focus()
        wait_for("pin 1 in focus", lambda: focused().startswith("Pin 1,"))
        order = [f"Pin {n}," for n in range(2, 18)] + [
            "Port", "Poll every ms", "Open", "Data byte", "Write", "Loopback plug", "Test",
            "Data lines as inputs",
            "Input changes", "Record", "Stop", "File", "Save as VCD", "Pin 1,"]
        for expected in order:
            xdotool("key", "Tab")
            try:
                wait_for("the focus on " + expected,
                         lambda: focused().startswith(expected))
            except AssertionError:
                self.fail(f"the focus on {focused()!r}, not {expected!r}")

        # The drawn contacts: named as the list's pins; a click on an input or
        # ground writes nothing, one on D1 exactly its bit.
        listed = {a.name for a in panel.accessible("check box")}
        drawn = {int(m.group(1)): a for a in panel.accessible("label")
                 for m in [re.match(r"Pin (\d+),", a.name)] if m}
        self.assertEqual(sorted(drawn), list(range(1, 26)))
        for number, contact in drawn.items():
            self.assertTrue(contact.name in listed or contact.name == f"Pin {number}, ground",
                            contact.name)
        written = len(panel.calls())
        for number in (11, 20, 3):  # Busy (an input), ground, D1
            x, y, w, h = drawn[number].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            xdotool("mousemove", str(x + w // 2), str(y + h // 2))
            xdotool("click", "1")
        wait_for("D1 written", lambda: "out 888 2" in panel.calls())
        self.assertEqual([c for c in panel.calls()[written:] if c.startswith("out")],
                         ["out 888 2"])
        wait_for("D1 drawn high", lambda: drawn[3].name == "Pin 3, D1, high")


@unittest.skipIf(WAYLAND, "the X session's tests")
class EndToEnd(unittest.TestCase):
    def test_startup_reading_and_commits(self):
        panel = Panel("recording")
        try:
            window = panel.window()
            self.assertEqual(panel.label(), "Port = 888 Value = 7")
            self.assertEqual(panel.calls(), ["out 888 0", "in 888"])
            geometry = xdotool("getwindowgeometry", window)
            self.assertIn("Geometry: 402x155", geometry)
            self.assertEqual(xdotool("getwindowname", window), "Form1")
            self.assertEqual(panel.fields(), {"Port address": "888", "Value": "000"})

            # Address typed over the focused box, value typed into the field,
            # Commit clicked with the pointer.
            panel.focus()
            wait_equal("the address focused", panel.focused, "Port address")
            panel.keys("ctrl+a")
            panel.type("0xE010")
            wait_equal("the typed address", lambda: panel.fields()["Port address"], "0xE010")
            panel.click_field("Value", 112 + 5, 64 + 12)
            panel.keys("Home")
            panel.type("999")
            wait_equal("the typed value", lambda: panel.fields()["Value"], "999")
            panel.click(128 + 40, 104 + 12)
            wait_equal("the commit", lambda: panel.calls()[2:],
                       ["out -8176 255", "in -8176"])
            wait_equal("the label", panel.label, "Port = 0xE010 Value = 7")
            wait_equal("the value clamped", panel.field_texts, ["0xE010", "255"])

            # Enter in either box presses nothing; Tab reaches the button, Space commits.
            # Events come in order, so the commit's calls follow any that Enter made.
            panel.click_field("Port address", 16 + 40, 64 + 12)
            panel.keys("Return")
            panel.click_field("Value", 112 + 40, 64 + 12)
            panel.keys("Return")
            panel.click_field("Port address", 16 + 40, 64 + 12)
            panel.keys("Tab", "space")
            wait_for("the commit by Space", lambda: len(panel.calls()) >= 6)
            self.assertEqual(panel.calls()[4:], ["out -8176 255", "in -8176"])
        finally:
            panel.close()

    def test_bad_address_reports_names_the_text_and_writes_nothing(self):
        panel = Panel("recording")
        panel.focus()
        wait_equal("the address focused", panel.focused, "Port address")
        panel.keys("ctrl+a")
        panel.type("abc")
        wait_equal("the typed text", lambda: panel.fields()["Port address"], "abc")
        panel.click(128 + 40, 104 + 12)
        wait_for("the error box", lambda: windows("^portpanel$"))
        calls = panel.calls()
        code, err = panel.dismiss_error()
        self.assertEqual(calls, ["out 888 0", "in 888"])
        self.assertEqual(code, 1)
        self.assertIn('Error 1: "abc" is not a whole number', err)

    def test_missing_library_ends_before_the_window_shows(self):
        panel = Panel("none")
        wait_for("the error box", lambda: windows("^portpanel$"))
        self.assertEqual(windows("^Form1$"), [])
        code, err = panel.dismiss_error()
        self.assertEqual(code, 3)
        self.assertIn("Error 3: cannot load the port library libinpout32.so", err)
        self.assertEqual(windows("^Form1$"), [])

    def test_hardware_library_refuses_a_user_without_privilege(self):
        # Never run as root here: on a kernel with port access it would write the
        # host's real port 888. Which refusal comes depends on the kernel.
        if os.getuid() != 0:
            print("needs root, skipped: the hardware library's refusal of a user without "
                  "privilege (end-to-end, as nobody)")
            self.skipTest("needs root to become nobody")
        panel = Panel("hardware", folder=os.path.join(BUILD, "portlib"), as_user="nobody")
        try:
            wait_for("the error box", lambda: windows("^portpanel$"))
        except AssertionError:
            self.fail("no error box; portpanel said: " + panel.close()[1])
        self.assertEqual(windows("^Form1$"), [])
        code, err = panel.dismiss_error()
        self.assertEqual(code, 5)
        self.assertRegex(err, "(?s)Error 5: .*(no permission to use the I/O ports|this kernel has "
                              "no user-space port access)")
        self.assertNotIn("not written", err)  # Out32 was never reached
        self.assertEqual(windows("^Form1$"), [])

@unittest.skipUnless(WAYLAND, "the Wayland session's test")
class Wayland(unittest.TestCase):
    def test_startup_reading_and_a_commit_through_atspi(self):
        self.assertNotIn("DISPLAY", os.environ)  # no X server to fall back on
        panel = Panel("recording")
        try:
            self.assertEqual(wait_for("the start-up reading", lambda: panel.label() if
                                      panel.label() != "Label1" else None),
                             "Port = 888 Value = 7")
            self.assertEqual(panel.calls(), ["out 888 0", "in 888"])
            self.assertEqual(panel.fields(), {"Port address": "888", "Value": "000"})
            address = [t for t in panel.accessible("text") if t.name == "Port address"][0]
            address.queryEditableText().setTextContents("0x379")
            # Debian 12's AT-SPI calls the role "push button", Debian 13's "button".
            button = panel.accessible("push button", "button")[0]
            self.assertEqual(button.name, "Commit")
            button.queryAction().doAction(0)
            wait_for("the commit", lambda: len(panel.calls()) == 4 or None)
            self.assertEqual(panel.calls()[2:], ["out 889 0", "in 889"])
            self.assertEqual(wait_for("the label", lambda: panel.label() if
                                      "0x379" in panel.label() else None),
                             "Port = 0x379 Value = 7")
        finally:
            code, err = panel.close()
        self.assertNotIn("xcb", err)


if __name__ == "__main__":
    # Its own process group, so the bus it starts goes down with it.
    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)
    wait_for("the accessibility bus", lambda: "true" in subprocess.run(
        ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
         "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"],
        capture_output=True, text=True).stdout)
    try:
        unittest.main(verbosity=2)
    finally:
        os.killpg(launcher.pid, signal.SIGTERM)
        launcher.wait()
