#!/usr/bin/env python3
"""Tests on a real kernel (testing/kernel/README.md): boots Debian's kernel under QEMU with the
virtual touchpad behind uhid and runs every case in one boot; prints a PASS or FAIL line per case
(a REFUSED line for each machine the kernel world cannot make real), then "N passed, N failed"
and the boot's seconds. Exit status 0 when nothing failed.

  run.py --build build/linux [--fwupdate build/linux-release/fwupdate] [--out build/kernel]
         [--only REGEX]

Without --fwupdate only the world's own cases run (the virtual touchpad seen through the
kernel's hidraw by hidraw-probe)."""

import argparse
import re
import shutil
import subprocess
from types import SimpleNamespace
import sys
from pathlib import Path

import world
from world import case_script

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from machines import MACHINES  # noqa: E402  (the table the Wine world runs too)

ROOT = Path(__file__).resolve().parents[2]


def expect(found, key, wanted, problems):
    """The values reported under `key` are exactly `wanted` (a list, or one value)."""
    wanted = wanted if isinstance(wanted, list) else [wanted]
    if found.get(key, []) != wanted:
        problems.append(f"{key}: {found.get(key, [])} != {wanted}")


def contains(found, key, wanted, problems):
    if wanted not in found.get(key, []):
        problems.append(f"{key}: {wanted!r} not in {found.get(key, [])}")


# ---- The world's own cases: what the kernel shows of the virtual touchpad ---------------------

def registrar(table):
    """A decorator for the cases of TABLE: the shell BODY runs in the boot, the function checks
    what it found, and the case is named after the function."""
    def case(body):
        def register(check):
            table[check.__name__] = (body, check)
            return check
        return register
    return case


WORLD_CASES = {}
world_case = registrar(WORLD_CASES)


@world_case(r"""
tp_start
node=$(wait_node 1042)
run identity hidraw-probe identity $node
run status hidraw-probe status $node
run info hidraw-probe info $node
# A buffer shorter than the report: the kernel hands over what fits and says nothing.
run short hidraw-probe status $node 100
dev=$(hid_device $node)
emit uevent "$(grep HID_ID /sys/bus/hid/devices/$dev/uevent)"
emit driver "$(basename "$(readlink /sys/bus/hid/devices/$dev/driver)")"
emit input-version "$(cat /sys/bus/hid/devices/$dev/input/input*/id/version)"
emit parent "$(readlink -f /sys/bus/hid/devices/$dev/..)"
# The driver lets go: the node is gone at once; bound again, it comes back.
echo $dev > /sys/bus/hid/drivers/hid-generic/unbind
run unbound hidraw-probe find 1042
echo $dev > /sys/bus/hid/drivers/hid-generic/bind
node=$(wait_node 1042)
run again hidraw-probe status $node
tp_stop
""")
def touchpad_through_the_kernel(found, problems, image):
    expect(found, "ready", "hidraw", problems)
    expect(found, "identity", ["bus 0x18", "vendor 0x3A7C", "product 0x1042"], problems)
    expect(found, "status", ["got 531", "signature 0x5AC3", "protocol 9", "error 0",
                             "flags 0x10"], problems)
    expect(found, "info", ["sent 531", "got 531", "count 27", "info-vendor 0x3A7C",
                           "info-product 0x1042", "version 16"], problems)
    expect(found, "short", ["got 100", "signature 0x5AC3", "protocol 9", "error 0",
                            "flags 0x10"], problems)
    expect(found, "uevent", "HID_ID=0018:00003A7C:00001042", problems)
    expect(found, "driver", "hid-generic", problems)
    expect(found, "input-version", "0100", problems)
    expect(found, "parent", "/sys/devices/virtual/misc/uhid", problems)
    expect(found, "unbound-status", "1", problems)
    expect(found, "again-status", "0", problems)
    # The driver's bind started the device: it booted once more, into its firmware.
    expect(found, "touchpad", "transport starts 1", problems)
    expect(found, "record", ["mode firmware", "version 16", "flash-base 0x00000000"], problems)
    expect(found, "flash", "other", problems)
    expect(found, "saw", [], problems)


@world_case(r"""
tp_start --fail status:2
node=$(wait_node 1042)
run first hidraw-probe status $node
run second hidraw-probe status $node
tp_stop
tp_start --fail reset
node=$(wait_node 1042)
run reset hidraw-probe command $node 03
# A set of another length never reaches the device.
run short-set hidraw-probe command $node 08 0A 08 00 20 1B
tp_stop
""")
def failed_calls_fail_with_eio(found, problems, image):
    expect(found, "first", ["got 531", "signature 0x5AC3", "protocol 9", "error 0", "flags 0x10"],
           problems)
    expect(found, "first-status", "0", problems)
    expect(found, "second", "error get EIO", problems)
    expect(found, "second-status", "1", problems)
    expect(found, "reset", "error set EIO", problems)
    expect(found, "reset-status", "1", problems)


