#!/usr/bin/env python3
"""Fails when a test of a CTest JUnit report skipped itself and the README does not name it.

Usage: check-no-skips.py <junit.xml> <README.md>. The README's line "Tests allowed to skip
under the test command:" lists the allowed names in backticks (or says "none").
"""
import re
import sys
import xml.etree.ElementTree as ET


def allowed_names(readme):
    for line in open(readme, encoding="utf-8"):
        if line.startswith("Tests allowed to skip under the test command:"):
            return set(re.findall(r"`([^`]+)`", line))
    return set()


def main():
    report, readme = sys.argv[1], sys.argv[2]
    allowed = allowed_names(readme)
    skipped = []
    try:
        root = ET.parse(report).getroot()
    except (OSError, ET.ParseError) as e:
        print(f"run-tests: cannot read the test report {report}: {e}", file=sys.stderr)
        return 1
    for case in root.iter("testcase"):
        if case.find("skipped") is not None or case.get("status") in ("notrun", "skipped", "disabled"):
            if case.get("name") not in allowed:
                skipped.append(case.get("name"))
    for name in skipped:
        print(f"run-tests: {name} skipped itself, and the README does not allow it", file=sys.stderr)
    return 1 if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
