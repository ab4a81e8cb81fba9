#!/usr/bin/env python3
"""With no JACK server to find, the application starts without libjack's lines.

Starts the application under its own Xvfb with a fresh HOME and a JACK server
name that no server uses, lets it run its start-up (which looks for JACK
whether or not there are ALSA devices), quits it with SIGINT and checks that
nothing on its standard error came from libjack, whose failed connection
attempts would otherwise print "Cannot connect to server socket" and the like.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# What libjack says when it finds no server; any line naming JACK at all counts.
LIBJACK_LINE = re.compile(r"jack|cannot connect to server", re.IGNORECASE)


def start_xvfb(env):
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                            env=env, pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        display = pipe.readline().strip()
    if not display:
        xvfb.kill()
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + display


def window_shown(env, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        # xdotool dies of the X error when a window vanishes under it; then it is asked again.
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Quillo$"],
                                env=env, capture_output=True, text=True, timeout=30)
        if result.stdout.strip():
            return True
        time.sleep(0.1)
    return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    args = parser.parse_args()

    root = tempfile.mkdtemp(prefix="quillo-quiet-")
    home = os.path.join(root, "home")
    os.makedirs(home)
    env = dict(os.environ, HOME=home, JACK_NO_START_SERVER="1",
               JACK_DEFAULT_SERVER="quillo-quiet-%d-%d" % (os.getpid(), int(time.time() * 1000) % 100000))
    xvfb = None

    try:
        xvfb, env["DISPLAY"] = start_xvfb(env)
        app = subprocess.Popen([args.app], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)

        # JACK is looked for before the window is shown, and SIGINT only quits
        # in order once the application runs its message loop.
        if not window_shown(env, 60):
            app.kill()
            print("FAIL: the application showed no window within a minute")
            return 1
        time.sleep(1)
        app.send_signal(signal.SIGINT)

        # The settings file is written when the application quits: its
        # presence shows the run got through start-up and shut down in order.
        settings = os.path.join(home, ".Quillo", "Quillo.settings")

        try:
            _, stderr = app.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            app.kill()
            _, stderr = app.communicate()
            print("FAIL: the application did not quit on SIGINT")
            return 1

        failures = []
        if app.returncode != 0:
            failures.append("the application exited with %d" % app.returncode)
        if not os.path.isfile(settings):
            failures.append("the application wrote no settings file, so it did not run through")

        jack_lines = [line for line in stderr.splitlines() if LIBJACK_LINE.search(line)]
        if jack_lines:
            failures.append("libjack wrote to standard error:\n    " + "\n    ".join(jack_lines))

        for failure in failures:
            print("FAIL: " + failure)
        if not failures:
            print("PASS: no libjack lines on standard error")
        return 1 if failures else 0
    finally:
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait()
        shutil.rmtree(root, True)


if __name__ == "__main__":
    sys.exit(main())
