"""Load on the JSON port: 8 web clients poll a channel 20 times a second each
for a minute (TVL_JSON_LOAD_SECONDS sets another duration) while another
client opens connections and never closes them.  Every request gets its one
reply, the hoarder runs into the connection cap without starving the
pollers, and tvl4700's resident memory stays flat."""
import os
import select
import socket
import threading
import time

from instrument import Instrument
from jsonclient import JsonClient

CLIENTS = 8
RATE_HZ = 20
DURATION = float(os.environ.get("TVL_JSON_LOAD_SECONDS", "60"))
WARM_UP = min(5.0, DURATION / 4)
HOARD = 40                 # connections opened and kept: beyond the server's cap
SERVER_CAP = 16
RSS_GROWTH_LIMIT_KB = 4096


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for %d" % pid)


def wait_for_settled_memory(pid, step=5.0, tolerance_kb=256, timeout=120.0):
    end = time.monotonic() + timeout
    last = resident_kb(pid)
    while time.monotonic() < end:
        time.sleep(step)
        now = resident_kb(pid)
        if abs(now - last) <= tolerance_kb:
            return now
        last = now
    raise TimeoutError("tvl4700's resident memory did not settle (last %d kB)" % last)


def count_closed_by_server(sockets, wanted, timeout=30.0):
    """How many of the sockets the server has closed, waiting until there
    are wanted of them (or the time-out)."""
    closed = set()
    end = time.monotonic() + timeout
    while len(closed) < wanted and time.monotonic() < end:
        readable = select.poll()
        for s in sockets:
            if s not in closed:
                readable.register(s, select.POLLIN)
        for fd, _ in readable.poll(200):
            s = next(x for x in sockets if x.fileno() == fd)
            try:
                if s.recv(1) == b"":
                    closed.add(s)
            except ConnectionResetError:
                closed.add(s)
    return len(closed)


class Poller(threading.Thread):
    def __init__(self, port, channel, end):
        super().__init__(daemon=True)
        self.client = JsonClient(port)
        self.channel = channel
        self.end = end
        self.requests = 0
        self.replies = 0
        self.errors = []

    def run(self):
        period = 1.0 / RATE_HZ
        next_time = time.monotonic()
        try:
            while time.monotonic() < self.end:
                self.requests += 1
                reply = self.client.ask("pollChannel", channel=self.channel)
                if reply.get("probeState") != 2 or not isinstance(reply.get("fluxReading"), str):
                    self.errors.append(reply)
                self.replies += 1
                next_time += period
                time.sleep(max(0.0, next_time - time.monotonic()))
        except Exception as e:   # a lost reply, a closed connection ...
            self.errors.append(repr(e))
        finally:
            self.client.close()


def test_pollers_under_load_with_a_connection_hoarder():
    with Instrument() as inst:
        inst.wait_ready()
        port = inst.json_port()
        with JsonClient(port) as first:
            for slot in (1, 2, 3):
                first.poll_until(lambda r: r["probeState"] == 2, "pollChannel", 60, channel=slot)
        pid = inst.tvl().proc.pid
        # The program's own memory grows for its first half minute or so (its
        # threads and buffers fill up), load or not: the figures start once
        # it has settled.
        rss_settled = wait_for_settled_memory(pid)

        start = time.monotonic()
        pollers = [Poller(port, 1 + i % 3, start + DURATION) for i in range(CLIENTS)]
        for p in pollers:
            p.start()

        time.sleep(WARM_UP)
        rss_start = resident_kb(pid)

        # The hoarder: its connections beyond the cap are closed by the
        # server at once, without a reply; the rest stay open and unused.
        hoard = [socket.create_connection(("127.0.0.1", port), timeout=20) for _ in range(HOARD)]
        expected_refusals = HOARD - (SERVER_CAP - CLIENTS)
        refused = count_closed_by_server(hoard, expected_refusals)

        for p in pollers:
            p.join(DURATION + 60)
        rss_end = resident_kb(pid)
        for s in hoard:
            s.close()

        print("resident memory: %d kB settled before the load, %d kB after %.0f s of load, %d kB at the end (%.0f s)"
              % (rss_settled, rss_start, WARM_UP, rss_end, DURATION))
        total = sum(p.requests for p in pollers)
        assert all(not p.is_alive() for p in pollers)
        assert [e for p in pollers for e in p.errors] == []
        assert all(p.replies == p.requests for p in pollers)
        assert total >= CLIENTS * RATE_HZ * DURATION * 0.5, total
        assert refused >= expected_refusals, refused
        assert rss_end - rss_start < RSS_GROWTH_LIMIT_KB, (rss_start, rss_end)
        assert inst.tvl().running()
        with JsonClient(port) as last:
            assert last.ask("getModelNumber") == {"model": "4730"}
