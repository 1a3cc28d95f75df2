"""The Wine tests' world, set up once per session: the built programs, the X display, a fresh
Wine prefix and its copies (the smoke tests', the virtual touchpad's, the stand-ins'), the
touchpad's driver package installed. Everything a run leaves goes to build/wine/."""

import os
import select
import shutil
import subprocess
from pathlib import Path
from types import SimpleNamespace

import pytest

pytest.register_assert_rewrite("wine")
from wine import ROOT, Prefix, Record, finish  # noqa: E402  (after the rewrite is registered)

checks_passed = 0


def pytest_addoption(parser):
    parser.addoption("--exe", default=ROOT / "build/windows/platform/win32/fwupdate.exe",
                     help="the program under test (default: the windows preset's)")
    parser.addoption("--fwimage", default=ROOT / "build/linux/tools/fwimage",
                     help="fwimage of the linux preset, to compare the flash with the image")
    parser.addoption("--build", default=ROOT / "build/windows",
                     help="the windows preset's build folder that holds the test's programs")


def pytest_assertion_pass(item, lineno, orig, expl):
    global checks_passed
    checks_passed += 1


def pytest_terminal_summary(terminalreporter):
    terminalreporter.write_line(f"checks: {checks_passed} passed")


@pytest.fixture(scope="session")
def built(pytestconfig):
    tests = Path(pytestconfig.getoption("--build")).resolve() / "testing/wine"
    programs = SimpleNamespace(
        exe=Path(pytestconfig.getoption("--exe")).resolve(),
        fwimage=Path(pytestconfig.getoption("--fwimage")).resolve(),
        probes=tests / "probes", standins=tests / "standins", touchpad=tests / "touchpad_driver")
    # A program missing from the folders fails the set-up that copies it, with its path; so does
    # fwupdate-sim, which the agreement table runs from the linux preset beside fwimage.
    missing = [str(path) for path in (programs.exe, programs.fwimage,
                                      programs.fwimage.parent / "fwupdate-sim", programs.probes,
                                      programs.standins, programs.touchpad) if not path.exists()]
    if missing:
        pytest.fail(f"not built (windows and linux presets): {missing}")
    return programs


@pytest.fixture(scope="session")
def out():
    folder = ROOT / "build/wine"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


@pytest.fixture(scope="session")
def image(built, out):
    """The shipped image as the flash must hold it, and the address it starts at."""
    text = subprocess.run([built.fwimage, "-o", out / "image.bin", ROOT / "resources/firmware.hex"],
                          check=True, stdout=subprocess.PIPE, text=True).stdout
    base = [line.rsplit(" ", 1)[1] for line in text.splitlines() if line.startswith("binary:")]
    return SimpleNamespace(data=(out / "image.bin").read_bytes(), base=base[0])


@pytest.fixture(scope="session")
def display(out):
    """A virtual X display; Xvfb picks a free one and writes its number once it takes clients
    (and again whenever it starts over: the pipe stays open, or the write would end it)."""
    read, write = os.pipe()
    with open(out / "xvfb.log", "wb") as log:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"], pass_fds=(write,), stderr=log)
    os.close(write)
    number = os.read(read, 32).decode().strip() if select.select([read], [], [], 10)[0] else ""
    if not number:
        xvfb.kill()
        pytest.fail("Xvfb did not start")
    os.environ["DISPLAY"] = f":{number}"
    yield os.environ["DISPLAY"]
    xvfb.terminate()
    xvfb.wait()
    os.close(read)


