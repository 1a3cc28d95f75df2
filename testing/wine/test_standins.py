"""Stand-ins of hid.dll, setupapi.dll, cfgmgr32.dll and newdev.dll (standins/) on the simulated
machine, for what Wine cannot show: the exact arguments of every call (a probe with each one
wrong), that the program leaves no handle, preparsed data or device list open on any road, the
simulated machine's decoys (another vendor's device with the touchpad's product ID and report 7,
the touchpad's collections without report 7) and a stale HID-over-I2C device that the removal
repairs. A run's machine comes from FWU_E2E_MACHINE, in the option syntax of fwupdate-sim."""

import subprocess

import pytest

from wine import (FAILED, NO_DEVICE, NO_DEVICE_LINE, RESTART_HINT, SAME_VERSION, SAME_VERSION_LINE,
                  SUCCESS_LINE, UPDATED, Record, finish)

DLLS = "mscoree,mshtml=;hid,setupapi,cfgmgr32,newdev=n"
LOADS = dict(native={"setupapi.dll", "e2e_world.dll"},
             stand_ins={"hid.dll", "setupapi.dll", "cfgmgr32.dll", "newdev.dll", "e2e_world.dll"})
CHECK_FAILED = 77  # a stand-in's check ends the process with it


def probe(standins, out, case, machine=""):
    status, said = standins.wine(r"C:\tools\standin_probe.exe", case, stderr=subprocess.STDOUT,
                                 FWU_E2E_DIR=r"C:\e2e\probe", FWU_E2E_MACHINE=machine,
                                 WINEDLLOVERRIDES=DLLS)
    with open(out / "probe.txt", "a") as kept:
        kept.write(f"== {case} {machine}: status {status}\n{said}\n")
    return status, said


def test_the_programs_calls_pass_the_standins_checks(standins, out):
    status, said = probe(standins, out, "ok")
    assert status == 0, said
    assert "\ntouchpad: \\\\?\\C:\\e2e\\probe\\devices\\HID#TPD0001&COL03#" in "\n" + said
    assert "services: hidspi hidi2c hidi2c" in said.splitlines(), "the ACPI HID-class devices"


@pytest.mark.parametrize("misuse, function", [
    ("class-devs-flags", "SetupDiGetClassDevsW"),
    ("interface-data-size", "SetupDiEnumDeviceInterfaces"),
    ("detail-size-field", "SetupDiGetDeviceInterfaceDetailW"),
    ("detail-without-query", "SetupDiGetDeviceInterfaceDetailW"),
    ("open-access", "CreateFileW"),
    ("attributes-size", "HidD_GetAttributes"),
    ("property-buffer", "CM_Get_Device_Interface_PropertyW"),
    ("disable-flags", "CM_Disable_DevNode"),
    ("reenumerate-flags", "CM_Reenumerate_DevNode"),
    ("acpi-list-flags", "SetupDiGetClassDevsW"),
    ("devinfo-size", "SetupDiEnumDeviceInfo"),
    ("service-property", "SetupDiGetDeviceRegistryPropertyW"),
    ("service-buffer", "SetupDiGetDeviceRegistryPropertyW"),
    # An option of the program's own side is no machine option.
    ("ok", "FWU_E2E_MACHINE"),
])
def test_a_wrong_argument_ends_the_program(standins, out, misuse, function):
    machine = "--version 16 --answer yes" if misuse == "ok" else ""
    status, said = probe(standins, out, misuse, machine)
    assert status == CHECK_FAILED and f"\nfwu-e2e: {function}" in "\n" + said, said


RESTART_LINE = "Firmware update successful. The computer may need to be restarted."
TRANSPORT = (r"node ACPI\TPD0001\1 present 1 disabled 0 problem {problem} disables {disables} "
             "enables {enables} reenumerations {reenumerations} removals {removals} uninstalls 0")
STALE = (r"node ACPI\SNS0001\1 present 1 disabled 0 problem {problem} disables {disables} "
         "enables {enables} reenumerations 0 removals 0 uninstalls {uninstalls}")


