#!/usr/bin/env python3
"""The project's own mutation run: hand-made faults, one at a time, against the test binary.

Every mutant in scripts/mutants.toml replaces one piece of text, found exactly once, in one
source file. The run brings the `linux` preset's fwu_tests up to date (it builds nothing when
scripts/test.sh has just built it); for each mutant it compiles a changed copy of that one file
in a scratch directory (build/mutants), lightly optimised, and links it into a test binary of
its own, ahead of the libraries, so the original object is never taken. The binary then runs
with --gtest_fail_fast, the quick tests first. A mutant is
killed when the binary fails, crashes or runs out of time. A mutant that survives fails the run,
unless the list marks it equivalent with the reason; one so marked that is killed fails it too,
as does a mutant whose text is not found or that does not compile.

    scripts/mutants.py [-j JOBS] [-v] [--only ID ...] [--list]
"""

import argparse
import concurrent.futures
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import time
import tomllib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIST = os.path.join(ROOT, "scripts", "mutants.toml")
BUILD = os.path.join(ROOT, "build", "linux")
SCRATCH = os.path.join(ROOT, "build", "mutants")
# The tests in three parts, the quick ones first: most mutants are killed before the slow suites.
SLOW = ["EveryPlace/*", "PowerLossTest.*"]
STAGES = ["-" + ":".join(SLOW)] + SLOW
TIMEOUT_S = 120
# The file that the control run builds unchanged, the way a mutant's file is built.
CONTROL = "app/update.cpp"


def load_mutants():
    with open(LIST, "rb") as f:
        mutants = tomllib.load(f)["mutant"]
    seen = set()
    for m in mutants:
        for key in ("id", "file", "find", "replace", "what"):
            if key not in m:
                sys.exit(f"mutants.toml: a mutant without {key}: {m.get('id', m)}")
        if m["id"] in seen:
            sys.exit(f"mutants.toml: {m['id']} twice")
        seen.add(m["id"])
    return mutants


def build():
    subprocess.run(["cmake", "--preset", "linux"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "linux", "--target", "fwu_tests"], cwd=ROOT,
                   check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(BUILD, "compile_commands.json")) as f:
        compile_commands = {os.path.relpath(c["file"], ROOT): c for c in json.load(f)}
    with open(os.path.join(BUILD, "CMakeFiles", "fwu_tests.dir", "link.txt")) as f:
        link = shlex.split(f.read())
    return compile_commands, link


def run_tests(binary, cwd):
    """The name of the first test that failed, or None when every test passed."""
    for selection in STAGES:
        try:
            result = subprocess.run(
                [binary, "--gtest_fail_fast", "--gtest_brief=1", f"--gtest_filter={selection}"],
                cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                errors="replace", timeout=TIMEOUT_S)
        except subprocess.TimeoutExpired:
            return "(time out)"
        if result.returncode != 0:
            failed = re.search(r"^\[  FAILED  \] (\S+)", result.stdout, re.M)
            if failed:
                return failed.group(1)
            return f"(exit status {result.returncode})"
    return None


def try_mutant(index, mutant, compile_commands, link):
    """(outcome, detail): outcome is killed, survived or broken."""
    with open(os.path.join(ROOT, mutant["file"])) as f:
        text = f.read()
    count = text.count(mutant["find"])
    if count != 1:
        return "broken", f"its text is found {count} times in {mutant['file']}"
    return try_text(str(index), mutant["file"], text.replace(mutant["find"], mutant["replace"]),
                    compile_commands, link)


