"""The real program under Wine without a touchpad: its no-device road for real, through the real
Windows backend, with DLLs planted beside it; and the backend calls that road does not reach."""

import os
import re
import shutil
import subprocess
import time

import pytest

from checks.loads import base, program_loads
from checks.log_file import log_problems
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
                         "kernel32.SetDefaultDllDirectories;kernelbase.SetDefaultDllDirectories;"
                         "kernel32.SetProcessMitigationPolicy;kernelbase.SetProcessMitigationPolicy")
    # fixme+process: Wine's own word on what it does with the mitigation policies.
    run = smoke_prefix.start("silent-no-device", "/S", r"/vLOGFILE=C:\fwlogs\run.log",
                             dlls="mscoree,mshtml=", debug="+loaddll,+relay,fixme+process")
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


RELAY_CALL = re.compile(r"^([0-9a-f]+):(Call|Ret) +(?:KERNEL32|KERNELBASE)\.(\w+)\((.*?)\)"
                        r"(?: retval=(\w+))?")


def test_image_load_policy_is_set_beside_the_dll_search(silent_run, out):
    # The program's calls, as the relay trace shows them (a forwarded function shows once for
    # kernel32 and once for kernelbase): the search limited to System32 (0x800), then the image
    # load policy (ProcessImageLoadPolicy, 10; the policy's 4 bytes), then Redirection Guard (16).
    # The policy's flags are behind the pointer: scripts/check-windows-exe.sh reads them from the
    # code.
    lines = silent_run[0].trace.read_text(errors="replace").splitlines()
    # The thread that loaded the program (Wine starts it there) made the calls; others of the
    # trace (Wine's own services) are not the program's.
    main = {line.split(":")[0] for line in lines
            if re.search(r':trace:loaddll:\w+ Loaded L".*\\\\fwupdate\.exe"', line)}
    assert len(main) == 1, main
    calls, answers = [], []
    for line in lines:
        match = RELAY_CALL.match(line)
        if not match or match.group(1) not in main:
            continue
        if match.group(2) == "Call":
            name, args = match.group(3), match.group(4).split(",")
            if name == "SetProcessMitigationPolicy":
                args[1] = "POINTER"
            if not calls or calls[-1] != (name, args):
                calls.append((name, args))
        elif match.group(3) == "SetProcessMitigationPolicy":
            answers.append(match.group(5))
    said = [line for line in lines if "SetProcessMitigationPolicy" in line]
    (out / "image-load-policy.txt").write_text("\n".join(said) + "\n")
    assert calls == [("SetDefaultDllDirectories", ["00000800"]),
                     ("SetProcessMitigationPolicy", ["0000000a", "POINTER", "00000004"]),
                     ("SetProcessMitigationPolicy", ["00000010", "POINTER", "00000004"])]
    # Wine 8 accepts every policy and enforces none (its FIXME line is in the file above): the
    # refusals themselves are not shown here.
    assert answers and all(int(answer, 16) == 1 for answer in answers)


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


# ---- The log path's forms ---------------------------------------------------------------------

