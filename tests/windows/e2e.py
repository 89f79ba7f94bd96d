"""The real portpanel.exe under wine and Xvfb, driven by real X input (xdotool)
and read back from another Win32 program (reader.exe), with a recording
inpout32.dll beside it. The window's cases come from tests/panel_cases.json,
which the Qt side runs too.
Usage: e2e.py WINE PORTPANEL_EXE READER_EXE DLL_FOLDER CASES_JSON WINDOWS_7_EXE PINS_EXE"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

WINE, EXE, READER, DLLS, CASES, WINDOWS_7_EXE, PINS_EXE = (
    os.path.abspath(a) if i else a for i, a in enumerate(sys.argv[1:8]))
del sys.argv[1:8]
ELEVATED = os.path.join(os.path.dirname(READER), "elevated.exe")
with open(CASES) as f:
    CASES = json.load(f)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from xdriver import wait_equal, wait_for, windows, xdotool  # noqa: E402


def read(*args):
    """What reader.exe sees: {'window': {...}, 'controls': {id: {...}}, 'focus': id}, and
    with "pins" the drawing's accessible object: 'connector': {...}, 'pins': {number: {...}}."""
    out = subprocess.run([WINE, READER, *args], capture_output=True, text=True, timeout=120).stdout
    seen = {"controls": {}, "box": [], "tips": [], "pins": {}}
    for line in out.splitlines():
        kind, _, rest = line.partition(" ")
        fields = dict(f.split("=", 1) for f in rest.split(" ", 5) if "=" in f) if kind not in (
            "box", "tip") else {"text": rest.partition("=")[2]}
        if kind in ("connector", "pin"):  # the last field, a name, has spaces
            fields = dict(f.split("=", 1) for f in re.split(r" (?=[a-z]+=)", rest))
        if kind == "connector":
            seen["connector"] = fields
        elif kind == "pin":
            seen["pins"][int(fields["id"])] = fields
        elif kind == "control":
            seen["controls"][int(fields["id"])] = fields
        elif kind == "window":
            seen["window"] = fields
        elif kind == "focus":
            seen["focus"] = int(fields["id"])
        elif kind in ("box", "tip"):
            seen[kind if kind == "box" else "tips"].append(fields["text"])
    return seen


ADDRESS, COMMIT, VALUE, LABEL = 100, 101, 102, 103
# The other word size's DLLs, built beside this one's by scripts/windows-tests.
BITS = 64 if "build-win-x86_64" in DLLS else 32
OTHER_DLLS = DLLS.replace(*(("build-win-x86_64", "build-win-i686") if BITS == 64
                            else ("build-win-i686", "build-win-x86_64")))


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


# SHGetFolderPath's Program Files in this word size; the 64-bit one is C:\Program Files.
PROGRAMS = "Program Files" if BITS == 64 else "Program Files (x86)"
FOLDER = "a folder"  # Panel(dll=FOLDER): a folder named inpout32.dll beside the exe


def under(folder, dll="recording"):
    """A PATH entry C:\\folder\\ID (ID unique to the run) holding the DLL."""
    return "C:\\" + folder + "\\{id}", folder.replace("\\", "/") + "/{id}", dll


