#!/usr/bin/python3
"""bench-startup [-runs N] [-build DIR]: how long tvl4700 -skipBootload takes
to start, beside the pauses its own start-up makes.

Each run starts mendra on a private bus and sandbox, waits until its probes
are ready (10 s), then starts tvl4700 -skipBootload (window on an X server of
its own) and times, from the start of the process:
  - the SCPI and JSON ports announced in the sandbox,
  - the first JSON reply,
  - the start-up step's last log line ("Meter Initialization Complete"),
  - the three channels reading (pollChannel: probe ready and valid).
The start-up path pauses for fixed times of its own: 32 x 1 ms between the
key backlight frames, 2 x 250 ms between each channel's three hellos as its
link starts (1.5 s for the three), 1.5 s for the cards to answer before the
model is decided (one or three channels), 2 s after the key link starts,
3 x 20 ms while the channel handlers are connected and 3 x 200 ms after each
channel's request for all its data: 5.69 s in all, 5.09 s of it before the
servers start.  Not a test: it prints the median and the range of N runs (default 5).
"""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("TVL_SOURCE_DIR", os.path.dirname(os.path.dirname(HERE)))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
from standalone import parse_options, use_build  # noqa: E402

PAUSES_BEFORE_SERVERS = 0.032 + 3 * 2 * 0.25 + 1.5 + 2.0 + 3 * 0.02
PAUSES_TOTAL = PAUSES_BEFORE_SERVERS + 3 * 0.2


def one_run(Instrument, JsonClient, display):
    with Instrument(tvl=False, display=display) as inst:
        cards = inst.procs[inst.cards]
        cards.wait_for_output("Using CAN")
        time.sleep(11)   # mendra's probes become ready after two 5 s periods
        t0 = time.monotonic()
        inst.start_program("tvl4700", ["-can", inst.bus, "-skipBootload"])
        marks = {}
        ports_dir = os.path.join(inst.sandbox, "run", "ports")
        web = None
        end = t0 + 120
        while len(marks) < 5 and time.monotonic() < end:
            now = time.monotonic() - t0
            for service in ("scpi", "json"):
                key = service.upper() + " port announced"
                if key not in marks:
                    try:
                        with open(os.path.join(ports_dir, service)) as f:
                            if f.read().strip():
                                marks[key] = now
                    except FileNotFoundError:
                        pass
            if "JSON port announced" in marks and web is None:
                web = JsonClient(inst.json_port())
                web.ask("getModelNumber")
                marks["first JSON reply"] = time.monotonic() - t0
            if "start-up step done" not in marks and "Meter Initialization Complete" in inst.tvl().output():
                marks["start-up step done"] = now
            if web is not None and "three channels reading" not in marks:
                if all(r["probeState"] == 2 and r["valid"]
                       for r in (web.ask("pollChannel", channel=s) for s in (1, 2, 3))):
                    marks["three channels reading"] = time.monotonic() - t0
            if not inst.tvl().running():
                raise RuntimeError("tvl4700 ended:\n" + inst.tvl().output()[-2000:])
            time.sleep(0.01)
        if web is not None:
            web.close()
        return marks


def main(argv):
    options = parse_options(argv, {"runs": 5, "build": os.path.join(SOURCE, "build")},
                            {"-runs": lambda n: max(1, int(n)), "-build": os.path.abspath})
    if options is None:
        print(__doc__)
        return 2
    runs = options["runs"]
    use_build(options["build"])
    from instrument import Instrument
    from jsonclient import JsonClient
    from screen import XServer

    results = []
    with XServer() as x:
        for _ in range(runs):
            results.append(one_run(Instrument, JsonClient, x.display))
    order = ["SCPI port announced", "JSON port announced", "first JSON reply", "start-up step done",
             "three channels reading"]
    print("tvl4700 -skipBootload start-up, %d runs, seconds from the process start (median, min-max):" % runs)
    for key in order:
        values = sorted(r[key] for r in results if key in r)
        if not values:
            print("  %-24s never" % key)
            continue
        print("  %-24s %6.2f   %.2f-%.2f%s" % (key, values[len(values) // 2], values[0], values[-1],
                                             "" if len(values) == runs else "  (%d runs only)" % len(values)))
    print("  the start-up's own pauses: %.2f s in all, %.2f s before the servers start" % (
        PAUSES_TOTAL, PAUSES_BEFORE_SERVERS))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
