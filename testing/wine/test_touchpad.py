"""The real program, unchanged, on the virtual touchpad through Wine's own setupapi.dll, hid.dll
and HID class driver (touchpad_driver/). Every run: Wine's own hid.dll and setupapi.dll in the
program's process, and every feature report it exchanged reached the touchpad as report 7 of 531
bytes."""

import os
import re
import time

import pytest

from checks.feature_calls import feature_call_problems
from checks.log_file import seconds
from wine import (DECLINED, FAILED, NO_DEVICE, NO_DEVICE_LINE, RESTART_HINT, ROOT,
                  SAME_VERSION, SAME_VERSION_LINE, SUCCESS_LINE, UPDATED, box_text, boxes, press,
                  screenshot, visible_windows, wait_for_box)

QUESTION_1 = (r"It looks like a previous firmware update was unsuccessful. Running it again may "
              r"correct the situation.\n\nDo you want to run the firmware update?")
QUESTION_2 = (r"IMPORTANT!\n\nThe touchpad firmware is about to be updated to another version. "
              r"A power outage during the firmware update process could make the device "
              r"inoperable. Please make sure the computer battery is charged and the power adapter "
              r"is connected.\n\nThe firmware update may take up to a minute. Please be patient "
              r"and do not interrupt the process.\n\nDo you want to continue with the firmware "
              r"update?")
NOTICE = "Please do not interrupt the update process."
TRANSPORT = r"ACPI\TPD0001\1"
MUP_XML = r"""<registrykey componentID="touchpad">
  <name>HKEY_LOCAL_MACHINE\SOFTWARE\FwuE2E\{key}</name>
  <value>17</value>
  <displayName>HKEY_LOCAL_MACHINE\SOFTWARE\FwuE2E\{display}</displayName>
  <displayValue>"Touchpad firmware 17"</displayValue>
</registrykey>
"""


def reached(record, *runs):
    """Every feature report of the runs, which shared the touchpad, reached it as report 7 of 531
    bytes."""
    return feature_call_problems(record.folder / "record.txt", [run.trace for run in runs])


def updated_to_17(record, *runs):
    assert record.touchpad_is("firmware", 17)
    assert record.flash_is_image()
    assert not reached(record, *runs)


def answer_update(touchpad, run, out):
    """On the run's screen: question 2 answered Yes, the background notice, the success box."""
    seen = wait_for_box(touchpad.prefix, QUESTION_2, 60)
    assert seen == box_text(QUESTION_2, "&Yes", "&No")
    screenshot(out / f"{run.name}-question.png")
    press("y")
    assert f"text: {NOTICE}" in wait_for_box(touchpad.prefix, NOTICE, 30).splitlines()
    screenshot(out / f"{run.name}-notice.png")
    success = "Firmware update successful!"
    assert wait_for_box(touchpad.prefix, success, 120) == box_text(success, "OK")
    assert len(boxes()) == 1, "the notice's box went away with its thread"
    screenshot(out / f"{run.name}-success.png")
    press("Return")


def stamp(run, word):
    """The time of the run's one "Executed" or "Completed" stamp, in seconds."""
    return seconds(re.search(f"^{word} (.*)$", (run.folder / "fw.log").read_text(),
                             re.MULTILINE).group(1))


def test_bus_refuses_what_it_cannot_make_real(touchpad):
    status, said = touchpad.tool("set-up", "--answer", "yes")
    assert status != 0 and "no meaning for a real program" in said
    status, said = touchpad.tool("set-up", "--break", "restart-not-disableable")
    assert status != 0 and "not made real by the bus" in said
    # A reason longer than the tool's room for the answer comes cut, not as a bus that is not there.
    option = "--" + "x" * 5000
    status, said = touchpad.tool("set-up", option)
    assert status != 0 and f"unknown option {option[:100]}" in said


def test_wine_refuses_feature_reports_of_another_length_or_id(touchpad, out):
    touchpad.set_up()
    status, said = touchpad.prefix.wine(r"C:\tools\touchpad\report_probe.exe")
    (out / "report_probe.txt").write_text(said)
    print(said)
    assert status == 0, "every call ended in a way the probe can tell"


