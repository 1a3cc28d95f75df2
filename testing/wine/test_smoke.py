"""The real program under Wine without a touchpad: its no-device road for real, through the real
Windows backend, with DLLs planted beside it; and the backend calls that road does not reach."""

import shutil
import subprocess
import time

import pytest

from checks.loads import base, program_loads
from wine import CAPTION, NO_DEVICE, NO_DEVICE_LINE, box, box_text, screenshot, visible_windows

# Planted beside the program under the names of DLLs it loads: hid.dll at run time (it must take
# the system's), and what the stack protector's start-up once loaded through CryptoAPI before
# WinMain limits the DLL search. cfgmgr32.dll and newdev.dll are mapped into every Wine process before
# the program runs, so a planted copy of them would prove nothing here.
CRYPTOAPI = ["bcrypt.dll", "crypt32.dll", "rsaenh.dll"]
PLANTED = ["hid.dll", *CRYPTOAPI]
WINE_TAKES_ITS_OWN = ("Wine 8 maps its own code for this name even from the program's folder, so "
                      "no plant of it can run there; the load trace shows the folder instead")


@pytest.fixture(scope="module")
def planted(smoke_prefix, built):
    """The planted DLLs: each writes its path to C:\\planted.txt and ends the process with 66."""
    for dll in PLANTED:
        shutil.copy(built.probes / "planted.dll", smoke_prefix.drive_c / "fwupdate" / dll)
    yield smoke_prefix.drive_c / "planted.txt"


@pytest.mark.parametrize("dll", ["hid.dll", *(pytest.param(dll, marks=pytest.mark.xfail(
    strict=True, reason=WINE_TAKES_ITS_OWN)) for dll in CRYPTOAPI)])
def test_plain_search_takes_a_dll_planted_beside_the_program(smoke_prefix, planted, dll):
    # Without it the runs below could pass only because this Wine never looks in the folder.
    status, _ = smoke_prefix.wine(r"C:\fwupdate\load_probe.exe", dll)
    planted.unlink(missing_ok=True)
    assert status == 66


@pytest.fixture(scope="module")
def silent_run(smoke_prefix, planted):
    """A silent run with a log file, watched for windows; its trace marks the moment the program
    limits its DLL search (a relay trace of that one call)."""
    smoke_prefix.reg_add(r"HKCU\Software\Wine\Debug", "RelayInclude",
                         "kernel32.SetDefaultDllDirectories;kernelbase.SetDefaultDllDirectories")
    run = smoke_prefix.start("silent-no-device", "/S", r"/vLOGFILE=C:\fwlogs\run.log",
                             dlls="mscoree,mshtml=", debug="+loaddll,+relay")
    seen = []
    while run.process.poll() is None:
        seen += visible_windows()
        time.sleep(0.1)
    run.finish()
    return run, seen


def test_silent_run_without_a_touchpad_shows_nothing_and_logs_why(smoke_prefix, planted,
                                                                  silent_run):
    run, seen = silent_run
    assert seen == []
    assert run.status == NO_DEVICE
    assert not planted.exists(), planted.read_text()
    assert not run.log_problems(NO_DEVICE_LINE, log=smoke_prefix.drive_c / "fwlogs/run.log")


def test_nothing_loaded_before_the_dll_search_is_limited_comes_from_the_program_folder(
        silent_run, out):
    loads = program_loads(silent_run[0].trace, "fwupdate.exe")
    limited = [index for index, (_, kind) in enumerate(loads) if kind is None]
    assert limited, "the trace shows the program limit its DLL search"
    early = [path for path, _ in loads[:limited[0]] if base(path) != "fwupdate.exe"]
    (out / "loaded-before-the-search-is-limited.txt").write_text("\n".join(early) + "\n")
    # Wine keeps no list of known DLLs: what it loads by a system path shows that path.
    wrong = [path for path in early if not path.lower().startswith("c:\\windows\\system32\\")]
    assert not wrong
    # The stack protector's start-up once loaded these through CryptoAPI; it loads nothing now.
    assert not {base(path) for path in early} & set(CRYPTOAPI)


def test_interactive_run_without_a_touchpad_shows_the_error_box(smoke_prefix, planted, out):
    run = smoke_prefix.start("box-no-device", r"/vLOGFILE=C:\fwlogs\box.log",
                             dlls="mscoree,mshtml=")
    window = subprocess.run(["timeout", "60", "xdotool", "search", "--sync", "--onlyvisible",
                             "--name", f"^{CAPTION}$"], stdout=subprocess.PIPE, text=True).stdout
    assert window, "the error box appears"
    # The same look-out that found nothing in the silent run.
    assert CAPTION in visible_windows()
    assert box(smoke_prefix) == box_text(
        r"ERROR: No eligible devices have been found!\n\nThe firmware has not been updated.", "OK")
    assert screenshot(out / "error-box.png").stat().st_size > 0
    subprocess.run(["timeout", "30", "xdotool", "windowfocus", "--sync", window.split()[0],
                    "key", "Return"])
    assert run.finish() == NO_DEVICE
    assert not planted.exists(), planted.read_text()
    assert not run.log_problems(NO_DEVICE_LINE, log=smoke_prefix.drive_c / "fwlogs/box.log")


def test_backend_calls_the_no_device_road_does_not_reach(smoke_prefix, out):
    status, said = smoke_prefix.wine(r"C:\tools\backend_probe.exe")
    (out / "backend_probe.txt").write_text(said)
    print(said)
    assert status == 0, said
    assert smoke_prefix.default_value(r"SOFTWARE\FwuSmoke\Inventory") == "17"
    assert smoke_prefix.default_value(r"SOFTWARE\FwuSmoke\View") == "Touchpad"
