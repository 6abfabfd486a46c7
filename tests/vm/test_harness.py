#!/usr/bin/env python3
"""Unit tests of the emulated-machine harness's own parts: the archive it
boots, its reading of the guest's report, its decoding of configuration
space and its prediction of the machine. Run by CTest as vm_harness_units."""

import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import checks      # noqa: E402
import initramfs   # noqa: E402
import machine     # noqa: E402
from report import Report, decode_capabilities, parse_assertions, parse_tree  # noqa: E402


def read_newc(data):
    """[(name, mode, rdev major, rdev minor, content)] of a newc archive,
    checking its alignment on the way."""
    entries, pos = [], 0
    while True:
        assert data[pos:pos + 6] == b"070701", "bad magic at %d" % pos
        fields = [int(data[pos + 6 + 8 * i:pos + 14 + 8 * i], 16) for i in range(13)]
        namesize, filesize = fields[11], fields[6]
        name = data[pos + 110:pos + 110 + namesize - 1].decode()
        pos += 110 + namesize
        pos += -pos % 4
        content = data[pos:pos + filesize]
        pos += filesize
        pos += -pos % 4
        if name == "TRAILER!!!":
            assert pos == len(data)
            return entries
        entries.append((name, fields[1], fields[9], fields[10], content))


class ArchiveTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def build(self):
        archive = initramfs.Archive()
        archive.char_device("dev/console", 5, 1)
        archive.data("qorb/bin/x", "abcde", 0o755)       # 5 bytes: padding follows
        archive.symlink("bin/sh", "busybox")
        archive.data("/lib64/ld.so", b"\x7fELF")
        path = os.path.join(self.tmp, "a.cpio")
        with open(path, "wb") as out:
            size = archive.write(out)
        with open(path, "rb") as f:
            data = f.read()
        self.assertEqual(size, len(data))
        return path, data

    def test_entries_parents_first_with_modes_and_nodes(self):
        _path, data = self.build()
        entries = read_newc(data)
        names = [e[0] for e in entries]
        for name in names:
            parent = os.path.dirname(name)
            if parent:
                self.assertLess(names.index(parent), names.index(name), name)
        by_name = {e[0]: e for e in entries}
        self.assertTrue(stat.S_ISCHR(by_name["dev/console"][1]))
        self.assertEqual(by_name["dev/console"][2:4], (5, 1))
        self.assertEqual(by_name["qorb/bin/x"][4], b"abcde")
        self.assertEqual(stat.S_IMODE(by_name["qorb/bin/x"][1]), 0o755)
        self.assertTrue(stat.S_ISLNK(by_name["bin/sh"][1]))
        self.assertEqual(by_name["bin/sh"][4], b"busybox")
        self.assertTrue(stat.S_ISDIR(by_name["lib64"][1]))

    @unittest.skipUnless(shutil.which("cpio"), "no cpio to list the archive")
    def test_cpio_lists_what_was_written(self):
        path, _data = self.build()
        with open(path, "rb") as f:
            listed = subprocess.run(["cpio", "-it", "--quiet"], stdin=f, capture_output=True, text=True).stdout
        self.assertEqual(sorted(listed.split()), sorted(["bin", "bin/sh", "dev", "dev/console", "lib64",
                                                         "lib64/ld.so", "qorb", "qorb/bin", "qorb/bin/x"]))

    def test_shared_objects_include_the_loader(self):
        found = initramfs.shared_objects(sys.executable)
        self.assertTrue(any("ld-linux" in os.path.basename(p) for p in found), found)
        self.assertTrue(all(os.path.isabs(p) for p in found))


def space(size=4096):
    data = bytearray(size)
    data[0:4] = b"\x86\x80\xd3\x10"
    return data


def put32(data, offset, value):
    data[offset:offset + 4] = value.to_bytes(4, "little")


def express_function():
    """Express at e0, MSI-X at a0, AER at 100, Serial Number at 140."""
    data = space()
    data[0x06] = 0x10
    data[0x34] = 0xE0
    data[0xE0:0xE4] = b"\x10\xa0\x01\x00"
    data[0xA0:0xA2] = b"\x11\x00"
    put32(data, 0x100, 0x14020001)   # AER v2, next 0x140
    put32(data, 0x140, 0x00010003)   # DSN v1, end
    return bytes(data)