# The /vLOGFILE path, and where below C:\ the log must be (None: nowhere). Each run's current
# directory is C:\runs\NAME. (The program ends a log path at "-": the names have none.) Wine 8
# shows a Unix symlink as a plain directory: the program goes through it as through any.
LOG_PATHS = {
    "verbatim_log_path": (r"\\?\C:\fwlogs\verbatim.log", "fwlogs/verbatim.log"),
    "log_path_from_the_current_drives_root": (r"\fwlogs\rooted.log", "fwlogs/rooted.log"),
    "log_path_with_dot_dot_is_taken_by_its_names": (r"C:\fwlogs\dots\sub\..\dots.log",
                                                    "fwlogs/dots/dots.log"),
    "relative_log_path_above_the_current_folder": (r"..\relative_up.log", "runs/relative_up.log"),
    "log_path_through_a_directory_symlink": (r"C:\fwlogs\linked\fw.log", "fwlogs/target/fw.log"),
    "log_path_with_an_invalid_name_logs_nothing": (r"C:\fwlogs\bad|name\fw.log", None),
    "log_path_on_a_share_that_is_not_there_logs_nothing": (r"\\nohost\share\fw.log", None),
    "log_path_without_a_file_name_logs_nothing": (r"\\?\C:", None),
    # Names as Windows reads them in a whole path, though the program opens each by itself.
    "trailing_dots_are_dropped_as_windows_drops_them": (r"C:\fwlogs\dotted.\fw.log.",
                                                        "fwlogs/dotted/fw.log"),
    "log_path_ending_in_a_separator_makes_nothing": (r"C:\fwlogs\trailing" + "\\", None),
    "device_as_the_log_makes_nothing": ("NUL", None),
    "device_with_an_extension_makes_nothing": (r"C:\fwlogs\nul.txt", None),
    "device_as_a_folder_makes_nothing": (r"C:\fwlogs\con\fw.log", None),
    "port_with_an_extension_makes_nothing": (r"C:\fwlogs\Com1.log", None),
    "port_name_with_a_letter_is_an_ordinary_file": (r"C:\fwlogs\comX.log", "fwlogs/comX.log"),
    "folder_ending_in_two_dots_makes_nothing": (r"C:\fwlogs\twodots..\fw.log", None),
    "verbatim_path_with_a_trailing_dot_makes_nothing": (r"\\?\C:\fwlogs\verbatim.\fw.log", None),
}


def everything_below(*folders):
    return {path for folder in folders if folder.exists() for path in folder.rglob("*")}


@pytest.mark.parametrize("name", LOG_PATHS)
def test_log_path(smoke_prefix, name):
    path, lands = LOG_PATHS[name]
    fwlogs = smoke_prefix.drive_c / "fwlogs"
    folder = smoke_prefix.drive_c / "runs" / name
    folder.mkdir(parents=True, exist_ok=True)
    if name == "log_path_through_a_directory_symlink":
        (fwlogs / "target").mkdir(parents=True)
        (fwlogs / "linked").symlink_to("target")
    before = everything_below(fwlogs, folder)
    files_before = files_below(smoke_prefix.path)
    run = smoke_prefix.start(name, "/S", f"/vLOGFILE={path}", dlls="mscoree,mshtml=")
    assert run.finish() == NO_DEVICE
    made = everything_below(fwlogs, folder) - before
    if lands:
        assert not run.log_problems(NO_DEVICE_LINE, log=smoke_prefix.drive_c / lands)
        if "runs" not in lands:
            log = smoke_prefix.drive_c / lands
            assert made == {log, *(p for p in log.parents if p in made)}, "nothing else made"
    else:
        assert made == set(), "nothing made on the way"
        assert not logs_written(files_before, files_below(smoke_prefix.path)), \
            "nothing logged anywhere"


def files_below(root):
    """Every file below ROOT (a prefix; links not followed) with the time it was last changed."""
    found = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            try:
                found[path] = os.lstat(path).st_mtime_ns
            except OSError:
                pass
    return found


def logs_written(before, after):
    """The files made or changed between the two looks that hold a line of the program's log."""
    found = []
    for path, changed in after.items():
        if before.get(path) == changed or os.path.islink(path):
            continue
        try:
            with open(path, "rb") as file:
                text = file.read()
        except OSError:
            continue
        if b"Running program" in text or NO_DEVICE_LINE.encode() in text:
            found.append(path)
    return found


def test_command_line_without_quotes_finds_its_switches(smoke_prefix):
    # As a deployment tool may start it: cmd passes the command line as typed, the program's path
    # unquoted.
    command = r"C:\fwupdate\fwupdate.exe /S /vLOGFILE=C:\fwlogs\unquoted.log"
    started = int(time.time())
    status, _ = smoke_prefix.wine("cmd", "/c", command, WINEDLLOVERRIDES="mscoree,mshtml=")
    assert status == NO_DEVICE
    assert not log_problems(smoke_prefix.drive_c / "fwlogs/unquoted.log", command, started,
                            time.time(), [NO_DEVICE_LINE])


# ---- When another process got there first ----------------------------------------------------