def try_text(name, file, text, compile_commands, link):
    """Compiles `text` in place of `file`, links it into a test binary of its own and runs the
    tests: (outcome, detail) as try_mutant gives them."""
    command = compile_commands.get(file)
    if command is None:
        return "broken", f"{file} is not compiled into fwu_tests"

    work = os.path.join(SCRATCH, name)
    shutil.rmtree(work, ignore_errors=True)
    mutated = os.path.join(work, file)
    os.makedirs(os.path.dirname(mutated))
    with open(mutated, "w") as f:
        f.write(text)

    obj = os.path.join(work, "mutant.o")
    args = shlex.split(command["command"])
    args[args.index("-o") + 1] = obj
    args[args.index("-c") + 1] = mutated
    # Quicker to build than the preset's own flags, which come first and so give way. A mutant
    # may leave a variable unused; that is no reason to refuse it.
    args += ["-O1", "-g0", "-Wno-error"]
    built = subprocess.run(args, cwd=command["directory"], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True)
    if built.returncode != 0:
        return "broken", "does not compile:\n" + built.stdout[-2000:]

    binary = os.path.join(work, "fwu_tests")
    link_args = list(link)
    link_args[link_args.index("-o") + 1] = binary
    first_library = next(i for i, a in enumerate(link_args) if a.endswith(".a"))
    link_args.insert(first_library, obj)
    # The original object may still be taken from its library, for a weak symbol of the standard
    # library that only its own flags made it define and that another object needs: the mutant's
    # definitions, which come first, are then the ones used.
    link_args.insert(first_library, "-Wl,--allow-multiple-definition")
    linked = subprocess.run(link_args, cwd=BUILD, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    if linked.returncode != 0:
        return "broken", "does not link:\n" + linked.stdout[-2000:]

    failed = run_tests(binary, work)
    shutil.rmtree(work, ignore_errors=True)
    return ("killed", failed) if failed else ("survived", None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-j", "--jobs", type=int, default=2, help="mutants at a time (2)")
    parser.add_argument("--only", nargs="+", metavar="ID", help="run only these mutants")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("-v", "--verbose", action="store_true",
                        help="name every killed mutant and the test that killed it")
    options = parser.parse_args()

    mutants = load_mutants()
    if options.list:
        for m in mutants:
            print(f"{m['id']:<32} {m['file']:<36} {m['what']}")
        return 0
    if options.only:
        unknown = set(options.only) - {m["id"] for m in mutants}
        if unknown:
            sys.exit(f"unknown mutants: {' '.join(sorted(unknown))}")
        mutants = [m for m in mutants if m["id"] in options.only]

    started = time.monotonic()
    compile_commands, link = build()
    os.makedirs(SCRATCH, exist_ok=True)
    # A file left unchanged, built and linked as every mutant is, must pass: otherwise a fault of
    # this way of building would count every mutant as killed.
    with open(os.path.join(ROOT, CONTROL)) as f:
        outcome, detail = try_text("control", CONTROL, f.read(), compile_commands, link)
    if outcome != "survived":
        sys.exit(f"mutants: the tests fail without a mutant: {outcome} ({detail})")
    print(f"mutants: built in {time.monotonic() - started:.0f} s; {len(mutants)} mutants, "
          f"{options.jobs} at a time", flush=True)

    killed = 0
    problems = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=options.jobs) as pool:
        futures = [pool.submit(try_mutant, i, m, compile_commands, link)
                   for i, m in enumerate(mutants)]
        for mutant, future in zip(mutants, futures):
            outcome, detail = future.result()
            equivalent = mutant.get("equivalent")
            name = f"{mutant['id']} ({mutant['file']}: {mutant['what']})"
            if outcome == "killed":
                killed += 1
                if options.verbose:
                    print(f"killed    {name}\n          by {detail}", flush=True)
                if equivalent:
                    problems.append(f"{mutant['id']}: marked equivalent but killed by {detail}")
            elif outcome == "survived":
                if equivalent:
                    print(f"equivalent {name}\n          {equivalent}", flush=True)
                else:
                    print(f"SURVIVED  {name}", flush=True)
                    problems.append(f"{mutant['id']}: survived")
            else:
                print(f"BROKEN    {name}: {detail}", flush=True)
                problems.append(f"{mutant['id']}: {detail.splitlines()[0]}")

    equivalents = sum(1 for m in mutants if m.get("equivalent"))
    print(f"killed {killed} of {len(mutants)} ({equivalents} marked equivalent) "
          f"in {time.monotonic() - started:.0f} s")
    for problem in problems:
        print(f"FAILED: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
