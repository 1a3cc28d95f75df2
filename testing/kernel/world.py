"""The kernel world: Debian's own kernel booted under QEMU (TCG) with an initramfs of static
busybox, the HID modules, the virtual touchpad (kernel-touchpad) and the programs under test. One
boot runs every case of a list; each case is a shell snippet run by the initramfs's init, and
what it shows comes back over the serial console as lines "@@ CASE KEY VALUE", read here.

The kernel package is downloaded with apt-get and unpacked with dpkg-deb into the build folder;
it is never installed, so no boot hook of this machine runs."""

import os
import re
import shutil
import subprocess
import time
from collections import defaultdict
from pathlib import Path

MODULES = ["kernel/drivers/hid/hid.ko", "kernel/drivers/hid/hid-generic.ko",
           "kernel/drivers/hid/uhid.ko", "kernel/fs/fuse/fuse.ko"]

# The helpers every case's snippet may call. $CASE names the case; the touchpad's state folder
# is /run/$CASE.
PRELUDE = r"""
emit() { echo "@@ $CASE $*"; }
# Runs a command; each line it prints comes back under KEY, then KEY-status and its exit status.
run() {
  key=$1; shift
  "$@" > /run/out 2>&1; status=$?
  while IFS= read -r line; do emit "$key" "$line"; done < /run/out
  emit "$key-status" "$status"
}
# Starts the virtual touchpad with machine options; waits until its hidraw node is there.
tp_start() {
  rm -rf /run/$CASE; mkdir -p /run/$CASE
  kernel-touchpad "$@" --state /run/$CASE > /run/$CASE/touchpad.txt 2>&1 &
  TP=$!
  n=0
  while [ ! -e /run/$CASE/ready ] && [ $n -lt 500 ]; do
    kill -0 $TP 2>/dev/null || break
    usleep 10000; n=$((n + 1))
  done
  emit ready "$(cat /run/$CASE/ready 2>/dev/null || echo never)"
}
# Ends the virtual touchpad and shows its end state; the flash is compared byte for byte with
# the image the program carries.
tp_stop() {
  [ -n "$TP" ] || return
  kill -TERM $TP; wait $TP; emit touchpad-status $?
  while IFS= read -r line; do emit touchpad "$line"; done < /run/$CASE/touchpad.txt
  while IFS= read -r line; do emit record "$line"; done < /run/$CASE/record.txt
  while IFS= read -r line; do emit saw "$line"; done < /run/$CASE/saw.txt
  if cmp -s /run/$CASE/flash.bin /image.bin; then emit flash image; else emit flash other; fi
}
# The program under test on the machine the options make (program() is defined by run.py): its
# exit status and its log; tp_stop then shows the touchpad's end state. A machine the world
# refuses shows the reason, and tp_stop has nothing more to show.
on_machine() {
  tp_start "$@"
  if [ ! -e /run/$CASE/ready ]; then
    wait $TP; emit touchpad-status $?
    while IFS= read -r line; do emit touchpad "$line"; done < /run/$CASE/touchpad.txt
    TP=
    return
  fi
  run_program
}
run_program() {
  run program program /run/$CASE/fw.log
  if [ -e /run/$CASE/fw.log ]; then
    while IFS= read -r line; do emit log "$line"; done < /run/$CASE/fw.log
  else
    emit log "(no log)"
  fi
}
# The program on a laptop's I2C and ACPI side (laptop-sysfs, given its options) above the virtual
# touchpad, which tp_start has started: the real sysfs moves to /realsys and a tmpfs with the
# laptop's tree takes /sys until the program has ended. What the laptop answered comes back under
# "laptop".
on_laptop() {
  mkdir -p /realsys
  mount -t sysfs sysfs /realsys
  mount -t tmpfs tmpfs /sys
  laptop-sysfs --real /realsys --fake /sys "$@" > /run/$CASE/laptop.txt 2>&1 &
  LP=$!
  n=0
  while [ ! -e /sys/.laptop/bind ] && [ $n -lt 300 ]; do usleep 10000; n=$((n + 1)); done
  emit laptop-client "$(readlink /sys/bus/i2c/devices/i2c-TPD0001:00)"
  run_program
  emit client-driver "$(readlink /sys/bus/i2c/devices/i2c-TPD0001:00/driver)"
  for raw in /sys/class/hidraw/*; do
    [ -e $raw ] && emit laptop-hidraw "$(grep HID_ID $raw/device/uevent)"
  done
  kill -TERM $LP; wait $LP
  umount /sys; umount /realsys
  while IFS= read -r line; do emit laptop "$line"; done < /run/$CASE/laptop.txt
}
# Waits up to 3 s for the hidraw node of the touchpad under PRODUCT (hex); prints it.
wait_node() {
  n=0
  until hidraw-probe find $1 > /run/node 2>/dev/null || [ $n -ge 300 ]; do
    usleep 10000; n=$((n + 1))
  done
  sed -n 's/^node //p' /run/node
}
# What a reboot of the laptop would do for a device whose transport the program could not
# restart: the HID driver lets go of the device and takes it again.
restart_by_hand() {
  dev=$(hid_device $1)
  echo $dev > /sys/bus/hid/drivers/hid-generic/unbind
  echo $dev > /sys/bus/hid/drivers/hid-generic/bind
}
# The HID device of the hidraw node named by a probe's "node /dev/hidrawN" line.
hid_device() { basename "$(readlink -f /sys/class/hidraw/${1#/dev/}/device)"; }
"""

INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /run
for module in /modules/hid.ko /modules/hid-generic.ko /modules/uhid.ko /modules/fuse.ko; do
  insmod $module || echo "@@ - insmod-failed $module"
done
. /prelude.sh
. /cases.sh
echo "@@ - end $(cut -d' ' -f1 /proc/uptime)"
poweroff -f
"""


class Kernel:
    """The kernel image and its module folder, unpacked under `folder`."""

    def __init__(self, folder):
        self.folder = Path(folder)

    def fetch(self):
        root = self.folder / "root"
        stamp = self.folder / "unpacked"
        if not stamp.exists():
            # The metapackage names the kernel of the day; its dependency is the image itself.
            depends = subprocess.run(["apt-cache", "depends", "linux-image-cloud-amd64"],
                                     check=True, stdout=subprocess.PIPE, text=True).stdout
            package = re.search(r"Depends: (linux-image-\S+)", depends).group(1)
            debs = self.folder / "debs"
            debs.mkdir(parents=True, exist_ok=True)
            subprocess.run(["apt-get", "download", "-q", package], cwd=debs, check=True,
                           stdout=subprocess.DEVNULL)
            deb = next(debs.glob(package + "_*.deb"))
            shutil.rmtree(root, ignore_errors=True)
            subprocess.run(["dpkg-deb", "-x", str(deb), str(root)], check=True)
            stamp.write_text(package + "\n")
        self.vmlinuz = next((root / "boot").glob("vmlinuz-*"))
        self.modules = next((root / "lib/modules").iterdir())
        return self


def shared_libraries(program):
    """The libraries a dynamically linked program needs (none for a static one)."""
    done = subprocess.run(["ldd", str(program)], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True)
    return [Path(path) for path in re.findall(r"(/\S+) \(0x", done.stdout)]


def build_initramfs(kernel, folder, programs, files, cases):
    """An uncompressed newc archive: busybox, the modules, `programs` (name: path) in /bin with
    the libraries they need, `files` (name: path) at the root, the helpers and the cases."""
    tree = Path(folder) / "tree"
    shutil.rmtree(tree, ignore_errors=True)
    for sub in ("bin", "modules", "proc", "sys", "dev", "run", "tmp"):
        (tree / sub).mkdir(parents=True)
    shutil.copy("/bin/busybox", tree / "bin/busybox")
    for module in MODULES:
        shutil.copy(kernel.modules / module, tree / "modules")
    for name, path in programs.items():
        shutil.copy(path, tree / "bin" / name)
        for library in shared_libraries(path):
            target = tree / str(library).lstrip("/")
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(library, target)
    for name, path in files.items():
        shutil.copy(path, tree / name)
    (tree / "init").write_text(INIT)
    (tree / "init").chmod(0o755)
    (tree / "prelude.sh").write_text(PRELUDE)
    (tree / "cases.sh").write_text(cases)
    archive = Path(folder) / "initramfs.cpio"
    names = subprocess.run(["find", "."], cwd=tree, check=True, stdout=subprocess.PIPE).stdout
    with open(archive, "wb") as out:
        subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=tree, input=names,
                       stdout=out, check=True)
    return archive


def boot(kernel, initramfs, console_log, timeout=600):
    """Boots once; returns the console's text and the seconds the boot took."""
    started = time.monotonic()
    with open(console_log, "w") as log:
        try:
            subprocess.run(
                ["qemu-system-x86_64", "-accel", "tcg", "-m", "512", "-smp", "1", "-nographic",
                 "-no-reboot", "-nic", "none", "-kernel", str(kernel.vmlinuz), "-initrd",
                 str(initramfs), "-append", "console=ttyS0 quiet panic=-1"],
                stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                timeout=timeout, check=False)
        except subprocess.TimeoutExpired:
            pass  # the cases that did not finish show as failed
    return Path(console_log).read_text(errors="replace"), time.monotonic() - started


def results(console):
    """case -> key -> the values reported under it, in order."""
    found = defaultdict(lambda: defaultdict(list))
    for line in console.replace("\r", "").splitlines():
        # The first line may follow the firmware's escape sequences.
        match = re.search(r"@@ (\S+) (\S+) ?(.*)$", line)
        if match:
            found[match.group(1)][match.group(2)].append(match.group(3))
    return found


def case_script(name, body):
    return f"CASE={name}\nemit uptime $(cut -d' ' -f1 /proc/uptime)\n{body.strip()}\n"


def environment_root():
    return Path(os.environ.get("FWU_ROOT", Path(__file__).resolve().parents[2]))
