"""qorb from Python: PCI Express compliance testing through libqorb.

    import qorb
    with qorb.open(driver="sim") as platform:
        dut = platform.find(slot="09:00.0")
        print(dut.pcie()["link"]["width"])

Every failing status raises a qorb.Error subclass (code, name, text). Device
records, parent records and logs belong to the Python objects that hold them
and are closed exactly once: by close(), by leaving a with block, or when
the object goes away. docs/python.md tells the whole story.
"""
import os as _os
import re as _re

from . import _qorb
from ._errors import CardError, Error, error_classes
from ._logs import AerResult, ConsoleLog, Log, TextLog, XmlLog, assertion_number
from ._qorb import Device, Status, port_type_name

globals().update(error_classes())

__all__ = ["open", "Platform", "Device", "Error", "CardError", "Status", "XmlLog", "TextLog", "ConsoleLog",
           "Log", "AerResult", "PlatformFile", "read_platform_file", "driver_path", "assertion_number",
           "port_type_name"] + sorted(error_classes())

_DRIVER_FILES = {"sim": "libqorbsim.so", "sysfs": "libqorbsysfs.so"}

# The library's AER assertions by short name, in the library's order.
AER_CHECKS = ("training_error", "dl_protocol", "fc_protocol", "completion_timeout", "completer_abort",
              "unexpected_completion", "receiver_overflow", "unsupported_request", "receiver_error", "bad_tlp",
              "bad_dllp", "replay_rollover", "replay_timeout")
assert len(AER_CHECKS) == len(Device._AER_ASSERTIONS)

# Trace search flags (TLP fields compared) and ZEB modes and commands.
TLP_MATCH_FMT, TLP_MATCH_TYPE, TLP_MATCH_LENGTH, TLP_MATCH_STRICT = 0x1, 0x2, 0x8, 0x80000000
ZEB_PASSTHROUGH, ZEB_MONITOR, ZEB_INJECT = 0, 1, 2
ZEB_COMMANDS = ("none", "bad_tlp", "bad_dllp", "replay_timer_timeout", "replay_num_rollover", "receiver_error",
                "unsupported_request", "completion_timeout", "dl_protocol_error", "fc_protocol_error")


def driver_path(driver):
    """The path of a driver: "sim" and "sysfs" are looked for beside libqorb,
    in the install folder and in the build tree; anything else is a path."""
    if driver not in _DRIVER_FILES:
        return driver
    from . import _paths
    for folder in [_qorb.library_dir(), _paths.DRIVER_DIR] + _paths.BUILD_DRIVER_DIRS:
        path = _os.path.join(folder, _DRIVER_FILES[driver])
        if folder and _os.access(path, _os.R_OK):
            return _os.path.realpath(path)
    raise FileNotFoundError(f"the {driver} driver {_DRIVER_FILES[driver]} is not installed")


def open(driver=None, *, config_base=_qorb.DEFAULT_CONFIG_BASE):  # noqa: A001 (qorb.open is the API)
    """Open the library with a driver: "sim", "sysfs" or a driver's path.
    Without one, ini/VERDAapp.ini in the current directory names the driver
    as the library's own OpenQORB does; without that file "sim" is used."""
    if driver is None and _os.path.isfile(_os.path.join("ini", "VERDAapp.ini")):
        return Platform(_qorb.Instance.open_ini(config_base))
    return Platform(_qorb.Instance.open_driver(driver_path(driver or "sim"), config_base))


_SLOT = _re.compile(r"^(?:([0-9a-fA-F]{1,4}):)?([0-9a-fA-F]{1,2}):([0-9a-fA-F]{1,2})\.([0-7])$")


def parse_slot(slot):
    """(bus, dev, fn) of "09:00.0" or "0000:09:00.0" (domain 0 only)."""
    m = _SLOT.match(slot)
    if not m or (m.group(1) and int(m.group(1), 16)) or int(m.group(3), 16) > 31:
        raise ValueError(f"not a slot: {slot!r} (BUS:DEV.FN in hexadecimal)")
    return int(m.group(2), 16), int(m.group(3), 16), int(m.group(4))


