#!/usr/bin/python3
"""The far ends of the unattended run (unattended.sh), which count every line they are sent.

  peers.py device LINK TALLY   a device on the pty that LINK names: answers each AT with OK
  peers.py server TALLY        a TCP server on 127.0.0.1: echoes each PING
  peers.py quiet TALLY LOG COMMAND ANSWER PERIOD SIGNAL PID
                               sends SIGNAL (TERM, USR1...) to PID at the next quiet moment of
                               that peer's link (see quiet()), from where it is cut at once

TALLY holds one line, rewritten whole after each batch of lines received:
  PID PORT LINES ANSWERS LINKS OPEN LAST
LINES counts every line received (a line cut short by the end of its link too), ANSWERS the
answers written, LINKS the links opened so far, OPEN those open now and LAST is when the last
line came (seconds since the epoch); PID is the process that wrote it, so a new one is known to
be ready when its own PID is there. TALLY.lines gets each line as it comes, after the time in
the form of the program's log stamps.

When the pty it uses goes away (the pair recreated), the device reopens LINK as soon as LINK has
been made anew. A server started on the TALLY of an earlier one listens on the same port and
goes on counting, so a restarted server keeps the count; the first picks a free port below the
range the system gives to outgoing connections, so a client can never land on it by chance.

SIGUSR1 stops the answers, so that none is on its way when the program closes; lines are still
counted. SIGTERM, SIGINT or SIGHUP ends the peer once the lines already there are read.
"""

import datetime
import errno
import os
import random
import re
import selectors
import signal
import socket
import sys
import time
import tty


class Tally:
    def __init__(self, path):
        self.path = path
        self.port = self.lines = self.answers = self.links = self.open = 0
        self.last = 0.0
        self.read()
        self.record = None

    def read(self):
        try:
            with open(self.path) as f:
                fields = f.read().split()
        except FileNotFoundError:
            return False
        _, self.port, self.lines, self.answers, self.links, self.open = map(int, fields[:6])
        self.last = float(fields[6])
        return True

    def count(self, line):
        if self.record is None:
            self.record = open(self.path + ".lines", "a", buffering=1)
        self.lines += 1
        self.last = time.time()
        stamp = datetime.datetime.fromtimestamp(self.last).isoformat(" ", "milliseconds")
        self.record.write(f"{stamp} {line.decode(errors='replace')}\n")

    def save(self):
        # Whole or not at all: the script reads it while it changes.
        new = self.path + ".new"
        with open(new, "w") as f:
            f.write(f"{os.getpid()} {self.port} {self.lines} {self.answers} {self.links} "
                    f"{self.open} {self.last:.6f}\n")
        os.replace(new, self.path)


class Peer:
    def __init__(self, tally, command, answer):
        self.tally = tally
        self.command = command
        self.answer = answer  # None: the line itself comes back
        self.muted = False
        self.stopping = False
        self.selector = selectors.DefaultSelector()
        # Signals come as bytes on a pipe, so that none falls between a line's count and answer.
        wake, wake_write = os.pipe()
        os.set_blocking(wake, False)
        os.set_blocking(wake_write, False)
        signal.set_wakeup_fd(wake_write)
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGUSR1):
            signal.signal(number, lambda *_: None)
        self.selector.register(wake, selectors.EVENT_READ, self.woken)

    def woken(self, wake):
        for number in os.read(wake, 64):
            if number == signal.SIGUSR1:
                self.muted = True
            else:
                self.stopping = True

    def take(self, pending, data, send):
        """Counts and answers the complete lines of what arrived; returns what is left over."""
        *lines, rest = (pending + data).split(b"\n")
        for line in lines:
            self.tally.count(line)
            if line.rstrip(b"\r") == self.command and not self.muted:
                try:
                    send(self.answer if self.answer is not None else line + b"\n")
                    self.tally.answers += 1
                except OSError:
                    pass  # the link is gone; its end is read next
        if lines:
            self.tally.save()
        return rest

    def ended(self, rest):
        if rest:
            self.tally.count(rest)
        self.tally.open -= 1
        self.tally.save()

    def serve(self, wait=None):
        """Handles what is ready, waiting at most WAIT seconds (None: until something is)."""
        for key, _ in self.selector.select(wait):
            key.data(key.fileobj)

    def drain(self):
        """Reads what has already arrived, then ends."""
        while self.selector.select(0):
            self.serve(0)
        self.tally.save()
        sys.exit(0)