@world_case(r"""
tp_start
node=$(wait_node 1042)
run invoke hidraw-probe command $node 06
usleep 100000
run in-bootloader hidraw-probe status $node
# Format image: the image is no longer valid, so the next start is the bootloader's.
run format hidraw-probe command $node 04 00 01 00 00 00 00 FF FF FF 07
usleep 100000
run same-node hidraw-probe find 1042
dev=$(hid_device $node)
echo $dev > /sys/bus/hid/drivers/hid-generic/unbind
echo $dev > /sys/bus/hid/drivers/hid-generic/bind
node=$(wait_node d0c0)
run bootloader-node hidraw-probe identity $node
run firmware-node hidraw-probe find 1042
run bootloader-status hidraw-probe status $node
emit uevent "$(grep HID_ID /sys/bus/hid/devices/$(hid_device $node)/uevent)"
tp_stop
""")
def bootloader_appears_under_its_own_product(found, problems, image):
    expect(found, "invoke-status", "0", problems)
    expect(found, "in-bootloader", ["got 531", "signature 0xC35A", "protocol 9", "error 0",
                                    "flags 0x10"], problems)
    # Until the transport starts the device again the host sees the identity it read then.
    expect(found, "same-node-status", "0", problems)
    expect(found, "bootloader-node", ["bus 0x18", "vendor 0x3A7C", "product 0xD0C0"], problems)
    expect(found, "firmware-node-status", "1", problems)
    expect(found, "bootloader-status", ["got 531", "signature 0xC35A", "protocol 9", "error 0",
                                        "flags 0x00"], problems)
    expect(found, "uevent", "HID_ID=0018:00003A7C:0000D0C0", problems)
    expect(found, "touchpad", "transport starts 1", problems)
    expect(found, "record", ["mode bootloader", "version 0", "flash-base 0x00000000"], problems)


@world_case(r"""
tp_start --device bootloader
run bootloader hidraw-probe find d0c0
run firmware hidraw-probe find 1042
tp_stop
tp_start --device none
run none hidraw-probe find d0c0
tp_stop
""")
def machines_without_the_firmware(found, problems, image):
    expect(found, "ready", ["hidraw", "no device"], problems)
    expect(found, "bootloader-status", "0", problems)
    expect(found, "firmware-status", "1", problems)
    expect(found, "none-status", "1", problems)


# ---- The program on the virtual touchpad -------------------------------------------------------

PROGRAM_CASES = {}
program_case = registrar(PROGRAM_CASES)


def unchanged(found, problems):
    """Nothing was written: the touchpad runs its firmware 16 with its flash as it was."""
    expect(found, "record", ["mode firmware", "version 16", "flash-base 0x00000000"], problems)
    expect(found, "flash", "other", problems)


# The program cannot restart the touchpad's transport here: a uhid device hangs under the uhid
# misc device, which no driver holds, so it cannot be stopped. The update succeeds with the advice
# to restart the computer, and the device keeps the identity it had until something starts its
# transport again (a reboot; here the HID driver's unbind and bind).
RESTART_ADVISED = "Firmware update successful. The computer may need to be restarted."


@program_case(r"""
on_machine
node=$(wait_node 1042)
restart_by_hand $node
node=$(wait_node 1042)
run after hidraw-probe info $node
tp_stop
""")
def silent_update_16_to_17(found, problems, image):
    expect(found, "program-status", "1", problems)
    contains(found, "log", RESTART_ADVISED, problems)
    expect(found, "record", ["mode firmware", "version 17", f"flash-base {image.base}"], problems)
    expect(found, "flash", "image", problems)
    expect(found, "saw", [], problems)
    expect(found, "touchpad", "transport starts 1", problems)
    contains(found, "after", "version 17", problems)