@pytest.fixture(scope="module")
def holder(smoke_prefix, built):
    """Starts probes/holder.cpp: it takes the run mutex or a file and holds it until its input
    is closed."""
    smoke_prefix.install([built.probes / "holder.exe"], "tools")
    # A relay trace of the program's wait for the run mutex shows what the wait returned.
    smoke_prefix.reg_add(r"HKCU\Software\Wine\Debug", "RelayInclude",
                         "kernel32.SetDefaultDllDirectories;kernelbase.SetDefaultDllDirectories;"
                         "kernel32.WaitForSingleObject;kernelbase.WaitForSingleObject")

    def start(*args, prefix=smoke_prefix):
        process = subprocess.Popen(["timeout", "120", "wine", r"C:\tools\holder.exe", *args],
                                   env=prefix.env, stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        said = process.stdout.readline().decode(errors="replace").strip()
        if said != "held":
            process.kill()
        assert said == "held", f"holder {args}: {said}"
        return process

    return start


def waits_for_the_run_mutex(trace):
    """What each of the program's waits for the run mutex (10 minutes, 0x927C0 ms) returned."""
    lines = trace.read_text(errors="replace").splitlines()
    results = []
    for index, line in enumerate(lines):
        call = re.match(r"^([0-9a-f]+):Call \w+\.WaitForSingleObject\(\w+,000927c0\)", line)
        if call:
            results += [re.search(r"retval=(\w+)", later).group(1) for later in lines[index:]
                        if re.match(call.group(1) + r":Ret  \w+\.WaitForSingleObject\(", later)][:1]
    return results


PROGRAMS_MUTEX = "O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)"  # as platform/win32/process_win32.cpp makes it
# The security the holder gives the run mutex, whether it ends holding it, and what the program's
# wait for it returns: WAIT_OBJECT_0 once the holder releases it, WAIT_ABANDONED (0x80) once the
# holder ends holding it, or no wait at all.
MUTEX_TAKEN_FIRST = {
    "abandoned_run_mutex_is_taken_when_its_holder_ends": ([PROGRAMS_MUTEX, "abandon"],
                                                          ["00000080"]),
    # Wine runs every process as one account: an owner of the holder's choosing stands for a
    # mutex that another account made.
    "run_mutex_owned_by_an_untrusted_account_is_not_waited_for": (["O:WDD:P(A;;GA;;;WD)"], []),
    "run_mutex_that_denies_the_program_is_not_waited_for": (
        ["O:BAD:P(D;;GA;;;WD)(A;;GA;;;SY)(A;;GA;;;BA)"], []),
    # A deny entry for another account leaves it the trusted accounts' own: waited for.
    "run_mutex_denying_another_account_is_waited_for": (
        ["O:BAD:P(D;;GA;;;AN)(A;;GA;;;SY)(A;;GA;;;BA)"], ["00000000"]),
}


@pytest.mark.parametrize("name", MUTEX_TAKEN_FIRST)
def test_run_mutex_taken_first(smoke_prefix, holder, name):
    args, waits = MUTEX_TAKEN_FIRST[name]
    first = holder("mutex", *args)
    run = smoke_prefix.start(name, "/S", rf"/vLOGFILE=C:\fwlogs\{name}.log",
                             dlls="mscoree,mshtml=", debug="+relay")
    if waits:
        time.sleep(4)
        assert run.process.poll() is None, "the run waits while the holder holds the mutex"
    else:
        run.finish()
        assert first.poll() is None, "the run ended while the holder held the mutex"
    first.stdin.close()
    first.wait()
    assert run.finish() == NO_DEVICE
    assert not run.log_problems(NO_DEVICE_LINE, log=smoke_prefix.drive_c / f"fwlogs/{name}.log")
    assert waits_for_the_run_mutex(run.trace) == waits


STILL_GOING_ON = ("ERROR: Another run of the firmware update is still going on. The firmware has "
                  "not been updated.")


def looks_for_the_touchpad(trace):
    """Whether the run asked for the list of HID interfaces, as every look for the touchpad
    begins."""
    return re.search(r"Call hid\.HidD_GetHidGuid\(", trace.read_text(errors="replace")) is not None


def test_run_mutex_held_for_ever_is_waited_for_10_minutes_then_the_run_ends_untouched(
        clock_prefix, holder):
    prefix, offset = clock_prefix
    first = holder("mutex", PROGRAMS_MUTEX, prefix=prefix)
    name = "run_mutex_held_for_ever"
    run = prefix.start(name, "/S", rf"/vLOGFILE=C:\runs\{name}\fw.log", dlls="mscoree,mshtml=",
                       debug="+relay")

    def move_clock_to(seconds):
        """The server's clock SECONDS on from where it started (and the few seconds the test
        takes); a run of cmd makes the server look at it and end every wait whose time is up."""
        offset.write_text(f"+{seconds}\n")
        for _ in range(5):
            prefix.wine("cmd", "/c", "exit")
            if run.process.poll() is not None:
                break

    time.sleep(4)
    assert run.process.poll() is None, "the run waits while the holder holds the mutex"
    move_clock_to(9 * 60)
    assert run.process.poll() is None, "9 minutes on, the run still waits"
    move_clock_to(11 * 60)
    assert run.finish() == NO_DEVICE
    assert first.poll() is None, "the holder held the mutex all along"
    first.stdin.close()
    first.wait()
    assert not run.log_problems(STILL_GOING_ON)
    assert waits_for_the_run_mutex(run.trace) == ["00000102"], "WAIT_TIMEOUT"
    assert not looks_for_the_touchpad(run.trace), "the run left the touchpad alone"
    # The same trace of a run that has the mutex shows its look for the touchpad.
    name = "run_mutex_free_again"
    again = prefix.start(name, "/S", rf"/vLOGFILE=C:\runs\{name}\fw.log", dlls="mscoree,mshtml=",
                         debug="+relay")
    assert again.finish() == NO_DEVICE
    assert not again.log_problems(NO_DEVICE_LINE)
    assert looks_for_the_touchpad(again.trace)


@pytest.mark.parametrize("name", ["log_path_names_a_folder", "log_file_held_without_sharing",
                                  "log_file_with_a_second_name"])
def test_log_that_cannot_be_appended_to_is_left_as_it_was(smoke_prefix, holder, name):
    folder = smoke_prefix.drive_c / "fwlogs" / name
    folder.mkdir(parents=True)
    log, first = folder / "fw.log", None
    if name == "log_path_names_a_folder":
        log.mkdir()
    else:
        log.write_bytes(b"earlier\r\n")
    if name == "log_file_with_a_second_name":
        os.link(log, folder / "second-name.log")
    if name == "log_file_held_without_sharing":
        first = holder("file", rf"C:\fwlogs\{name}\fw.log")
    run = smoke_prefix.start(name, "/S", rf"/vLOGFILE=C:\fwlogs\{name}\fw.log",
                             dlls="mscoree,mshtml=")
    assert run.finish() == NO_DEVICE
    if first:
        first.stdin.close()
        first.wait()
    if name == "log_path_names_a_folder":
        assert log.is_dir() and not list(log.iterdir())
    else:
        assert log.read_bytes() == b"earlier\r\n"


def test_log_file_held_open_by_a_reader_gets_every_line(smoke_prefix, holder):
    """Someone following the log in a viewer (reading, sharing writing) costs the run no line."""
    folder = smoke_prefix.drive_c / "fwlogs" / "read_while_logged"
    folder.mkdir(parents=True)
    log = folder / "fw.log"
    log.write_bytes(b"")
    reader = holder("read", r"C:\fwlogs\read_while_logged\fw.log")
    run = smoke_prefix.start("read_while_logged", "/S",
                             r"/vLOGFILE=C:\fwlogs\read_while_logged\fw.log",
                             dlls="mscoree,mshtml=")
    assert run.finish() == NO_DEVICE
    assert reader.poll() is None, "the reader held the log all along"
    reader.stdin.close()
    reader.wait()
    assert not run.log_problems(NO_DEVICE_LINE, log=log)

