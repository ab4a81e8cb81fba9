#!/usr/bin/env python3
"""What the application costs at rest, beside a bare JUCE standalone host.

In one run on this machine: a private Xvfb with openbox and a JACK dummy server
(48 kHz, 256 frames, under a server name of its own), then, one after the
other, Quillo and the bare host (JUCE's standalone host around an empty
processor showing the generic editor, bench/bare_host), each with its window
shown and connected to the server. Once a program has settled, its CPU time
over the measuring period is taken from /proc, as a percentage of one core.
Prints both figures and their ratio. A figure, not a test: nothing fails on it.

    bench/compare_host_cpu.py [--build build] [--seconds 10] [--rounds 1] [--quillo PROGRAM]

It builds both programs in the build folder first (the bare host compiles its
own copy of JUCE's modules the first time, a couple of minutes).
"""

import argparse
import atexit
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
children = []


def spawn(argv, env, **kwargs):
    process = subprocess.Popen(argv, env=env, **kwargs)
    children.append(process)
    return process


def stop(process, sig=signal.SIGTERM, timeout=10):
    if process.poll() is None:
        process.send_signal(sig)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


@atexit.register
def stop_all():
    for process in reversed(children):
        stop(process)


def wait_for(condition, timeout, step=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(step)
    return None


def run(argv, env):
    return subprocess.run(argv, env=env, capture_output=True, text=True, timeout=60)


def cpu_seconds(pid):
    """User and system time of every thread of the process so far."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def find_program(build, pattern):
    found = sorted(glob.glob(os.path.join(build, pattern)))
    if not found:
        sys.exit("no %s under %s" % (pattern, build))
    return found[0]


class Desk:
    """Xvfb, openbox and jackd, and the environment every program gets."""

    def __init__(self, root):
        self.root = root
        server = "quillo-cpu-%d-%d" % (os.getpid(), int(time.time() * 1000) % 100000)
        self.env = dict(os.environ, JACK_DEFAULT_SERVER=server, JACK_NO_START_SERVER="1")

        read_end, write_end = os.pipe()
        spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
              self.env, pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            display = pipe.readline().strip()
        if not display:
            sys.exit("Xvfb did not start")
        self.env["DISPLAY"] = ":" + display

        spawn(["openbox"], self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: "openbox" in run(["wmctrl", "-m"], self.env).stdout.lower(), 15):
            sys.exit("openbox did not start")

        spawn(["jackd", "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "256"], self.env,
              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: "system:playback_1" in run(["jack_lsp"], self.env).stdout, 15):
            sys.exit("the JACK dummy server did not start")

    def measure(self, name, program, settle, seconds):
        """Percent of one core that the program uses at rest, window shown, on JACK."""
        home = tempfile.mkdtemp(prefix="home-", dir=self.root)
        env = dict(self.env, HOME=home)
        process = spawn([program], env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        try:
            shown = wait_for(lambda: run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % name], env).stdout.strip(), 30)
            connected = wait_for(lambda: "%s:out_1" % name in run(["jack_lsp"], env).stdout, 30)
            if not shown or not connected:
                sys.exit("%s: %s" % (name, "no window shown" if not shown else "no ports on the JACK server"))

            time.sleep(settle)
            cpu_before, wall_before = cpu_seconds(process.pid), time.monotonic()
            time.sleep(seconds)
            cpu_after, wall_after = cpu_seconds(process.pid), time.monotonic()
            return 100.0 * (cpu_after - cpu_before) / (wall_after - wall_before)
        finally:
            stop(process, signal.SIGINT)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="a configured build folder")
    parser.add_argument("--seconds", type=float, default=10.0, help="how long each program is measured")
    parser.add_argument("--settle", type=float, default=3.0, help="how long each runs before that")
    parser.add_argument("--rounds", type=int, default=1, help="measure both this many times, alternating")
    parser.add_argument("--no-build", action="store_true", help="use the programs as they are")
    parser.add_argument("--quillo", help="measure this Quillo program instead of the build folder's")
    args = parser.parse_args()

    if not args.no_build:
        subprocess.run(["cmake", "--build", args.build, "--target", "Quillo_Standalone", "quillo_bare_host_Standalone"],
                       check=True, stdout=subprocess.DEVNULL)

    programs = [("Quillo", args.quillo or find_program(args.build, "Quillo_artefacts/*/Standalone/Quillo")),
                ("BareHost", find_program(args.build, "bench/bare_host/quillo_bare_host_artefacts/*/Standalone/BareHost"))]

    root = tempfile.mkdtemp(prefix="quillo-cpu-")
    atexit.register(shutil.rmtree, root, True)
    desk = Desk(root)

    figures = {name: [] for name, _ in programs}
    for _ in range(args.rounds):
        for name, program in programs:
            figures[name].append(desk.measure(name, program, args.settle, args.seconds))

    quillo = sum(figures["Quillo"]) / args.rounds
    bare = sum(figures["BareHost"]) / args.rounds
    print("JACK dummy server, 48 kHz, 256 frames; window shown; %g s each, %d round(s)" % (args.seconds, args.rounds))
    print("Quillo:     %5.2f %% of one core  (%s)" % (quillo, ", ".join("%.2f" % f for f in figures["Quillo"])))
    print("bare host:  %5.2f %% of one core  (%s)" % (bare, ", ".join("%.2f" % f for f in figures["BareHost"])))
    print("ratio:      %5.2f  (goal: at most 1.25)" % (quillo / bare if bare > 0 else float("inf")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
