#!/usr/bin/python3
"""Drives the installed TeskManager through the accessibility bus, as assistive technology does.

It runs on the screen that DISPLAY names, as tools/x-session.sh makes one (Xvfb 1920x1080 under
openbox); a private D-Bus session and the AT-SPI bus are started on it; the program runs with its accessibility bridge on, and every control is found by its
role and its accessible name, never by coordinates. Buttons are pressed with their "press"
action or, for checkable ones, with the focus and the space bar, so that `clicked` fires as it
does for a user (a checkable button's "toggle" action changes its state without `clicked`).
A TCP echo peer on 127.0.0.1 and a socat pseudo-terminal pair play the devices.

Needs the Makefile's E2E_PACKAGES (Xvfb, openbox, the AT-SPI bus, socat...): `make e2e-deps`.
Environment:
  TESKMANAGER          program to run (default /usr/bin/teskmanager)
  E2E_SAVE_SCREENSHOT  1 = copy the screenshot to docs/screenshot.png of this checkout
  E2E_KEEP             1 = keep the scratch folder (it is always kept when a check fails)
  E2E_WALK             1 = print every focusable control the bus shows, with its name
"""

import glob
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

TESKMANAGER = os.path.abspath(os.environ.get("TESKMANAGER", "/usr/bin/teskmanager"))
REPO_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCREEN = (1920, 1080)
# Every wait is bounded, so that a hang fails the run instead of stalling it.
WAIT = 10.0
# What "promptly" means for a window that must stay responsive.
PROMPT = 1.0

WORK = tempfile.mkdtemp(prefix="teskmanager-e2e.")
HOME = os.path.join(WORK, "home")
RUN_DIR = os.path.join(WORK, "run")
LOG_DIR = os.path.join(HOME, "Documents", "TeskManager")
TTY_APP = os.path.join(WORK, "ttyA")
TTY_DEVICE = os.path.join(WORK, "ttyB")
for folder in (HOME, RUN_DIR, os.path.join(WORK, "xdg")):
    os.makedirs(folder, mode=0o700)

started = time.monotonic()
passed = 0
failed = 0
processes = []


def log(text):
    print(f"[e2e {time.monotonic() - started:5.2f}s] {text}", flush=True)


def check(ok, text):
    global passed, failed
    if ok:
        passed += 1
        print(f"PASS [{time.monotonic() - started:5.2f}s]: {text}", flush=True)
    else:
        failed += 1
        print(f"FAIL [{time.monotonic() - started:5.2f}s]: {text}", flush=True)
    return ok


class Fatal(Exception):
    """A failure that makes every later check meaningless."""


def require(ok, text):
    if not check(ok, text):
        raise Fatal(text)


