#!/usr/bin/python3
"""soak.py [-minutes M] [-build DIR | -asan | -tsan] [-no-frontpanel] [-out DIR]
          [-rate R] [-sample S]

A long run of the whole instrument, for faults that only time shows: mendra,
frontpanel-sim and tvl4700 -skipBootload on a private bus and sandbox, the
window on an X server of its own (Xvfb), while
  - a SCPI client (PyVISA) polls readings, status and the error queue,
  - a JSON client polls the channels, the meter and the data log's row count,
    and a second one connects, asks and goes, again and again,
  - a data log runs (internal folder) from start to end,
  - front-panel keys are pressed through frontpanel-sim (menus opened and
    left, holds and relative toggled on channel 1).
Every S seconds (default 30) it samples the resident memory and CPU time of
the three programs.  At the end it stops the log and reports:
  - crashes (a program gone before the end, or ending badly on SIGTERM),
  - sanitizer reports (AddressSanitizer/UBSan/ThreadSanitizer output in the
    programs' output or in the report files of the run),
  - the clients' request counts and errors (failed requests, SCPI error
    queue entries),
  - resident memory at start and end and its growth,
  - whether every data-log row is present: the rows the instrument counted
    against the rows in the file, each row whole, timestamps increasing, and
    no gap longer than a few update periods.
Exit status 0 when no fault was seen.

-asan runs the programs of build-asan (AddressSanitizer + UBSan), -tsan those
of build-tsan (ThreadSanitizer, suppressions of tools/tsan.supp); their
reports go to OUT/sanitizer/.  OUT (default /tmp/tvl-soak-<time>) also
receives the report (report.txt), the samples (memory.csv), the programs'
output and the data log.  Not a test: run it by hand, for 30 minutes or more.
"""
import csv
import datetime
import os
import re
import shutil
import signal
import sys
import threading
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("TVL_SOURCE_DIR", os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
from standalone import cpu_seconds, parse_options, resident_kb, use_build  # noqa: E402

SCPI_QUERIES = [":MEAS:FLUX?", ":MEAS2:FLUX?", ":MEAS3:FLUX?", ":MEAS:FLUX:ALL?", ":CALC:VSUM?", "*STB?",
                ":STAT:OPER:COND?", ":MEAS2:TEMP?", ":UNIT:FLUX?", ":DISP:RATE?", "*IDN?", ":SYST:TIME?"]
JSON_POLLS = [("pollChannel", {"channel": 1}), ("pollChannel", {"channel": 2}), ("pollChannel", {"channel": 3}),
              ("pollMeter", {"vsum": True}), ("getDataLogRowCount", {}), ("getSystemInfo", {})]
# Key numbers of frontpanel-sim: soft keys 1-6, Back 31, channel 1's Hold 9,
# Reset 10, Relative 11.  Every menu opened is left again; every toggle is
# pressed twice.  Nothing here touches the data log, the mode or the range.
KEY_CYCLE = [1, 1, 31, 31, 2, 31, 3, 31, 4, 31, 5, 31, 6, 31, 9, 10, 9, 11, 11]
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer",
                   "runtime error:", "ThreadSanitizer: reported", "SUMMARY: UndefinedBehaviorSanitizer")


def proc_stat(pid):
    """(resident kB, CPU seconds) of a process, or None when it is gone."""
    try:
        return resident_kb(pid), cpu_seconds(pid)
    except (OSError, IndexError):
        return None


class Counter:
    """Requests and errors of one client, with the first few errors kept."""

    def __init__(self, name):
        self.name, self.requests, self.errors, self.samples = name, 0, 0, []
        self.lock = threading.Lock()

    def ok(self, n=1):
        with self.lock:
            self.requests += n

    def error(self, what):
        with self.lock:
            self.requests += 1
            self.errors += 1
            if len(self.samples) < 10:
                self.samples.append("%s %s" % (time.strftime("%H:%M:%S"), what))

    def line(self):
        return "%-22s %9d requests, %d errors" % (self.name, self.requests, self.errors)