@pytest.fixture(scope="session")
def fresh_prefix(out, display):
    """A fresh prefix, made once; each layer runs in a copy of its own."""
    prefix = Prefix(out / "fresh-prefix", out, "mscoree,mshtml=")
    # mscoree, mshtml: a fresh prefix would offer to install Mono and Gecko, in windows of its own.
    subprocess.run(["wineboot", "-i"], env=prefix.env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run(["timeout", "60", "wineserver", "-w"], env=prefix.env)
    return prefix.path


def copy_prefix(fresh, out, name, overrides, built):
    """A copy of the fresh prefix with the program in C:\\fwupdate and the box probe in C:\\tools;
    without a window manager Wine draws the caption itself only for unmanaged windows."""
    subprocess.run(["cp", "-a", fresh, out / name], check=True)
    prefix = Prefix(out / name, out, overrides)
    prefix.install([built.exe], "fwupdate")
    prefix.install([built.probes / "box_probe.exe"], "tools")
    for folder in ("e2e", "runs"):  # the touchpad's records, the runs' folders
        (prefix.drive_c / folder).mkdir()
    prefix.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "N")
    return prefix


@pytest.fixture(scope="session")
def smoke_prefix(fresh_prefix, out, built):
    prefix = copy_prefix(fresh_prefix, out, "smoke-prefix", "mscoree,mshtml=", built)
    prefix.install([built.probes / "backend_probe.exe"], "tools")
    prefix.install([built.probes / "load_probe.exe"], "fwupdate")
    yield prefix
    prefix.stop()


# libfaketime in every Wine process of a prefix: a process's clocks, the monotonic one too, are then
# the real time plus an offset. The server reads its offset from a file at every look, so that a
# test moves the server's clock on by writing it; the other processes keep an offset of 0 (the
# log's stamps stay true). Every wait of a Wine process is timed by the server.
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"


@pytest.fixture(scope="session")
def clock_prefix(fresh_prefix, out, built):
    """A prefix whose server's clock a test moves on, and the file that says by how much."""
    prefix = copy_prefix(fresh_prefix, out, "clock-prefix", "mscoree,mshtml=", built)
    prefix.install([built.probes / "holder.exe"], "tools")
    prefix.reg_add(r"HKCU\Software\Wine\Debug", "RelayInclude",
                   "kernel32.WaitForSingleObject;kernelbase.WaitForSingleObject;"
                   "hid.HidD_GetHidGuid")
    offset = out / "clock-offset.txt"
    offset.write_text("+0\n")
    # The server of the set-up ends; the one started now serves every later process there.
    prefix.stop()
    subprocess.run(["wineserver", "-p"], check=True, env=dict(
        prefix.env, LD_PRELOAD=FAKETIME, FAKETIME_TIMESTAMP_FILE=str(offset), FAKETIME_NO_CACHE="1"))
    prefix.env.update(LD_PRELOAD=FAKETIME, FAKETIME="+0")
    yield prefix, offset
    prefix.stop()


def keep_wine_up(prefix, built, system_dlls):
    """The given stand-ins in the prefix's system directory, used by the program's runs alone.

    A native DLL in the system directory wins over Wine's own by default: the registry makes
    Wine's own the default again for the prefix, and the program's runs override that in their
    environment, which takes precedence. Wine's own processes start now, with Wine's own DLLs,
    and stay until the end: none of them is started from a run of the program, whose environment
    would hand them the stand-ins."""
    for dll in system_dlls:
        shutil.copy(dll, prefix.drive_c / "windows/system32")
    for dll in ("hid", "setupapi", "cfgmgr32", "newdev"):
        prefix.reg_add(r"HKCU\Software\Wine\DllOverrides", dll, "builtin")
    prefix.install([built.probes / "wine_keeper.exe"], "tools")
    keeper = prefix.out / f"keeper-{prefix.path.name}.txt"
    with open(keeper, "wb") as output:
        subprocess.Popen(["wine", r"C:\tools\wine_keeper.exe"], env=prefix.env, stdout=output,
                         stderr=subprocess.STDOUT)
    for _ in range(300):
        if keeper.read_bytes().startswith(b"ready"):
            break
        subprocess.run(["sleep", "0.2"])
    assert keeper.read_bytes().startswith(b"ready"), f"Wine's own processes are up: {keeper}"