class Platform:
    """An open library instance; a context manager that closes it."""

    def __init__(self, instance):
        self._instance = instance

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Close every device record found through the platform, then the
        library (CloseQORB unloads the driver for every instance)."""
        self._instance.close()

    @property
    def closed(self):
        return self._instance.closed

    def scan(self):
        """Every function, in bus, device, function order."""
        return self._instance.scan()

    def find(self, slot=None, *, vendor=None, device=None, dut=None):
        """One function: by slot, by vendor and device ID (with a slot: both
        must match), or by a platform file's DUT entry. Raises
        qorb.DeviceNotFound / qorb.FindDeviceFailed when absent."""
        if dut is not None:
            return self._instance.find_info(dut["flags"], dut)
        if (vendor is None) != (device is None):
            raise TypeError("give both vendor and device")
        if slot is None and vendor is None:
            raise TypeError("give a slot, vendor and device, or a dut")
        if vendor is None:
            return self._instance.find_location(*parse_slot(slot))
        if slot is None:
            return self._instance.find_ids(vendor, device)
        return self._instance.find_ids_at(vendor, device, *parse_slot(slot))

    def tree(self):
        """(device, depth) pairs of the hierarchy the parent links describe:
        every function below the port above its link."""
        devices = self.scan()
        children, roots = {}, []
        for d in devices:
            parent = d.parent
            (children.setdefault(parent.slot, []) if parent else roots).append(d)
        out = []

        def visit(d, depth):
            if len(out) < len(devices):  # bounded: each function once
                out.append((d, depth))
                for c in children.get(d.slot, []):
                    visit(c, depth + 1)
        for d in roots:
            visit(d, 0)
        return out


class PlatformFile:
    """A platform configuration file as parseDatFile reads it."""

    def __init__(self, path):
        self.path = str(path)
        info = _qorb.parse_platform_file(self.path)
        self.user, self.test_mode, self.duts = info["user"], info["test_mode"], info["duts"]
        self.replay_count, self.pcie_base_address = info["replay_count"], info["pcie_base_address"]

    @staticmethod
    def describe(dut):
        """A short name of a DUT entry: its location, or its IDs."""
        if dut["flags"] & _qorb.FIND_LOCATION:
            return f"{dut['bus']:02x}:{dut['dev']:02x}.{dut['fn']}"
        return f"{dut['vendor_id']:04x}:{dut['device_id']:04x}"


def read_platform_file(path):
    return PlatformFile(path)


def _assert_aer(self, check, expected=False, *, clear=False, log=None):
    """Run one of the library's AER assertions (AER_CHECKS names them): is
    the status bit set (expected=True) or clear? The verdict goes into log
    when one is given; clear=True clears the bit when the check passes."""
    index = AER_CHECKS.index(check)
    passed, actual, field = self._assert_aer(index, bool(expected), bool(clear), log)
    word = {True: "SET", False: "CLEAR"}
    message = f"{field} status: expected {word[bool(expected)]}, actual {word[actual]}"
    return AerResult(passed, bool(expected), actual, message, check)


def _inject(self, command, **options):
    """Program the card: command is a name of ZEB_COMMANDS or its number."""
    code = ZEB_COMMANDS.index(command) if isinstance(command, str) else command
    return self._inject(code, **options)


Device.assert_aer = _assert_aer
Device._inject, Device.inject = Device.inject, _inject
Device.__enter__ = lambda self: self
Device.__exit__ = lambda self, *exc: self.close()
Device.__repr__ = lambda self: ("<qorb.Device closed>" if self.closed else
                                f"<qorb.Device {self.slot} {self.vendor_id:04x}:{self.device_id:04x}>")
Device.port_type_name = property(lambda self: None if self.port_type is None else port_type_name(self.port_type))