def reconnect(counter, client, connect):
    """After a failed request: closes the client and, a second later, opens
    another.  When that fails too the closed one is kept, and its next
    request fails and comes here again."""
    try:
        client.close()
    except Exception:  # noqa: BLE001
        pass
    time.sleep(1)
    try:
        return connect()
    except Exception as e:  # noqa: BLE001
        counter.error("reconnect: %r" % e)
        return client


class Soak:
    def __init__(self, minutes, build, frontpanel, out, rate, sample, sanitizer):
        self.minutes, self.build, self.frontpanel, self.out = minutes, build, frontpanel, out
        self.rate, self.sample, self.sanitizer = rate, sample, sanitizer
        self.stop = threading.Event()
        self.faults = []
        self.counters = {n: Counter(n) for n in ("SCPI", "SCPI error queue", "JSON poller",
                                                 "JSON reconnecting", "keys")}
        self.samples = []

    # -- the clients
    def scpi_client(self, port):
        from scpiclient import open_session
        c, q = self.counters["SCPI"], self.counters["SCPI error queue"]
        session = open_session(port)
        i = 0
        while not self.stop.is_set():
            query = SCPI_QUERIES[i % len(SCPI_QUERIES)]
            i += 1
            try:
                reply = session.query(query)
                if not reply:
                    c.error("%s: empty reply" % query)
                else:
                    c.ok()
                if i % 10 == 0:
                    # The error queue, oldest first: every entry but the
                    # power-on notice is a fault of the soak or of the instrument.
                    for _ in range(25):
                        e = session.query(":SYST:ERR:NEXT?")
                        if e.startswith("0,"):
                            q.ok()
                            break
                        if e == '-500,"Power on"':
                            q.ok()
                        else:
                            q.error(e)
            except Exception as e:  # noqa: BLE001 - a soak counts every failure
                c.error("%s: %r" % (query, e))
                session = reconnect(c, session, lambda: open_session(port))
            time.sleep(0.02)
        session.close()

    def json_poller(self, port):
        from jsonclient import JsonClient
        c = self.counters["JSON poller"]
        web = JsonClient(port)
        i = 0
        while not self.stop.is_set():
            action, members = JSON_POLLS[i % len(JSON_POLLS)]
            i += 1
            try:
                reply = web.ask(action, **members)
                if not isinstance(reply, dict) or reply.get("success") is False:
                    c.error("%s: %r" % (action, reply))
                else:
                    c.ok()
            except Exception as e:  # noqa: BLE001
                c.error("%s: %r" % (action, e))
                web = reconnect(c, web, lambda: JsonClient(port))
            time.sleep(0.02)
        web.close()

    def json_reconnecting(self, port):
        """Connects, asks a few things, goes; every half second."""
        from jsonclient import JsonClient
        c = self.counters["JSON reconnecting"]
        while not self.stop.is_set():
            try:
                with JsonClient(port) as web:
                    for action, members in JSON_POLLS[:4]:
                        reply = web.ask(action, **members)
                        if not isinstance(reply, dict):
                            c.error("%s: %r" % (action, reply))
                        else:
                            c.ok()
            except Exception as e:  # noqa: BLE001
                c.error(repr(e))
            self.stop.wait(0.5)

    def keys(self, inst):
        c = self.counters["keys"]
        i = 0
        while not self.stop.is_set():
            try:
                inst.press(KEY_CYCLE[i % len(KEY_CYCLE)])
                c.ok()
            except Exception as e:  # noqa: BLE001
                c.error(repr(e))
            i += 1
            self.stop.wait(0.4)

    def guarded(self, client, arg):
        """Runs a client; its end by an exception is a fault of the soak."""
        try:
            client(arg)
        except Exception:  # noqa: BLE001
            self.faults.append("client %s ended:\n%s" % (client.__name__, traceback.format_exc()))

    # -- the run
    def sample_now(self, t0, pids):
        row = {"seconds": round(time.monotonic() - t0, 1)}
        for name, pid in pids.items():
            s = proc_stat(pid)
            row[name + "_rss_kb"] = s[0] if s else ""
            row[name + "_cpu_s"] = round(s[1], 2) if s else ""
        with open("/proc/loadavg") as f:
            row["load"] = f.read().split()[0]
        self.samples.append(row)
        return row

    def run(self):
        use_build(self.build)
        from instrument import Instrument
        from jsonclient import JsonClient
        from screen import XServer

        with XServer() as x, Instrument(frontpanel=self.frontpanel, display=x.display) as inst:
            self.inst = inst
            self.sandbox = inst.sandbox
            inst.wait_ready()
            with JsonClient(inst.json_port()) as web:
                for slot in (1, 2, 3):
                    web.poll_until(lambda r: r["probeState"] == 2 and r["valid"], "pollChannel", 120, channel=slot)
                if web.ask("setUpdateRate", rate=self.rate) != {"success": True}:
                    self.faults.append("setUpdateRate %s refused" % self.rate)
                if web.ask("startDataLogging") != {"success": True}:
                    self.faults.append("startDataLogging refused")
                log_started = time.time()
                scpi_port, json_port = inst.scpi_port(), inst.json_port()
                jobs = [(self.scpi_client, scpi_port), (self.json_poller, json_port),
                        (self.json_reconnecting, json_port)] + ([(self.keys, inst)] if self.frontpanel else [])
                threads = [threading.Thread(target=self.guarded, args=job, daemon=True) for job in jobs]
                for t in threads:
                    t.start()

                names = ["tvl4700", inst.cards] + (["frontpanel-sim"] if self.frontpanel else [])
                pids = {n: inst.procs[n].proc.pid for n in names}
                t0 = time.monotonic()
                end = t0 + self.minutes * 60
                print("soak: %s for %.1f min, sandbox %s, report in %s" % (
                    ", ".join(names), self.minutes, self.sandbox, self.out), flush=True)
                next_print = t0
                while time.monotonic() < end:
                    row = self.sample_now(t0, pids)
                    gone = [n for n in names if not inst.procs[n].running()]
                    if time.monotonic() >= next_print or gone:
                        print("  %6.0f s  tvl4700 %s kB, requests/errors %s, load %s" % (
                            row["seconds"], row["tvl4700_rss_kb"],
                            " ".join("%d/%d" % (c.requests, c.errors) for c in self.counters.values()),
                            row["load"]), flush=True)
                        next_print += 300
                    if gone:
                        self.faults.append("ended during the soak: %s" % ", ".join(
                            "%s (status %s)" % (n, inst.procs[n].proc.returncode) for n in gone))
                        break
                    time.sleep(min(self.sample, max(0.0, end - time.monotonic())) or 0.1)
                self.sample_now(t0, pids)
                self.duration = time.monotonic() - t0
                self.stop.set()
                for t in threads:
                    t.join(30)

                self.log_rows_counted = self.log_name = None
                if inst.tvl().running():
                    # A connection of its own: the server closes the first one
                    # once it has been idle for two minutes.
                    try:
                        with JsonClient(json_port) as control:
                            stop = control.ask("stopDataLogging")
                            log_stopped = time.time()
                            self.log_rows_counted = control.ask("getDataLogRowCount")["rows"]
                        self.log_name = stop.get("filename")
                        self.check_log(inst, log_stopped - log_started)
                    except Exception as e:  # noqa: BLE001
                        self.faults.append("stopping the data log: %r" % e)
            # The programs end as the instrument ends them (SIGTERM); a crash
            # or a sanitizer's exit status shows here.
            self.statuses = {}
            for n in ("tvl4700", "frontpanel-sim", inst.cards):
                if n in inst.procs:
                    self.statuses[n] = inst.procs[n].stop(grace=30)
            self.keep_outputs(inst)
        return self.report()

    def check_log(self, inst, logged_seconds):
        path = inst.file("/var/www" + self.log_name)
        shutil.copy(path, os.path.join(self.out, os.path.basename(path)))
        with open(path) as f:
            lines = f.read().splitlines()
        header, rows = lines[0].split(","), lines[1:]
        self.log_rows_file = len(rows)
        self.log_rows_expected = logged_seconds * self.rate
        broken, stamps = 0, []
        for row in rows:
            fields = row.split(",")
            m = re.match(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})$", fields[0])
            if len(fields) != len(header) or not m:
                broken += 1
                continue
            stamps.append(datetime.datetime.strptime(m.group(1), "%Y-%m-%d %H:%M:%S.%f").timestamp())
        gaps = [b - a for a, b in zip(stamps, stamps[1:])]
        period = 1.0 / self.rate
        self.log_broken = broken
        self.log_backwards = sum(1 for g in gaps if g < 0)
        # A row comes with each reading of channel 1, a little slower than the
        # display rate (a reading takes whole card samples).  A reading held
        # up by the machine's load comes late, not never: the rows are
        # counted against the instrument's own count, and the gaps are shown.
        self.log_period = sorted(gaps)[len(gaps) // 2] if gaps else period
        self.log_max_gap = max(gaps) if gaps else 0.0
        self.log_long_gaps = sum(1 for g in gaps if g > 1.0)
        if self.log_rows_file != self.log_rows_counted:
            self.faults.append("data log: %d rows in the file, the instrument counted %d"
                               % (self.log_rows_file, self.log_rows_counted))
        if broken or self.log_backwards:
            self.faults.append("data log: %d broken rows, %d timestamps going back" % (broken, self.log_backwards))
        if self.log_max_gap > 5.0:
            self.faults.append("data log: no row for %.1f s" % self.log_max_gap)

    def keep_outputs(self, inst):
        for n in os.listdir(os.path.join(inst.sandbox, "var", "log")):
            if n.endswith(".out"):
                shutil.copy(os.path.join(inst.sandbox, "var", "log", n), os.path.join(self.out, n))

    def sanitizer_findings(self):
        found = []
        for folder in (self.out, os.path.join(self.out, "sanitizer")):
            if not os.path.isdir(folder):
                continue
            for n in sorted(os.listdir(folder)):
                p = os.path.join(folder, n)
                if not os.path.isfile(p) or n.endswith(".csv") or n.endswith(".txt"):
                    continue
                with open(p, "rb") as f:
                    text = f.read().decode("latin-1")
                hits = [m for m in SANITIZER_MARKS if m in text]
                if hits or folder.endswith("sanitizer"):
                    found.append("%s: %s" % (p, ", ".join(hits) or "report file"))
        return found

    def report(self):
        names = [k[:-7] for k in self.samples[0] if k.endswith("_rss_kb")]
        with open(os.path.join(self.out, "memory.csv"), "w", newline="") as f:
            w = csv.DictWriter(f, fieldnames=list(self.samples[0].keys()))
            w.writeheader()
            w.writerows(self.samples)
        lines = ["Soak of %s (%s build), %.1f min, %d s samples, display rate %.1f/s, started %s" % (
            ", ".join(names), self.sanitizer or "normal", self.duration / 60, self.sample, self.rate,
            time.strftime("%Y-%m-%d %H:%M", time.localtime(time.time() - self.duration)))]
        load = [float(s["load"]) for s in self.samples]
        lines.append("machine load (1 min): %.1f-%.1f, mean %.1f, on %d cores" % (
            min(load), max(load), sum(load) / len(load), os.cpu_count()))
        lines.append("clients:")
        lines += ["  " + c.line() for c in self.counters.values()]
        for c in self.counters.values():
            lines += ["    " + s for s in c.samples]
        lines.append("memory (resident) and CPU:")
        first, last = self.samples[0], self.samples[-1]
        for n in names:
            rss = [s[n + "_rss_kb"] for s in self.samples if s[n + "_rss_kb"] != ""]
            # Growth over the second half, where start-up allocations are done.
            half = [s[n + "_rss_kb"] for s in self.samples[len(self.samples) // 2:] if s[n + "_rss_kb"] != ""]
            cpu = (last[n + "_cpu_s"] - first[n + "_cpu_s"]) if last[n + "_cpu_s"] != "" else float("nan")
            lines.append("  %-15s start %7.1f MB, end %7.1f MB, max %7.1f MB, second half %+.1f MB; "
                         "CPU %.1f %% of one core" % (n, rss[0] / 1024, rss[-1] / 1024, max(rss) / 1024,
                                                    (half[-1] - half[0]) / 1024 if half else 0.0,
                                                    100 * cpu / max(self.duration, 1)))
        if getattr(self, "log_name", None) and hasattr(self, "log_rows_file"):
            lines.append("data log %s: %d rows counted by the instrument, %d in the file (%d at the nominal "
                         "%.1f/s); %d broken; median period %.3f s, longest gap %.2f s, %d gaps over 1 s" % (
                             self.log_name, self.log_rows_counted, self.log_rows_file, self.log_rows_expected,
                             self.rate, self.log_broken, self.log_period, self.log_max_gap, self.log_long_gaps))
        lines.append("exit statuses on SIGTERM: " + ", ".join("%s %s" % kv for kv in self.statuses.items()))
        for n, status in self.statuses.items():
            if status not in (0, -signal.SIGTERM):
                self.faults.append("%s ended with status %s" % (n, status))
        for c in self.counters.values():
            if c.errors:
                self.faults.append("%s: %d errors" % (c.name, c.errors))
        san = self.sanitizer_findings()
        lines.append("sanitizer reports: %s" % ("none" if not san else ""))
        lines += ["  " + s for s in san]
        self.faults += ["sanitizer: " + s for s in san]
        lines.append("FAULTS:" if self.faults else "no fault seen")
        lines += ["  " + f for f in self.faults]
        text = "\n".join(lines) + "\n"
        with open(os.path.join(self.out, "report.txt"), "w") as f:
            f.write(text)
        print(text, end="")
        return 1 if self.faults else 0


def main(argv):
    options = parse_options(
        argv, {"minutes": 30.0, "build": None, "frontpanel": True, "out": None, "rate": 5.0, "sample": 30.0,
               "sanitizer": None},
        {"-minutes": float, "-build": os.path.abspath, "-out": os.path.abspath, "-rate": float, "-sample": float},
        {"-asan": ("sanitizer", "asan"), "-tsan": ("sanitizer", "tsan"), "-no-frontpanel": ("frontpanel", False)})
    if options is None:
        print(__doc__)
        return 2
    minutes, build, frontpanel, out, rate, sample, sanitizer = (options[k] for k in (
        "minutes", "build", "frontpanel", "out", "rate", "sample", "sanitizer"))
    build = build or os.path.join(SOURCE, {"asan": "build-asan", "tsan": "build-tsan"}.get(sanitizer, "build"))
    out = out or "/tmp/tvl-soak-" + time.strftime("%Y%m%d-%H%M%S")
    os.makedirs(os.path.join(out, "sanitizer"), exist_ok=True)
    reports = os.path.join(out, "sanitizer", "report")
    if sanitizer == "asan":
        os.environ["ASAN_OPTIONS"] = "log_path=%s log_exe_name=1 detect_leaks=1 %s" % (
            reports, os.environ.get("ASAN_OPTIONS", ""))
        os.environ["UBSAN_OPTIONS"] = "print_stacktrace=1 log_path=%s log_exe_name=1 %s" % (
            reports, os.environ.get("UBSAN_OPTIONS", ""))
    elif sanitizer == "tsan":
        os.environ["TSAN_OPTIONS"] = "suppressions=%s log_path=%s log_exe_name=1 second_deadlock_stack=1 %s" % (
            os.path.join(SOURCE, "tools", "tsan.supp"), reports, os.environ.get("TSAN_OPTIONS", ""))
    try:
        return Soak(minutes, build, frontpanel, out, rate, sample, sanitizer).run()
    except Exception:  # noqa: BLE001
        traceback.print_exc()
        return 3


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
