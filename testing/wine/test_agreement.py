"""Sim and Wine agree: each machine of the table, run silently through fwupdate-sim on the
simulated machine and through the real program on the virtual touchpad under Wine, ends with the
same exit code, the same log lines (stamps and the program's path aside), the same end state of
the touchpad (mode, version, whether the flash holds the image) and the same irregularities the
touchpad saw (Touchpad.finish). The table holds every machine option the bus accepts and the
failure of each command the program sends or reads."""

import re
import subprocess

import pytest

from wine import Record

# name: the machine options, as fwupdate-sim and the bus take them.
MACHINES = {
    "normal": [],
    "bootloader": ["--device", "bootloader"],
    "none": ["--device", "none"],
    # Wine, as Windows does, starts the repaired transport device and its HID interface after the
    # enable has returned, in its own time: the program looks for the touchpad for up to 5 s.
    # --appear-ms makes that time longer, on the bus as on the simulated machine.
    "after_repair": ["--device", "after-repair"],
    "after_repair_appears_late": ["--device", "after-repair", "--appear-ms", "2000"],
    "same_version": ["--version", "17"],
    "newer_version": ["--version", "18"],
    "big_endian": ["--big-endian"],
    "info_short": ["--info-bytes", "20"],
    "protocol_7_ignores_its_timing": ["--protocol", "7", "--erase-delay", "5", "--write-rate", "1"],
    "protocol_8_slow_erase": ["--protocol", "8", "--erase-delay", "90"],
    "protocol_8_slow_write": ["--protocol", "8", "--write-rate", "30"],
    "foreign_signature": ["--signature", "0x1234"],
    "slow_boot": ["--boot-ms", "60"],
    "slow_format": ["--busy-ms", "format-image:150"],
    "busy_after_format_region": ["--busy", "format-region:2"],
    "never_valid": ["--image-never-valid"],
    "restart_fails": ["--restart", "fail"],
    "stale_repaired": ["--stale", "ok"],
    "stale_repaired_restart_fails": ["--stale", "ok", "--restart", "fail"],
    "stale_stays": ["--stale", "fail"],
    "stale_none": ["--stale", "none", "--restart", "ok"],
    **{f"fails_{command.replace('-', '_')}": ["--fail", command] for command in (
        "status", "info", "reset", "invoke", "format-image", "format-region", "write", "flush",
        "validate")},
    "fails_later_write": ["--fail", "write:5"],
    # The request for the device information goes out; its answer cannot be read.
    "fails_info_read": ["--fail", "info:2"],
}


def run_sim(sim, options, name, folder):
    """fwupdate-sim on the machine, in a folder of its own that stands for drive C: its exit
    code, the touchpad's end state (--state) and what the touchpad saw."""
    (folder / "C:" / "runs" / name).mkdir(parents=True)
    done = subprocess.run([sim, "--fast", "--state", ".", *options, "--", "/S",
                           f"/vLOGFILE=C:\\runs\\{name}\\fw.log"], cwd=folder, text=True,
                          stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    (folder / "sim.txt").write_text(done.stdout)
    saw = re.findall(r"^touchpad saw: (.*)$", done.stdout, re.MULTILINE)
    return done.returncode, folder / "C:" / "runs" / name / "fw.log", saw


def program_lines(log):
    """The log's lines without the stamps and the command line, which names the program's path."""
    lines = log.read_text().replace("\r", "").splitlines() if log.exists() else ["(no log)"]
    return [line for line in lines[2:] if not re.match(r"(Executed|Completed) \d{4}/", line)]


def end_state(record):
    mode = [line for line in record.lines if line.startswith(("mode ", "version "))]
    return sorted(mode), record.flash_is_image()


@pytest.mark.parametrize("name", MACHINES)
def test_sim_and_wine_agree(touchpad, built, out, image, name):
    options, name = MACHINES[name], "agree_" + name
    # fwupdate-sim is built by the linux preset beside fwimage.
    folder = out / "sim" / name
    status, sim_log, saw = run_sim(built.fwimage.parent / "fwupdate-sim", options, name, folder)
    touchpad.set_up(*options)
    run = touchpad.start(name, "/S")
    touchpad.finish(run, None, irregular=saw)
    record = touchpad.record(name)
    # One comparison, so that a disagreement shows every part of it.
    wine = run.status, program_lines(run.folder / "fw.log"), end_state(record)
    sim = status & 255, program_lines(sim_log), end_state(Record(folder, image))
    assert wine == sim, sorted(line for line in record.lines if line.startswith("node "))
