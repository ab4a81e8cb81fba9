"""The end-to-end scenarios, one CTest entry each (quillo_e2e_<name>).

Each is a function of a fresh World (its own X server, window manager, home
folder and, if it starts one, JACK server) that runs the real application and
reports through check().
"""

import os
import re
import time
import xml.etree.ElementTree as ET

from harness import (App, ONE_OUTPUT_SETUP, SETTINGS_DIALOG, analyse_tremolo, check, memory_block_text,
                     parameter_values, record, wait_for)

# What libjack says when it finds no server; any line naming JACK at all counts.
LIBJACK_LINE = re.compile(r"jack|cannot connect to server", re.IGNORECASE)


def first_start(world):
    print("-- first start, no settings file, JACK running", flush=True)
    world.reset_home()
    world.start_jack()
    app = App(world)
    check(app.wait_for_window() is not None, "window titled 'Quillo' appears")
    centred = lambda x, y, w, h: abs((x + w / 2) - 640) <= 2 and abs((y + h / 2) - 400) <= 40
    wait_for(lambda: centred(*app.geometry()), 30)
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


def without_audio_device(world):
    print("-- start without any audio device, no JACK server to find", flush=True)
    world.reset_home()
    app = App(world, jack=False)
    check(app.wait_for_window() is not None, "window appears without an audio device")
    time.sleep(1.0)
    check(app.alive(), "keeps running without an audio device")
    check(app.interrupt() == 0, "Ctrl+C quits with status 0")
    app.finish()
    # The file is written as the app quits: it shows the run went through
    # start-up and shut down in order.
    check(os.path.isfile(world.settings_path), "Ctrl+C wrote the settings file")
    # libjack's failed connection attempts ("Cannot connect to server socket"
    # and the like) would otherwise reach the user's terminal.
    jack_lines = [line for line in app.stderr_text().splitlines() if LIBJACK_LINE.search(line)]
    check(not jack_lines, "none of libjack's lines on standard error: %r" % jack_lines)


def prepared_state_and_restart(world):
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


def menu(world):
    print("-- Options menu", flush=True)
    app, (x, y) = start_placed(world)
    dialog = app.open_settings_dialog(x, y)
    check(dialog is not None, "'Audio / MIDI Options' in the 'Options' menu opens the '%s' window" % SETTINGS_DIALOG)
    # Read while the app runs: a line left in the buffer of a pipe would only
    # come out at exit, and not at all if the app were killed.
    line = wait_for(lambda: "Audio/MIDI Options Clicked\n" in app.printed_so_far(), 30)
    check(line and app.alive(), "the line comes through the pipe while the app runs: %r" % app.printed_so_far())
    if dialog:
        world.run(["wmctrl", "-i", "-c", "0x%08x" % int(dialog)])
        check(wait_for(lambda: not world.managed_windows(SETTINGS_DIALOG, app.process.pid), 10), "settings window closes")

    check(app.interrupt() == 0, "quits with status 0")
    printed = app.finish()
    check(printed == "Audio/MIDI Options Clicked\n", "prints the line exactly once: %r" % printed)


def quit_with_settings_dialog_open(world):
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


def device_setup_kept(world):
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


def bad_settings(world):
    print("-- bad settings", flush=True)
    world.start_jack()
    default_state = world.state()
    # Our encoder against the app's own: both start with the magic "VC2!".
    check(default_state.split(".")[1].startswith(memory_block_text(b"VC2!").split(".")[1][:5]),
          "memory-block text encoder agrees with JUCE's")
    # The shared corpus of hostile settings files: each file with the outcome
    # it must have. A file that cannot be read is moved aside unchanged; in one
    # that can, the bad value alone is dropped and the rest kept.
    corpus = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "settings-corpus")
    with open(os.path.join(corpus, "outcomes.txt")) as f:
        cases = [line.split() for line in f if line.strip() and not line.startswith("#")]
    check(len(cases) > 0, "the corpus of hostile settings lists its cases")

    for case, outcome in cases:
        with open(os.path.join(corpus, case + ".settings"), "rb") as f:
            raw = f.read()
        world.write_settings(raw=raw)
        app = App(world)
        up = app.wait_for_window() is not None
        time.sleep(0.5)
        check(up and app.alive(), case + ": starts")
        check(app.close_window() == 0, case + ": closes with status 0")
        app.finish()
        saved = world.read_settings() or {}
        if case.startswith("effect_state_") or outcome == "setAside":
            check(parameter_values(saved.get("filterState")) == parameter_values(default_state), case + ": default parameters")
        if outcome == "ready":
            check(saved.get("marker") == "kept", case + ": the rest of the file is kept")
        else:
            aside = world.settings_path + ".bad"
            kept = os.path.exists(aside) and open(aside, "rb").read() == raw
            check(kept, case + ": kept aside unchanged as Quillo.settings.bad")


def settings_that_cannot_be_read(world):
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




SCENARIOS = {scenario.__name__: scenario for scenario in (
    first_start, without_audio_device, prepared_state_and_restart, menu, quit_with_settings_dialog_open,
    device_setup_kept, bad_settings, settings_that_cannot_be_read)}

# The scenarios that start a JACK server. jackd servers started at the same
# moment can fail to come up, so the build runs these one at a time.
USES_JACK = set(SCENARIOS) - {"without_audio_device"}
