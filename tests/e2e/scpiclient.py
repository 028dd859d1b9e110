"""A SCPI client for the end-to-end tests: PyVISA with its pure-Python
backend on a raw TCP socket, replies read up to CR LF, as an instrument user
would connect."""
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
    condition bits 4-6)."""
    poll(session, ":STAT:OPER:COND?", lambda r: int(r) & 0x70 == 0x70, timeout, "three probes ready")
