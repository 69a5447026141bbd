#!/usr/bin/env python3
"""Runs a GoogleTest program once for all its cases and keeps each case's result.

Under an emulator (Wine) starting a process costs far more than most cases
take, so a cross build's test program runs once, here, as one ctest test;
each of its cases is a ctest test of its own that reports what this run
recorded for it (cmake/gtest_case.sh).

    gtest_once.py --results DIR --cases FILE -- RUNNER... PROGRAM

FILE lists the cases, one a line, as --gtest_list_tests gave them. Case
number N (from 1) gets DIR/N: its status on the first line (0 passed,
1 failed, 77 skipped), then its output. A case whose run ended the program
(a crash, or the emulator failing with no output of its own) is failed with
its output so far, and the cases after it run in a new process; a run that
reports no case at all is tried once more before its cases count as failed.
A failed case then runs once more alone (up to RETRY_LIMIT of them), and
passes only if it passes there; its output shows both runs. The exit status
is 0 once every case has a result, whatever the results.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

# At most this many failed cases are run again one by one.
RETRY_LIMIT = 20
END = re.compile(r"^\[ +(OK|FAILED|SKIPPED) +\] (\S+?)(,| \(|$)")
RUN = re.compile(r"^\[ RUN +\] (\S+)\s*$")


# A filter longer than this is split over several runs: Windows limits a
# command line to 32767 characters.
FILTER_LIMIT = 8000


def first_chunk(cases):
    """As many of `cases` from the first as fit in one filter."""
    size = 0
    for i, name in enumerate(cases):
        size += len(name) + 1
        if size > FILTER_LIMIT and i > 0:
            return cases[:i]
    return cases


def run_once(command, cases, scratch, everything):
    """Runs `command` on `cases` (on all its cases when `everything`);
    returns (results, the case it ended in, exit status, whole output)."""
    out_path = os.path.join(scratch, "output")
    filter_arg = [] if everything else ["--gtest_filter=" + ":".join(cases)]
    # The output goes to a file: a Wine session's helper processes may keep
    # a pipe open after the program ends.
    with open(out_path, "wb") as out:
        status = subprocess.run(command + filter_arg + ["--gtest_color=no"],
                                stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT, check=False).returncode
    with open(out_path, encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines()
    results = {}
    current, text = None, []
    for line in lines:
        m = RUN.match(line)
        if m:
            current, text = m.group(1), [line]
            continue
        if current is None:
            continue
        text.append(line)
        m = END.match(line)
        if m and m.group(2) == current:
            code = {"OK": 0, "FAILED": 1, "SKIPPED": 77}[m.group(1)]
            results[current] = (code, "\n".join(text))
            current, text = None, []
    unfinished = None
    if current is not None:
        unfinished = (current, "\n".join(text))
    return results, unfinished, status, "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", required=True)
    parser.add_argument("--cases", required=True)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    with open(args.cases, encoding="utf-8") as f:
        cases = [line.strip() for line in f if line.strip()]
    os.makedirs(args.results, exist_ok=True)
    for name in os.listdir(args.results):
        os.remove(os.path.join(args.results, name))

    results = {}
    remaining = list(cases)
    empty_runs = 0
    with tempfile.TemporaryDirectory() as scratch:
        everything = True
        while remaining:
            chunk = remaining if everything else first_chunk(remaining)
            found, unfinished, status, output = run_once(command, chunk, scratch, everything)
            everything = False
            results.update((k, v) for k, v in found.items() if k in remaining)
            if unfinished is not None and unfinished[0] in remaining:
                name, text = unfinished
                results[name] = (1, f"{text}\n(the program ended during this case, "
                                    f"exit status {status})")
            before = len(remaining)
            remaining = [c for c in remaining if c not in results]
            if len(remaining) < before:
                empty_runs = 0
                continue
            # Nothing reported: once more, then the cases of that run fail.
            empty_runs += 1
            print(f"{os.path.basename(command[-1])}: a run on {len(chunk)} cases reported "
                  f"none (exit status {status}); its output:\n{output}", flush=True)
            if empty_runs == 2:
                for name in chunk:
                    results[name] = (1, f"(no result: the program reported no case, exit "
                                        f"status {status}; its output:)\n{output}")
                remaining = [c for c in remaining if c not in results]
                empty_runs = 0

        # A failed case runs once more, alone, in a process of its own:
        # under Wine a program now and then dies of Wine's own fault
        # (a page fault in Wine's code, or no output at all), and a case may
        # meet one of its neighbours' leftovers. A case that fails again
        # fails; one that passes shows both runs. Many failures are a real
        # breakage, not worth the time of running each again.
        failed = [c for c in cases if results[c][0] == 1]
        if 0 < len(failed) <= RETRY_LIMIT:
            for name in failed:
                found, unfinished, status, output = run_once(command, [name], scratch, False)
                first = results[name][1]
                if name in found and found[name][0] != 1:
                    results[name] = (found[name][0], "%s\n(failed in the program's run, shown "
                                     "above; passed when run again alone:)\n%s"
                                     % (first, found[name][1]))
                else:
                    again = found[name][1] if name in found else output
                    results[name] = (1, "%s\n(run again alone, exit status %d:)\n%s"
                                     % (first, status, again))

    counts = {0: 0, 1: 0, 77: 0}
    for number, name in enumerate(cases, start=1):
        code, text = results[name]
        counts[code] += 1
        with open(os.path.join(args.results, str(number)), "w", encoding="utf-8") as f:
            f.write(f"{code}\n{text}\n")
    print(f"{os.path.basename(command[-1])}: {len(cases)} cases, {counts[0]} passed, "
          f"{counts[1]} failed, {counts[77]} skipped")
    return 0


if __name__ == "__main__":
    sys.exit(main())