def mup_xml(touchpad, name, key, display):
    """A mup.xml in the run's folder naming two keys below HKLM\\SOFTWARE\\FwuE2E."""
    folder = touchpad.prefix.drive_c / "runs" / name
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "mup.xml").write_text(MUP_XML.format(key=key, display=display))
    return folder / "mup.xml"


def test_silent_update_restarts_the_transport_device_and_writes_the_inventory(touchpad):
    # Wine reports the user running it as the owner of every file that Unix user owns
    # (backend_probe.exe prints a file's owner and access list) and as the program's token user;
    # the access list lets only SYSTEM and that user change the file: a mup.xml that passes for
    # the right reason, and the real registry calls write both default values.
    touchpad.set_up()
    mup_xml(touchpad, "silent", "Touchpad", "Display")
    run, seen = touchpad.start("silent", "/S"), []
    while run.process.poll() is None:
        seen += visible_windows()
        time.sleep(0.2)
    touchpad.finish(run, UPDATED)
    record = touchpad.record("silent")
    assert seen == []
    assert not run.log_problems(SUCCESS_LINE)
    updated_to_17(record, run)
    assert record.has(f"node {TRANSPORT} present 1 disabled 0 problem 0 disables 1 enables 1 "
                      "reenumerations 0 removals 0 uninstalls 0")
    assert record.has("transport-starts 2", "transport-removals 1"), "Wine removed and started it"
    assert record.has("appearances 0x1042 0x1042"), "back under its firmware's product ID"
    assert touchpad.prefix.default_value(r"SOFTWARE\FwuE2E\Touchpad") == "17"
    assert touchpad.prefix.default_value(r"SOFTWARE\FwuE2E\Display") == "Touchpad firmware 17"


def test_mup_xml_that_everyone_may_change_is_refused_and_writes_nothing(touchpad):
    # Wine builds a file's access list from its Unix mode: write for others is Everyone's write.
    touchpad.set_up()
    mup_xml(touchpad, "refused", "Refused", "RefusedDisplay").chmod(0o666)
    run = touchpad.start("refused", "/S")
    touchpad.finish(run, UPDATED)
    assert not run.log_problems(SUCCESS_LINE, "Registry key inventory skipped: mup.xml may be "
                                "changed by an account other than SYSTEM, Administrators, "
                                "TrustedInstaller and the account the program runs as.")
    assert not touchpad.prefix.has_key(r"SOFTWARE\FwuE2E\Refused")
    assert not touchpad.prefix.has_key(r"SOFTWARE\FwuE2E\RefusedDisplay")


def test_interactive_update_asks_question_2_and_shows_the_notice(touchpad, out):
    touchpad.set_up()
    run = touchpad.start("interactive")
    answer_update(touchpad, run, out)
    touchpad.finish(run, UPDATED)
    record = touchpad.record(run.name)
    assert not run.log_problems(SUCCESS_LINE)
    updated_to_17(record, run)


def test_declined_by_the_default_answer_writes_nothing(touchpad):
    touchpad.set_up()
    run = touchpad.start("declined")
    assert f"text: {QUESTION_2}" in wait_for_box(touchpad.prefix, QUESTION_2, 60).splitlines()
    press("Return")
    seen = wait_for_box(touchpad.prefix, "Firmware update aborted.", 30)
    assert "text: Firmware update aborted." in seen.splitlines(), "Return takes the default, No"
    press("Return")
    touchpad.finish(run, DECLINED)
    record = touchpad.record(run.name)
    assert not run.log_problems("Firmware update aborted by the user.")
    assert record.touchpad_is("firmware", 16) and record.has("flash-bytes 0")


def test_bootloader_only_asks_both_questions_then_updates(touchpad, out):
    touchpad.set_up("--device", "bootloader")
    run = touchpad.start("bootloader")
    assert wait_for_box(touchpad.prefix, QUESTION_1, 60) == box_text(QUESTION_1, "&Yes", "&No")
    screenshot(out / "bootloader-question-1.png")
    press("y")
    answer_update(touchpad, run, out)
    touchpad.finish(run, UPDATED)
    record = touchpad.record(run.name)
    assert not run.log_problems(SUCCESS_LINE)
    updated_to_17(record, run)
    assert record.has("appearances 0xD0C0 0x1042"), "back under its firmware's product ID"


