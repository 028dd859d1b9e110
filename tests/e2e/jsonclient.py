"""A web-interface client for the end-to-end tests: one JSON text per line
over a plain TCP socket, as the web interface talks to the instrument."""
import json
import socket
import time


class JsonClient:
    def __init__(self, port, timeout=20.0):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.buffer = b""
        self.actions = set()   # every action this client has sent

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def send_raw(self, data):
        self.sock.sendall(data)

    def read_line(self):
        """The next reply line (bytes, without its newline); raises on time-out
        or when the instrument closes the connection."""
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("the instrument closed the connection")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line

    def read_reply(self):
        """The next reply, parsed.  Every reply must be plain-ASCII JSON."""
        line = self.read_line()
        line.decode("ascii")
        return json.loads(line)

    def ask(self, action, **members):
        request = dict(action=action, **members)
        self.actions.add(action)
        self.send_raw(json.dumps(request).encode() + b"\n")
        return self.read_reply()

    def poll_until(self, pred, action, timeout=30.0, what=None, **members):
        """Asks again until pred(reply) holds; returns that reply."""
        end = time.monotonic() + timeout
        while True:
            reply = self.ask(action, **members)
            if pred(reply):
                return reply
            if time.monotonic() > end:
                raise TimeoutError("%s: last reply %r" % (what or action, reply))
            time.sleep(0.1)