def wait_until(predicate, timeout=WAIT, interval=0.02):
    """Polls until predicate() gives a true value, which is returned; None after the timeout."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = predicate()
        except Exception:  # the bus may briefly answer for an object that is going away
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            return None
        time.sleep(interval)


def start(args, name, env=None, **kwargs):
    out = open(os.path.join(WORK, f"{name}.log"), "ab")
    process = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT, env=env,
                               start_new_session=True, **kwargs)
    processes.append(process)
    return process


def stop(process):
    """Ends one process this script started, politely first, waiting at most a few seconds."""
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(3)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(3)


def read_line_from(fd, timeout=WAIT):
    data = b""
    deadline = time.monotonic() + timeout
    while not data.endswith(b"\n"):
        remaining = deadline - time.monotonic()
        if remaining <= 0 or not select.select([fd], [], [], remaining)[0]:
            break
        chunk = os.read(fd, 256)
        if not chunk:
            break
        data += chunk
    os.close(fd)
    return data.decode().strip()


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=WAIT, **kwargs)


# ---------------------------------------------------------------------------------------------
# The desktop: a session bus and an accessibility bus on the screen given.

def start_desktop():
    dimensions = re.search(r"dimensions:\s+(\d+)x(\d+)", run(["xdpyinfo"]).stdout)
    require(dimensions and tuple(map(int, dimensions.groups())) == SCREEN,
            f"a screen of {SCREEN[0]}x{SCREEN[1]} (tools/x-session.sh makes one)")
    os.environ["XDG_RUNTIME_DIR"] = os.path.join(WORK, "xdg")

    reader, writer = os.pipe()
    start(["dbus-daemon", "--session", "--nofork", "--nopidfile", f"--print-address={writer}"],
          "dbus-session", pass_fds=(writer,))
    os.close(writer)
    session = read_line_from(reader)
    require(session.startswith("unix:"), "a private D-Bus session bus starts")
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = session

    start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], "at-spi-bus-launcher")

    def a11y_address():
        reply = run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus",
                     "/org/a11y/bus", "org.a11y.Bus.GetAddress"])
        return reply.stdout.strip() if reply.returncode == 0 else None

    address = wait_until(a11y_address, interval=0.05)
    require(address, "the AT-SPI bus launcher gives the accessibility bus address")
    os.environ["AT_SPI_BUS_ADDRESS"] = address
    # Qt 5.15 looks for the bus on the root window first.
    run(["xprop", "-root", "-f", "AT_SPI_BUS", "8s", "-set", "AT_SPI_BUS", address])
    start(["/usr/libexec/at-spi2-registryd"], "at-spi2-registryd")

    def registry_up():
        reply = run(["dbus-send", f"--bus={address}", "--print-reply=literal",
                     "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                     "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.atspi.Registry"])
        return "true" in reply.stdout

    require(wait_until(registry_up, interval=0.05), "the AT-SPI registry runs on that bus")

    def wm_up():
        return "window id" in run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]).stdout

    require(wait_until(wm_up, interval=0.05), "openbox manages the screen")


# ---------------------------------------------------------------------------------------------
# Peers: a TCP echo server and a serial line made of a pseudo-terminal pair.

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_echo_peer():
    port = free_port()
    start(["socat", f"TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr,fork", "EXEC:cat"], "echo-peer")

    def listening():
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0

    require(wait_until(listening, interval=0.05), f"socat echo peer listens on 127.0.0.1:{port}")
    return port


class Device:
    """The device end of a socat pty pair; the program gets the other end."""

    def __init__(self):
        self.socat = start(["socat", f"pty,raw,echo=0,link={TTY_APP}",
                            f"pty,raw,echo=0,link={TTY_DEVICE}"], "serial-line")
        self.fd = None
        if wait_until(lambda: os.path.exists(TTY_APP) and os.path.exists(TTY_DEVICE)):
            self.fd = os.open(TTY_DEVICE, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)

    def write(self, data):
        os.write(self.fd, data)

    def read(self, expected, timeout=WAIT):
        """Reads until `expected` bytes arrived (or the time is out); returns all that came."""
        data = b""
        deadline = time.monotonic() + timeout
        while len(data) < len(expected):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([self.fd], [], [], remaining)[0]:
                break
            data += os.read(self.fd, 4096)
        return data

    def go_away(self):
        os.close(self.fd)
        stop(self.socat)


# ---------------------------------------------------------------------------------------------
# The accessibility bus. Imported late: the bus addresses must be in the environment first.

pyatspi = None
Atspi = None


def connect_bus():
    global pyatspi, Atspi
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi as atspi_module
    import pyatspi as pyatspi_module
    pyatspi, Atspi = pyatspi_module, atspi_module
    # No single request may outlast the bound of a wait, even to a program that hangs.
    Atspi.set_timeout(int(WAIT * 1000), int(WAIT * 1000))


def role(node):
    return node.getRoleName()


def children(node):
    try:
        return [c for c in (node.getChildAtIndex(i) for i in range(node.childCount)) if c]
    except Exception:
        return []


def walk(node, skip_hidden=True):
    """Every node under `node`, depth first; hidden subtrees (closed menus, popups) are left out."""
    for child in children(node):
        states = child.getState()
        if skip_hidden and not states.contains(pyatspi.STATE_SHOWING):
            continue
        yield child
        yield from walk(child, skip_hidden)


def find(root, role_name, name=None, skip_hidden=True):
    for node in walk(root, skip_hidden):
        if role(node) == role_name and (name is None or node.name == name):
            return node
    return None


def text_of(node):
    text = node.queryText()
    return text.getText(0, text.characterCount)


def focused(node):
    return node.getState().contains(pyatspi.STATE_FOCUSED)


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


def press_action(node):
    action = node.queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    for wanted in ("press", "click"):
        if wanted in names:
            return action, names.index(wanted)
    raise Fatal(f"{role(node)} \"{node.name}\" has no press action (actions: {names})")


def press(node):
    """Runs a control's press (or click) action, as an assistive tool clicks it."""
    action, index = press_action(node)
    action.doAction(index)


