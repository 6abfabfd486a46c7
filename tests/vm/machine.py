"""The emulated machine: the PCI Express hierarchy the harness asks QEMU for,
where Linux will find each function, and the AER errors injected."""

# Every device QEMU is asked to add: (id, QEMU device, parent bus, device
# number, properties, vendor:device, PCI Express port type).
ROOT_PORT, UPSTREAM, DOWNSTREAM, ENDPOINT = 4, 5, 6, 0

MACHINE = [
    ("rp1", "ioh3420", "pcie.0", 0x10, "chassis=1,slot=1", "8086:3420", ROOT_PORT),
    ("rp2", "ioh3420", "pcie.0", 0x11, "chassis=1,slot=2", "8086:3420", ROOT_PORT),
    ("up", "x3130-upstream", "rp2", 0x0, "", "104c:8232", UPSTREAM),
    ("dn1", "xio3130-downstream", "up", 0x0, "chassis=2,slot=1", "104c:8233", DOWNSTREAM),
    ("dn2", "xio3130-downstream", "up", 0x1, "chassis=2,slot=2", "104c:8233", DOWNSTREAM),
    ("ep1", "e1000e", "rp1", 0x0, "", "8086:10d3", ENDPOINT),
    ("ep2", "e1000e", "dn1", 0x0, "", "8086:10d3", ENDPOINT),
]

# The functions every q35 machine has without being asked (with -nodefaults
# and -vga none): the host bridge, and the LPC bridge, SATA controller and
# SMBus controller of the ICH9 at device 1f.
Q35_BUILTINS = {
    "00:00.0": "8086:29c0",
    "00:1f.0": "8086:2918",
    "00:1f.2": "8086:2922",
    "00:1f.3": "8086:2930",
}

BRIDGES = {"ioh3420", "x3130-upstream", "xio3130-downstream"}

# The parent link the library's parent resolution gives each function: the
# port above an endpoint's or upstream port's link, and for a switch
# downstream port the port above the switch.
EXPECTED_PARENT = {"ep1": "rp1", "ep2": "dn1", "up": "rp2", "dn1": "rp2", "dn2": "rp2"}

# The endpoints the platform file names as DUTs.
DUTS = ["ep1", "ep2"]


def qemu_device_args():
    args = []
    for ident, driver, bus, number, props, _ids, _type in MACHINE:
        text = "%s,id=%s,bus=%s,addr=0x%x" % (driver, ident, bus, number)
        if props:
            text += "," + props
        args += ["-device", text]
    return args


def predicted_locations():
    """Where each device will be: the firmware numbers buses depth first, in
    device number order, and Linux keeps its numbers. Answers
    {id: "BB:DD.F"}; the harness checks the guest's own listing against it."""
    below = {}
    for entry in MACHINE:
        below.setdefault(entry[2], []).append(entry)
    locations = {}
    last_bus = 0

    def walk(bus_name, bus_number):
        nonlocal last_bus
        for ident, driver, _bus, number, _props, _ids, _type in sorted(below.get(bus_name, []), key=lambda e: e[3]):
            locations[ident] = "%02x:%02x.0" % (bus_number, number)
            if driver in BRIDGES:
                last_bus += 1
                walk(ident, last_bus)

    walk("pcie.0", 0)
    return locations


def expected_functions():
    """{slot: "vendor:device"} of every function the machine has."""
    functions = dict(Q35_BUILTINS)
    locations = predicted_locations()
    for ident, _driver, _bus, _number, _props, ids, _type in MACHINE:
        functions[locations[ident]] = ids
    return functions


def by_id(ident):
    for entry in MACHINE:
        if entry[0] == ident:
            return entry
    raise KeyError(ident)


# The AER status bits the library asserts: (assertion name as the library
# exports it, QEMU's name for the error, correctable?, mask). The harness
# injects by mask; the names are what a person types at the monitor.
AER_BITS = [
    ("TrainingError", "(none)", False, 0x00000001),
    ("DLProtocolError", "DLP", False, 0x00000010),
    ("FlowControlProtocolError", "FCP", False, 0x00002000),
    ("CompletionTimeout", "COMP_TIMEOUT", False, 0x00004000),
    ("CompleterAbort", "COMP_ABORT", False, 0x00008000),
    ("UnexpectedCompletion", "UNX_COMP", False, 0x00010000),
    ("ReceiverOverflow", "RX_OVERFLOW", False, 0x00020000),
    ("UnsupportedRequestError", "UNSUP_REQ", False, 0x00100000),
    ("ReceiverError", "RXERR", True, 0x00000001),
    ("BadTLP", "BAD_TLP", True, 0x00000040),
    ("BadDLLP", "BAD_DLLP", True, 0x00000080),
    ("ReplayNumberRollover", "REPLAY_NUM", True, 0x00000100),
    ("ReplayTimerTimeout", "REPLAY_TMR", True, 0x00001000),
]

# Bits QEMU's monitor refuses to inject ("failed to inject error: Invalid
# argument"), with the difference as docs/emulated-machine.md names it. The
# harness still asks for them and expects the refusal; the bit is asserted
# CLEAR after every other injection.
REFUSED = {
    "TrainingError": "QEMU refuses to inject uncorrectable bit 0 (Training Error in PCI Express 1.0a, "
                     "undefined in later revisions)",
}

# What is injected where: every bit on the first endpoint, a few on the
# endpoint below the switch and on the ports.
INJECTIONS = [("ep1", name) for name, _q, _c, _m in AER_BITS] + [
    ("ep2", "BadTLP"),
    ("ep2", "UnsupportedRequestError"),
    ("ep2", "ReplayTimerTimeout"),
    ("rp1", "BadDLLP"),
    ("dn1", "CompletionTimeout"),
]


def aer_bit(name):
    for entry in AER_BITS:
        if entry[0] == name:
            return entry
    raise KeyError(name)


def inject_command(ident, name):
    """The monitor command that sets the bit in the device's AER status. The
    mask form is used: it names exactly the bit the assertion reads."""
    _name, _qemu, correctable, mask = aer_bit(name)
    return "pcie_aer_inject_error %s%s 0x%x" % ("-c " if correctable else "", ident, mask)


def plan():
    """The guest's plan, one injection per entry: (seq, slot, id, command,
    assertions before, assertions after)."""
    locations = predicted_locations()
    entries = []
    for seq, (ident, name) in enumerate(INJECTIONS, start=1):
        others = ["%s=0" % other for other, _q, _c, _m in AER_BITS if other != name]
        before = ["%s=0" % name, "%s=1" % name]
        after = ["%s=1c" % name, "%s=0" % name] + others
        entries.append((seq, locations[ident], ident, inject_command(ident, name), before, after))
    return entries


def platform_xml():
    locations = predicted_locations()
    lines = ["<platform>", '  <Test mode="platform"/>']
    for ident in DUTS:
        vendor, device = by_id(ident)[5].split(":")
        bus, rest = locations[ident].split(":")
        dev, fn = rest.split(".")
        lines.append('  <DUT vendorid="%s" deviceid="%s" bus="%d" device="%d" function="%d"/>'
                     % (vendor, device, int(bus, 16), int(dev, 16), int(fn, 16)))
    lines.append("</platform>")
    return "\n".join(lines) + "\n"