class DecodeTest(unittest.TestCase):
    def test_both_lists_in_pointer_order(self):
        self.assertEqual(decode_capabilities(express_function()), [
            ("legacy", 0xE0, 0x10, 0xA0), ("legacy", 0xA0, 0x11, 0x00),
            ("extended", 0x100, 0x0001, 0x140), ("extended", 0x140, 0x0003, 0x000)])

    def test_loops_and_bad_pointers_end_the_walk(self):
        data = space()
        data[0x06] = 0x10
        data[0x34] = 0x40
        data[0x40:0x42] = b"\x01\x50"
        data[0x50:0x52] = b"\x05\x40"    # back to 0x40
        put32(data, 0x100, 0x10010001)   # points at itself
        self.assertEqual(decode_capabilities(bytes(data)), [
            ("legacy", 0x40, 0x01, 0x50), ("legacy", 0x50, 0x05, 0x40), ("extended", 0x100, 0x0001, 0x100)])
        data[0x51] = 0x10                # below the header
        data[0x06] = 0x00                # and no list at all
        self.assertEqual([e[0] for e in decode_capabilities(bytes(data))], ["extended"])

    def test_conventional_space_has_no_extended_list(self):
        data = space(256)
        self.assertEqual(decode_capabilities(bytes(data)), [])
        put32(data := space(), 0x100, 0xFFFFFFFF)
        self.assertEqual(decode_capabilities(bytes(data)), [])

    @unittest.skipUnless(shutil.which("lspci"), "no lspci to compare with")
    def test_lspci_agrees_on_a_function(self):
        data = express_function()
        mine = [offset for _k, offset, _i, _n in decode_capabilities(data)]
        self.assertEqual(checks.lspci_offsets({"01:00.0": data}), {"01:00.0": mine})


class ReportTest(unittest.TestCase):
    def feed(self, lines):
        report = Report()
        events = [report.feed(line) for line in lines]
        return report, [e for e in events if e]

    def test_blocks_devices_and_requests(self):
        report, events = self.feed([
            "[    1.0] kernel noise",
            "QORBVM START 6.1.0",
            "QORBVM DEV 0000:01:00.0 0x8086 0x10d3 0x020000 /sys/devices/pci0000:00/0000:00:10.0/0000:01:00.0 4096",
            "QORBVM BEGIN config 0000:01:00.0",
            "QORBVM| 86 80 d3 10",
            "QORBVM| 07 00 10 00",
            "QORBVM END config 0000:01:00.0 0",
            "QORBVM INJECT 3 ep1 pcie_aer_inject_error ep1 0x10",
            "QORBVM SKIPPED 4 no go",
            "QORBVM DONE",
        ])
        self.assertEqual(events, [("INJECT", "3")])
        self.assertEqual(report.kernel, "6.1.0")
        self.assertEqual(report.devices["01:00.0"]["ids"], "8086:10d3")
        self.assertEqual(report.devices["01:00.0"]["size"], 4096)
        self.assertEqual(report.config("01:00.0"), bytes([0x86, 0x80, 0xD3, 0x10, 7, 0, 0x10, 0]))
        self.assertIsNone(report.config("01:00.0", "after"))
        self.assertEqual(report.skipped, ["4 no go"])
        self.assertTrue(report.done)

    def test_unfinished_block_is_absent(self):
        report, _ = self.feed(["QORBVM BEGIN scan", "QORBVM| [", "QORBVM DONE"])
        self.assertEqual(report.block("scan"), ([], None))

    def test_assertion_lines_after_log_text(self):
        lines = ["INFO    ::(... (Expected : SET) Actual value (SET)::QORBVM-ASSERT BadTLP expected=1 clear=1 "
                 "status=0x00000000",
                 "QORBVM-ASSERT BadTLP expected=0 clear=0 status=0x80000006"]
        self.assertEqual(parse_assertions(lines), [("BadTLP", 1, 1, 0), ("BadTLP", 0, 0, 0x80000006)])

    def test_tree_drawing(self):
        drawing = ["00:00.0 [8086:29c0] Host bridge",
                   "00:11.0 [8086:3420] Root Port",
                   "+- 02:00.0 [104c:8232] Upstream Port",
                   "+- 03:00.0 [104c:8233] Downstream Port",
                   "|  \\- 04:00.0 [8086:10d3] Endpoint",
                   "\\- 03:01.0 [104c:8233] Downstream Port",
                   "00:1f.0 [8086:2918] ISA bridge"]
        self.assertEqual(parse_tree(drawing), {"00:00.0": None, "00:11.0": None, "02:00.0": "00:11.0",
                                               "03:00.0": "00:11.0", "04:00.0": "03:00.0",
                                               "03:01.0": "00:11.0", "00:1f.0": None})


