#!/usr/bin/env python3
"""The picture tool as a user runs it: knob texts in, a PNG picture out.

    render_editor_check.py <quillo_render_editor> <folder>

Runs on an X server of its own (private_display.py), whatever DISPLAY says.
"""

import os
import subprocess
import sys

tool, folder = sys.argv[1:3]
picture = os.path.join(folder, "render-editor-check.png")
if os.path.exists(picture):
    os.remove(picture)

run = subprocess.run([tool, picture, "waveform=Square", "sync=True", "depth=0.8"], capture_output=True, text=True)
print(run.stdout + run.stderr, end="")
failures = []
if run.returncode != 0:
    failures.append("exit status %d" % run.returncode)
if run.stdout.splitlines() != ["waveform = Square", "sync = True", "depth = 0.8"]:
    failures.append("the knobs did not read the texts as a user types them")
if not os.path.isfile(picture) or open(picture, "rb").read(8) != b"\x89PNG\r\n\x1a\n":
    failures.append("no PNG picture written")

bad = subprocess.run([tool, picture, "nosuchknob=1"], capture_output=True, text=True)
if bad.returncode != 2 or "not a parameter assignment" not in bad.stderr:
    failures.append("an unknown knob was not refused (exit status %d)" % bad.returncode)

for failure in failures:
    print("FAIL  " + failure)
sys.exit(1 if failures else 0)
