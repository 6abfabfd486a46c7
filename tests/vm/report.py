"""The guest's report, read from its serial console lines (the protocol is
described at the top of guest-init.sh), and the independent decoding of
configuration space the host compares qorb's answers with."""

import re

PREFIX = "QORBVM"
SLOT = re.compile(r"^(?:[0-9a-f]{4,8}:)?([0-9a-f]{2}:[0-9a-f]{2}\.[0-7])$")


class Report:
    def __init__(self):
        self.kernel = None
        self.devices = {}   # slot -> {"ids", "class", "path", "size"}
        self.blocks = {}    # name -> (lines, exit status)
        self.skipped = []   # injections the guest gave up on
        self.done = False
        self._block = None
        self._lines = []

    def feed(self, line):
        """Takes one console line; answers ("INJECT", seq) when the guest
        asks for an injection, None otherwise."""
        if line.startswith(PREFIX + "| ") or line == PREFIX + "|":
            if self._block is not None:
                self._lines.append(line[len(PREFIX) + 2:])
            return None
        if not line.startswith(PREFIX + " "):
            return None
        words = line.split(" ")
        kind = words[1] if len(words) > 1 else ""
        if kind == "START":
            self.kernel = " ".join(words[2:])
        elif kind == "DEV" and len(words) >= 8:
            match = SLOT.match(words[2])
            if match:
                self.devices[match.group(1)] = {
                    "ids": "%s:%s" % (words[3].replace("0x", ""), words[4].replace("0x", "")),
                    "class": words[5],
                    "path": words[6],
                    "size": int(words[7]),
                }
        elif kind == "BEGIN":
            self._block = " ".join(words[2:])
            self._lines = []
        elif kind == "END" and self._block is not None:
            try:
                status = int(words[-1])
            except ValueError:
                status = -1
            self.blocks[self._block] = (self._lines, status)
            self._block = None
        elif kind == "INJECT" and len(words) >= 3:
            return ("INJECT", words[2])
        elif kind == "SKIPPED":
            self.skipped.append(" ".join(words[2:]))
        elif kind == "DONE":
            self.done = True
        return None

    def block(self, name):
        """(lines, exit status) of a block; ([], None) when it never came."""
        return self.blocks.get(name, ([], None))

    def config(self, slot, when="config"):
        """The function's configuration space as the guest's od printed it,
        at the start ("config") or after the injections ("after")."""
        for name in self.blocks:
            kind, _, function = name.partition(" ")
            match = SLOT.match(function)
            if kind == when and match and match.group(1) == slot:
                data = bytearray()
                for line in self.blocks[name][0]:
                    data.extend(int(word, 16) for word in line.split())
                return bytes(data)
        return None


def _u16(data, offset):
    return data[offset] | data[offset + 1] << 8


def _u32(data, offset):
    return _u16(data, offset) | _u16(data, offset + 2) << 16


def decode_capabilities(data):
    """Both capability lists of a configuration space, walked as PCI Express
    lays them out: [(list, offset, id, next)].
    Each walk is bounded by the entries its space can hold."""
    entries = []
    PCI_STATUS, PCI_STATUS_CAP_LIST, PCI_CAPABILITY_LIST = 0x06, 0x10, 0x34
    if len(data) >= 0x40 and _u16(data, PCI_STATUS) & PCI_STATUS_CAP_LIST:
        offset = data[PCI_CAPABILITY_LIST] & 0xFC
        seen = set()
        while offset >= 0x40 and offset not in seen and offset + 1 < min(len(data), 256):
            seen.add(offset)
            following = data[offset + 1] & 0xFC
            entries.append(("legacy", offset, data[offset], following))
            offset = following
    if len(data) > 256:
        offset = 0x100
        seen = set()
        while offset >= 0x100 and offset not in seen and offset + 4 <= len(data):
            header = _u32(data, offset)
            if header in (0, 0xFFFFFFFF):
                break
            seen.add(offset)
            following = (header >> 20) & 0xFFC
            entries.append(("extended", offset, header & 0xFFFF, following))
            offset = following
    return entries


def parse_tree(lines):
    """qorb tree's drawing as {slot: parent slot or None}."""
    parents = {}
    stack = []   # slots of the open ancestors, by depth
    pattern = re.compile(r"([0-9a-f]{2}:[0-9a-f]{2}\.[0-7]) \[")
    for line in lines:
        match = pattern.search(line)
        if not match:
            continue
        depth = match.start() // 3
        del stack[depth:]
        parents[match.group(1)] = stack[-1] if stack else None
        stack.append(match.group(1))
    return parents


# The console log's verdict text ends without a line end, so the program's
# report line may follow it on the same line.
ASSERT_LINE = re.compile(r"QORBVM-ASSERT (\w+) expected=([01]) clear=([01]) status=0x([0-9a-f]{8})$")


def parse_assertions(lines):
    """[(name, expected, clear, status)] of a qorb_vm_probe block."""
    found = []
    for line in lines:
        match = ASSERT_LINE.search(line.strip())
        if match:
            found.append((match.group(1), int(match.group(2)), int(match.group(3)), int(match.group(4), 16)))
    return found
