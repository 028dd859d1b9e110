#!/usr/bin/env python3
"""bench-frontpanel [-seconds N] [-build DIR]: the front panel's cost.

Starts mendra, frontpanel-sim and tvl4700 -skipBootload on a private bus and
sandbox, the window on an X server of its own (Xvfb), waits for the three
probes, puts the three cards at their fastest rate (AC, widest filter: one
sample every 1638 us each) and the readouts at their fastest update rate (5
per second), lets them settle, then measures over N seconds (default 20) the
CPU share and resident memory of tvl4700 beside mendra's.  Not a test: it
prints figures; the targets are under 10 % of one core and under 30 MB
resident for tvl4700.
"""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("TVL_SOURCE_DIR", os.path.dirname(os.path.dirname(HERE)))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
from standalone import cpu_seconds, parse_options, resident_kb, stat_cpu_seconds, use_build  # noqa: E402


def cpu_by_thread(pid):
    """CPU seconds by thread, keyed by thread id and name."""
    out = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/comm" % (pid, tid)) as f:
                name = f.read().strip()
            out[(int(tid), name)] = stat_cpu_seconds("/proc/%d/task/%s/stat" % (pid, tid))
        except OSError:
            pass
    return out


def main(argv):
    options = parse_options(argv, {"seconds": 20.0, "build": os.path.join(SOURCE, "build")},
                            {"-seconds": float, "-build": os.path.abspath})
    if options is None:
        print(__doc__)
        return 2
    seconds = options["seconds"]
    use_build(options["build"])
    from instrument import Instrument
    from jsonclient import JsonClient
    from screen import XServer

    with XServer() as x, Instrument(frontpanel=True, display=x.display) as inst:
        inst.wait_ready()
        with JsonClient(inst.json_port()) as web:
            for slot in (1, 2, 3):
                web.poll_until(lambda r: r["probeState"] == 2 and r["valid"], "pollChannel", 60, channel=slot)
            for slot in (1, 2, 3):
                assert web.ask("setMode", channel=slot, mode=1) == {"success": True}
                assert web.ask("setFreqRange", channel=slot, range=0) == {"success": True}
            assert web.ask("setUpdateRate", rate=5.0) == {"success": True}
            time.sleep(5)   # the streams and the readouts settle
            tvl = inst.tvl().proc.pid
            cards = inst.procs[inst.cards].proc.pid
            cpu0 = {p: cpu_seconds(p) for p in (tvl, cards)}
            threads0 = cpu_by_thread(tvl)
            t0 = time.monotonic()
            rss = {tvl: [], cards: []}
            while time.monotonic() - t0 < seconds:
                time.sleep(1)
                for p in rss:
                    rss[p].append(resident_kb(p))
            wall = time.monotonic() - t0
            share = {p: 100.0 * (cpu_seconds(p) - cpu0[p]) / wall for p in (tvl, cards)}
            threads1 = cpu_by_thread(tvl)
            modes = [web.ask("pollChannel", channel=s)["mode"] for s in (1, 2, 3)]
        assert inst.tvl().running()

    print("Three cards streaming (AC, one sample per 1638 us each), readouts at 5 updates/s, "
          "measured over %.1f s:" % wall)
    print("  channel modes at the end: %s" % modes)
    for name, p, target in (("tvl4700", tvl, "under 10 % of one core, under 30 MB"), ("mendra", cards, None)):
        line = "  %-8s CPU %5.2f %% of one core, resident %6.1f MB (max %6.1f MB)" % (
            name, share[p], rss[p][-1] / 1024.0, max(rss[p]) / 1024.0)
        if target:
            ok = share[p] < 10.0 and max(rss[p]) < 30 * 1024
            line += "   target %s%s" % (target, "" if ok else "  ABOVE TARGET")
        print(line)
    busy = sorted(((t1 - threads0.get(k, 0.0), k) for k, t1 in threads1.items()), reverse=True)
    print("  tvl4700 by thread: " + ", ".join("%s/%d %.2f %%" % (k[1], k[0], 100.0 * t / wall)
                                             for t, k in busy if t > 0))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
