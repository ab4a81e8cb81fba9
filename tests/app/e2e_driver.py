#!/usr/bin/env python3
"""End-to-end run of the real Quillo binary.

Starts its own Xvfb (display picked by Xvfb), openbox and a JACK dummy server
under a unique name, points HOME at a fresh folder, and stops everything on
exit. Prints one line per check; exits non-zero if any check fails.
"""

import argparse
import array
import atexit
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

SAMPLE_RATE = 48000
LEVEL = 0.5
SETTINGS_DIALOG = "Audio/MIDI Settings"
# A device set-up as JUCE stores it: the JACK server's ports, both inputs, and
# only the first output enabled.
ONE_OUTPUT_SETUP = ('<DEVICESETUP deviceType="JACK" audioOutputDeviceName="system" '
                    'audioInputDeviceName="system" audioDeviceRate="%d.0" '
                    'audioDeviceInChans="11" audioDeviceOutChans="1"/>' % SAMPLE_RATE)

failures = []
children = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def wait_for(condition, timeout, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


def spawn(argv, env, **kwargs):
    process = subprocess.Popen(argv, env=env, start_new_session=True, **kwargs)
    children.append(process)
    return process


def stop(process, sig=signal.SIGTERM, timeout=10):
    if process.poll() is None:
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            pass
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
    return process.returncode


def stop_all():
    for process in reversed(children):
        stop(process, timeout=5)


class World:
    """Xvfb, openbox and jackd, plus the environment every client gets."""

    def __init__(self, tools):
        self.tools = tools
        self.root = tempfile.mkdtemp(prefix="quillo-e2e-")
        atexit.register(shutil.rmtree, self.root, True)
        self.home = os.path.join(self.root, "home")
        self.server = "quillo-e2e-%d-%d" % (os.getpid(), int(time.time() * 1000) % 100000)
        self.env = dict(os.environ, HOME=self.home, JACK_DEFAULT_SERVER=self.server, JACK_NO_START_SERVER="1")

        read_end, write_end = os.pipe()
        spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
              self.env, pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            display = pipe.readline().strip()
        if not display:
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + display

        spawn(["openbox"], self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: "openbox" in self.run(["wmctrl", "-m"]).stdout.lower(), 15):
            raise RuntimeError("openbox did not start")

        self.jackd = None
        self.jackd_log = os.path.join(self.root, "jackd.log")

    def run(self, argv, timeout=60, env=None):
        return subprocess.run(argv, env=env or self.env, capture_output=True, text=True, timeout=timeout)

    # Windows are looked up in the window manager's list of the windows it
    # manages. Walking the whole window tree (xdotool search) is not safe here:
    # JUCE creates and destroys windows while it sets one up, and a tool that
    # meets a window that has just gone dies of the X error, printing nothing.
    def managed_windows(self, name, pid):
        """Ids of the windows titled `name` of process `pid` that the window manager manages."""
        listing = self.run(["xprop", "-root", "-notype", "_NET_CLIENT_LIST"]).stdout
        found = []
        for window in re.findall(r"0x[0-9a-fA-F]+", listing):
            result = self.run(["xprop", "-id", window, "-notype", "WM_NAME", "_NET_WM_PID"])
            if result.returncode == 0 and 'WM_NAME = "%s"\n' % name in result.stdout \
                    and re.search(r"^_NET_WM_PID = %d$" % pid, result.stdout, re.M):
                found.append(str(int(window, 16)))
        return found

    def find_window(self, name, pid, timeout=30):
        """The first window titled `name` of process `pid` once it is managed, or None."""
        return (wait_for(lambda: self.managed_windows(name, pid), timeout, 0.1) or [None])[0]

    def search(self, *args):
        """xdotool search, run again whenever a window vanishing under it made it fail."""
        for _ in range(20):
            result = self.run(["xdotool", "search"] + list(args))
            if "X Error" not in result.stderr:
                return result.stdout.split()
        return []

    def focused_window(self):
        out = self.run(["xdotool", "getwindowfocus"]).stdout.strip()
        return out if out.isdigit() else None

    def start_jack(self):
        # Synchronous mode with a long client time-out: every client runs in
        # every cycle, late or not, so a busy machine delays the audio instead
        # of dropping blocks from it (which shifts the measured LFO) or
        # dropping a slow client altogether.
        if self.jackd is None or self.jackd.poll() is not None:
            with open(self.jackd_log, "a") as log:
                self.jackd = spawn(["jackd", "--no-realtime", "--sync", "--timeout", "10000",
                                    "-d", "dummy", "-r", str(SAMPLE_RATE), "-p", "256"],
                                   self.env, stdout=log, stderr=subprocess.STDOUT)
            if not wait_for(lambda: self.run(["jack_lsp"]).returncode == 0, 15, 0.1):
                raise RuntimeError("jackd did not start")

    def stop_jack(self):
        if self.jackd is not None:
            stop(self.jackd)
            self.jackd = None

    @property
    def settings_path(self):
        return os.path.join(self.home, ".Quillo", "Quillo.settings")

    def reset_home(self):
        shutil.rmtree(self.home, ignore_errors=True)
        os.makedirs(self.home)

    def write_settings(self, values=None, raw=None):
        self.reset_home()
        os.makedirs(os.path.dirname(self.settings_path))
        if raw is None:
            root = ET.Element("PROPERTIES")
            for name, value in values.items():
                ET.SubElement(root, "VALUE", name=name, val=value)
            raw = ET.tostring(root)
        with open(self.settings_path, "wb") as f:
            f.write(raw)

    def read_settings(self):
        """The stored values by key; a value that JUCE stored as an XML element
        (the device set-up) comes back as that element's text."""
        if not os.path.exists(self.settings_path):
            return None
        root = ET.parse(self.settings_path).getroot()
        if root.tag != "PROPERTIES":
            return None
        return {e.get("name"): e.get("val") if e.get("val") is not None or not len(e) else ET.tostring(e[0], "unicode").strip()
                for e in root.iter("VALUE")}

    def connections(self):
        """JACK's ports, each with the set of ports it is connected to."""
        ports = {}
        port = None
        for line in self.run(["jack_lsp", "-c"]).stdout.splitlines():
            if line.startswith((" ", "\t")):
                ports[port].add(line.strip())
            elif line.strip():
                port = line.strip()
                ports[port] = set()
        return ports

    def wait_for_connections(self, expected, timeout=10):
        """Waits until `expected(ports)` holds for JACK's connections (a client
        connects its ports once its device is open); returns them in the end."""
        return wait_for(lambda: (lambda ports: expected(ports) and ports)(self.connections()), timeout) \
            or self.connections()

    def state(self, *assignments):
        result = self.run([self.tools.state_tool] + list(assignments))
        if result.returncode != 0:
            raise RuntimeError("state tool failed: " + result.stderr)
        return result.stdout.strip()


class App:
    """One run of the application."""

    def __init__(self, world, jack=True):
        self.world = world
        env = dict(world.env)
        if not jack:
            env["JACK_DEFAULT_SERVER"] = world.server + "-absent"
        self.stdout_path = os.path.join(world.root, "app-stdout-%d.txt" % time.monotonic_ns())
        self.stdout = open(self.stdout_path, "w")
        self.stderr_path = self.stdout_path.replace("stdout", "stderr")
        self.stderr = open(self.stderr_path, "w")
        self.process = spawn([world.tools.app], env, stdout=self.stdout, stderr=self.stderr)
        self.window = None

    def wait_for_window(self):
        # Managed, not merely created: the close request goes through the window
        # manager, and JUCE's first window of that title is replaced before it is shown.
        self.window = self.world.find_window("Quillo", self.process.pid)
        return self.window

    def position(self):
        return self.geometry()[:2]

    def wait_for_position(self, expected, timeout=10):
        """Waits until the window is at `expected` (the window manager places it
        after it appears); returns where it is in the end."""
        wait_for(lambda: self.position() == expected, timeout)
        return self.position()

    def wait_for_move(self, old, timeout=10):
        """Waits until the window has left `old`; returns its new position, or None."""
        moved = wait_for(lambda: (lambda p: p != old and p)(self.position()), timeout)
        # The X server knows of the move before the app has read the event that
        # tells it, and a quit request that comes in between (JUCE looks at
        # Ctrl+C before it reads X events, and our SIGTERM pipe may come first
        # too) stores the old position; no user quits that fast.
        time.sleep(0.5)
        return moved

    def window_hex(self):
        return "0x%08x" % int(self.window)

    def geometry(self, window=None):
        out = self.world.run(["xwininfo", "-id", window or self.window]).stdout
        grab = lambda key: int(re.search(key + r":\s+(-?\d+)", out).group(1))
        return grab("Absolute upper-left X"), grab("Absolute upper-left Y"), grab("Width"), grab("Height")

    def alive(self):
        return self.process.poll() is None

    def close_window(self):
        if self.window is None:
            return None
        self.world.run(["wmctrl", "-i", "-c", self.window_hex()])
        return self.wait_exit()

    def interrupt(self):
        os.kill(self.process.pid, signal.SIGINT)
        return self.wait_exit()

    def terminate(self):
        os.kill(self.process.pid, signal.SIGTERM)
        return self.wait_exit()

    def wait_exit(self, timeout=20):
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None
        if status != 0:
            self.show_report()
        return status

    def show_report(self):
        """What the app wrote to stderr from the first sanitizer report on, or its last lines."""
        with open(self.stderr_path, errors="replace") as f:
            lines = f.readlines()
        start = next((i for i, line in enumerate(lines) if "Sanitizer" in line or "runtime error" in line),
                     max(0, len(lines) - 10))
        print("".join("      app: " + line for line in lines[start:start + 60]), end="", flush=True)

    def open_settings_dialog(self, x, y):
        """Chooses "Audio / MIDI Options" from the menu of the window placed at
        (x, y); returns the dialog's window id, or None."""
        # The menu bar runs along the top of the window; "Options" is its first entry.
        # Clicking also gives the window the keyboard focus, and the keys go to the
        # menu only once it is open.
        world = self.world
        world.run(["xdotool", "mousemove", str(x + 25), str(y + 10), "click", "1"])
        menu_open = wait_for(lambda: world.search("--onlyvisible", "--pid", str(self.process.pid), "--name", "^menu$")
                             and world.focused_window() == self.window, 10)
        if not menu_open:
            return None
        world.run(["xdotool", "key", "Down", "Return"])
        return world.find_window(SETTINGS_DIALOG, self.process.pid)

    def finish(self):
        if stop(self.process, signal.SIGKILL) != 0:
            # A client that died without closing can leave the JACK server
            # waiting for it; the next test gets a fresh one.
            self.world.stop_jack()
        self.stdout.close()
        self.stderr.close()
        with open(self.stdout_path) as f:
            return f.read()

    def stderr_text(self):
        with open(self.stderr_path, errors="replace") as f:
            return f.read()

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.process.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def record(world, settle, seconds):
    path = os.path.join(world.root, "recording.raw")
    result = world.run([world.tools.probe, "Quillo", str(LEVEL), str(settle), str(seconds), path], timeout=settle + seconds + 60)
    if result.returncode != 0:
        print("      probe: " + result.stderr.strip(), flush=True)
        if os.path.exists(world.jackd_log):
            with open(world.jackd_log) as log:
                print("".join("      jackd: " + line for line in log.readlines()[-5:]), end="", flush=True)
        return None
    samples = array.array("f")
    with open(path, "rb") as f:
        samples.frombytes(f.read())
    return [g / LEVEL for g in samples[0::2]], [g / LEVEL for g in samples[1::2]]


def rising_crossings(gains, threshold=0.5):
    times = []
    for i in range(1, len(gains)):
        a, b = gains[i - 1], gains[i]
        if a < threshold <= b:
            times.append(i - 1 + (threshold - a) / (b - a))
    return times


def analyse_tremolo(left, right):
    """Rate from the left channel's rising edges, swing, and how far the
    right channel's edges come after the left ones, in cycles (0 to 1)."""
    edges_left, edges_right = rising_crossings(left), rising_crossings(right)
    if len(edges_left) < 3 or not edges_right:
        return None
    period = (edges_left[-1] - edges_left[0]) / (len(edges_left) - 1)
    lags = []
    for t in edges_left:
        after = [r for r in edges_right if r >= t]
        if after:
            lags.append(((after[0] - t) / period) % 1.0)
    lag = sum(lags) / len(lags)
    return {"rate": SAMPLE_RATE / period, "min": min(left + right), "max": max(left + right), "lag": lag}


#===================================================================================================
def test_first_start(world):
    print("-- first start, no settings file, JACK running", flush=True)
    world.reset_home()
    world.start_jack()
    app = App(world)
    check(app.wait_for_window() is not None, "window titled 'Quillo' appears")
    centred = lambda x, y, w, h: abs((x + w / 2) - 640) <= 2 and abs((y + h / 2) - 400) <= 40
    wait_for(lambda: centred(*app.geometry()), 10)
    x, y, w, h = app.geometry()
    check(centred(x, y, w, h), "window centred (at %d,%d size %dx%d)" % (x, y, w, h))

    ports = world.wait_for_connections(lambda ports: ports.get("Quillo:out_2"))
    check([ports.get("Quillo:" + p) for p in ("in_1", "in_2", "out_1", "out_2")]
          == [{"system:capture_1"}, {"system:capture_2"}, {"system:playback_1"}, {"system:playback_2"}],
          "default devices: both inputs and both outputs connected to the JACK server's ports")

    recording = record(world, 0.5, 1.0)
    if check(recording is not None, "audio flows through Quillo"):
        loudest = max(abs(g) for g in recording[0] + recording[1])
        check(loudest < 1e-6, "input muted: output silent (peak gain %.2g)" % loudest)

    # Past the 3000 ms save delay: nothing was changed, so still nothing is written.
    time.sleep(3.5)
    check(not os.path.exists(world.settings_path), "no settings file while running")

    check(app.close_window() == 0, "close request quits with status 0")
    app.finish()
    saved = world.read_settings() or {}
    check(all(k in saved for k in ("filterState", "windowX", "windowY", "shouldMuteInput")),
          "close writes filterState, window position, muting: %s" % sorted(saved))
    check(saved.get("audioSetup") == "", "no device chosen: the device set-up is stored empty")
    check(saved.get("filterState") == world.state(), "stored state is the default state")
    check(saved.get("shouldMuteInput") == "1", "input stays muted")


def test_without_audio_device(world):
    print("-- start without any audio device", flush=True)
    world.reset_home()
    app = App(world, jack=False)
    check(app.wait_for_window() is not None, "window appears without an audio device")
    time.sleep(1.0)
    check(app.alive(), "keeps running without an audio device")
    check(app.interrupt() == 0, "Ctrl+C quits with status 0")
    app.finish()


def test_prepared_state_and_restart(world):
    print("-- prepared settings: unmuted, Depth 1, Rate 2 Hz, Square, Offset R 0.25", flush=True)
    world.start_jack()
    state = world.state("depth=1", "rate=2", "waveform=1", "offsetr=0.25")
    # A leading zero in the size field decodes the same; the app never writes it,
    # so it shows whether the app rewrote the value.
    marked_state = "0" + state
    world.write_settings({"shouldMuteInput": "0", "filterState": marked_state, "windowX": "100", "windowY": "80"})

    app = App(world)
    check(app.wait_for_window() is not None, "window appears")
    x, y = app.wait_for_position((100, 80))
    check((x, y) == (100, 80), "window placed at the stored position (%d,%d)" % (x, y))

    cpu_before, wall_before = app.cpu_seconds(), time.monotonic()
    recording = record(world, 0.5, 10.0)
    cpu_share = 100.0 * (app.cpu_seconds() - cpu_before) / (time.monotonic() - wall_before)
    print("      CPU share over the 10 s recording, window shown, audio at 48 kHz/256: %.2f %% of one core (target <= 3 %%)" % cpu_share, flush=True)

    if check(recording is not None, "audio flows through Quillo"):
        result = analyse_tremolo(*recording)
        if check(result is not None, "output is modulated"):
            print("      measured: rate %.4f Hz, gain %.3f to %.3f, right edges %.4f cycles after left" %
                  (result["rate"], result["min"], result["max"], result["lag"]), flush=True)
            check(abs(result["rate"] - 2.0) <= 0.02, "LFO rate within 1 % of 2 Hz")
            check(result["min"] < 0.01 and 0.99 < result["max"] < 1.01, "gain swings between 0 and 1")
            # "Offset R" adds a quarter cycle to the right LFO's phase, so its
            # edges come a quarter cycle before the left ones (three quarters after).
            check(abs(result["lag"] - 0.75) < 0.01, "right LFO a quarter cycle ahead of the left")

    world.run(["xdotool", "windowmove", app.window, "300", "200"])
    moved = app.wait_for_move((100, 80))
    check(app.close_window() == 0, "close request quits with status 0")
    app.finish()
    saved = world.read_settings() or {}
    check(saved.get("filterState") == state, "close rewrote filterState with the same parameters")
    check(moved and (int(saved.get("windowX", -1)), int(saved.get("windowY", -1))) == moved,
          "close stored the window position %s as %s,%s" % (moved, saved.get("windowX"), saved.get("windowY")))

    print("-- next start restores parameters and position", flush=True)
    with open(world.settings_path) as f:
        text = f.read()
    with open(world.settings_path, "w") as f:
        f.write(text.replace(state, marked_state))
    app = App(world)
    check(app.wait_for_window() is not None, "window appears")
    back = moved and app.wait_for_position(moved)
    check(moved and back == moved, "window back at %s (at %s)" % (moved, back))
    recording = record(world, 0.5, 2.0)
    result = recording and analyse_tremolo(*recording)
    check(result is not None and abs(result["rate"] - 2.0) <= 0.02 and result["min"] < 0.01,
          "restored: Depth 1 at 2 Hz (%s)" % (result and "%.4f Hz" % result["rate"]))

    print("-- Ctrl+C quits through shutdown", flush=True)
    world.run(["xdotool", "windowmove", app.window, "220", "150"])
    moved = app.wait_for_move(moved)
    check(app.interrupt() == 0, "Ctrl+C quits with status 0")
    app.finish()
    saved = world.read_settings() or {}
    check(saved.get("filterState") == marked_state, "filterState keeps the value of the last close")
    check(moved and saved_position(saved) == moved, "window position %s saved (%s)" % (moved, saved_position(saved)))
    check(saved.get("shouldMuteInput") == "0", "input muting saved")


def start_placed(world, values=None, position=(200, 150)):
    """Starts the app on the JACK server with these settings and the window
    stored at `position`, so that a click can wait until it is placed there;
    returns the app and where its window is."""
    world.start_jack()
    world.write_settings(dict(values or {}, windowX=str(position[0]), windowY=str(position[1])))
    app = App(world)
    check(app.wait_for_window() is not None, "window appears")
    return app, app.wait_for_position(position)


def test_menu(world):
    print("-- Options menu", flush=True)
    app, (x, y) = start_placed(world)
    dialog = app.open_settings_dialog(x, y)
    check(dialog is not None, "'Audio / MIDI Options' in the 'Options' menu opens the '%s' window" % SETTINGS_DIALOG)
    if dialog:
        world.run(["wmctrl", "-i", "-c", "0x%08x" % int(dialog)])
        check(wait_for(lambda: not world.managed_windows(SETTINGS_DIALOG, app.process.pid), 10), "settings window closes")

    check(app.interrupt() == 0, "quits with status 0")
    printed = app.finish()
    check(printed == "Audio/MIDI Options Clicked\n", "prints the line exactly once: %r" % printed)


def test_quit_with_settings_dialog_open(world):
    for how, quit_app, stores_state in (("Ctrl+C", App.interrupt, False), ("close request", App.close_window, True),
                                        ("SIGTERM", App.terminate, False)):
        print("-- %s with the settings dialog open" % how, flush=True)
        app, (x, y) = start_placed(world)
        dialog = app.open_settings_dialog(x, y)
        check(dialog is not None, "settings dialog open")
        world.run(["xdotool", "windowmove", app.window, "260", "190"])
        moved = app.wait_for_move((x, y))
        check(quit_app(app) == 0, "%s quits with status 0" % how)
        app.finish()
        saved = world.read_settings() or {}
        check(moved and saved_position(saved) == moved, "window position %s saved (%s)" % (moved, saved_position(saved)))
        check(("filterState" in saved) == stores_state,
              "effect state %s" % ("stored" if stores_state else "not stored"))


def saved_position(saved):
    return int(saved.get("windowX", -1)), int(saved.get("windowY", -1))


def outputs_as_stored(ports):
    return ports.get("Quillo:out_1") == {"system:playback_1"} and ports.get("Quillo:out_2") == set() \
        and ports.get("Quillo:in_2") == {"system:capture_2"}


def test_device_setup_kept(world):
    print("-- stored device set-up: one output channel only", flush=True)
    app, (x, y) = start_placed(world, {"audioSetup": ONE_OUTPUT_SETUP, "shouldMuteInput": "0"})
    ports = world.wait_for_connections(outputs_as_stored)
    check(outputs_as_stored(ports), "JACK ports connected as stored: out_1 to playback_1 only, out_2 to nothing (%s)"
          % {p: sorted(c) for p, c in ports.items() if p.startswith("Quillo:")})

    # What the app saves from here on is all it knows: the file on disk no
    # longer holds any of it.
    dialog = app.open_settings_dialog(x, y)
    check(dialog is not None, "settings dialog open")
    world.run(["xdotool", "windowmove", app.window, "240", "170"])
    moved = app.wait_for_move((x, y))
    with open(world.settings_path, "w") as f:
        f.write("<PROPERTIES/>")
    check(app.terminate() == 0, "SIGTERM with the settings dialog open quits with status 0")
    app.finish()
    saved = world.read_settings() or {}
    setup = ET.fromstring(saved["audioSetup"]) if saved.get("audioSetup") else None
    check(setup is not None and setup.get("deviceType") == "JACK" and setup.get("audioDeviceOutChans") == "1",
          "SIGTERM saved the device set-up: %s" % saved.get("audioSetup"))
    check(moved and saved_position(saved) == moved, "SIGTERM saved the window position %s (%s)" % (moved, saved_position(saved)))
    check(saved.get("shouldMuteInput") == "0", "SIGTERM saved the input muting")
    check("filterState" not in saved, "SIGTERM stores no effect state")

    print("-- next start connects the ports as saved", flush=True)
    app = App(world)
    check(app.wait_for_window() is not None, "window appears")
    back = moved and app.wait_for_position(moved)
    check(moved and back == moved, "window back at %s (at %s)" % (moved, back))
    check(outputs_as_stored(world.wait_for_connections(outputs_as_stored)), "JACK ports connected as saved")
    check(app.terminate() == 0, "SIGTERM with nothing open quits with status 0")
    app.finish()


def test_bad_settings(world):
    print("-- bad settings", flush=True)
    world.start_jack()
    default_state = world.state()
    # Small enough for the engine's size limit, so its nesting check is what meets it.
    deep = "<Quillo>" + "<a>" * 4000 + "</a>" * 4000 + "</Quillo>"
    depth_one = '<Quillo><PARAM id="depth" value="1.0"/></Quillo>'

    def blob(text, magic=b"VC2!"):
        data = magic + len(text.encode() + b"\0").to_bytes(4, "little") + text.encode() + b"\0"
        return memory_block_text(data)

    # A whole file that cannot be read is moved aside unchanged; a value that
    # cannot be read is dropped (the device set-up cleared) and the others kept.
    cases = [
        ("settings file that is not XML", None, b"not <xml> at all"),
        ("settings file with bad UTF-8", None, b"<?\xff\xfe<PROPERTIES>"),
        ("deeply nested settings file", None, b"<?xml version=\"1.0\"?><PROPERTIES>" + b"<a>" * 30000 + b"</a>" * 30000 + b"</PROPERTIES>"),
        ("settings file of '/>' nesting", None, b"<PROPERTIES>" + b"<a>/>" * 40000),
        ("processing instruction in the settings root", None, b"<PROPERTIES><?x?>y</PROPERTIES>"),
        ("unterminated character reference in the settings", None, b"<PROPERTIES><VALUE name=\"keep\" val=\"me\"/>&#x"),
        ("audioSetup of '/>' nesting", {"audioSetup": "<a>/>" * 40000, "keep": "me"}, None),
        ("audioSetup with an unterminated character reference", {"audioSetup": "<DEVICESETUP>&#x", "keep": "me"}, None),
        ("filterState that does not decode", {"filterState": "12.!!!", "keep": "me"}, None),
        ("filterState of size -1", {"filterState": "-1.A", "keep": "me"}, None),
        ("filterState of 4 GB", {"filterState": "4294967295.A", "keep": "me"}, None),
        ("filterState with bad magic", {"filterState": blob(depth_one, b"VC3!"), "keep": "me"}, None),
        ("filterState of deeply nested XML", {"filterState": blob(deep), "keep": "me"}, None),
        ("filterState with an unterminated character reference", {"filterState": blob("<Quillo>&#x"), "keep": "me"}, None),
        ("filterState with a base64: attribute",
         {"filterState": blob('<Quillo><PARAM id="depth" base64:value="4294967295.A"/></Quillo>'), "keep": "me"}, None),
    ]

    for what, values, raw in cases:
        world.write_settings(values, raw)
        app = App(world)
        up = app.wait_for_window() is not None
        time.sleep(0.5)
        check(up and app.alive(), what + ": starts")
        check(app.close_window() == 0, what + ": closes with status 0")
        app.finish()
        saved = world.read_settings() or {}
        check(parameter_values(saved.get("filterState")) == parameter_values(default_state), what + ": default parameters")
        if values:
            check(saved.get("keep") == "me" and saved.get("audioSetup") == "", what + ": the other keys are kept")
        else:
            aside = world.settings_path + ".bad"
            kept = os.path.exists(aside) and open(aside, "rb").read() == raw
            check(kept, what + ": kept aside unchanged as Quillo.settings.bad")


def test_settings_that_cannot_be_read(world):
    print("-- settings files that cannot be read", flush=True)
    world.start_jack()

    world.write_settings(raw=b"")
    os.remove(world.settings_path)
    os.symlink("/dev/zero", world.settings_path)
    app = App(world)
    check(app.wait_for_window() is not None, "link to /dev/zero: window appears")
    check(app.close_window() == 0, "link to /dev/zero: closes with status 0")
    app.finish()
    aside = world.settings_path + ".bad"
    check(os.path.islink(aside) and os.readlink(aside) == "/dev/zero", "link to /dev/zero: link moved aside")

    # A folder in the way of the ".bad" name makes the move fail, whoever runs the test.
    hostile = b"<PROPERTIES><VALUE name=\"windowX\" val=\"10\"/><?x?>y</PROPERTIES>"
    world.write_settings(raw=hostile)
    os.makedirs(os.path.join(aside, "in-the-way"))
    app = App(world)
    check(app.wait_for_window() is not None, "file that cannot be moved aside: window appears")
    check(app.close_window() == 0, "file that cannot be moved aside: closes with status 0")
    app.finish()
    with open(world.settings_path, "rb") as f:
        check(f.read() == hostile, "file that cannot be moved aside: left untouched")
    lines = [line for line in app.stderr_text().splitlines() if line.startswith("Quillo: ")]
    check(len(lines) == 1 and world.settings_path in lines[0], "file that cannot be moved aside: one line on standard error: %r" % lines)


def parameter_values(text):
    """The PARAM values of an effect state kept as memory-block text, or None."""
    alphabet = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"
    try:
        size, chars = text.split(".", 1)
        data = bytearray(int(size))
        for i, c in enumerate(chars):
            value = alphabet.index(c)
            for b in range(6):
                bit = i * 6 + b
                if value & (1 << b) and bit < len(data) * 8:
                    data[bit // 8] |= 1 << (bit % 8)
        # Not through an XML parser: a name such as "base64:value" is no namespace here.
        tags = re.findall(r"<PARAM\b([^>]*)>", bytes(data[8:-1]).decode())
        attributes = [dict(re.findall(r'([\w:]+)="([^"]*)"', tag)) for tag in tags]
        return {a.get("id"): a.get("value") for a in attributes}
    except (AttributeError, ValueError, UnicodeDecodeError):
        return None


def memory_block_text(data):
    """juce::MemoryBlock::toBase64Encoding: the size, a dot, then 6 bits a character."""
    alphabet = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"
    bits = len(data) * 8
    chars = []
    for i in range((bits + 5) // 6):
        value = 0
        for b in range(6):
            bit = i * 6 + b
            if bit < bits and data[bit // 8] & (1 << (bit % 8)):
                value |= 1 << b
        chars.append(alphabet[value])
    return "%d.%s" % (len(data), "".join(chars))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--state-tool", required=True)
    tools = parser.parse_args()

    atexit.register(stop_all)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    world = World(tools)
    # Our encoder against the app's own: both start with the magic "VC2!".
    check(world.state().split(".")[1].startswith(memory_block_text(b"VC2!").split(".")[1][:5]),
          "memory-block text encoder agrees with JUCE's")

    for test in (test_first_start, test_without_audio_device, test_prepared_state_and_restart, test_menu,
                 test_quit_with_settings_dialog_open, test_device_setup_kept, test_bad_settings,
                 test_settings_that_cannot_be_read):
        try:
            test(world)
        except Exception as error:  # one broken step must not hide the others
            check(False, "%s raised %r" % (test.__name__, error))

    print("%d check(s) failed" % len(failures) if failures else "all checks passed", flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