@program_case(r"""
on_machine --device bootloader
run bootloader-after hidraw-probe find d0c0
node=$(wait_node d0c0)
restart_by_hand $node
node=$(wait_node 1042)
run firmware-after hidraw-probe info $node
run bootloader-gone hidraw-probe find d0c0
tp_stop
""")
def update_from_the_bootloader_reenumerates(found, problems, image):
    expect(found, "program-status", "1", problems)
    expect(found, "record", ["mode firmware", "version 17", f"flash-base {image.base}"], problems)
    expect(found, "flash", "image", problems)
    # Found under 0xD0C0 and updated; it keeps that identity until its transport starts it, and
    # then comes back under 0x1042 running the new firmware.
    expect(found, "bootloader-after-status", "0", problems)
    expect(found, "touchpad", "transport starts 1", problems)
    contains(found, "firmware-after", "info-product 0x1042", problems)
    contains(found, "firmware-after", "version 17", problems)
    expect(found, "bootloader-gone-status", "1", problems)


@program_case("on_machine --version 17; tp_stop")
def same_version_is_1004(found, problems, image):
    expect(found, "program-status", str(1004 & 255), problems)
    expect(found, "record", ["mode firmware", "version 17", "flash-base 0x00000000"], problems)
    expect(found, "touchpad", "transport starts 0", problems)


@program_case("on_machine --version 18; tp_stop")
def newer_version_is_1005(found, problems, image):
    expect(found, "program-status", str(1005 & 255), problems)
    expect(found, "record", ["mode firmware", "version 18", "flash-base 0x00000000"], problems)


@program_case("on_machine --device none; tp_stop")
def no_touchpad_is_1003(found, problems, image):
    expect(found, "ready", "no device", problems)
    expect(found, "program-status", str(1003 & 255), problems)


@program_case("on_machine --fail write:5; tp_stop")
def failed_write_leaves_the_bootloader(found, problems, image):
    expect(found, "program-status", str(1001 & 255), problems)
    # Nothing was flushed: the formatted region stays erased and the device in its bootloader.
    expect(found, "record", ["mode bootloader", "version 0", "flash-base 0x00000000"], problems)
    expect(found, "flash", "other", problems)
    contains(found, "log", "ERROR 16: Failed to write data. Firmware update failed.", problems)


# ---- The laptop's I2C and ACPI side (laptop-sysfs) ---------------------------------------------

LAPTOP_CASES = {}
laptop_case = registrar(LAPTOP_CASES)


UNBIND = "WRITE unbind i2c-TPD0001:00 -> "
BIND = "WRITE bind i2c-TPD0001:00 -> "
PROBE = "WRITE drivers_probe i2c-TPD0001:00 -> "


def updated(found, problems, image):
    expect(found, "record", ["mode firmware", "version 17", f"flash-base {image.base}"], problems)
    expect(found, "flash", "image", problems)
    expect(found, "saw", [], problems)


@laptop_case(r"""
tp_start
on_laptop
run after hidraw-probe find 1042
tp_stop
""")
def laptop_restart_through_i2c_hid_acpi(found, problems, image):
    expect(found, "laptop-client",
           "/sys/devices/pci0000:00/0000:00:15.0/i2c_designware.0/i2c-1/i2c-TPD0001:00", problems)
    expect(found, "program-status", "0", problems)
    contains(found, "log", "Firmware update successful.", problems)
    expect(found, "laptop", ["READY", UNBIND + "ok", BIND + "ok"], problems)
    expect(found, "client-driver", "/sys/bus/i2c/drivers/i2c_hid_acpi", problems)
    expect(found, "laptop-hidraw", "HID_ID=0018:00003A7C:00001042", problems)
    expect(found, "touchpad", "transport starts 1", problems)
    expect(found, "after-status", "0", problems)
    updated(found, problems, image)


@laptop_case(r"""
tp_start --device bootloader
on_laptop
run firmware-after hidraw-probe find 1042
run bootloader-after hidraw-probe find d0c0
tp_stop
""")
def laptop_restart_brings_the_firmware_identity(found, problems, image):
    # Found under the bootloader's product ID; the restart's bind starts it under the firmware's,
    # and the laptop's tree shows the new HID device below the client.
    expect(found, "program-status", "0", problems)
    expect(found, "laptop", ["READY", UNBIND + "ok", BIND + "ok"], problems)
    expect(found, "laptop-hidraw", "HID_ID=0018:00003A7C:00001042", problems)
    expect(found, "firmware-after-status", "0", problems)
    expect(found, "bootloader-after-status", "1", problems)
    updated(found, problems, image)


@laptop_case(r"""
tp_start
on_laptop --unbound
tp_stop
""")
def laptop_unbound_at_the_start(found, problems, image):
    # No touchpad at first: the repair of HID-over-I2C devices has the bus probe the unbound
    # client (it binds), stops and starts it; the touchpad is then found, updated and restarted.
    expect(found, "program-status", "0", problems)
    contains(found, "log", "Firmware update successful.", problems)
    expect(found, "laptop", ["READY", PROBE + "ok", UNBIND + "ok", BIND + "ok", UNBIND + "ok",
                             BIND + "ok"], problems)
    expect(found, "client-driver", "/sys/bus/i2c/drivers/i2c_hid_acpi", problems)
    expect(found, "laptop-hidraw", "HID_ID=0018:00003A7C:00001042", problems)
    expect(found, "touchpad", "transport starts 3", problems)
    updated(found, problems, image)