# The machine, the exit status, the log line, what the record must hold at the end, whether the
# flash holds the image; with_mup: a mup.xml beside it, which a failed update never looks at (the
# log holds the error line alone, without the line that judging the file adds).
ROADS = {
    "status_fails": (["--fail", "status"], FAILED,
                     "ERROR 8: Failed to get the device status. Firmware update failed.",
                     ["mode firmware", "version 16", "flash-bytes 0"], False),
    "write_fails": (["--fail", "write:3"], FAILED,
                    "ERROR 16: Failed to write data. Firmware update failed.",
                    ["mode bootloader", "version 0"], False),
    "never_valid": (["--image-never-valid"], FAILED,
                    "ERROR 21: Data written with errors. Firmware update failed.",
                    ["mode bootloader", "version 0", "image-valid 0"], False),
    "no_touchpad": (["--device", "none"], NO_DEVICE, NO_DEVICE_LINE, ["appearances"], False),
    "same_version": (["--version", "17"], SAME_VERSION, SAME_VERSION_LINE, ["flash-bytes 0"],
                     False),
    # The restart, then the stale device removal twice: the transport device is an ACPI HID-class
    # device of service hidi2c that Wine lists, and it stays in its problem state.
    "nothing_repairs": (["--restart", "fail"], RESTART_HINT,
                        "Firmware update successful. The computer may need to be restarted.",
                        [f"node {TRANSPORT} present 1 disabled 0 problem 1 disables 3 enables 3 "
                         "reenumerations 0 removals 0 uninstalls 0"], True),
    # Newer firmware and each command's failure run as rows of the agreement table
    # (test_agreement.py), where the simulator says what the end must be.
    "never_ready_after_the_final_reset": (["--busy", "reset:9"], FAILED,
                                          "ERROR 23: Failed to get the device status. Firmware "
                                          "update failed.", [], True),
    # An error in the first status read: the touchpad is reset and read again, then updated.
    "status_error_resets_first": (["--busy", "status:1"], UPDATED, SUCCESS_LINE,
                                  ["mode firmware", "version 17"], True),
    # Still in error after the reset that the first status read's error called for.
    "never_ready_after_the_first_reset": (["--busy", "status:4"], FAILED,
                                          "ERROR 10: Failed to get the device status. Firmware "
                                          "update failed.", ["version 16", "flash-bytes 0"],
                                          False),
}


@pytest.mark.parametrize("name", ROADS)
def test_failure_road(touchpad, name):
    options, status, line, end_state, flash_is_image = ROADS[name]
    touchpad.set_up(*options)
    if name == "write_fails":
        mup_xml(touchpad, name, "Failed", "FailedDisplay")
    run = touchpad.start(name, "/S")
    touchpad.finish(run, status)
    record = touchpad.record(name)
    assert not run.log_problems(line)
    if status != NO_DEVICE:
        assert not reached(record, run)
    assert record.has(*end_state), sorted(record.lines)
    if flash_is_image:
        assert record.flash_is_image()


# The shipped image spoilt in a copy of the program, at its own length so that the resource
# stays as it was around it: a record whose checksum does not add up, a line longer than any
# record (its line ends made blanks), the end record before any data, and before it only two
# bytes (the device's first region holds at least 8).
SPOILT_IMAGES = {
    "checksum": lambda text: text[:14] + bytes([text[14] ^ 1]) + text[15:],
    "long_line": lambda text: text[:200].replace(b"\n", b" ") + text[200:],
    "no_data": lambda text: b":00000001FF\r\n" + text[13:],
    "short_first_region": lambda text: b":020000000102FB\r\n:00000001FF\r\n" + text[30:],
}


