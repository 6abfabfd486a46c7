"""Logs as context managers, and the result of an AER assertion."""
import contextlib
import dataclasses
import re

from . import _qorb

XML, TEXT, CONSOLE = 0, 1, 2
_ACTIONS = {"create": 0, "append": 1, "overwrite": 2}
KINDS = {"success": 0x00000000, "info": 0x04000000, "warning": 0x08000000, "error": 0x20000000,
         "abort": 0x40000000, "fail": -0x80000000}
LAYERS = ("PHY", "PHYLINK", "CFG", "EM", "SYS", "DLL", "TXN")
_NUMBER = re.compile(r"^([A-Z]+)\.(\w{1,4})\.(\w{1,4})#(\w{1,4})\.(\w{1,4})$")


def assertion_number(text):
    """"PHY.4.2#1.3" as (layer, major, minor, item, subitem)."""
    m = _NUMBER.match(text)
    if not m or m.group(1) not in LAYERS:
        raise ValueError(f"not a checklist assertion number: {text!r} (like PHY.4.2#1.3)")
    return (LAYERS.index(m.group(1)),) + m.groups()[1:]


@dataclasses.dataclass
class AerResult:
    """The verdict of an AER assertion. True when it passed."""
    passed: bool
    expected: bool
    actual: bool
    message: str
    check: str = ""

    def __bool__(self):
        return self.passed

    def log(self, log, number=None):
        """Report the verdict as a checklist assertion (success or fail)."""
        log.assertion("success" if self.passed else "fail", number or "EM.1.1#1.1", self.message + "\n")
        return self


class Log:
    """A log made by CreateLog; closing it ends its document."""

    def __init__(self, kind, path, action="create"):
        self._log = _qorb.Log(kind, None if path is None else str(path), _ACTIONS[action])

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self._log.close()

    @property
    def closed(self):
        return self._log.closed

    @contextlib.contextmanager
    def test(self, name, dut=None, assertions=()):
        """One test: started, and stopped however the block ends. An XML log
        given a DUT or assertion numbers writes the test element with them."""
        numbers = [assertion_number(a) if isinstance(a, str) else a for a in assertions]
        if isinstance(self, XmlLog) and (dut is not None or numbers):
            self._log.start_test_element(name, numbers, dut)
        else:
            self._log.start_test(name)
        try:
            yield self
        finally:
            self._log.stop_test()

    @contextlib.contextmanager
    def case(self, name):
        self._log.start_case(name)
        try:
            yield self
        finally:
            self._log.stop_case()

    def write(self, text, kind="info"):
        """A message of a kind of KINDS, written as given (no formatting)."""
        self._log.write(KINDS[kind], text)

    def assertion(self, kind, number, text):
        """A checklist assertion's result (LogAssert), e.g. ("fail", "CFG.1.4#1.1", "...")."""
        self._log.assertion(KINDS[kind], assertion_number(number) if isinstance(number, str) else number, text)

    def enable(self):
        self._log.enable()

    def disable(self):
        self._log.disable()

    @property
    def current_test(self):
        return self._log.current_test

    @property
    def finished_tests(self):
        return self._log.finished_tests


class XmlLog(Log):
    def __init__(self, path, action="create"):
        super().__init__(XML, path, action)

    def trace(self, card):
        """The card's trace copy and action count (LogTBContents)."""
        return self._log.log_trace(card)


class TextLog(Log):
    def __init__(self, path):
        super().__init__(TEXT, path)


class ConsoleLog(Log):
    def __init__(self, path=None):
        super().__init__(CONSOLE, path)