class Touchpad:
    """The virtual touchpad installed in its prefix; touchpad_tool.exe sets it up and reads its
    record. Runs started after a set-up share the one touchpad, and its record, until the next."""

    DLLS = "mscoree,mshtml=;cfgmgr32,newdev=n"
    LOADS = dict(builtin={"hid.dll", "setupapi.dll"}, stand_ins={"cfgmgr32.dll", "newdev.dll"})

    def __init__(self, prefix, image):
        self.prefix, self.image = prefix, image

    def start(self, name, *args, **program):
        """A run with a log file in its own folder (silent when args say /S)."""
        return self.prefix.start(name, *args, f"/vLOGFILE=C:\\runs\\{name}\\fw.log",
                                 dlls=self.DLLS, **program)

    def finish(self, run, status, irregular=()):
        """Waits for the run, then reads the touchpad's record: the touchpad judged the host's
        timing in real time, and a run must leave nothing irregular (but what the machine's own
        faults make the simulator see too: `irregular`)."""
        finish(run, status, **self.LOADS)
        record = self.read(run.name)
        assert sorted(record.irregularities) == sorted(irregular), \
            f"{run.name}: the touchpad saw the host do what a careful host never does"

    def tool(self, *args):
        status, said = self.prefix.wine(r"C:\tools\touchpad\touchpad_tool.exe", *args, timeout=180,
                                        stderr=subprocess.STDOUT)
        with open(self.prefix.out / "touchpad.txt", "a") as kept:
            kept.write(f"> touchpad_tool {' '.join(args)[:200]}: status {status}\n{said}")
        return status, said

    def set_up(self, *options):
        """Builds the machine the options of fwupdate-sim describe; waits until Wine shows it.
        A set-up that fails is made once more: once in five full runs the tool ended with status 1
        and said nothing, a fault of the test's world, not of the program (touchpad.txt keeps both
        attempts)."""
        status, said = self.tool("set-up", *options)
        if status != 0:
            status, said = self.tool("set-up", *options)
        assert status == 0, f"the touchpad is set up as {options}: status {status}, {said[-2000:]}"

    def record(self, name):
        """Once Wine has settled, the touchpad's record and flash in C:\\e2e\\NAME."""
        assert self.tool("wait")[0] == 0, f"{name}: the touchpad settled"
        return self.read(name)

    def read(self, name):
        assert self.tool("record", f"C:\\e2e\\{name}")[0] == 0, f"{name}: its record was read"
        return Record(self.prefix.drive_c / "e2e" / name, self.image)


@pytest.fixture(scope="session")
def touchpad(fresh_prefix, out, built, image):
    """Layer 1: the virtual touchpad on Wine's own HID stack. Only the configuration manager's
    calls that Wine 8 lacks go to stand-ins (cfgmgr32.dll, newdev.dll), for the program alone."""
    prefix = copy_prefix(fresh_prefix, out, "touchpad-prefix",
                         "mscoree,mshtml=;hid,setupapi,cfgmgr32,newdev=b", built)
    keep_wine_up(prefix, built, [built.touchpad / "cfgmgr32.dll", built.touchpad / "newdev.dll"])
    prefix.install([built.touchpad / name for name in ("fwu_e2e_bus.sys", "fwu_e2e_hid.sys",
                                                       "fwu_e2e_touchpad.inf", "touchpad_tool.exe")]
                   + [built.probes / "report_probe.exe"], "tools/touchpad")
    pad = Touchpad(prefix, image)
    assert pad.tool("install", r"C:\tools\touchpad")[0] == 0, "drivers installed, the bus answers"
    yield pad
    prefix.stop()


@pytest.fixture(scope="session")
def standins(fresh_prefix, out, built):
    """Layer 2: stand-ins of all four device DLLs on the simulated machine (e2e_world.dll)."""
    prefix = copy_prefix(fresh_prefix, out, "standins-prefix",
                         "mscoree,mshtml=;hid,setupapi,cfgmgr32,newdev=b", built)
    keep_wine_up(prefix, built, [built.standins / f"{dll}.dll" for dll in
                                 ("e2e_world", "hid", "setupapi", "cfgmgr32", "newdev")])
    prefix.install([built.probes / "standin_probe.exe"], "tools")
    yield prefix
    prefix.stop()

