"""One QEMU run: the process, its serial console on standard input and
output, and its QMP monitor on a Unix socket."""

import ctypes
import json
import os
import selectors
import signal
import socket
import subprocess
import time


def _die_with_parent():
    """Runs in the child before exec: QEMU gets SIGKILL when the harness
    dies, even by SIGKILL (a CTest timeout), so no machine outlives it."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        PR_SET_PDEATHSIG = 1
        libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    except OSError:
        pass
    os.setsid()


class Monitor:
    """QMP client; human monitor commands go through human-monitor-command."""

    def __init__(self, path, deadline):
        self._sock = None
        while True:
            try:
                sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                sock.connect(path)
                self._sock = sock
                break
            except OSError:
                sock.close()
                if time.monotonic() > deadline:
                    raise RuntimeError("the QMP monitor socket %s does not answer" % path)
                time.sleep(0.05)
        self._sock.settimeout(30)
        self._buffer = b""
        self._reply()                      # the greeting
        self.execute("qmp_capabilities")

    def _line(self):
        while b"\n" not in self._buffer:
            chunk = self._sock.recv(65536)
            if not chunk:
                raise RuntimeError("the QMP monitor closed its socket")
            self._buffer += chunk
        line, _, self._buffer = self._buffer.partition(b"\n")
        return json.loads(line)

    def _reply(self):
        while True:
            message = self._line()
            if "event" not in message:
                return message

    def execute(self, command, **arguments):
        request = {"execute": command}
        if arguments:
            request["arguments"] = arguments
        self._sock.sendall(json.dumps(request).encode() + b"\n")
        reply = self._reply()
        if "error" in reply:
            raise RuntimeError("QMP %s: %s" % (command, reply["error"].get("desc", reply["error"])))
        return reply.get("return")

    def human(self, command_line):
        """Answers the command's text output ("" when it printed nothing)."""
        return self.execute("human-monitor-command", **{"command-line": command_line}) or ""

    def close(self):
        if self._sock:
            self._sock.close()
            self._sock = None


class Machine:
    """A running QEMU. Lines of the serial console are read with lines();
    send() writes to the guest's console input."""

    def __init__(self, argv, workdir, console_log):
        self.qmp_path = os.path.join(workdir, "qmp.sock")
        argv = argv + ["-qmp", "unix:%s,server=on,wait=off" % self.qmp_path]
        self._stderr = open(os.path.join(workdir, "qemu.stderr"), "w+b")
        self._proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self._stderr,
                                      preexec_fn=_die_with_parent, cwd=workdir)
        self._console_log = console_log
        self._pending = b""
        self._selector = selectors.DefaultSelector()
        self._selector.register(self._proc.stdout, selectors.EVENT_READ)
        self.monitor = None
        self._messages = ""

    def connect_monitor(self, deadline):
        self.monitor = Monitor(self.qmp_path, deadline)

    def lines(self, deadline):
        """Yields console lines (without line ends) until QEMU closes its
        output or the deadline passes; raises TimeoutError then."""
        fd = self._proc.stdout.fileno()
        while True:
            while b"\n" in self._pending:
                line, _, self._pending = self._pending.partition(b"\n")
                yield line.rstrip(b"\r").decode("utf-8", "replace")
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError()
            if not self._selector.select(timeout=min(left, 1.0)):
                continue
            chunk = os.read(fd, 65536)
            if not chunk:
                if self._pending:
                    yield self._pending.decode("utf-8", "replace")
                    self._pending = b""
                return
            self._console_log.write(chunk)
            self._console_log.flush()
            self._pending += chunk

    def send(self, text):
        self._proc.stdin.write(text.encode())
        self._proc.stdin.flush()

    def wait(self, timeout):
        try:
            return self._proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stderr_text(self):
        """QEMU's own messages (warnings, errors); kept after stop()."""
        if not self._stderr.closed:
            self._stderr.seek(0)
            self._messages = self._stderr.read().decode("utf-8", "replace")
        return self._messages

    def stop(self):
        """Ends QEMU whatever state it is in."""
        if self.monitor:
            self.monitor.close()
        if self._proc.poll() is None:
            self._proc.terminate()
            if self.wait(5) is None:
                self._proc.kill()
                self._proc.wait()
        self._selector.close()
        for stream in (self._proc.stdin, self._proc.stdout):
            try:
                stream.close()
            except OSError:
                pass
        self.stderr_text()
        self._stderr.close()