def press_without_waiting(node):
    """Presses an entry whose action runs a modal question: Qt answers the bus only once the
    action returns, that is once the question is answered, so the request is sent and the
    reply not waited for."""
    _, index = press_action(node)
    # A request sent without asking for a reply is dropped by Qt, so the reply is asked for,
    # by a process of its own that ends when it comes.
    start(["dbus-send", f"--bus={os.environ['AT_SPI_BUS_ADDRESS']}", "--print-reply",
           f"--reply-timeout={int(WAIT * 1000)}", f"--dest={node.app.bus_name}", node.path,
           "org.a11y.atspi.Action.DoAction", f"int32:{index}"], "dbus-send")


# X keysyms and modifier masks.
KEY_TAB, KEY_RETURN, KEY_SPACE = 0xFF09, 0xFF0D, 0x20
SHIFT, CONTROL = 1, 4


def key(keysym, modifiers=0):
    if modifiers:
        pyatspi.Registry.generateKeyboardEvent(modifiers, None, pyatspi.KEY_LOCKMODIFIERS)
    pyatspi.Registry.generateKeyboardEvent(keysym, None, pyatspi.KEY_SYM)
    if modifiers:
        pyatspi.Registry.generateKeyboardEvent(modifiers, None, pyatspi.KEY_UNLOCKMODIFIERS)


def focus(node):
    node.queryComponent().grabFocus()
    return wait_until(lambda: focused(node))


def click_with_keyboard(node):
    """Focus and the space bar: a checkable button or a radio button emits `clicked` this way."""
    if not focus(node):
        raise Fatal(f"{role(node)} \"{node.name}\" takes the focus")
    key(KEY_SPACE)


def set_text(node, value):
    node.queryEditableText().setTextContents(value)
    return wait_until(lambda: text_of(node) == value)


def type_command(node, command):
    """Fills a command line and sends it with Return."""
    set_text(node, command)
    focus(node)
    key(KEY_RETURN)


# ---------------------------------------------------------------------------------------------
# The program.

FIELD_ROLES = {"text", "entry", "password text", "combo box", "spin button"}


def index_window(frame):
    """Every control shown in the window, by its group box, role and name at this moment.

    The window is read once: while the serial port is open the program answers each bus
    request only between its 10 ms serial polls, so later steps use these references.
    """
    controls = {}
    focusable = []

    def visit(node, group):
        for child in children(node):
            states = child.getState()
            if not states.contains(pyatspi.STATE_SHOWING):
                continue
            kind, name = role(child), child.name
            controls.setdefault((group, kind, name), child)
            controls.setdefault((None, kind, name), child)
            if states.contains(pyatspi.STATE_FOCUSABLE):
                items = ({item.name for item in walk(child, skip_hidden=False)}
                         if kind == "combo box" else set())
                focusable.append((kind, name, group, name == group or name in items))
            # A combo box's items belong to its popup list, not to the window.
            if kind != "combo box":
                visit(child, name if kind == "panel" and name else group)

    visit(frame, "")
    return controls, focusable


