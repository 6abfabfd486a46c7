"""The qorb Python layer on the simulated driver's built-in platform: one
table of operations against the status each raises or the value it gives."""
import gc

import pytest

import qorb

DUT, SWITCH_PORT, ROOT, HOST, RCIEP = "09:00.0", "08:00.0", "00:01.0", "00:00.0", "00:1f.0"


@pytest.fixture
def platform():
    with qorb.open("sim") as p:
        yield p


def dut_after(p, *steps):
    d = p.find(slot=DUT)
    for step in steps:
        step(d)
    return d


ROWS = [  # (name, operation on the platform, expected exception or value)
    ("find by slot", lambda p: p.find(slot=DUT).device_id, 0x1050),
    ("find by ids", lambda p: p.find(vendor=0x5153, device=0x1050).slot, DUT),
    ("find by ids at slot", lambda p: p.find("0000:09:00.0", vendor=0x5153, device=0x1050).fn, 0),
    ("find absent slot", lambda p: p.find(slot="1e:00.0"), qorb.DeviceNotFound),
    ("find absent ids", lambda p: p.find(vendor=0xDEAD, device=0xBEEF), qorb.DeviceNotFound),
    ("find ids elsewhere", lambda p: p.find(DUT, vendor=0x5153, device=0x1010), qorb.DeviceNotFound),
    ("bad slot text", lambda p: p.find(slot="9.0"), ValueError),
    ("slot in domain 1", lambda p: p.find(slot="0001:09:00.0"), ValueError),
    ("read id dword", lambda p: p.find(slot=DUT).read(0x00), 0x10505153),
    ("read byte", lambda p: p.find(slot=DUT).read(0x01, 1), 0x51),
    ("read past 4 KiB", lambda p: p.find(slot=DUT).read(0xFFE, 4), qorb.PcieConfigReadFailed),
    ("read width 3", lambda p: p.find(slot=DUT).read(0, 3), ValueError),
    ("write too wide", lambda p: p.find(slot=DUT).write(0x04, 0x10000, 2), ValueError),
    ("write, read back", lambda p: dut_after(p, lambda d: d.write(0x3C, 0x5A, 1)).read(0x3C, 1), 0x5A),
    ("read bytes", lambda p: p.find(slot=DUT).read_bytes(0, 4), b"\x53\x51\x50\x10"),
    ("port type", lambda p: (p.find(slot=ROOT).port_type_name, p.find(slot=DUT).port_type), ("Root Port", 0)),
    ("no PCIe port type", lambda p: p.find(slot=HOST).port_type, None),
    ("parent", lambda p: p.find(slot=DUT).parent.slot, SWITCH_PORT),
    ("no parent", lambda p: p.find(slot=ROOT).parent, None),
    ("walk", lambda p: [(c["offset"], c["name"]) for c in p.find(slot=DUT).capabilities()][::4],
     [(0x40, "Power Management"), (0xC0, "Vendor Specific Information"), (0x178, "Power Budgeting")]),
    ("raw walk ends", lambda p: {k: v for k, v in p.find(slot="0b:02.0").walk_capabilities().items() if "end" in k},
     {"legacy_end": "end", "legacy_end_at": 0x50, "extended_end": "no list", "extended_end_at": 0x100}),
    ("raw walk = library walk", lambda p: [c["offset"] for c in p.find(slot=DUT).walk_capabilities()["capabilities"]]
     == [c["offset"] for c in p.find(slot=DUT).capabilities()], True),
    ("pcie link", lambda p: {k: p.find(slot=DUT).pcie()["link"][k] for k in ("width", "max_speed", "training")},
     {"width": 8, "max_speed": "8GT/s", "training": False}),
    ("pcie decoded", lambda p: (p.find(slot=DUT).pcie()["offset"], p.find(slot=DUT).pcie()["max_payload"]),
     (0x70, 128)),
    ("pcie absent", lambda p: p.find(slot=HOST).pcie(), qorb.PcieCapOutOfRange),
    ("registers: header", lambda p: {k: p.find(slot=DUT).registers()["HDR0.ID"][k] for k in ("offset", "value")},
     {"offset": 0, "value": 0x10505153}),
    ("registers: link", lambda p: (lambda r: (r["offset"], r["fields"]["Negotiated Link Width"]["value"]))(
        p.find(slot=DUT).registers()["PCIE.LNKSTA"]), (0x82, 8)),
    ("registers: field", lambda p: p.find(slot=DUT).registers()["PCIE.LNKCAP"]["fields"]["Max Link Speed"],
     {"bits": (3, 0), "value": 3, "attribute": "RO"}),
    ("retrain, wait", lambda p: dut_after(p, lambda d: d.retrain()).wait_trained(0.5), True),
    ("retrain root port", lambda p: p.find(slot=ROOT).retrain(), qorb.StatusFailed),
    ("disable", lambda p: dut_after(p, lambda d: d.disable()).parent.pcie()["link"]["disabled"], True),
    ("enable", lambda p: dut_after(p, lambda d: d.disable(), lambda d: d.enable()).parent.pcie()["link"]["disabled"],
     False),
    ("aer clear as expected", lambda p: p.find(slot=DUT).assert_aer("bad_tlp"),
     qorb.AerResult(True, False, False, "Bad TLP status: expected CLEAR, actual CLEAR", "bad_tlp")),
    ("aer set expected", lambda p: bool(p.find(slot=DUT).assert_aer("replay_timeout", True)), False),
    ("aer absent", lambda p: p.find(slot=RCIEP).assert_aer("bad_tlp"), qorb.PcieCapOutOfRange),
    ("zeb above", lambda p: [c.slot for c in p.find(slot=DUT).upstream_zeb()], ["07:00.0", "08:00.0"]),
    ("not a zeb", lambda p: (p.find(slot=DUT).is_zeb, p.find(slot=SWITCH_PORT).is_zeb), (False, True)),
    ("trace of non-zeb", lambda p: p.find(slot=DUT).take_trace(), qorb.InvalidParameter),
    ("trace into bytes", lambda p: p.find(slot=SWITCH_PORT).trace_into(b"read-only"), BufferError),
    ("open missing driver", lambda p: qorb.open("/nonexistent/libqorbsim.so"), qorb.StatusFailed),
    ("text log, xml call", lambda p: qorb.TextLog("/nonexistent/x.log").trace(None), AttributeError),
]


