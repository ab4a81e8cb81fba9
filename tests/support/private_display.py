#!/usr/bin/env python3
"""An X server of a program's own, whatever DISPLAY says.

As a module: start_xvfb() starts Xvfb, waits until it reports the display it
took (it does so only once it accepts clients) and returns the process and the
display name. As a program, it runs a command on such a server and stops the
server afterwards:

    private_display.py COMMAND [ARGUMENT ...]

The command's exit status is the program's; nothing appears on the display of
whoever runs it.
"""

import os
import select
import subprocess
import sys
import tempfile

# A loaded machine can take long to start a server; one that never comes up
# must still end the wait.
START_TIMEOUT = 120


class ServerDidNotStart(RuntimeError):
    """Which server did not come up, and what it printed."""


def tail(path, lines=20):
    try:
        with open(path, errors="replace") as f:
            text = f.readlines()[-lines:]
    except OSError:
        return "(no output)"
    return "".join("    " + line for line in text) or "    (no output)"


def start_xvfb(env, log_path, timeout=START_TIMEOUT, **popen_args):
    """Starts Xvfb; returns (process, display) once it accepts clients."""
    read_end, write_end = os.pipe()
    with open(log_path, "ab") as log:
        process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                                    "-nolisten", "tcp"],
                                   env=env, pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=subprocess.STDOUT, **popen_args)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb", buffering=0) as pipe:
        while not number.endswith(b"\n"):
            if not select.select([pipe], [], [], timeout)[0]:
                break
            byte = pipe.read(1)
            if not byte:
                break
            number += byte
    number = number.strip()
    if not number:
        process.kill()
        process.wait()
        status = process.returncode
        raise ServerDidNotStart("Xvfb reported no display within %d s (exit status %s); it printed:\n%s"
                                % (timeout, status, tail(log_path)))
    return process, ":" + number.decode()


def main(argv):
    if not argv:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with tempfile.NamedTemporaryFile(prefix="quillo-xvfb-", suffix=".log") as log:
        env = dict(os.environ)
        env.pop("XAUTHORITY", None)
        try:
            xvfb, env["DISPLAY"] = start_xvfb(env, log.name)
        except ServerDidNotStart as error:
            print(error, file=sys.stderr)
            return 1
        try:
            return subprocess.call(argv, env=env)
        finally:
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
