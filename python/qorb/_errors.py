"""qorb.Error and one subclass per status code of the library."""
from . import _qorb


class Error(Exception):
    """A failing status of the library: code, its enumerator name and the
    library's text for it (QORBGetErrorDesc)."""

    code = None

    def __init__(self, code, name, text):
        self.code, self.name, self.text = code, name, text
        super().__init__(f"{name} (0x{code:08x}): {text}" if text else f"{name} (0x{code:08x})")


class CardError(Error):
    """A status of the test card library that qorb itself does not define."""


def _class_name(enumerator):
    return "".join(part.capitalize() for part in enumerator[len("QORB_"):].split("_"))


_BY_CODE = {}
for _name, _member in _qorb.Status.__members__.items():
    if int(_member) & 0x80000000:
        _BY_CODE[int(_member)] = type(_class_name(_name), (Error,), {"code": int(_member), "__module__": "qorb"})


def error_for(code):
    """The exception for a failing status code."""
    code &= 0xFFFFFFFF
    cls = _BY_CODE.get(code, CardError)
    name = _qorb.Status(code).name if cls is not CardError else "card status"
    return cls(code, name, _qorb.status_text(code))


def error_classes():
    """Every status's exception class, keyed by its class name."""
    return {cls.__name__: cls for cls in _BY_CODE.values()}