@pytest.mark.parametrize("name,operation,expected", ROWS, ids=[r[0] for r in ROWS])
def test_operation(platform, name, operation, expected):
    if isinstance(expected, type) and issubclass(expected, Exception):
        with pytest.raises(expected) as caught:
            operation(platform)
        if issubclass(expected, qorb.Error):  # the code, its name and the library's text travel with it
            e = caught.value
            assert e.code == int(qorb.Status.__members__[e.name]) and e.text.startswith("QORB :: ")
    else:
        assert operation(platform) == expected


def test_injected_error_in_trace_and_logs(platform, tmp_path):
    dut = platform.find(slot=DUT)
    card = dut.upstream_zeb()[1]
    card.zeb_mode = qorb.ZEB_INJECT
    card.arm()
    card.inject("bad_tlp")
    dut.read(0x10)
    card.disarm()
    card.take_trace()
    trace, into = card.trace(), memoryview(bytearray(200))
    assert card.trace_into(into) == len(trace) and into[:len(trace)] == trace and card.trace_into(into[:8]) == 8
    naks = card.find_dllps(b"\x10")
    assert len(naks) == 6 * card.count_dllps(b"\x10") > 0 and naks[:1] == b"\x10" and naks[:6] in trace
    first, flags = card.tlp(0), qorb.TLP_MATCH_STRICT | qorb.TLP_MATCH_FMT | qorb.TLP_MATCH_TYPE
    matches = card.find_tlps(first, flags)
    assert len(matches) == card.count_tlps(first, flags) >= 1 and matches[0] == int.from_bytes(first[:4], "little")
    with qorb.XmlLog(tmp_path / "run.xml") as log:
        with log.test("bad TLP", dut=dut, assertions=["EM.1.1#1.1"]):
            result = dut.assert_aer("bad_tlp", expected=True, clear=True, log=log).log(log)
            assert log.trace(card) == 0
    assert (result.passed, result.actual, dut.aer_status()["correctable"]) == (True, True, [])
    text = (tmp_path / "run.xml").read_text()
    assert "Bad TLP Status bit ) (Expected : SET) Actual value (SET)" in text and text.endswith("</QORBXMLLog>\n")


def test_records_closed_once(platform):
    dut = platform.find(slot=DUT)
    parent = dut.parent
    dut.close()
    dut.close()
    assert (dut.closed, parent.closed) == (True, True)
    with pytest.raises(ValueError):
        dut.read(0)
    kept = platform.find(slot=DUT)
    kept_parent = kept.parent
    platform.close()
    assert (kept.closed, kept_parent.closed, platform.closed) == (True, True, True)
    with pytest.raises(ValueError):
        platform.scan()
    del kept, kept_parent
    gc.collect()
