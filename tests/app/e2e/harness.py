"""What the end-to-end scenarios share: the servers, the application, the checks.

A World is an Xvfb (display picked by Xvfb), openbox and, when a scenario asks
for one, a JACK dummy server under a unique name, with HOME pointing at a fresh
folder; everything stops on exit. Each server is waited for by its own sign of
readiness, and one that does not come up is named, with what it printed.
check() prints one line per check and remembers the failures.
"""

import array
import atexit
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from private_display import START_TIMEOUT, ServerDidNotStart, start_xvfb, tail  # noqa: E402

# Waits for the application. Only a failing run waits this long, so they are
# made for a machine busy with other builds and tests.
WINDOW_TIMEOUT = 90
EXIT_TIMEOUT = 60
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
    """Xvfb and openbox, jackd on request, plus the environment every client gets."""

    def __init__(self, tools):
        self.tools = tools
        self.root = tempfile.mkdtemp(prefix="quillo-e2e-")
        atexit.register(shutil.rmtree, self.root, True)
        self.home = os.path.join(self.root, "home")
        self.server = "quillo-e2e-%d-%d" % (os.getpid(), int(time.time() * 1000) % 100000)
        self.env = dict(os.environ, HOME=self.home, JACK_DEFAULT_SERVER=self.server, JACK_NO_START_SERVER="1")
        self.env.pop("XAUTHORITY", None)
        self.reset_home()

        xvfb, self.env["DISPLAY"] = start_xvfb(self.env, self.log("Xvfb"), start_new_session=True)
        children.append(xvfb)

        # openbox is ready once it has taken the screen: it then owns the
        # manager selection and names its check window on the root window.
        openbox = self.spawn_server("openbox", ["openbox"])
        self.wait_for_server("openbox", openbox, self.window_manager_running)

        self.jackd = None

    def log(self, server):
        return os.path.join(self.root, server + ".log")

    def spawn_server(self, name, argv):
        with open(self.log(name), "a") as log:
            return spawn(argv, self.env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)

    def wait_for_server(self, name, process, ready, timeout=START_TIMEOUT):
        """Waits until ready() holds; raises ServerDidNotStart, with the
        server's output, if it does not within the time-out or if it ends."""
        if not wait_for(lambda: ready() or process.poll() is not None, timeout, 0.1) or not ready():
            status = process.poll()
            raise ServerDidNotStart("%s %s; it printed:\n%s" % (
                name, "did not come up within %d s" % timeout if status is None else "ended with status %d" % status,
                tail(self.log(name))))

    def window_manager_running(self):
        owner = self.run(["xprop", "-root", "-notype", "_NET_SUPPORTING_WM_CHECK"]).stdout
        window = re.search(r"window id # (0x[0-9a-fA-F]+)", owner)
        if not window:
            return False
        name = self.run(["xprop", "-id", window.group(1), "-notype", "_NET_WM_NAME"]).stdout
        return "openbox" in name.lower()

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

    def find_window(self, name, pid, timeout=WINDOW_TIMEOUT):
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
            # jack_wait -w returns as soon as a client can connect; each round
            # is bounded so that a server that died is noticed. jackd now and
            # then hangs in its start when others start beside it: a server
            # that does not come up is replaced, and named if none does.
            for attempt in range(3):
                self.jackd = self.spawn_server("jackd", ["jackd", "--no-realtime", "--sync", "--timeout", "10000",
                                                         "-d", "dummy", "-r", str(SAMPLE_RATE), "-p", "256"])
                try:
                    self.wait_for_server("jackd", self.jackd, lambda: self.run(
                        ["jack_wait", "-w", "-t", "5"], timeout=30).returncode == 0
                        and self.run(["jack_lsp"]).returncode == 0, timeout=60)
                    return
                except ServerDidNotStart as error:
                    stop(self.jackd)
                    if attempt == 2:
                        raise
                    print("      %s\n      starting jackd again" % str(error).replace("\n", "\n      "), flush=True)

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

    def wait_for_connections(self, expected, timeout=30):
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
        self.stderr_path = os.path.join(world.root, "app-stderr-%d.txt" % time.monotonic_ns())
        self.stderr = open(self.stderr_path, "w")
        # Standard output is a pipe, as in "Quillo | tee log": what the app
        # prints reaches the reader only once it flushes it.
        self.process = spawn([world.tools.app], env, stdout=subprocess.PIPE, stderr=self.stderr)
        self.printed = []
        self.reader = threading.Thread(target=self.read_stdout, daemon=True)
        self.reader.start()
        self.window = None

    def read_stdout(self):
        for line in iter(self.process.stdout.readline, b""):
            self.printed.append(line.decode(errors="replace"))

    def printed_so_far(self):
        """What has come through the app's standard output so far."""
        return "".join(self.printed)

    def wait_for_window(self):
        # Managed, not merely created: the close request goes through the window
        # manager, and JUCE's first window of that title is replaced before it is shown.
        self.window = self.world.find_window("Quillo", self.process.pid)
        return self.window

    def position(self):
        return self.geometry()[:2]

    def wait_for_position(self, expected, timeout=30):
        """Waits until the window is at `expected` (the window manager places it
        after it appears); returns where it is in the end."""
        wait_for(lambda: self.position() == expected, timeout)
        return self.position()

    def wait_for_move(self, old, timeout=30):
        """Waits until the window has left `old`; returns its new position, or None."""
        moved = wait_for(lambda: (lambda p: p != old and p)(self.position()), timeout)
        # The X server knows of the move before the app has read the event that
        # tells it, and a quit request that comes in between (JUCE looks at
        # Ctrl+C before it reads X events, and our SIGTERM pipe may come first
        # too) stores the old position; no user quits that fast. The pause is
        # long enough for a loaded machine.
        time.sleep(1.5)
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

    def wait_exit(self, timeout=EXIT_TIMEOUT):
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
                             and world.focused_window() == self.window, 30)
        if not menu_open:
            return None
        world.run(["xdotool", "key", "Down", "Return"])
        return world.find_window(SETTINGS_DIALOG, self.process.pid)

    def finish(self):
        if stop(self.process, signal.SIGKILL) != 0:
            # A client that died without closing can leave the JACK server
            # waiting for it; the next test gets a fresh one.
            self.world.stop_jack()
        self.reader.join()
        self.process.stdout.close()
        self.stderr.close()
        return self.printed_so_far()

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
        if os.path.exists(world.log("jackd")):
            print("      jackd:\n" + tail(world.log("jackd"), 5), end="", flush=True)
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