# Every road, for what only the stand-ins see: that the program leaves nothing open on it; the
# update among the decoys; the stale device removal. The machine, the exit status, the log line,
# and the checks of the end state: each a group of lines the record must hold (flash: the flash
# holds the image). The names differ from the touchpad's runs: they name each run's files.
WORLDS = {
    "world_update": ("", UPDATED, SUCCESS_LINE, [("mode firmware", "version 17"), "flash"]),
    # The stale device is repaired, but the touchpad's transport device stays in trouble, so the
    # removal runs twice and the run ends with the restart hint.
    "stale_repaired": ("--restart fail --stale ok", RESTART_HINT,
                       "Firmware update successful. The computer may need to be restarted.", [
        ("mode firmware", "version 17"),
        (r"node ACPI\TPD0001\1 present 1 disabled 0 problem 1 disables 3 enables 3 "
         "reenumerations 0 removals 0 uninstalls 0",),
        (r"node ACPI\SNS0001\1 present 1 disabled 0 problem 0 disables 1 enables 1 "
         "reenumerations 0 removals 0 uninstalls 0",)]),
    "world_status": ("--fail status", FAILED,
                     "ERROR 8: Failed to get the device status. Firmware update failed.",
                     [("mode firmware", "version 16", "flash-bytes 0")]),
    "world_write": ("--fail write:3", FAILED,
                    "ERROR 16: Failed to write data. Firmware update failed.",
                    [("mode bootloader", "version 0")]),
    "world_never_valid": ("--image-never-valid", FAILED,
                          "ERROR 21: Data written with errors. Firmware update failed.",
                          [("mode bootloader", "version 0", "image-valid 0")]),
    "world_no_device": ("--device none", NO_DEVICE, NO_DEVICE_LINE, []),
    "world_same_version": ("--version 17", SAME_VERSION, SAME_VERSION_LINE,
                           [("flash-bytes 0",)]),
    "world_no_repair": ("--restart fail", RESTART_HINT, RESTART_LINE, ["flash"]),
    # The restart's other roads, and the stale device's: each fault once, then the way round it.
    "restart_not_disableable_is_removed_first": ("--break restart-not-disableable", UPDATED,
                                                 SUCCESS_LINE, [("version 17", TRANSPORT.format(
                                                     problem=0, disables=1, enables=1,
                                                     reenumerations=0, removals=1))]),
    "restart_enable_refused_reenumerates": ("--break restart-enable", UPDATED, SUCCESS_LINE, [
        ("version 17", TRANSPORT.format(problem=0, disables=1, enables=0, reenumerations=1,
                                        removals=0))]),
    # Each a restart that cannot be done: the hint, the flash updated all the same.
    **{f"restart_without_{what.replace('-', '_')}_leaves_the_hint": (
        f"--break {fault}", RESTART_HINT, RESTART_LINE, ["flash"])
       for what, fault in (("located_node", "locate"), ("disable", "restart-disable"),
                           ("instance_id", "instance-id"),
                           ("string_instance_id", "instance-id-type"))},
    "stale_not_disableable_is_uninstalled_first": (
        "--restart fail --stale ok --break stale-not-disableable", RESTART_HINT, RESTART_LINE,
        [(STALE.format(problem=0, disables=1, enables=1, uninstalls=1),)]),
    "stale_service_unread_is_left_alone": (
        "--restart fail --stale ok --break stale-service", RESTART_HINT, RESTART_LINE,
        [(STALE.format(problem=1, disables=0, enables=0, uninstalls=0),)]),
    # Found by the check, gone when the update connects.
    "touchpad_that_cannot_be_opened_again_fails_to_connect": (
        "--break reopen", NO_DEVICE, "Failed to connect to the device. Firmware update failed.",
        [("mode firmware", "version 16", "flash-bytes 0")]),
    # A collection of the touchpad that cannot be looked at is passed over for the one with
    # report 7.
    **{f"collection_{call.replace('-', '_')}_fails_is_passed_over": (
        f"--break {call}", UPDATED, SUCCESS_LINE, [("mode firmware", "version 17")])
       for call in ("detail-size", "detail-read", "caps", "value-caps")},
}


@pytest.fixture(scope="module")
def worlds(standins):
    """All the runs, started at once, each on a world of its own: the program's run mutex lets
    them work one at a time."""
    return {name: standins.start(name, "/S", f"/vLOGFILE=C:\\runs\\{name}\\fw.log", dlls=DLLS,
                                 FWU_E2E_DIR=f"C:\\e2e\\{name}", FWU_E2E_MACHINE=machine)
            for name, (machine, *_) in WORLDS.items()}


@pytest.mark.parametrize("name", WORLDS)
def test_world_leaves_nothing_open(standins, worlds, image, name):
    _, status, line, end_state = WORLDS[name]
    run = worlds[name]
    finish(run, status, **LOADS)
    assert not run.log_problems(line)
    complaints = [line for line in run.trace.read_bytes().splitlines()
                  if line.startswith(b"fwu-e2e:")]
    assert not complaints, "no stand-in check failed"
    record = Record(standins.drive_c / "e2e" / name, image)
    assert record.lines, "the world's record was written"
    for resource in ("handles", "preparsed-data", "interface-lists", "device-lists"):
        assert record.has(f"open-{resource} 0")
    for lines in end_state:
        assert record.flash_is_image() if lines == "flash" else record.has(*lines), lines
