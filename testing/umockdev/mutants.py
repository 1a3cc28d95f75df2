#!/usr/bin/env python3
"""Runs hand-made faults of the Linux backend against the mocked laptop.

Each mutant (testing/umockdev/mutants.toml, or scripts/mutants.toml by id) is written into its
source file, the program's dynamic twin is built again in build/linux-release, and laptop_world runs
every case against it: a mutant is killed when a case fails. The file is put back whatever
happens, and the program is built once more from the unchanged sources at the end.
Usage: testing/umockdev/mutants.py [ID ...]   (no ID: every mutant of testing/umockdev/mutants.toml)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import tomllib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(ROOT, "build", "linux-release")
WORLD = os.path.join(BUILD, "testing", "umockdev")


def load(path):
    with open(os.path.join(ROOT, path), "rb") as f:
        return tomllib.load(f)["mutant"]


def build():
    subprocess.run(["cmake", "--build", "--preset", "linux-release", "--target", "laptop_world"],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def run_world(scratch):
    return subprocess.run([os.path.join(WORLD, "laptop_world"),
                           os.path.join(BUILD, "fwupdate-dynamic"),
                           os.path.join(WORLD, "libfwu_sysfs_preload.so"), scratch],
                          capture_output=True, text=True)


def main():
    own = load("testing/umockdev/mutants.toml")
    known = {m["id"]: m for m in own + load("scripts/mutants.toml")}
    ids = sys.argv[1:] or [m["id"] for m in own]
    unknown = [i for i in ids if i not in known]
    if unknown:
        sys.exit(f"unknown mutant: {' '.join(unknown)}")
    build()
    scratch = tempfile.mkdtemp(prefix="fwu-umockdev-mutants-")
    if run_world(scratch).returncode != 0:
        sys.exit("the unchanged program fails the mocked laptop: no mutant can be judged")
    survived = 0
    for mutant_id in ids:
        mutant = known[mutant_id]
        path = os.path.join(ROOT, mutant["file"])
        with open(path) as f:
            original = f.read()
        if original.count(mutant["find"]) != 1:
            print(f"BROKEN {mutant_id}: its text is not found once in {mutant['file']}")
            survived += 1
            continue
        try:
            with open(path, "w") as f:
                f.write(original.replace(mutant["find"], mutant["replace"]))
            build()
            result = run_world(scratch)
        finally:
            with open(path, "w") as f:
                f.write(original)
        failing = [line.split()[1] for line in result.stdout.splitlines()
                   if line.startswith("FAIL ")]
        if result.returncode != 0 and failing:
            print(f"killed {mutant_id}: by {', '.join(failing)}")
        else:
            print(f"SURVIVED {mutant_id}: {mutant['what']}")
            survived += 1
    build()
    shutil.rmtree(scratch, ignore_errors=True)
    print(f"{len(ids) - survived} killed, {survived} survived")
    return 1 if survived else 0


if __name__ == "__main__":
    sys.exit(main())