@laptop_case(r"""
tp_start
on_laptop --bind-fails 1
tp_stop
""")
def laptop_bind_refused_the_rescan_binds(found, problems, image):
    # The enable is refused; the re-enumeration (the bus's drivers_probe) binds the client.
    expect(found, "program-status", "0", problems)
    contains(found, "log", "Firmware update successful.", problems)
    expect(found, "laptop", ["READY", UNBIND + "ok", BIND + "No such device", PROBE + "ok"],
           problems)
    expect(found, "client-driver", "/sys/bus/i2c/drivers/i2c_hid_acpi", problems)
    expect(found, "touchpad", "transport starts 1", problems)
    updated(found, problems, image)


@laptop_case(r"""
tp_start
on_laptop --bind-fails 2
tp_stop
""")
def laptop_unbound_client_repaired(found, problems, image):
    # The restart leaves the client unbound (a problem); the repair of HID-over-I2C devices finds
    # it, has the bus probe it (now it binds), and stops and starts it once more.
    expect(found, "program-status", "0", problems)
    contains(found, "log", "Firmware update successful.", problems)
    expect(found, "laptop", ["READY", UNBIND + "ok", BIND + "No such device", PROBE + "ok",
                             PROBE + "ok", UNBIND + "ok", BIND + "ok"], problems)
    expect(found, "client-driver", "/sys/bus/i2c/drivers/i2c_hid_acpi", problems)
    expect(found, "touchpad", "transport starts 2", problems)
    updated(found, problems, image)


@laptop_case(r"""
tp_start
on_laptop --bind-fails 99
run after hidraw-probe find 1042
tp_stop
""")
def laptop_client_stays_unbound(found, problems, image):
    # Nothing binds it: the update stands, and the user is told a restart may be needed.
    expect(found, "program-status", "1", problems)
    contains(found, "log", RESTART_ADVISED, problems)
    expect(found, "client-driver", "", problems)
    laptop = found.get("laptop", [])
    if laptop[:3] != ["READY", UNBIND + "ok", BIND + "No such device"] or \
            any(not line.startswith(PROBE) for line in laptop[3:]) or len(laptop) < 4:
        problems.append(f"laptop: {laptop}")
    expect(found, "touchpad", "transport starts 0", problems)
    expect(found, "after-status", "1", problems)
    updated(found, problems, image)


@laptop_case(r"""
tp_start
on_laptop --unbind-fails
tp_stop
""")
def laptop_unbind_fails(found, problems, image):
    # The stop fails; the client still has its driver, so there is nothing to repair.
    expect(found, "program-status", "1", problems)
    contains(found, "log", RESTART_ADVISED, problems)
    expect(found, "laptop", ["READY", UNBIND + "EIO"], problems)
    expect(found, "client-driver", "/sys/bus/i2c/drivers/i2c_hid_acpi", problems)
    expect(found, "touchpad", "transport starts 0", problems)
    updated(found, problems, image)


# ---- Sim and kernel agree ---------------------------------------------------------------------



# The machines whose difference lies where a uhid device has nothing: its parent is the uhid misc
# device, not an I2C client bound to i2c_hid_acpi with an ACPI companion.
REFUSED_HERE = {"after_repair", "after_repair_appears_late", "restart_fails", "stale_repaired", "stale_repaired_restart_fails",
                "stale_stays"}
# What every machine of this world has besides its options: a transport the program cannot stop
# (see RESTART_ADVISED). On the simulated machine that is a transport whose every stop fails.
KERNEL_TRANSPORT = ["--break", "restart-disable"]


def program_lines(lines):
    """The log's lines without the stamps and the command line, which names the program."""
    lines = [line.rstrip("\r") for line in lines]
    return [line for line in lines[2:] if not re.match(r"(Executed|Completed) \d{4}/", line)]


