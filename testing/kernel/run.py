#!/usr/bin/env python3
"""Tests on a real kernel (testing/kernel/README.md): boots Debian's kernel under QEMU with the
virtual touchpad behind uhid and runs every case in one boot; prints a PASS or FAIL line per case
(a REFUSED line for each machine the kernel world cannot make real), then "N passed, N failed"
and the boot's seconds. Exit status 0 when nothing failed.

  run.py --build build/linux [--fwupdate build/linux-release/fwupdate] [--out build/kernel]

Without --fwupdate only the world's own cases run (the virtual touchpad seen through the
kernel's hidraw by hidraw-probe)."""

import argparse
import subprocess
import sys
import time
from pathlib import Path

import world
from world import case_script

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

WORLD_CASES = {}


def world_case(body):
    def register(check):
        WORLD_CASES[check.__name__] = (body, check)
        return check
    return register


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
def touchpad_through_the_kernel(found, problems):
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
def failed_calls_fail_with_eio(found, problems):
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
def bootloader_appears_under_its_own_product(found, problems):
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
def machines_without_the_firmware(found, problems):
    expect(found, "ready", ["hidraw", "no device"], problems)
    expect(found, "bootloader-status", "0", problems)
    expect(found, "firmware-status", "1", problems)
    expect(found, "none-status", "1", problems)


# ---- The run -----------------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build/linux")
    parser.add_argument("--fwupdate", type=Path)
    parser.add_argument("--out", type=Path, default=ROOT / "build/kernel")
    options = parser.parse_args()
    options.out.mkdir(parents=True, exist_ok=True)

    image = options.out / "image.bin"
    subprocess.run([options.build / "tools/fwimage", "-o", image, ROOT / "resources/firmware.hex"],
                   check=True, stdout=subprocess.DEVNULL)
    kernel = world.Kernel(options.out / "kernel").fetch()
    cases = {name: (body, check) for name, (body, check) in WORLD_CASES.items()}
    programs = {"kernel-touchpad": options.build / "testing/kernel/kernel-touchpad",
                "hidraw-probe": options.build / "testing/kernel/hidraw-probe"}
    script = "".join(case_script(name, body) for name, (body, _) in cases.items())
    initramfs = world.build_initramfs(kernel, options.out, programs, {"image.bin": image}, script)
    console, seconds = world.boot(kernel, initramfs, options.out / "console.txt")
    found = world.results(console)

    passed = failed = 0
    if "end" not in found["-"]:
        print(f"FAIL boot: the cases did not run to their end (console: {options.out}/console.txt)")
        failed += 1
    for module in found["-"].get("insmod-failed", []):
        print(f"FAIL boot: insmod {module}")
        failed += 1
    for name, (_, check) in cases.items():
        problems = []
        check(found.get(name, {}), problems)
        if problems:
            failed += 1
            print(f"FAIL {name}: " + "; ".join(problems))
        else:
            passed += 1
            print(f"PASS {name}")
    print(f"{passed} passed, {failed} failed (one boot, {seconds:.1f} s; kernel "
          f"{kernel.modules.name})")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