@pytest.mark.parametrize("name", SPOILT_IMAGES)
def test_spoilt_image_never_reaches_the_touchpad(touchpad, built, name):
    shipped = (ROOT / "resources/firmware.hex").read_bytes()
    program = built.exe.read_bytes()
    assert program.count(shipped) == 1, "the program carries the image once, as it is"
    spoilt = SPOILT_IMAGES[name](shipped)
    assert len(spoilt) == len(shipped) and spoilt != shipped
    name = "spoilt_image_" + name
    folder = touchpad.prefix.drive_c / "spoilt" / name
    folder.mkdir(parents=True)
    (folder / "fwupdate.exe").write_bytes(program.replace(shipped, spoilt))
    touchpad.set_up()
    run = touchpad.start(name, "/S", program=f"C:\\spoilt\\{name}\\fwupdate.exe")
    touchpad.finish(run, FAILED)
    record = touchpad.record(name)
    assert not run.log_problems("ERROR 7: Firmware image is corrupted. Firmware update failed.")
    assert not reached(record, run)
    assert record.has("mode firmware", "version 16", "flash-bytes 0"), sorted(record.lines)


# A mup.xml beside an update that the program must not trust, and the reason its line gives: a
# second name (a Unix hard link), more than 1 MiB, or another Unix account as its owner. (Wine 8
# builds a file's owner and access list from its Unix owner and mode, whatever SetFileSecurityW
# is given, so no other refusal of the file can be made here; the Everyone-may-change one is a
# test above.)
MUP_FILES = {
    "mup_xml_with_a_second_name": "mup.xml has more than one name.",
    "mup_xml_larger_than_1_mib": "mup.xml is larger than 1 MiB.",
    "mup_xml_of_another_unix_account": "mup.xml is not owned by SYSTEM, Administrators, "
                                       "TrustedInstaller or the account the program runs as.",
}


@pytest.mark.parametrize("name", MUP_FILES)
def test_mup_xml_refused_beside_an_update(touchpad, name):
    touchpad.set_up()
    mup = mup_xml(touchpad, name, name, name + "_display")
    if name == "mup_xml_with_a_second_name":
        os.link(mup, mup.with_name("second-name.xml"))
    elif name == "mup_xml_of_another_unix_account":
        # Wine shows a file of another Unix account as owned by a Windows account of its own.
        if os.getuid() != 0:
            pytest.skip("only root gives a file to another Unix account")
        os.chown(mup, os.getuid() + 1000, -1)
    else:
        with open(mup, "a") as text:
            text.write(" " * (1 << 20))
    run = touchpad.start(name, "/S")
    touchpad.finish(run, UPDATED)
    assert not run.log_problems(SUCCESS_LINE, f"Registry key inventory skipped: {MUP_FILES[name]}")
    assert not touchpad.prefix.has_key(f"SOFTWARE\\FwuE2E\\{name}")


def test_mup_xml_naming_a_key_that_cannot_be_made_writes_the_other(touchpad):
    # A registry key's name is at most 255 characters: creating a longer one fails.
    touchpad.set_up()
    mup_xml(touchpad, "long_key", "K" * 300, "ShortDisplay")
    run = touchpad.start("long_key", "/S")
    touchpad.finish(run, UPDATED)
    assert not run.log_problems(SUCCESS_LINE)
    assert not touchpad.prefix.has_key("SOFTWARE\\FwuE2E\\" + "K" * 300)
    assert touchpad.prefix.default_value(r"SOFTWARE\FwuE2E\ShortDisplay") == "Touchpad firmware 17"


def test_two_runs_at_once_one_updates_the_other_waits_for_it(touchpad):
    # Started together, as a deployment tool that retries or a second double click would: the
    # machine-wide run mutex lets one update while the other waits, and the one that waited finds
    # the touchpad at the target version. Interleaved, their bootloader commands would spoil each
    # other's.
    touchpad.set_up()
    twins = [touchpad.start(name, "/S") for name in ("twin_a", "twin_b")]
    for twin in twins:
        touchpad.finish(twin, None)
    record = touchpad.record("twin_a")
    updater, waiter = twins if twins[0].status == UPDATED else twins[::-1]
    assert (updater.status, waiter.status) == (UPDATED, SAME_VERSION)
    assert not updater.log_problems(SUCCESS_LINE)
    assert not waiter.log_problems(SAME_VERSION_LINE)
    assert stamp(waiter, "Executed") >= stamp(updater, "Completed"), "it began when the other ended"
    updated_to_17(record, *twins)
    assert record.has("transport-starts 2", "transport-removals 1"), "restarted once"
