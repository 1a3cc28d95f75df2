"""The machines of the agreement tables: each is run through fwupdate-sim on the simulated machine
and through the real program in another world (testing/wine/test_agreement.py under Wine,
testing/kernel/run.py on a real kernel), and both must end alike. One table, so that the worlds
are compared on the same machines."""

# name: the machine options, as fwupdate-sim, the virtual touchpad's bus under Wine and the
# kernel world's touchpad take them.
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
