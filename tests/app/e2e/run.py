#!/usr/bin/env python3
"""Runs one end-to-end scenario of the real Quillo binary:

    run.py --app Quillo --probe quillo_jack_probe --state-tool quillo_state_tool SCENARIO

Prints one line per check; exits non-zero if any check fails, or if one of
the servers the scenario needs does not come up. --list names the scenarios.
"""

import argparse
import atexit
import signal
import sys
import traceback

import harness
from scenarios import SCENARIOS, USES_JACK


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app")
    parser.add_argument("--probe")
    parser.add_argument("--state-tool")
    parser.add_argument("--list", action="store_true", help="print the scenario names and stop")
    parser.add_argument("scenario", nargs="?", choices=sorted(SCENARIOS))
    tools = parser.parse_args()

    if tools.list:
        # One line a scenario: its name, then "jack" if it starts a JACK server.
        print("\n".join(name + (" jack" if name in USES_JACK else "") for name in SCENARIOS))
        return 0
    if not (tools.scenario and tools.app and tools.probe and tools.state_tool):
        parser.error("--app, --probe, --state-tool and a scenario are needed")

    atexit.register(harness.stop_all)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    try:
        world = harness.World(tools)
        SCENARIOS[tools.scenario](world)
    except harness.ServerDidNotStart as error:
        harness.check(False, str(error))
    except Exception as error:  # reported as a failed check, with the checks before it
        traceback.print_exc(file=sys.stdout)
        harness.check(False, "%s raised %r" % (tools.scenario, error))

    failures = harness.failures
    print("%s: %d check(s) failed" % (tools.scenario, len(failures)) if failures
          else "%s: all checks passed" % tools.scenario, flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
