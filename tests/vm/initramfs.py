"""The initramfs of the emulated-machine harness, written as a "newc" cpio
archive (the format the Linux kernel unpacks) without the cpio tool, so that
device nodes need no root and the archive is the same on every host."""

import os
import stat
import subprocess


class Archive:
    """Entries of one newc archive, written parents first."""

    def __init__(self):
        self._entries = {}   # path inside the archive -> (mode, data, rdev)

    def directory(self, path):
        path = path.strip("/")
        parts = path.split("/")
        for i in range(1, len(parts) + 1):
            self._entries.setdefault("/".join(parts[:i]), (stat.S_IFDIR | 0o755, b"", (0, 0)))

    def _parent(self, path):
        parent = os.path.dirname(path.strip("/"))
        if parent:
            self.directory(parent)
        return path.strip("/")

    def data(self, path, content, mode=0o644):
        if isinstance(content, str):
            content = content.encode()
        self._entries[self._parent(path)] = (stat.S_IFREG | mode, content, (0, 0))

    def file(self, path, source, mode=None):
        """A host file, its symbolic links followed."""
        with open(source, "rb") as f:
            content = f.read()
        if mode is None:
            mode = stat.S_IMODE(os.stat(source).st_mode) | 0o444
        self.data(path, content, mode)

    def symlink(self, path, target):
        self._entries[self._parent(path)] = (stat.S_IFLNK | 0o777, target.encode(), (0, 0))

    def char_device(self, path, major, minor, mode=0o600):
        self._entries[self._parent(path)] = (stat.S_IFCHR | mode, b"", (major, minor))

    def __contains__(self, path):
        return path.strip("/") in self._entries

    def write(self, out):
        """Writes the archive to a binary stream; answers its size."""
        size = 0

        def put(name, mode, content, rdev, ino):
            nonlocal size
            encoded = name.encode() + b"\0"
            fields = [ino, mode, 0, 0, 2 if stat.S_ISDIR(mode) else 1, 0, len(content), 0, 0, rdev[0], rdev[1],
                      len(encoded), 0]
            header = b"070701" + b"".join(b"%08x" % v for v in fields)
            chunk = header + encoded
            chunk += b"\0" * (-len(chunk) % 4)
            chunk += content
            chunk += b"\0" * (-len(chunk) % 4)
            out.write(chunk)
            size += len(chunk)

        # Sorted paths put every folder before what it holds.
        for ino, name in enumerate(sorted(self._entries), start=1):
            mode, content, rdev = self._entries[name]
            put(name, mode, content, rdev, ino)
        put("TRAILER!!!", 0, b"", (0, 0), 0)
        return size


def shared_objects(program):
    """The shared objects a program or library loads, as ldd resolves them on
    this host, the dynamic loader included. Raises RuntimeError naming the
    ones that ldd cannot find."""
    result = subprocess.run(["ldd", program], capture_output=True, text=True, check=False)
    text = result.stdout + result.stderr
    if "not a dynamic executable" in text or "statically linked" in text:
        return []
    if result.returncode != 0:
        raise RuntimeError("ldd %s failed: %s" % (program, text.strip()))
    found, missing = [], []
    for line in result.stdout.splitlines():
        line = line.strip()
        if "=>" in line:
            name, _, rest = line.partition("=>")
            path = rest.strip().split(" (")[0].strip()
            if path == "not found":
                missing.append(name.strip())
            elif path.startswith("/"):
                found.append(path)
        elif line.startswith("/"):
            found.append(line.split(" (")[0])   # the dynamic loader
    if missing:
        raise RuntimeError("%s needs %s, which ldd cannot find" % (program, ", ".join(missing)))
    return found


def is_static(program):
    return shared_objects(program) == []
