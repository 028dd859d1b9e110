#!/usr/bin/env python3
"""Prints, for each test that failed in the last ctest run of a build tree,
the lines that say why (GoogleTest failures, pytest's E and > lines) and the
last lines of its output: a short digest for the end of a long CI log.

    tools/ctest-failures.py BUILD_DIR [BUILD_DIR ...]
"""
import os
import re
import sys

WHY = re.compile(r"(: Failure$)|(^E\s)|(^>\s)|(^\[  FAILED  \] .*\(\d+ ms\)$)|(Sanitizer)")
WHY_LINES = 60      # at most, per test
CONTEXT = 6         # lines after a GoogleTest failure line
TAIL = 20


def failed_tests(log_text):
    """(name, output lines) of each failed test of a LastTest.log."""
    blocks = re.split(r"^\d+/\d+ Testing: ", log_text, flags=re.M)[1:]
    for block in blocks:
        name = block.split("\n", 1)[0].strip()
        if "\nTest Failed." not in block:
            continue
        rule = "\n----------------------------------------------------------\n"
        start = block.find(rule)
        end = block.find("<end of output>")
        output = block[start + len(rule):end] if start >= 0 and end > start else block
        yield name, output.splitlines()


def digest(lines):
    why = []
    i = 0
    while i < len(lines) and len(why) < WHY_LINES:
        if WHY.search(lines[i]):
            span = CONTEXT if lines[i].endswith(": Failure") else 1
            why.extend(lines[i:i + span])
            i += span
        else:
            i += 1
    return why[:WHY_LINES], lines[-TAIL:]


def main(dirs):
    for d in dirs:
        path = os.path.join(d, "Testing", "Temporary", "LastTest.log")
        try:
            with open(path, errors="replace") as f:
                text = f.read()
        except OSError:
            continue
        for name, lines in failed_tests(text):
            why, tail = digest(lines)
            print("--- %s (%s)" % (name, d))
            for line in why:
                print("  " + line)
            print("  [last lines]")
            for line in tail:
                print("  " + line)


if __name__ == "__main__":
    main(sys.argv[1:])