class Panel:
    """One run of portpanel.exe in a folder of its own, with the given DLL."""

    def __init__(self, dll="recording", read_value="7", dll_in_cwd=None, exe=EXE, args=(),
                 other_size_dll=False, on_path=(), dependency=False, deep=False, env=None,
                 elevated=False):
        """on_path: PATH entries (entry, its folder under C:, the DLL put there), {id} in
        both unique to the run; dependency: dep.dll in a user's PATH folder and the
        current directory; dll: a DLL variant, the bytes of inpout32.dll, or FOLDER;
        elevated: started as an administrator, which wine 8 does for every program."""
        self.folder = tempfile.mkdtemp(prefix="portpanel-wine-")
        self.top = self.folder
        if deep:  # a program folder longer than MAX_PATH
            self.folder = os.path.join(self.folder, *["d" * 100] * 3)
            os.makedirs(self.folder)
        # A DLL planted in the folder the program is started from, not its own.
        cwd = os.path.join(self.folder, "cwd")
        os.mkdir(cwd)
        if dll_in_cwd:
            shutil.copy(os.path.join(DLLS, dll_in_cwd, "inpout32.dll"), cwd)
        shutil.copy(exe, os.path.join(self.folder, "portpanel.exe"))
        if isinstance(dll, bytes):
            with open(os.path.join(self.folder, "inpout32.dll"), "wb") as f:
                f.write(dll)
        elif dll == FOLDER:
            os.mkdir(os.path.join(self.folder, "inpout32.dll"))
        elif dll:
            shutil.copy(os.path.join(DLLS, dll, "inpout32.dll"), self.folder)
        if other_size_dll:
            shutil.copy(os.path.join(OTHER_DLLS, "recording", "inpout32.dll"), self.folder)
        self.record = os.path.join(self.top, "record")
        open(self.record, "w").close()
        env = dict(os.environ, PORTPANEL_RECORD=windows_path(self.record),
                   PORTPANEL_READ_VALUE=read_value, **(env or {}))
        entries, self.on_path, run = [], [], os.path.basename(self.top)
        for entry, folder, on_path_dll in on_path:
            folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", folder.format(id=run))
            os.makedirs(folder)
            shutil.copy(os.path.join(DLLS, on_path_dll, "inpout32.dll"), folder)
            entries.append(entry.format(id=run))
            self.on_path.append(folder)
        if dependency:
            users = os.path.join(self.folder, "users-path")
            os.mkdir(users)
            for where in (users, cwd):
                shutil.copy(os.path.join(DLLS, "needs-dependency", "dep.dll"), where)
            entries.append(windows_path(users))
        if entries:
            env["WINEPATH"] = ";".join(entries)
        launcher = [ELEVATED] if elevated else []
        self.process = subprocess.Popen([WINE, *launcher, os.path.join(self.folder, "portpanel.exe"),
                                         *args],
                                        env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

    def calls(self):
        with open(self.record) as f:
            return f.read().split("\n")[:-1]

    def shown(self):
        wait_for("Form1", lambda: windows("^Form1$"))
        return wait_for("Form1's controls", lambda: (lambda s: s if "window" in s else None)(
            read()))

    def text(self, control):
        return read()["controls"][control]["text"]

    def click(self, control):
        """A click on the control; on a field, once the field has the focus.
        (Commit's effect, a commit or a box, is for the caller to wait for.)"""
        x, y = (int(v) for v in read()["controls"][control]["screen"].split(","))
        xdotool("mousemove", str(x + 8), str(y + 10), "click", "1")
        if control != COMMIT:
            self.wait_focus(control)

    def keys(self, *keys):
        xdotool("key", "--delay", "40", *keys)

    def type(self, text):
        if text:
            xdotool("type", "--delay", "40", "--", text)

    def wait_text(self, control, want):
        return wait_equal(f"control {control}'s text",
                          lambda: read()["controls"].get(control, {}).get("text"), want)

    def wait_focus(self, control):
        return wait_equal(f"the focus on control {control}", lambda: read().get("focus"), control)

    def wait_calls(self, before, want):
        return wait_equal("the calls", lambda: self.calls()[before:], want)

    def replace(self, control, text):
        """Selects the whole field with real keys and types over it; digits
        typed into the value field overwrite its zeros from the left."""
        self.click(control)
        self.keys("End", "shift+Home", "Delete")
        self.keys("Home")
        self.type(text)
        self.wait_text(control, text + "000"[len(text):] if control == VALUE else text)

    def outcome(self):
        """The error box's words, or "Form1" once the window shows."""
        return wait_for("Form1 or the error box", lambda: "Form1" if windows("^Form1$") else (
            windows("^portpanel$") and " ".join(read("box")["box"])))

    def error_box(self):
        wait_for("the error box", lambda: windows("^portpanel$"))
        return wait_for("the box's text", lambda: read("box")["box"])

    def dismiss(self):
        """Presses OK on the error box; returns the exit status."""
        box = windows("^portpanel$")[0]
        xdotool("windowfocus", "--sync", box)
        self.keys("Return")
        return self.end()

    def end(self):
        try:
            self.process.wait(timeout=120)
        finally:
            shutil.rmtree(self.top, ignore_errors=True)
            for folder in self.on_path:
                shutil.rmtree(folder, ignore_errors=True)
        return self.process.returncode

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.end()


class Windows(unittest.TestCase):
    def test_window_startup_tab_order_and_cases(self):
        panel = Panel()
        try:
            seen = panel.shown()
            self.assertEqual(panel.calls(), ["out 888 0", "in 888"])
            self.assertEqual(seen["window"], {"title": "Form1", "client": "402x155"})
            layout = {ADDRESS: ("Edit", "16,64,81,25", "888"),
                      COMMIT: ("Button", "128,104,81,25", "Commit"),
                      VALUE: ("Edit", "112,64,97,25", "000"),
                      LABEL: ("Static", "16,24,193,17", "Port = 888 Value = 7")}
            for control, (kind, rect, text) in layout.items():
                c = seen["controls"][control]
                self.assertEqual((c["class"], c["rect"], c["text"]), (kind, rect, text))
            style = int(seen["controls"][COMMIT]["style"], 16)
            self.assertEqual(style & 0xF, 0)  # BS_PUSHBUTTON, not BS_DEFPUSHBUTTON

            # Tab order from the address box: button, value field, address box.
            self.assertEqual(seen["focus"], ADDRESS)
            for expected in (COMMIT, VALUE, ADDRESS):
                panel.keys("Tab")
                panel.wait_focus(expected)
            # Enter in either box presses nothing (input comes in order, so a
            # commit it made would come before the next case's).
            for box in (ADDRESS, VALUE):
                panel.click(box)
                panel.keys("Return")
            self.assertEqual(len(panel.calls()), 2)

            for case in CASES["clamp"]:
                with self.subTest(clamp=case["name"]):
                    before = len(panel.calls())
                    panel.replace(VALUE, case["typed"])
                    panel.click(COMMIT)
                    panel.wait_calls(before, [f"out 888 {case['written']}", "in 888"])
                    panel.wait_text(VALUE, case["field"])
            for case in CASES["valueKeys"]:
                with self.subTest(keys=case["name"]):
                    panel.replace(VALUE, "")
                    panel.keys(*case["keys"])
                    panel.wait_text(VALUE, case["field"])
            for case in CASES["addresses"]:
                with self.subTest(address=case["name"]):
                    before = len(panel.calls())
                    panel.replace(ADDRESS, case["address"])
                    panel.replace(VALUE, "200")
                    panel.click(COMMIT)
                    port = case["port"]
                    panel.wait_calls(before, [f"out {port} 200", f"in {port}"])
                    panel.wait_text(LABEL, f"Port = {case['address']} Value = 7")
        finally:
            panel.close()

    def test_layout_scales_with_the_screens_dpi_on_every_windows(self):
        # 1440 twips to an inch: 6030 x 2325 twips, the button at 1920,1560 1215x375.
        # LogPixels sets the system DPI. Wine 8 gives it to GetDpiForWindow too; wine 10
        # gives a per-monitor-aware window the monitor's (96 under Xvfb) and draws its
        # frame at 144, so there only the system-DPI path can show 144's layout.
        wine = subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout
        monitor_follows_logpixels = wine.startswith("wine-8.")
        desktop = r"HKCU\Control Panel\Desktop"
        at96 = None
        for dpi, client, button in ((96, "402x155", "128,104,81,25"),
                                    (144, "603x233", "192,156,122,38")):
            subprocess.run([WINE, "reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD",
                            "/d", str(dpi), "/f"], capture_output=True, check=True)
            seen = {}
            for path, exe in (("Windows 10", EXE), ("Windows 7", WINDOWS_7_EXE)):
                panel = Panel(exe=exe)
                try:
                    seen[path] = panel.shown()
                finally:
                    panel.close()
                for control in seen[path]["controls"].values():
                    del control["screen"]  # where the window lands is not the layout's
            at96 = at96 or seen["Windows 7"]["controls"]
            with self.subTest(dpi=dpi, wine=wine):
                self.assertEqual(seen["Windows 7"]["window"]["client"], client)
                self.assertEqual(seen["Windows 7"]["controls"][COMMIT]["rect"], button)
                if dpi == 96 or monitor_follows_logpixels:
                    self.assertEqual(seen["Windows 10"]["window"], seen["Windows 7"]["window"])
                    self.assertEqual(seen["Windows 10"]["controls"], seen["Windows 7"]["controls"])
                else:
                    self.assertEqual(seen["Windows 10"]["controls"], at96)
        subprocess.run([WINE, "reg", "delete", desktop, "/v", "LogPixels", "/f"],
                       capture_output=True)

    def test_bad_address_shows_the_error_and_writes_nothing(self):
        for case in CASES["badAddresses"]:
            with self.subTest(address=case["name"]):
                panel = Panel()
                try:
                    panel.shown()
                    panel.replace(ADDRESS, case["address"])
                    panel.replace(VALUE, "999")
                    panel.click(COMMIT)
                    box = panel.error_box()
                    self.assertIn(f"Error {case['number']}: \"{case['address']}\"", " ".join(box))
                    self.assertEqual(panel.text(VALUE), "255")  # the clamp ran first
                    self.assertEqual(panel.calls(), ["out 888 0", "in 888"])
                    self.assertEqual(panel.dismiss(), case["number"])
                finally:
                    panel.close()

    def test_focus_comes_back_and_the_value_field_holds_its_mask(self):
        WM_IME_CHAR, WM_IME_COMPOSITION, GCS_RESULTSTR = 0x286, 0x10F, 0x800
        panel = Panel()
        try:
            panel.shown()
            panel.replace(VALUE, "5")
            read("away")  # another window takes the foreground and gives it back
            panel.wait_focus(VALUE)
            panel.type("7")
            panel.wait_text(VALUE, "570")
            for message, wparam, lparam in ((WM_IME_CHAR, ord("a"), 0),
                                            (WM_IME_CHAR, 0x00E9, 0),
                                            (WM_IME_COMPOSITION, 0, GCS_RESULTSTR)):
                with self.subTest(message=hex(message), wparam=hex(wparam)):
                    read("send", hex(VALUE), hex(message), hex(wparam), hex(lparam))
                    self.assertEqual(panel.text(VALUE), "570")
            read("clip", "abc")
            panel.click(VALUE)
            panel.keys("shift+Insert")
            self.assertEqual(panel.text(VALUE), "570")
            WM_SYSCOMMAND, SC_MINIMIZE, SC_RESTORE = 0x112, 0xF020, 0xF120
            panel.click(ADDRESS)
            read("away")  # the address field had the focus at the last deactivation
            for control, keys, value in ((COMMIT, ("shift+Tab",), "570"),
                                         (VALUE, ("Home",), "170")):
                with self.subTest(minimised_with_the_focus_on=control):
                    panel.click(VALUE)
                    panel.keys(*keys)
                    panel.wait_focus(control)
                    for command in (SC_MINIMIZE, SC_RESTORE):
                        read("send", "0", hex(WM_SYSCOMMAND), hex(command), "0")
                    panel.wait_focus(control)
                    panel.type("1")
                    wait_equal("the focus and the fields", lambda: (lambda seen: (
                        seen.get("focus"), seen["controls"][ADDRESS]["text"],
                        seen["controls"][VALUE]["text"]))(read()), (control, "888", value))
        finally:
            panel.close()

    def test_input_method_and_dpi_change_from_inside_the_program(self):
        COMPOSE, COMPLETE, CANCEL, COMPOSE_DIGITS, TO_144_DPI = range(0x8001, 0x8006)
        panel = Panel(exe=WINDOWS_7_EXE, env={"PORTPANEL_DRIVE": "1"})
        try:
            panel.shown()
            # Full-width digits from an input method land as the same typed digits would.
            panel.replace(VALUE, "123")
            panel.keys("End", "shift+Home")
            panel.type("45")
            digits = wait_for("both digits typed", lambda: (lambda text: text if text.startswith(
                "45") else None)(panel.text(VALUE)))
            WM_IME_CHAR = 0x286  # as an input method sends its result, on any wine
            for name, steps, field in (
                    ("non-digits completed", ((COMPOSE, 0), (COMPLETE, 0)), "123"),
                    ("non-digits cancelled", ((COMPOSE, 0), (CANCEL, 0)), "123"),
                    ("full-width digits", ((COMPOSE_DIGITS, 0), (COMPLETE, 0)), digits),
                    ("full-width WM_IME_CHARs", ((WM_IME_CHAR, 0xFF14), (WM_IME_CHAR, 0xFF15)),
                     digits)):
                with self.subTest(composition=name):
                    panel.replace(VALUE, "123")
                    panel.keys("End", "shift+Home")
                    seen = []  # after each step: while composing, then after
                    for message, wparam in steps:
                        read("send", hex(VALUE), hex(message), hex(wparam), "0")
                        seen.append(panel.text(VALUE))
                    composing = steps[0][0] != WM_IME_CHAR
                    self.assertEqual(seen if composing else seen[-1:],
                                     ["123", field] if composing else [field])
                    before = len(panel.calls())
                    panel.click(COMMIT)
                    panel.wait_calls(before, [f"out 888 {min(int(field), 255)}", "in 888"])
                    self.assertEqual(windows("^portpanel$"), [])
            # As Windows 8.1 suggests it: frame and all times 1.5, though the frame stays.
            read("send", "0", hex(TO_144_DPI), "0", "0")
            seen = read()
            self.assertEqual((seen["window"]["client"], seen["controls"][COMMIT]["rect"]),
                             ("603x233", "192,156,122,38"))
        finally:
            panel.close()

    def test_a_control_that_cannot_be_made_leaves_error_6_on_screen(self):
        panel = Panel(exe=WINDOWS_7_EXE, env={"PORTPANEL_REFUSE": "BUTTON"})
        try:
            wait_for("the error box or the end", lambda: windows("^portpanel$")
                     or panel.process.poll() is not None)
            words = wait_for("the box's words", lambda: " ".join(read("box")["box"]))
            self.assertIn("Error 6: the control Command1 cannot be created", words)
            self.assertIsNone(panel.process.poll())
            self.assertEqual(panel.dismiss(), 6)
        finally:
            panel.close()

    def test_arguments_in_any_language_and_a_deep_program_folder(self):
        for argument in ("--help", "--version"):  # nothing visible, no port touched
            panel = Panel(args=[argument])
            with self.subTest(argument=argument):
                panel.process.wait(timeout=120)
                self.assertEqual(panel.calls(), [])
                self.assertEqual(windows("^(Form1|portpanel)$"), [])
                self.assertEqual(panel.end(), 0)
        for args in (["Müller"], ["--help", "x"], ["--version", "Müller"]):
            panel = Panel(args=args)
            with self.subTest(args=args):
                try:
                    self.assertIn(f'unknown argument "{args[-1]}"', " ".join(panel.error_box()))
                    self.assertEqual(panel.dismiss(), 8)
                finally:
                    panel.close()
        panel = Panel(deep=True)
        try:
            panel.shown()
            self.assertEqual(panel.calls(), ["out 888 0", "in 888"])
        finally:
            panel.close()

    def test_library_of_the_other_word_size(self):
        other = 96 - BITS
        panel = Panel(dll=None, other_size_dll=True)
        try:
            box = " ".join(panel.error_box())
            self.assertIn("Error 3: cannot load the port library " + windows_path(panel.folder)
                          + "\\inpout32.dll: it is a " + f"{other}-bit inpout32.dll, but this is "
                          f"the {BITS}-bit portpanel.exe: use the {BITS}-bit DLL or "
                          f"portpanel-1.00-win{other}.zip (Windows error 193)", box)
            self.assertNotIn("%1", box)
            self.assertEqual(panel.dismiss(), 3)
        finally:
            panel.close()
        # What is passed over beside the exe, and the good DLL on PATH that is then loaded.
        for beside, on_path in ((dict(dll=None, other_size_dll=True), under(PROGRAMS)),
                                (dict(dll=FOLDER), under("Program Files (x86)")),
                                (dict(dll=None), under("Program Files"))):
            with self.subTest(beside=beside, on_path=on_path[0]):
                panel = Panel(on_path=[on_path], **beside)
                try:
                    self.assertEqual(panel.outcome(), "Form1")
                    self.assertEqual(panel.calls(), ["out 888 0", "in 888"])
                finally:
                    panel.close()

    def test_elevated_the_dll_and_its_dependencies_come_only_from_folders_users_cannot_write(self):
        missing = ("Error 3: put inpout32.dll beside portpanel.exe (run as administrator, only "
                   "PATH's folders under Program Files are searched too)")
        for on_path, dependency, words in (
                (under("Program Files Evil"), False, missing),
                (under("Program Files (x86) Evil"), False, missing),
                (under("windows\\temp"), False, missing),
                (("C:\\Windows\\..\\users\\Public\\{id}", "users/Public/{id}", "recording"),
                 False, missing),
                (("C:\\Program Files\\..\\users\\Public\\{id}", "users/Public/{id}",
                  "recording"), False, missing),
                (under(PROGRAMS, "needs-dependency"), True, "a DLL that it needs is missing")):
            with self.subTest(on_path=on_path[0], dependency=dependency):
                panel = Panel(dll=None, on_path=[on_path], dependency=dependency, elevated=True)
                try:
                    self.assertIn(words, panel.outcome())
                    self.assertEqual(panel.calls(), [])
                    self.assertEqual(panel.dismiss(), 3)
                finally:
                    panel.close()

    def test_files_that_are_not_a_dll_claim_no_word_size(self):
        with open(os.path.join(DLLS, "recording", "inpout32.dll"), "rb") as f:
            good = f.read()
        header = struct.unpack_from("<i", good, 0x3C)[0]

        def patched(offset, form, value):
            changed = bytearray(good)
            struct.pack_into(form, changed, offset, value)
            return bytes(changed)

        for name, content, words in (
                ("text", b"not a DLL\r\n", "it is not a Windows DLL"),
                ("empty", b"", "it is not a Windows DLL"),
                ("DOS header cut short", good[:32], "it is not a Windows DLL"),
                ("e_lfanew negative", patched(0x3C, "<i", -16), "it is not a Windows DLL"),
                ("e_lfanew past the end", patched(0x3C, "<i", len(good) + 64),
                 "it is not a Windows DLL"),
                ("ARM64", patched(header + 4, "<H", 0xAA64),
                 "it is not a Windows DLL for x86 (machine 0xAA64)"),
                ("unknown machine", patched(header + 4, "<H", 0x1234),
                 "it is not a Windows DLL for x86 (machine 0x1234)"),
                ("this word size, cut short", good[:1024], "it is not a Windows DLL")):
            with self.subTest(name):
                panel = Panel(dll=content)
                try:
                    box = panel.outcome()
                    self.assertIn("Error 3: cannot load the port library " +
                                  windows_path(panel.folder) + "\\inpout32.dll: " + words, box)
                    self.assertNotIn("it is a ", box)
                    self.assertEqual(panel.dismiss(), 3)
                finally:
                    panel.close()

    def test_library_failures_end_before_form1_shows(self):
        for dll, in_cwd, number, words, calls in (
                # Run elevated (as wine's 32-bit side is) the rest names Program Files.
                (None, None, 3, "Error 3: put inpout32.dll beside portpanel.exe", []),
                (None, "recording", 3, "Error 3: put inpout32.dll beside portpanel.exe", []),
                ("without-inp32", None, 4, "{folder}\\inpout32.dll has no entry point Inp32",
                 ["out 888 0"])):
            with self.subTest(dll=dll, in_cwd=in_cwd):
                panel = Panel(dll, dll_in_cwd=in_cwd)
                try:
                    box = panel.error_box()
                    self.assertIn(f"Error {number}: ", " ".join(box))
                    self.assertIn(words.format(folder=windows_path(panel.folder)), " ".join(box))
                    self.assertEqual(windows("^Form1$"), [])
                    self.assertEqual(panel.calls(), calls)
                    self.assertEqual(panel.dismiss(), number)
                finally:
                    panel.close()


class PinsWindow(unittest.TestCase):
    """portpanel-pins.exe over a recording DLL whose registers latch in files."""

    @staticmethod
    def set_port(ports, port, value):
        """Whole, as a poll may come at any time."""
        with open(os.path.join(ports, "new"), "w") as f:
            f.write(f"{value}\n")
        os.rename(os.path.join(ports, "new"), os.path.join(ports, str(port)))

    def pins(self, dll, *args):
        ports = tempfile.mkdtemp(prefix="portpanel-ports-")
        self.addCleanup(shutil.rmtree, ports, ignore_errors=True)
        for port, value in ((888, 0), (889, 0x78), (890, 0x0C)):
            self.set_port(ports, port, value)
        panel = Panel(dll, exe=PINS_EXE, args=args, env={
            "PORTPANEL_PORT_FOLDER": windows_path(ports), "PORTPANEL_LATCH": "1"})
        self.addCleanup(panel.close)
        os.environ["PORTPANEL_WINDOW"] = "portpanel-pins"  # the window reader.exe reads
        self.addCleanup(os.environ.pop, "PORTPANEL_WINDOW")
        window = wait_for("portpanel-pins", lambda: windows("^portpanel-pins$"))[0]
        return panel, window, ports

    def test_keys_0_and_3_write_0x09(self):
        panel, window, ports = self.pins("recording")
        xdotool("windowfocus", "--sync", window)
        panel.keys("0")  # each key after the last one's write
        wait_for("0x01 in the data register", lambda: "out 888 1" in panel.calls())
        panel.keys("3")
        wait_for("0x09 in the data register", lambda: "out 888 9" in panel.calls())
        with open(os.path.join(ports, "888")) as f:
            self.assertEqual(int(f.read()), 9)
        texts = wait_for("the data register shown", lambda: (lambda t: t if any(
            line.startswith("Data 0x0378: 0x09 = 9 = 00001001") for line in t) else None)(
            [c["text"] for c in read()["controls"].values()]))
        self.assertIn("2  D0  (D0)  out: high", texts)
        self.assertIn("5  D3  (D3)  out: high", texts)

    def test_labels_tab_order_and_the_drawn_connector(self):
        panel, window, _ = self.pins("recording")
        controls = wait_for("the controls", lambda: read()["controls"])
        by_text = {c["text"]: (c["class"], number) for number, c in controls.items()}
        for words in ("Port", "Poll every", "ms", "Data byte", "File"):
            self.assertEqual(by_text[words][0], "Static", words)
        self.assertEqual(by_text["0x00"][0], "Edit")

        # Tab: down the pins' list, then down the right column (the drop-down's edit part).
        def id_of(kind, text=None):
            return next(n for n, c in controls.items()
                        if c["class"] == kind and (text is None or c["text"].startswith(text)))
        pins = [id_of("Button", f"{n}  ") for n in range(1, 18)]
        order = pins[1:] + [id_of("Edit", "888"), id_of("Edit", "20"), id_of("Button", "Open"),
                            id_of("Edit", "0x00"), id_of("Button", "Write"),
                            id_of("Edit", "no plug"), id_of("Button", "Test"),
                            id_of("Button", "Data lines"), id_of("ListBox"),
                            id_of("Button", "Record"), id_of("Button", "Stop"),
                            id_of("Edit", "capture.vcd"), id_of("Button", "Save as VCD"), pins[0]]
        xdotool("windowfocus", "--sync", window)
        wait_for("pin 1 in focus", lambda: read().get("focus") == pins[0])
        for expected in order:
            xdotool("key", "Tab")
            wait_for(f"the focus on {controls[expected]['text']!r}",
                     lambda: read().get("focus") == expected)

        contact = self.click_busy_ground_and_d1(panel, controls[id_of("portpanelConnector")], 1)
        xdotool("mousemove", *map(str, contact(5)))
        wait_for("D3's line as its tooltip",
                 lambda: "5  D3  (D3)  out: low" in read("tips")["tips"])

    def click_busy_ground_and_d1(self, panel, drawing, zoom):
        """Only D1 is written; returns where each contact is on the screen."""
        # At 96 dpi: pin 1's contact 61 px down and 300 right of the middle, 50
        # px apart leftwards; the bottom row 34 px lower, between them.
        left, top = (int(v) for v in drawing["screen"].split(","))
        def contact(number):
            doubled = 2 * (7 - number) if number <= 13 else 2 * (14 - number) + 11
            return left + zoom * (352 + doubled * 25), top + zoom * (61 if number <= 13 else 95)
        written = len(panel.calls())
        for number in (11, 20, 3):  # Busy (an input), ground, D1
            xdotool("mousemove", *map(str, contact(number)))
            xdotool("click", "1")
        wait_for("D1 written", lambda: "out 888 2" in panel.calls()[written:])
        self.assertEqual([c for c in panel.calls()[written:] if c.startswith("out")],
                         ["out 888 2"])
        return contact

    def test_twice_the_size_clicks_and_a_screen_reader(self):
        """Zoomed by a drag of the frame, the drawing still takes clicks and says its pins."""
        panel, _, ports = self.pins("recording")
        client = wait_for("the window", lambda: read().get("window"))["client"]
        width, height = (int(v) for v in client.split("x"))
        subprocess.run([WINE, READER, "size", str(2 * width), str(2 * height)], timeout=120,
                       check=True)
        def sized(kind, text, size):
            return next((c for c in read()["controls"].values() if c["class"] == kind
                         and c["text"] == text and c["rect"].split(",")[2:] == size), None)
        drawing = wait_for("the drawing twice its size",
                           lambda: sized("portpanelConnector", "", ["1408", "320"]))
        self.assertTrue(sized("Static", "Poll every", ["136", "40"]), "a label twice its size")
        contact = self.click_busy_ground_and_d1(panel, drawing, 2)

        # A screen reader in another process: each contact a read-only static
        # text at its place, named and described as the list has the pin, and
        # a name change told for each contact whose name changed, and no other.
        def drawn(status):
            seen = wait_for(f"status 0x{status:02X} in the list", lambda: (
                lambda s: s if any(c["text"].startswith(f"Status 0x0379: 0x{status:02X} ")
                                   for c in s["controls"].values()) else None)(read("pins")))
            self.assertEqual(seen["connector"], {"children": "25", "role": "40", "name":
                                                 "Connector, as seen on the back of the PC"})
            listed = {int(c["text"].split()[0]): c["text"] for c in seen["controls"].values()
                      if re.match(r"\d+  ", c["text"])}
            for n, pin in seen["pins"].items():
                x, y, w, h = map(int, pin["rect"].split(","))
                self.assertEqual((pin["role"], pin["state"], pin["hit"], (x + w // 2, y + h // 2)),
                                 ("41", "64", str(n), contact(n)), n)
                caption = re.fullmatch(r"\d+  (\S+)  \(.*\)  (?:in|out): (.+)", listed.get(n, ""))
                self.assertEqual(pin["said"].split("\t"), [
                    f"Pin {n}, {caption[1]}, {caption[2]}", listed[n]] if n <= 17 else [
                    f"Pin {n}, ground", f"{n}  ground"])
            return {n: pin["said"].split("\t")[0] for n, pin in seen["pins"].items()}

        told = os.path.join(ports, "told")
        with open(told, "w") as out:
            listener = subprocess.Popen([WINE, READER, "events"], stdout=out)
        self.addCleanup(listener.wait)
        self.addCleanup(listener.kill)
        def events():
            with open(told) as f:
                return f.read().split("\n")[:-1]
        wait_for("the reader listening", lambda: events() == ["listening"])
        names, changed = drawn(0x78), []
        for status, number, name in ((0x80, 11, "Pin 11, Busy, low"),
                                     (0x08, 15, "Pin 15, /Error, high"),
                                     (0x30, 12, "Pin 12, Paper-out, high")):
            self.set_port(ports, 889, status)
            now = drawn(status)
            self.assertEqual(now[number], name)
            changed += [f"event child={n}" for n in now if now[n] != names[n]]
            names = now
        wait_equal("a name change told for each", lambda: events()[1:], changed)

    def test_minimised_makes_no_reads(self):
        panel, _, _ = self.pins("recording")
        wait_for("polling", lambda: len(panel.calls()) > 10)
        # SendMessage returns once the window has handled it, polls stopped.
        subprocess.run([WINE, READER, "send", "0", "112", "F020", "0"], timeout=120)  # SC_MINIMIZE
        before = len(panel.calls())
        time.sleep(0.5)  # many polling intervals, in which nothing may be read
        self.assertEqual(len(panel.calls()), before)
        subprocess.run([WINE, READER, "send", "0", "112", "F120", "0"], timeout=120)  # SC_RESTORE
        wait_for("polling again", lambda: len(panel.calls()) > before)

    def test_save_says_the_full_path_asks_before_replacing_and_says_why_not(self):
        panel, _, _ = self.pins("refusing", "0x2F8")  # no port open
        cwd = os.path.join(panel.folder, "cwd")
        controls = wait_for("the controls", lambda: read()["controls"])

        def id_of(kind, text):
            return next(n for n, c in controls.items()
                        if c["class"] == kind and c["text"].startswith(text))
        record, save, port, open_port, file_name = (
            id_of("Button", "Record"), id_of("Button", "Save as"), id_of("Edit", "0x2F8"),
            id_of("Button", "Open"), id_of("Edit", "capture.vcd"))

        def press(button):
            x, y = (int(v) for v in read()["controls"][button]["screen"].split(","))
            xdotool("mousemove", str(x + 8), str(y + 10), "click", "1")

        def says(words):
            return wait_for(f"the window to say {words!r}", lambda: next((
                c["text"] for c in read()["controls"].values() if c["text"].startswith(words)),
                None))

        def saved():
            with open(os.path.join(cwd, "old.vcd")) as f:
                return f.read()
        press(record)
        press(save)
        says("Not saved: the recording holds no samples. Open a port")
        self.assertEqual(os.listdir(cwd), [])
        panel.replace(port, "888")
        press(open_port)
        wait_for("polling", lambda: "in 889" in panel.calls())
        with open(os.path.join(cwd, "old.vcd"), "w") as f:
            f.write("old\n")
        panel.replace(file_name, "old.vcd")
        full = windows_path(os.path.join(cwd, "old.vcd"))
        press(record)
        polled = len(panel.calls())
        wait_for("more polls", lambda: len(panel.calls()) > polled + 6)
        for key, words in (("Return", f"Not saved: {full} is kept as it was."),
                           ("y", f"Saved {full}")):
            press(save)
            box = " ".join(wait_for("the question", lambda: windows("^portpanel$") and read(
                "box")["box"]))
            self.assertIn(f"{full} already exists.", box)
            xdotool("windowfocus", "--sync", windows("^portpanel$")[0])
            panel.keys(key)
            self.assertEqual(says(words), words)
        self.assertTrue(saved().startswith("$version portpanel"), saved())
        panel.replace(file_name, "missing\\x.vcd")
        press(save)
        self.assertIn("does not exist", says("Not saved: cannot write "))

    def test_refused_port_words_in_the_window(self):
        panel, window, _ = self.pins("refusing", "0x2F8")
        wait_for("the library's words", lambda: any(
            "refused by the test" in c["text"] for c in read()["controls"].values()))
        self.assertEqual(panel.process.poll(), None)  # the window stays open
        self.assertEqual(windows("^portpanel$"), [])  # and no error box


if __name__ == "__main__":
    # A wine server that the tests before started without a display keeps a
    # desktop that refuses every window (error 120): end it, so that this X
    # server's first window starts the desktop, slowly on a busy machine.
    subprocess.run(["/usr/lib/wine/wineserver64", "-k"], capture_output=True)
    subprocess.run(["/usr/lib/wine/wineserver64", "-w"], timeout=120)
    wait_for("wine's desktop", lambda: "desktop up" in subprocess.run(
        [WINE, READER, "desktop"], capture_output=True, text=True, timeout=120).stdout)
    unittest.main(verbosity=2)