def run_sim(sim, options, folder, image):
    """fwupdate-sim on the machine, silent: what the kernel case shows, in the same shape."""
    name = folder.name
    shutil.rmtree(folder, ignore_errors=True)
    (folder / "C:" / "runs" / name).mkdir(parents=True)
    done = subprocess.run([sim, "--fast", "--state", ".", *options, "--", "/S",
                           f"/vLOGFILE=C:\\runs\\{name}\\fw.log"], cwd=folder, text=True,
                          stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    log = folder / "C:" / "runs" / name / "fw.log"
    record = (folder / "record.txt").read_text().splitlines()
    flash = (folder / "flash.bin").read_bytes() == image.data
    return {"status": str(done.returncode & 255),
            "log": program_lines(log.read_text().splitlines() if log.exists() else ["(no log)"]),
            "record": record, "flash": "image" if flash else "other",
            "saw": re.findall(r"^touchpad saw: (.*)$", done.stdout, re.MULTILINE)}


def agreement(found):
    """The kernel case's findings in the shape of run_sim's."""
    return {"status": found.get("program-status", ["(none)"])[0],
            "log": program_lines(found.get("log", [])), "record": found.get("record", []),
            "flash": found.get("flash", ["(none)"])[0], "saw": found.get("saw", [])}


# ---- The run -----------------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build/linux")
    parser.add_argument("--fwupdate", type=Path)
    parser.add_argument("--out", type=Path, default=ROOT / "build/kernel")
    parser.add_argument("--only", help="run only the cases whose name matches this expression")
    options = parser.parse_args()
    options.build = options.build.resolve()
    options.out = options.out.resolve()
    options.out.mkdir(parents=True, exist_ok=True)

    image_file = options.out / "image.bin"
    text = subprocess.run([options.build / "tools/fwimage", "-o", image_file,
                           ROOT / "resources/firmware.hex"], check=True, stdout=subprocess.PIPE,
                          text=True).stdout
    base = re.search(r"^binary: .* from (0x[0-9A-F]{8})$", text, re.MULTILINE).group(1)
    image = SimpleNamespace(data=image_file.read_bytes(), base=base)
    kernel = world.Kernel(options.out / "kernel").fetch()

    cases = dict(WORLD_CASES)
    programs = {"kernel-touchpad": options.build / "testing/kernel/kernel-touchpad",
                "laptop-sysfs": options.build / "testing/kernel/laptop-sysfs",
                "hidraw-probe": options.build / "testing/kernel/hidraw-probe"}
    script = ""
    if options.fwupdate:
        programs["fwupdate"] = options.fwupdate
        # How the program is run silently with its log in a given file.
        script += 'program() { fwupdate --silent --log "$1"; }\n'
        cases.update(PROGRAM_CASES)
        cases.update(LAPTOP_CASES)
        for name, machine in MACHINES.items():
            cases["agree_" + name] = ("on_machine " + " ".join(machine) + "; tp_stop", None)
    if options.only:
        cases = {name: case for name, case in cases.items() if re.search(options.only, name)}
    script += "".join(case_script(name, body) for name, (body, _) in cases.items())
    initramfs = world.build_initramfs(kernel, options.out, programs, {"image.bin": image_file},
                                      script)
    console, seconds = world.boot(kernel, initramfs, options.out / "console.txt")
    found = world.results(console)

    passed = failed = refused = 0
    if "end" not in found["-"]:
        print(f"FAIL boot: the cases did not run to their end (console: {options.out}/console.txt)")
        failed += 1
    for module in found["-"].get("insmod-failed", []):
        print(f"FAIL boot: insmod {module}")
        failed += 1
    for name, (_, check) in cases.items():
        problems = []
        seen = found.get(name, {})
        if check is None:
            machine = name.removeprefix("agree_")
            reason = [line for line in seen.get("touchpad", []) if line.startswith("refused: ")]
            if machine in REFUSED_HERE and reason and seen.get("touchpad-status") == ["3"]:
                refused += 1
                print(f"REFUSED {name}: {reason[0].removeprefix('refused: ')}")
                continue
            if machine in REFUSED_HERE or reason:
                problems.append(f"refused {reason}, to be refused: {machine in REFUSED_HERE}")
            else:
                sim = run_sim(options.build / "tools/fwupdate-sim",
                              MACHINES[machine] + KERNEL_TRANSPORT,
                              options.out / "sim" / machine, image)
                kernel_side = agreement(seen)
                for key in sim:
                    if sim[key] != kernel_side[key]:
                        problems.append(f"{key}: sim {sim[key]} != kernel {kernel_side[key]}")
        else:
            check(seen, problems, image)
        if problems:
            failed += 1
            print(f"FAIL {name}: " + "; ".join(problems))
        else:
            passed += 1
            print(f"PASS {name}")
    print(f"{passed} passed, {failed} failed, {refused} refused (one boot, {seconds:.1f} s; "
          f"kernel {kernel.modules.name})")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
