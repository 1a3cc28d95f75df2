"""What the Wine tests share: a Wine prefix, runs of the program in it, its boxes on the virtual
display, and the checks every run makes. Asserts here count as the tests' own (conftest.py has
pytest rewrite this module)."""

import os
import re
import subprocess
import time
from pathlib import Path

from checks.loads import load_problems
from checks.log_file import log_problems

ROOT = Path(__file__).resolve().parents[2]
PROGRAM = r"C:\fwupdate\fwupdate.exe"
CAPTION = "Talvex FW Update"
# Wine hands Linux only the low 8 bits of an exit code.
UPDATED, RESTART_HINT, FAILED = 0, 1, 1001 & 255
NO_DEVICE, SAME_VERSION, NEWER_VERSION, DECLINED = 1003 & 255, 1004 & 255, 1005 & 255, 1007 & 255
NO_DEVICE_LINE = "ERROR: No eligible devices have been found. The firmware has not been updated."
SUCCESS_LINE = "Firmware update successful."
SAME_VERSION_LINE = "The device already has the target firmware version. Firmware update aborted."


class Prefix:
    """A Wine prefix of the session's own, under build/wine. `overrides` is the DLL load order of
    Wine's own processes there; each run of the program names its own."""

    def __init__(self, path, out, overrides):
        self.path, self.out = path, out
        self.env = dict(os.environ, WINEPREFIX=str(path), WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES=overrides)
        self.drive_c = path / "drive_c"

    def wine(self, *args, timeout=60, stderr=subprocess.DEVNULL, **env):
        """Runs a Windows program to its end: its status and its output, without CR."""
        done = subprocess.run(["timeout", str(timeout), "wine", *args], env=dict(self.env, **env),
                              stdout=subprocess.PIPE, stderr=stderr)
        return done.returncode, done.stdout.decode(errors="replace").replace("\r", "")

    def reg_add(self, key, name, data):
        self.wine("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", data, "/f")

    def default_value(self, key):
        """The REG_SZ default value of KEY below HKLM, or None."""
        status, text = self.wine("reg", "query", "HKLM\\" + key, "/ve")
        value = re.search(r"^ +\(Default\) +REG_SZ +(.*)$", text, re.MULTILINE)
        return value.group(1) if status == 0 and value else None

    def has_key(self, key):
        return self.wine("reg", "query", "HKLM\\" + key)[0] == 0

    def install(self, files, folder):
        (self.drive_c / folder).mkdir(parents=True, exist_ok=True)
        for file in files:
            (self.drive_c / folder / Path(file).name).write_bytes(Path(file).read_bytes())

    def start(self, name, *args, dlls, debug="+loaddll,+hid", program=PROGRAM, **env):
        return Run(self, name, program, args, dlls, debug, env)

    def stop(self):
        subprocess.run(["timeout", "60", "wineserver", "-k"], env=self.env)


class Run:
    """One run of the program (or of a copy of it elsewhere), started in the background with
    C:\\runs\\NAME as its current directory and Wine's trace in build/wine/NAME.stderr. Several
    may be under way at once."""

    def __init__(self, prefix, name, program, args, dlls, debug, env):
        self.prefix, self.name, self.program = prefix, name, program
        self.arguments = " ".join(args)
        self.folder = prefix.drive_c / "runs" / name
        self.folder.mkdir(parents=True, exist_ok=True)
        self.trace = prefix.out / f"{name}.stderr"
        self.status = self.ended = None
        self.started = int(time.time())
        self.command = ["timeout", "180", "wine", program, *args]
        self.env = dict(prefix.env, WINEDLLOVERRIDES=dlls, WINEDEBUG="-all," + debug, **env)
        self.launch()

    def launch(self):
        with open(self.trace, "wb") as trace:
            self.process = subprocess.Popen(self.command, cwd=self.folder, env=self.env,
                                            stdout=subprocess.DEVNULL, stderr=trace)

    def finish(self):
        """Waits for the run to end. A run whose trace stays empty never reached the program:
        every run traces at least the DLLs Wine loads for it, so Wine's launcher ended before
        loading any (seen once so far, with the program's log never made). Such a run is started
        once more, and relaunches.txt keeps its status."""
        if self.status is None:
            self.status = self.process.wait()
            if self.trace.stat().st_size == 0:
                with open(self.prefix.out / "relaunches.txt", "a") as kept:
                    kept.write(f"{self.name}: Wine's launcher ended with {self.status}, "
                               "its trace empty\n")
                self.launch()
                self.status = self.process.wait()
            self.ended = int(time.time())
        return self.status

    def log_problems(self, *lines, log=None):
        """What is wrong with the run's log (by default fw.log in its folder)."""
        return log_problems(log or self.folder / "fw.log", f'"{self.program}" {self.arguments}',
                            self.started, self.ended, lines)



class Record:
    """A touchpad's record (record.txt, one fact a line) and its flash (flash.bin)."""

    def __init__(self, folder, image):
        self.folder, self.image = folder, image
        text = (folder / "record.txt").read_bytes() if (folder / "record.txt").exists() else b""
        lines = text.decode(errors="replace").replace("\r", "").splitlines()
        self.lines = set(lines)
        self.irregularities = [line.split(" ", 1)[1] for line in lines
                               if line.startswith("irregularity ")]

    def has(self, *lines):
        return set(lines) <= self.lines

    def touchpad_is(self, mode, version):
        return self.has(f"mode {mode}", f"version {version}")

    def flash_is_image(self):
        """The flash holds the shipped image, at its address, and nothing else."""
        return (self.has(f"flash-base {self.image.base}") and
                (self.folder / "flash.bin").read_bytes() == self.image.data)

def finish(run, status, **load_rules):
    """Waits for the run; its exit status (unless None) and that it took each system DLL from
    where it must (load_rules: the DLLs it must take as Wine's own, as stand-ins)."""
    run.finish()
    if status is not None:
        assert run.status == status, f"{run.name}: exit status"
    assert not load_problems(run.trace, "fwupdate.exe", **load_rules), run.name


# ---- The virtual display ---------------------------------------------------------------------

def xdotool(*args):
    return subprocess.run(["timeout", "30", "xdotool", *args], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True).stdout.split()


def visible_windows():
    """The names of the visible top-level windows on the display."""
    return [subprocess.run(["xdotool", "getwindowname", window], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True).stdout.strip()
            for window in xdotool("search", "--onlyvisible", "--name", ".")]


def boxes():
    return xdotool("search", "--onlyvisible", "--name", f"^{CAPTION}$")


def press(key):
    """KEY on the program's box. windowfocus, then key: "key --window" leaves a key stuck."""
    for window in boxes()[:1]:
        xdotool("windowfocus", "--sync", window, "key", key)


def screenshot(path):
    subprocess.run(["timeout", "30", "import", "-window", "root", str(path)])
    return path


def box(prefix):
    """The program's box as another process sees it (probes/box_probe.c)."""
    return prefix.wine(r"C:\tools\box_probe.exe", CAPTION, timeout=30)[1].rstrip("\n")


def wait_for_box(prefix, text, seconds):
    """Waits until the box shows TEXT; what the probe saw last."""
    deadline = time.monotonic() + seconds
    while f"text: {text}" not in (seen := box(prefix)).splitlines() and time.monotonic() < deadline:
        time.sleep(0.2)
    return seen


def box_text(text, *buttons):
    return "\n".join([f"caption: {CAPTION}", "icon: shown", f"text: {text}",
                      *(f"button: {button}" for button in buttons)])
