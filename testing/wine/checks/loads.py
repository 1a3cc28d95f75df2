"""Which DLLs a program's process took, from Wine's DLL load trace of one run
(WINEDEBUG=+loaddll): Wine's own (builtin) or a stand-in (native, from the prefix's system
directory), and from where."""

import re

LOAD = re.compile(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"(.*)" at [0-9A-Fa-f]+: (\w+)')
# With WINEDEBUG=+relay and the relay filter set to SetDefaultDllDirectories.
LIMITED = re.compile(r"^([0-9a-f]+):Call (KERNEL32|KERNELBASE)\.SetDefaultDllDirectories\(")


def loads(trace_path):
    """Every load in the trace, in order: (process, full path, kind); (process, "", None) marks
    the moment a process limited its DLL search."""
    for line in trace_path.read_text(errors="replace").splitlines():
        match = LOAD.match(line)
        if match:
            yield match.group(1), match.group(2).replace("\\\\", "\\"), match.group(3)
        elif match := LIMITED.match(line):
            yield match.group(1), "", None


def program_loads(trace_path, program):
    """The loads of the one process that ran PROGRAM (a file name), or None."""
    every = list(loads(trace_path))
    processes = {p for p, path, _ in every if path.lower().endswith("\\" + program.lower())}
    if len(processes) != 1:
        return None
    (process,) = processes
    return [(path, kind) for p, path, kind in every if p == process]


def base(path):
    return path.rsplit("\\", 1)[-1].lower()


def load_problems(trace_path, program, builtin=(), native=(), stand_ins=()):
    """In the program's process every `builtin` DLL was Wine's own and every `native` one a
    stand-in; every `stand_ins` DLL it loaded at all was the stand-in; no other process of the
    trace loaded a stand-in. Returns what does not hold."""
    taken = program_loads(trace_path, program)
    if taken is None:
        return [f"{program} is not in exactly one process of the trace"]
    taken = {(base(path), kind) for path, kind in taken if kind}
    problems = [f"not Wine's own {name}" for name in builtin if (name, "builtin") not in taken]
    problems += [f"not the stand-in {name}" for name in native if (name, "native") not in taken]
    problems += [f"Wine's own {name} where its stand-in was meant" for name, kind in taken
                 if name in stand_ins and kind != "native"]
    programs = {p for p, path, _ in loads(trace_path) if base(path) == program.lower()}
    problems += [f"stand-in {base(path)} in process {p}" for p, path, kind in loads(trace_path)
                 if p not in programs and kind == "native" and base(path) in stand_ins]
    return problems
