"""A whole instrument for end-to-end tests: mendra (the cards and backplane),
optionally frontpanel-sim (the front-panel controller), and tvl4700, on an
emulated CAN bus of their own, in a sandbox of their own, with the servers on
ports the system picks (announced in the sandbox).

    with Instrument() as inst:
        inst.wait_ready()
        s = socket.create_connection(("127.0.0.1", inst.json_port()))
"""
import ctypes
import os
import random
import shutil
import signal
import subprocess
import tempfile
import time
import weakref

BUILD_DIR = os.environ.get("TVL_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
SOURCE_DIR = os.environ.get("TVL_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BIN_DIR = os.path.join(BUILD_DIR, "bin")


def wait_until(pred, timeout=30.0, poll=0.05, what="condition"):
    """Polls pred until it returns a true value; raises on time-out."""
    end = time.monotonic() + timeout
    while True:
        value = pred()
        if value:
            return value
        if time.monotonic() > end:
            raise TimeoutError("timed out waiting for " + what)
        time.sleep(poll)


OWNER_FILE = ".tvl-test-owner"


def _process_start(pid):
    """A process's start time (field 22 of its stat line), so that a pid used
    again is not taken for the owner; None when there is no such process."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return None
    fields = stat[stat.rfind(")") + 1:].split()
    return fields[19] if len(fields) > 19 else None


def _owner_gone(text):
    parts = text.split()
    if len(parts) != 2 or not parts[0].isdigit():
        return False   # not written yet, or not a test's: left alone
    return _process_start(int(parts[0])) != parts[1]


def remove_stale_sandboxes():
    """Removes the test sandboxes under /tmp whose owner (the test program
    that made them, named in their owner file) has ended without removing
    them: killed, or timed out."""
    for name in os.listdir("/tmp"):
        path = os.path.join("/tmp", name)
        if not name.startswith("tvl-test-") or os.path.islink(path) or not os.path.isdir(path):
            continue
        try:
            with open(os.path.join(path, OWNER_FILE)) as f:
                owner = f.read()
        except OSError:
            continue
        if _owner_gone(owner):
            shutil.rmtree(path, ignore_errors=True)


_swept = False


def make_sandbox(ports=(0, 0)):
    """A fresh sandbox under /tmp filled from the repository's template.  It
    names this process as its owner; the first one a test program makes
    removes the sandboxes of owners that have ended."""
    global _swept
    if not _swept:
        _swept = True
        remove_stale_sandboxes()
    root = tempfile.mkdtemp(prefix="tvl-test-")
    with open(os.path.join(root, OWNER_FILE), "w") as f:
        f.write("%d %s\n" % (os.getpid(), _process_start(os.getpid())))
    shutil.copytree(os.path.join(SOURCE_DIR, "data", "sandbox"), root, dirs_exist_ok=True)
    for d in ("var/lib/tarvel", "var/www/datalogs", "var/log", "run/tvl", "media/usb", "dev", "proc"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    for d in ("bin", "sbin", "usr/sbin"):
        folder = os.path.join(root, d)
        for f in os.listdir(folder):
            os.chmod(os.path.join(folder, f), 0o755)
    marker = os.path.join(BUILD_DIR, "sandbox", ".tvl-sandbox")
    if os.path.exists(marker):
        shutil.copy(marker, os.path.join(root, ".tvl-sandbox"))
    with open(os.path.join(root, "ports.conf"), "w") as f:
        f.write("scpi: %d\njson: %d\n" % ports)
    return root


_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def end_with_test():
    """A preexec_fn for the test's children: SIGTERM when the test process
    ends, so a test killed by its time-out leaves no program running; a test
    already gone by then ends the child at once."""
    test = os.getpid()

    def arm():
        _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)
        if os.getppid() != test:
            os._exit(127)
    return arm


# The programs started and not yet stopped, and the last output of those
# stopped since the test began: a failing test shows them (conftest.py).
RUNNING = weakref.WeakSet()
STOPPED = []   # (name, output)


class Process:
    """A child program whose output goes to a file the test can read (or to
    the descriptor output, when given)."""

    def __init__(self, name, args, sandbox, stdin=subprocess.DEVNULL, env=None, output=None):
        self.name = name
        self.log_path = os.path.join(sandbox, "var", "log", name + ".out")
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([os.path.join(BIN_DIR, name), "-sandbox", sandbox] + args,
                                     stdout=self.log if output is None else output, stderr=subprocess.STDOUT,
                                     stdin=stdin, env=env, preexec_fn=end_with_test())
        RUNNING.add(self)

    def output(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("latin-1")

    def wait_for_output(self, text, timeout=60.0):
        return wait_until(lambda: text in self.output() or self._died(), timeout,
                          what="%r in %s's output" % (text, self.name)) and self._check_alive(text)

    def _died(self):
        return self.proc.poll() is not None

    def _check_alive(self, text):
        if text in self.output():
            return True
        raise RuntimeError("%s ended (status %s) before printing %r:\n%s"
                           % (self.name, self.proc.returncode, text, self.output()[-3000:]))

    def running(self):
        return self.proc.poll() is None

    def stop(self, grace=5.0):
        if self in RUNNING:
            RUNNING.discard(self)
            try:
                STOPPED.append((self.name, self.output()[-20000:]))
            except OSError:
                pass
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(grace)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()
        return self.proc.returncode


class Instrument:
    """mendra + (frontpanel-sim) + tvl4700 on a private bus and sandbox.

    cards: passed to mendra as extra arguments (default: the three cards).
    frontpanel: start frontpanel-sim too (its stdin is a pipe: send keys with
    press()).
    tvl_args: extra arguments for tvl4700 (default -skipBootload).
    cards: the program that stands in for the cards and the backplane.
    display: the X display tvl4700 shows its window on (default: DISPLAY).
    serial: start serial-link first (the RS-232 cable: the sandbox's
    dev/ttyS0 and, for the client, dev/ttyS0-client).
    gpib: start gpib-sim (the GPIB-USB controller) first; or later, with
    start_gpib().
    settings: lines of the meter settings file ("bp") written before the
    start, e.g. {"rs232speed": 4, "gpibaddress": 7}."""

    def __init__(self, mendra=True, frontpanel=False, tvl=True, tvl_args=("-skipBootload",),
                 mendra_args=(), sandbox=None, bus=None, cards="mendra", display=None,
                 serial=False, gpib=False, settings=None):
        self.cards = cards
        self.env = dict(os.environ, DISPLAY=display) if display else None
        self.sandbox = sandbox or make_sandbox()
        self.own_sandbox = sandbox is None
        # Interface names starting with 'v' are virtual buses: no bootload.
        self.bus = bus or "v%x" % random.getrandbits(40)
        self.procs = {}
        self.dumps = []
        self._want = (mendra, frontpanel, tvl, tuple(tvl_args), tuple(mendra_args))
        self._tvl_args = tuple(tvl_args)   # those of the tvl4700 running now
        self._stand_ins = (serial, gpib)
        if settings:
            with open(self.file("/var/lib/tarvel/bp"), "w") as f:
                f.write("".join("%s: %s\n" % kv for kv in settings.items()))

    # -- life cycle
    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()   # a program that failed to start takes the others down with it
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        mendra, frontpanel, tvl, tvl_args, mendra_args = self._want
        serial, gpib = self._stand_ins
        if serial:
            self.start_program("serial-link", ["-quiet"]).wait_for_output("client end:", 30)
        if gpib:
            self.start_gpib()
        if mendra:
            cards = self.start_program(self.cards, ["-can", self.bus] + list(mendra_args))
            # tvl4700 greets the cards a few times and then decides which are
            # there: on a loaded machine (the sanitizer builds) the cards may
            # not be on the bus yet when it starts.  mendra says "Using CAN"
            # as its backplane is on the bus, its cards a moment later (well
            # within tvl4700's start-up); the test peers once their cards are.
            cards.wait_for_output("Using CAN ", 30)
        if frontpanel:
            self.start_program("frontpanel-sim", ["-can", self.bus, "-stdin"], stdin=subprocess.PIPE)
        if tvl:
            self.start_program("tvl4700", ["-can", self.bus] + list(tvl_args))

    def start_program(self, name, args, stdin=subprocess.DEVNULL, output=None):
        self.procs[name] = Process(name, args, self.sandbox, stdin=stdin, env=self.env, output=output)
        return self.procs[name]

    def start_gpib(self, args=()):
        """Starts gpib-sim (again: a controller plugged in); returns its Process."""
        try:
            os.remove(os.path.join(self.sandbox, "run", "ports", "gpib"))
        except FileNotFoundError:
            pass
        p = self.start_program("gpib-sim", list(args))
        p.wait_for_output("bus: 127.0.0.1:", 30)
        return p

    def stop(self):
        for name in ("tvl4700", "frontpanel-sim", self.cards, "gpib-sim", "serial-link"):
            if name in self.procs:
                self.procs[name].stop()
        for dump in self.dumps:
            dump.stop()
        self.procs = {}
        self.dumps = []
        if self.own_sandbox and self.sandbox.startswith("/tmp/tvl-test-"):
            shutil.rmtree(self.sandbox, ignore_errors=True)

    def restart_tvl(self, tvl_args=("-skipBootload",)):
        """Stops tvl4700 and starts it again in the same sandbox and bus."""
        self.procs["tvl4700"].stop()
        for name in ("scpi", "json"):
            try:
                os.remove(os.path.join(self.sandbox, "run", "ports", name))
            except FileNotFoundError:
                pass
        self.start_program("tvl4700", ["-can", self.bus] + list(tvl_args))
        self._tvl_args = tuple(tvl_args)

    # -- what the programs show
    def tvl(self):
        return self.procs["tvl4700"]

    def wait_ready(self, timeout=90.0):
        """Waits for the start-up step's last log line.  An X server busy
        with many test programs can refuse tvl4700's connection, which then
        ends at once: it is started again (twice at most)."""
        for attempt in range(3):
            try:
                self.tvl().wait_for_output("Meter Initialization Complete", timeout)
                return
            except RuntimeError:
                if attempt == 2 or "Can't open display" not in self.tvl().output():
                    raise
                self.restart_tvl(self._tvl_args)

    def file(self, instrument_path):
        return os.path.join(self.sandbox, instrument_path.lstrip("/"))

    def port(self, service, timeout=30.0):
        """The port the service announced ("scpi" or "json")."""
        path = os.path.join(self.sandbox, "run", "ports", service)

        def read():
            try:
                with open(path) as f:
                    text = f.read().strip()
                return int(text) if text else None
            except (FileNotFoundError, ValueError):
                return None
        return wait_until(read, timeout, what="the %s port" % service)

    def scpi_port(self):
        return self.port("scpi")

    def gpib_port(self):
        """The TCP port of gpib-sim's bus side."""
        return self.port("gpib")

    def serial_client(self):
        """The client's end of the RS-232 cable (a pseudo-terminal)."""
        return self.file("/dev/ttyS0-client")

    def json_port(self):
        return self.port("json")

    def wait_probes_ready(self, slots=(1, 2, 3), timeout=90.0):
        """Waits until the probes of the slots are ready (asked on the JSON
        port).  A probe getting ready resets its channel's relative, zero
        and range: a test that walks the menus waits for it first."""
        from jsonclient import JsonClient
        with JsonClient(self.json_port()) as web:
            for slot in slots:
                web.poll_until(lambda r: r["probeState"] == 2 and r["valid"], "pollChannel", timeout,
                               "the probe of slot %d ready" % slot, channel=slot)

    # -- the bus
    def canbus_send(self, frame):
        """Sends one frame in can-utils' text form ("16A#", "020#05")."""
        subprocess.run([os.path.join(BIN_DIR, "canbus-send"), "-sandbox", self.sandbox, self.bus, frame],
                       check=True, stdout=subprocess.DEVNULL)

    def canbus_dump(self, filters=""):
        """Starts canbus-dump on the bus; returns its Process (read .output())."""
        name = "canbus-dump"
        spec = self.bus + ("," + filters if filters else "")
        p = Process(name, [spec], self.sandbox)
        self.dumps.append(p)
        return p

    def press(self, *keys):
        """Presses front-panel keys through frontpanel-sim's interactive input."""
        fp = self.procs["frontpanel-sim"].proc
        for k in keys:
            fp.stdin.write(("%s\n" % k).encode())
        fp.stdin.flush()