def device(link, tally):
    peer = Peer(tally, b"AT", b"OK\r\n")
    made = None  # the link last opened: one made anew differs in inode or change time
    pending = {}

    def opened():
        nonlocal made
        try:
            status = os.lstat(link)
            if (status.st_ino, status.st_ctime_ns) == made:
                return False
            fd = os.open(link, os.O_RDWR | os.O_NOCTTY)
        except OSError:
            return False
        made = (status.st_ino, status.st_ctime_ns)
        tty.setraw(fd)
        pending[fd] = b""
        peer.selector.register(fd, selectors.EVENT_READ, arrived)
        tally.links += 1
        tally.open = 1
        tally.save()
        return True

    def arrived(fd):
        try:
            data = os.read(fd, 4096)
        except OSError as error:
            if error.errno != errno.EIO:
                raise
            data = b""
        if data:
            pending[fd] = peer.take(pending[fd], data, lambda answer: os.write(fd, answer))
            return
        peer.selector.unregister(fd)
        os.close(fd)
        peer.ended(pending.pop(fd))

    tally.open = 0
    tally.save()
    while not peer.stopping:
        if pending or opened():
            peer.serve()
        else:
            peer.serve(0.02)
    peer.drain()


def server(tally):
    peer = Peer(tally, b"PING", None)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ports = [tally.port] if tally.port else random.sample(range(20000, 32768), 200)
    for port in ports:
        try:
            listener.bind(("127.0.0.1", port))
            break
        except OSError as error:
            if error.errno != errno.EADDRINUSE or port == ports[-1]:
                raise
    listener.listen()
    pending = {}

    def accepted(listener):
        connection, _ = listener.accept()
        pending[connection] = b""
        peer.selector.register(connection, selectors.EVENT_READ, arrived)
        tally.links += 1
        tally.open += 1
        tally.save()

    def arrived(connection):
        try:
            data = connection.recv(4096)
        except ConnectionError:
            data = b""
        if data:
            pending[connection] = peer.take(pending[connection], data, connection.sendall)
            return
        peer.selector.unregister(connection)
        connection.close()
        peer.ended(pending.pop(connection))

    peer.selector.register(listener, selectors.EVENT_READ, accepted)
    tally.port = port
    tally.open = 0
    tally.save()
    while not peer.stopping:
        peer.serve()
    peer.selector.unregister(listener)
    listener.close()
    peer.drain()


def quiet(tally, log, command, answer, period, limit=10.0):
    """Returns once the peer has received a new line, all it received is in LOG as sent and all
    it answered as received, and the next send is still 40% of a PERIOD (ms) or more away: a
    link cut now loses nothing that was counted. Fails after LIMIT seconds."""
    stamped = re.compile(rb"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (.*)")
    sent = received = 0
    last_sent = 0.0
    pending = b""

    def read_log():
        nonlocal sent, received, last_sent, pending
        *lines, pending = (pending + log.read()).split(b"\n")
        for line in lines:
            match = stamped.fullmatch(line.rstrip(b"\r"))
            if match and match[2] == b"TX " + command:
                sent += 1
                last_sent = datetime.datetime.fromisoformat(match[1].decode()).timestamp()
            elif match and match[2] == b"RX " + answer:
                received += 1
        return bool(lines)

    tally.read()
    since = tally.lines
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        read_log()
        if (tally.read() and since < tally.lines == sent and tally.answers == received
                and time.time() - last_sent < 0.6 * period / 1000 and not read_log()):
            return
        time.sleep(0.002)
    sys.exit(f"no quiet moment within {limit:g} s: the peer got {tally.lines} lines and "
             f"answered {tally.answers}; "
             f"the log has {sent} TX {command.decode()} and {received} RX {answer.decode()}")


def signal_sibling(name, pid):
    """Sends signal NAME to PID if it is a child of this process's parent, as the peers are."""
    with open(f"/proc/{pid}/stat") as f:
        parent = int(f.read().rpartition(")")[2].split()[1])
    if parent != os.getppid():
        sys.exit(f"process {pid} is not one of the run's")
    os.kill(pid, signal.Signals["SIG" + name])


if __name__ == "__main__":
    arguments = sys.argv[1:]
    if len(arguments) == 3 and arguments[0] == "device":
        device(arguments[1], Tally(arguments[2]))
    elif len(arguments) == 2 and arguments[0] == "server":
        server(Tally(arguments[1]))
    elif len(arguments) == 8 and arguments[0] == "quiet":
        with open(arguments[2], "rb") as log:
            quiet(Tally(arguments[1]), log, arguments[3].encode(), arguments[4].encode(),
                  int(arguments[5]))
        signal_sibling(arguments[6], int(arguments[7]))
    else:
        sys.exit(__doc__)
