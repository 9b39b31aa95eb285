#!/usr/bin/env python3
# Non-blank, non-comment C++ lines under tests/ against all other C++ lines
# (bench/, fuzz/ and receiver/ count as code). Tracked and untracked files.
import os
import subprocess

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
files = subprocess.run(["git", "-C", root, "ls-files", "-co", "--exclude-standard"],
                       capture_output=True, text=True, check=True).stdout.split()


def count(path):
    lines, in_block = 0, False
    for line in open(os.path.join(root, path), errors="replace"):
        s = line.strip()
        if in_block:
            if "*/" not in s:
                continue
            in_block, s = False, s.split("*/", 1)[1].strip()
        if s.startswith("/*"):
            in_block = "*/" not in s
            continue
        if s and not s.startswith("//"):
            lines += 1
    return lines


tests = other = 0
for f in files:
    if f.endswith((".cpp", ".h", ".hpp", ".cc")) and os.path.exists(os.path.join(root, f)):
        if f.startswith("tests/"):
            tests += count(f)
        else:
            other += count(f)
print(f"test lines {tests}, other C++ lines {other}: {100 * tests / other:.1f} %")
