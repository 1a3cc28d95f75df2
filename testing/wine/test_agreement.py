"""Sim and Wine agree: each machine of the table, run silently through fwupdate-sim on the
simulated machine and through the real program on the virtual touchpad under Wine, ends with the
same exit code, the same log lines (stamps and the program's path aside), the same end state of
the touchpad (mode, version, whether the flash holds the image) and the same irregularities the
touchpad saw (Touchpad.finish). The table holds every machine option the bus accepts and the
failure of each command the program sends or reads."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

from wine import Record

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from machines import MACHINES  # noqa: E402  (the table the kernel world runs too)



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