class Program:
    def __init__(self, *args):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "XDG_CONFIG", "XDG_DATA")) and k != "AT_SPI_BUS_ADDRESS"}
        env.update(HOME=HOME, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   LC_ALL="C.UTF-8")
        self.process = start([TESKMANAGER, *args], "program", env=env, cwd=RUN_DIR)
        self.app = wait_until(self._application)
        require(self.app, f"{TESKMANAGER} (pid {self.process.pid}) shows up on the bus")
        require(self.app.name == "TeskManager",
                f"the bus calls the program \"TeskManager\" (it says \"{self.app.name}\")")
        # Every query goes to the program: nothing is answered from a stale cache.
        self.app.set_cache_mask(Atspi.Cache.NONE)
        self.frame = wait_until(lambda: self.window("frame", "TeskManager"))
        require(self.frame, "window \"TeskManager\" found on the bus")
        self.controls, self.focusable = wait_until(self._index)
        self.status_bar = self.control(None, "status bar", "")

    def _application(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in children(desktop):
            if app.get_process_id() == self.process.pid:
                return app
        return None

    def _index(self):
        controls, focusable = index_window(self.frame)
        # Laid out and named: the last panel is there.
        return (controls, focusable) if (None, "panel", "Network Communication 3") in controls \
            else None

    def control(self, group, kind, name):
        node = self.controls.get((group, kind, name))
        if not node:
            require(False, f"{kind} \"{name}\"" + (f" in \"{group}\"" if group else "")
                    + " found on the bus")
        return node

    def status(self):
        return self.status_bar.name

    def windows(self, kind, name):
        return [w for w in children(self.app) if role(w) == kind and w.name == name
                and w.getState().contains(pyatspi.STATE_SHOWING)]

    def window(self, kind, name):
        return (self.windows(kind, name) or [None])[0]

    def box(self, title):
        box = wait_until(lambda: self.window("alert", title) or self.window("dialog", title))
        require(box, f"box \"{title}\" appears")
        return box

    def exited(self):
        try:
            return self.process.wait(WAIT)
        except subprocess.TimeoutExpired:
            stop(self.process)
            return None

    def menu_item(self, menu, item):
        bar = next((c for c in children(self.frame) if role(c) == "menu bar"), None)
        top = find(bar, "menu item", menu, skip_hidden=False) if bar else None
        entry = find(top, "menu item", item, skip_hidden=False) if top else None
        if not entry:
            require(False, f"menu entry \"{menu} > {item}\" found on the bus")
        return entry


def log_files():
    return sorted(os.path.basename(p) for p in glob.glob(os.path.join(LOG_DIR, "*.txt")))


def log_text(suffix):
    for name in log_files():
        if name.endswith(suffix):
            with open(os.path.join(LOG_DIR, name), "rb") as f:
                return f.read().decode("utf-8", "replace")
    return ""


def settings():
    values = {}
    path = os.path.join(RUN_DIR, "demosettings.ini")
    if os.path.exists(path):
        for line in open(path):
            if "=" in line:
                k, v = line.strip().split("=", 1)
                values[k] = v.strip('"')
    return values


def screenshot():
    shot = os.path.join(WORK, "screenshot.png")
    ok = run(["import", "-window", "root", shot]).returncode == 0
    colours = run(["identify", "-format", "%k", shot]).stdout if ok else "0"
    check(ok and int(colours or 0) > 32, f"screenshot is not blank ({colours} colours)")
    if os.environ.get("E2E_SAVE_SCREENSHOT") == "1" and ok:
        shutil.copy(shot, os.path.join(REPO_ROOT, "docs", "screenshot.png"))
        log("screenshot saved to docs/screenshot.png")


# ---------------------------------------------------------------------------------------------
# The steps.

def active_window():
    """The active window's state and size, as the window manager has them."""
    active = run(["xprop", "-root", "_NET_ACTIVE_WINDOW"]).stdout.split()[-1]
    state = run(["xprop", "-id", active, "_NET_WM_STATE", "WM_CLASS"]).stdout.strip()
    info = run(["xwininfo", "-id", active]).stdout
    size = tuple(int(line.split()[-1]) for line in info.splitlines()
                 if line.strip().startswith(("Width:", "Height:")))
    return "MAXIMIZED_HORZ" in state and "MAXIMIZED_VERT" in state, size, state


def names_and_layout(program):
    state = wait_until(lambda: active_window()[0] and active_window()[2], interval=0.05)
    check(state, f"window is active and maximized ({state})")
    # The window manager's name for the program (its task list, its rules).
    check(state and 'WM_CLASS(STRING) = "teskmanager", "TeskManager"' in state,
          "the window manager calls the program TeskManager (WM_CLASS)")

    # A name borrowed from the group box around (Qt's fallback) or a combo box's current item
    # is no name of its own.
    unnamed = [f"{kind} \"{name}\" in \"{group}\"" for kind, name, group, borrowed
               in program.focusable if not name or borrowed]
    fields = [name for kind, name, _, _ in program.focusable if kind in FIELD_ROLES]
    shared = sorted({name for name in fields if fields.count(name) > 1})
    if os.environ.get("E2E_WALK") == "1":
        for kind, name, group, borrowed in program.focusable:
            print(f"  {kind} \"{name}\" in \"{group}\"" + (" (borrowed)" if borrowed else ""))
    check(not unnamed, f"each of the {len(program.focusable)} focusable controls has a name of "
          f"its own ({len(unnamed)} without" + (f": {'; '.join(unnamed)})" if unnamed else ")"))
    check(not shared, f"no two of the {len(fields)} fields share a name"
          + (f" (shared: {'; '.join(shared)})" if shared else ""))
    # Qt reads a group box inside another by the outer one's title unless it is named.
    groups = sorted(name for group, kind, name in program.controls
                    if group is None and kind == "panel")
    expected = sorted(["Serial Communication", "Serial Configuration", "Network Configuration"]
                      + [f"Network Communication {n}" for n in (1, 2, 3)])
    check(groups == expected, f"the group boxes read their own titles ({'; '.join(groups)})")

    # A reader says a field's name, role and value: a combo box's current item comes as its
    # text, a colour button's colour as its description.
    values = {name: text_of(program.control(None, "combo box", name)) for name in
              ("Serial Port", "Band Rate", "Data Bit", "Stop Bit", "Parity", "Flow Control")}
    expected = {"Serial Port": TTY_APP, "Band Rate": "9600", "Data Bit": "8", "Stop Bit": "1",
                "Parity": "None", "Flow Control": "None"}
    check(values == expected, f"each combo box reads its current item ({values})")
    colours = {name: program.control(None, "push button", f"{name} colour").description
               for name in ("Serial input", "Serial output", "Network input", "Network output")}
    check(colours == {"Serial input": "#000000", "Serial output": "#ff0000",
                      "Network input": "#000000", "Network output": "#ff0000"},
          f"each colour button reads its colour ({colours})")


def network(program, port):
    config, panel = "Network Configuration", "Network Communication 1"
    require(set_text(program.control(config, "text", "IP Address"), "127.0.0.1"), "address typed")
    require(set_text(program.control(config, "text", "Port"), str(port)), f"port {port} typed")
    connect = program.control(panel, "check box", "Connect")
    click_with_keyboard(connect)
    check(wait_until(lambda: connect.name == "Disconnect" and checked(connect)
                     and program.status() == "connected Network1."),
          f"Network1 connects to 127.0.0.1:{port} (button \"{connect.name}\", pressed "
          f"{checked(connect)}, status bar \"{program.status()}\")")

    command = "hello TeskManager"
    line = program.control(panel, "text", "Network1 command")
    type_command(line, command)
    view = program.control(panel, "text", "Network1 traffic")
    check(wait_until(lambda: text_of(view).count(command) == 2),
          f"Return sends \"{command}\" and its echo shows in the view ({text_of(view)!r})")
    check(wait_until(lambda: log_text("-network1.txt").count(command) == 2),
          "the sent line and the echo are in the Network1 log")

    # The view is a read-only record: Tab moves on, to the command line under it.
    focus(view)
    key(KEY_TAB)
    check(wait_until(lambda: focused(line) and not focused(view)),
          "Tab leaves the Network1 view for \"Network1 command\"")


def serial(program, device):
    panel = "Serial Communication"
    open_button = program.control(panel, "check box", "Open")
    click_with_keyboard(open_button)
    check(wait_until(lambda: open_button.name == "Close" and checked(open_button)
                     and program.status().startswith("Connected to")),
          f"Open opens the port (button \"{open_button.name}\", pressed {checked(open_button)}, "
          f"status bar \"{program.status()}\")")

    line = program.control(panel, "text", "Serial command")
    for mode, command, wire in (("ASCII", "AT+ID", b"AT+ID\n"), ("HEX", "41 42 0A", b"AB\n")):
        button = program.control(panel, "radio button", mode)
        click_with_keyboard(button)
        wait_until(lambda: checked(button))
        type_command(line, command)
        got = device.read(wire)
        check(got == wire, f"{mode} command \"{command}\" arrives as {wire!r} (got {got!r})")
    ascii_button = program.control(panel, "radio button", "ASCII")
    click_with_keyboard(ascii_button)
    wait_until(lambda: checked(ascii_button))

    # The view is the raw terminal: Tab goes to the device; Ctrl+Tab and Ctrl+Shift+Tab leave,
    # for the command line after it and the Open/Close button before it.
    view = program.control(panel, "text", "Serial traffic")
    focus(view)
    key(KEY_TAB)
    got = device.read(b"\t")
    check(got == b"\t" and focused(view), f"Tab in the serial view sends 0x09 (got {got!r})")
    for name, modifiers, target in (("Ctrl+Tab", CONTROL, line),
                                    ("Ctrl+Shift+Tab", CONTROL | SHIFT, open_button)):
        focus(view)
        key(KEY_TAB, modifiers)
        check(wait_until(lambda: focused(target) and not focused(view)),
              f"{name} leaves the serial view for \"{target.name}\"")
    # Nothing of those keys reached the device: the next bytes are the next command's.
    type_command(line, "ping")
    got = device.read(b"ping\n")
    check(got == b"ping\n", f"the focus keys sent nothing to the device (next bytes {got!r})")

    answer = "OK from the device"
    device.write(answer.encode() + b"\r\n")
    check(wait_until(lambda: answer in text_of(view)), "the device's answer shows in the view")
    check(wait_until(lambda: answer in log_text("-serial.txt")),
          "the device's answer is in the serial log")


def serial_loss(program, device):
    panel = "Serial Communication"
    open_button = program.control(panel, "check box", "Open")
    view = program.control(panel, "text", "Serial traffic")
    device.go_away()
    box = program.box("Critical Error")
    message = " ".join(n.name for n in walk(box) if role(n) == "label")
    check(os.path.basename(TTY_APP) in message, f"the box names the port ({message!r})")
    t0 = time.monotonic()
    answer = text_of(view)
    took = time.monotonic() - t0
    check(answer is not None and took < PROMPT,
          f"the window answers the bus while the box is open ({took:.2f} s)")
    press(find(box, "push button", "OK"))
    check(wait_until(lambda: not program.windows("alert", "Critical Error")), "OK closes the box")
    check(wait_until(lambda: open_button.name == "Open" and not checked(open_button)),
          f"the Open button is released (caption \"{open_button.name}\", status bar "
          f"\"{program.status()}\")")
    t0 = time.monotonic()
    press(program.control(panel, "push button", "Clear"))
    cleared = wait_until(lambda: text_of(view) == "", timeout=PROMPT)
    check(cleared, f"Clear answers promptly ({time.monotonic() - t0:.2f} s)")
    check(not program.windows("alert", "Critical Error"), "exactly one \"Critical Error\" box")

    device = Device()
    require(device.fd is not None, "the device comes back (same link names)")
    click_with_keyboard(open_button)
    check(wait_until(lambda: open_button.name == "Close"
                     and program.status().startswith("Connected to")),
          f"one press on Open reopens the port (button \"{open_button.name}\", status bar "
          f"\"{program.status()}\")")
    device.write(b"back again\r\n")
    check(wait_until(lambda: "back again" in text_of(view)), "the device is heard again")
    # Closed again: while the port is open the program answers the bus only between its 10 ms
    # serial polls, which would make the menu steps slow.
    click_with_keyboard(open_button)
    check(wait_until(lambda: open_button.name == "Open" and program.status() == "Disconnected"),
          f"Close closes the port (button \"{open_button.name}\", status bar "
          f"\"{program.status()}\")")
    return device


def about(program):
    press(program.menu_item("Help", "About"))
    dialog = wait_until(lambda: program.window("dialog", "About"))
    check(dialog, "Help > About opens the About dialog")
    if dialog:
        press(find(dialog, "push button", "Close"))
        check(wait_until(lambda: not program.window("dialog", "About")),
              "Close closes the About dialog")


def exit_with(program, answer):
    press_without_waiting(program.menu_item("File", "Exit"))
    box = program.box("TeskManager")
    press(find(box, "push button", answer))
    status = program.exited()
    check(status == 0, f"File > Exit answered {answer}: the program exits with status 0 "
          f"(status {status})")


def main():
    start_desktop()
    connect_bus()
    port = start_echo_peer()
    device = Device()
    require(device.fd is not None, f"socat makes the serial line {TTY_APP} <-> {TTY_DEVICE}")

    program = Program("--serial-port", TTY_APP)
    names_and_layout(program)
    network(program, port)
    screenshot()
    serial(program, device)
    device = serial_loss(program, device)
    about(program)
    exit_with(program, "Yes")
    first_run = log_files()
    check(len(first_run) == 4, f"four logs kept ({' '.join(first_run)})")
    values = settings()
    check(values.get("networkipaddress") == "127.0.0.1" and values.get("networkport") == str(port),
          f"demosettings.ini holds the typed address and port ({values})")

    # A second run, placed by -geometry and left with No: its own four logs go, the settings
    # are written all the same.
    program = Program("-geometry", "1000x640+40+30")
    placed = wait_until(lambda: (lambda w: w if w[1] == (1000, 640) else None)(active_window()))
    check(placed and not placed[0], f"-geometry 1000x640+40+30 shows the window at that size, "
          f"not maximized ({placed or active_window()})")
    check(wait_until(lambda: len(log_files()) == 8), "the second run opens four logs of its own")
    set_text(program.control("Network Configuration", "text", "Port"), str(port + 1))
    exit_with(program, "No")
    check(log_files() == first_run, f"No removes this run's logs, the first run's stay "
          f"({' '.join(log_files())})")
    check(settings().get("networkport") == str(port + 1),
          f"settings are written after No (networkport={settings().get('networkport')})")


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    status = 1
    try:
        main()
    except Fatal:
        pass
    except Exception as error:  # any other surprise is a failure, not a hang
        check(False, f"unexpected {type(error).__name__}: {error}")
    finally:
        for process in reversed(processes):
            stop(process)
        program_log = os.path.join(WORK, "program.log")
        if failed and os.path.exists(program_log):
            log("program output (last lines):")
            print("".join(open(program_log, errors="replace").readlines()[-20:]), end="")
        keep = failed or os.environ.get("E2E_KEEP") == "1"
        if keep:
            log(f"scratch folder kept: {WORK}")
        else:
            shutil.rmtree(WORK, ignore_errors=True)
        print(f"e2e: {passed} passed, {failed} failed, {time.monotonic() - started:.1f} s")
        status = 0 if failed == 0 and passed > 0 else 1
    sys.exit(status)