class McfgTest(unittest.TestCase):
    def report(self, answer):
        table = bytearray(60)
        table[0:4] = b"MCFG"
        table[44:52] = (0xB0000000).to_bytes(8, "little")
        table[54], table[55] = 0, 255
        report = Report()
        report.devices["01:00.0"] = {"ids": "8086:10d3"}
        report.blocks["mcfg-table"] = ([" ".join("%02x" % b for b in table)], 0)
        report.blocks["mcfg"] = (["QORBVM-MCFG " + answer, "QORBVM-READEX bytes=4 dword=0x10d38086"], 0)
        return report

    def test_window_from_the_table(self):
        self.assertEqual(checks.check_mcfg(self.report(
            "answer=1 base=0xb0000000 start=0 end=255 length=0x10000000")), [])

    def test_a_wrong_length_is_reported(self):
        problems = checks.check_mcfg(self.report("answer=1 base=0xb0000000 start=0 end=255 length=0x100000"))
        self.assertEqual(len(problems), 1, problems)
        self.assertIn("QueryAcpiMcfgTableInfo", problems[0])


class MachineTest(unittest.TestCase):
    def test_buses_numbered_depth_first(self):
        self.assertEqual(machine.predicted_locations(), {
            "rp1": "00:10.0", "ep1": "01:00.0", "rp2": "00:11.0", "up": "02:00.0",
            "dn1": "03:00.0", "ep2": "04:00.0", "dn2": "03:01.0"})

    def test_platform_file_names_the_endpoints_in_decimal(self):
        xml = machine.platform_xml()
        self.assertIn('<DUT vendorid="8086" deviceid="10d3" bus="1" device="0" function="0"/>', xml)
        self.assertIn('<DUT vendorid="8086" deviceid="10d3" bus="4" device="0" function="0"/>', xml)

    def test_every_injection_asserts_all_bits(self):
        names = sorted(name for name, _q, _c, _m in machine.AER_BITS)
        for _seq, _slot, ident, command, before, after in machine.plan():
            self.assertIn(" %s " % ident, command)
            self.assertEqual(sorted(item.split("=")[0] for item in after[1:]), names)
            self.assertEqual(after[0], before[0].replace("=0", "=1c"))

    def test_correctable_bits_use_the_c_flag(self):
        self.assertEqual(machine.inject_command("ep1", "BadTLP"), "pcie_aer_inject_error -c ep1 0x40")
        self.assertEqual(machine.inject_command("ep1", "DLProtocolError"), "pcie_aer_inject_error ep1 0x10")


class ChecklistTest(unittest.TestCase):
    def junit(self, outcome_of):
        cases = []
        for check in checks.EXPECTED_CHECKS:
            outcome = outcome_of(check)
            inner = {"pass": "", "skip": '<skipped message="why"/>', "known": '<failure message="m">d</failure>'}
            cases.append('<testcase name="%s title">%s</testcase>' % (check, inner[outcome]))
        suites = "".join('<testsuite name="DUT %s">%s</testsuite>' % (d, "".join(cases)) for d in ("a", "b"))
        return ["<testsuites>", suites, "</testsuites>"]

    def report(self, lines, status):
        report = Report()
        report.blocks["junit"] = (lines, 0)
        report.blocks["check"] = ([], status)
        return report

    def test_expected_table_passes(self):
        lines = self.junit(lambda check: checks.EXPECTED_CHECKS[check])
        self.assertEqual(checks.check_checklist(self.report(lines, 1)), [])

    def test_a_failure_outside_the_table_is_reported(self):
        lines = self.junit(lambda check: "known" if check == "CFG.1.4#1.1" else checks.EXPECTED_CHECKS[check])
        problems = checks.check_checklist(self.report(lines, 1))
        self.assertEqual(len(problems), 2, problems)
        self.assertIn("CFG.1.4#1.1: expected to pass, it did fail", problems[0])

    def test_a_port_left_with_link_disable_is_reported(self):
        report = Report()
        for ident, slot in machine.predicted_locations().items():
            if not ident.startswith("ep"):
                report.blocks["linkctl " + slot] = (["0010" if ident == "dn1" else "0000"], 0)
        problems = checks.check_links_enabled(report)
        self.assertEqual(len(problems), 1, problems)
        self.assertIn("dn1 (03:00.0) is left disabled", problems[0])

    def test_every_known_difference_is_explained(self):
        known = {c for c, w in checks.EXPECTED_CHECKS.items() if w == "known"}
        self.assertEqual(known, set(checks.KNOWN_DIFFERENCES))


if __name__ == "__main__":
    unittest.main()
