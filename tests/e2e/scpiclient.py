"""A SCPI client for the end-to-end tests: PyVISA with its pure-Python
backend, replies read up to CR LF, as an instrument user would connect: on a
raw TCP socket, on the RS-232 cable's client end (serial-link) as a serial
resource, or on the bus side of the GPIB stand-in (gpib-sim)."""
import time

import pyvisa

_manager = None


def manager():
    global _manager
    if _manager is None:
        _manager = pyvisa.ResourceManager("@py")
    return _manager


def open_session(port, timeout_ms=20000):
    """A session on the instrument's SCPI port."""
    session = manager().open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port,
                                      read_termination="\r\n", write_termination="\n",
                                      timeout=timeout_ms)
    return session


def open_serial(path, baud_rate=9600, data_bits=8, stop_bits=1, parity="none", timeout_ms=20000):
    """A session on the instrument's RS-232 port as a serial (ASRL)
    resource, with the given line settings."""
    from pyvisa.constants import Parity, StopBits
    return manager().open_resource("ASRL%s::INSTR" % path, read_termination="\r\n", write_termination="\n",
                                   timeout=timeout_ms, baud_rate=baud_rate, data_bits=data_bits,
                                   stop_bits={1: StopBits.one, 2: StopBits.two}[stop_bits],
                                   parity=getattr(Parity, parity))


def open_gpib(port, address=1, timeout_ms=20000):
    """A session on the bus side of gpib-sim (the GPIB stand-in), talking to
    the device at the address."""
    session = open_session(port, timeout_ms)
    session.write("++addr %d" % address)
    return session


def open_transport(inst, transport, **options):
    """A session over "tcp", "serial" or "gpib" (the instrument started with
    the matching stand-in)."""
    if transport == "serial":
        return open_serial(inst.serial_client(), **options)
    if transport == "gpib":
        # The instrument has set the controller up (its status byte is the
        # last of the set-up).
        inst.procs["gpib-sim"].wait_for_output("instrument: ++status", 30)
        return open_gpib(inst.gpib_port(), **options)
    return open_session(inst.scpi_port())


def read_late(session, seconds):
    """A reply that may take longer than one read's time-out (a serial
    resource takes at most 25.5 s): reads again until it comes."""
    end = time.monotonic() + seconds
    while True:
        try:
            return session.read()
        except pyvisa.errors.VisaIOError:
            if time.monotonic() > end:
                raise


def poll(session, query, predicate, timeout=60.0, what=None):
    """Asks until the reply satisfies predicate; returns that reply."""
    end = time.monotonic() + timeout
    while True:
        reply = session.query(query)
        if predicate(reply):
            return reply
        if time.monotonic() > end:
            raise TimeoutError("%s: last reply %r" % (what or query, reply))
        time.sleep(0.1)


def probes_ready(session, timeout=90.0):
    """Waits until the probes of all three slots are ready (operation
    condition bits 4-6) and each has given a reading (a channel serves one
    only then; the vector sum too): the NPC replies on the way leave errors,
    which *CLS clears."""
    poll(session, ":STAT:OPER:COND?", lambda r: int(r) & 0x70 == 0x70, timeout, "three probes ready")
    poll(session, ":MEAS:FLUX:ALL?", lambda r: r.count(",") == 3 and "NPC" not in r, timeout,
         "a reading on every channel")
    session.write("*CLS")
