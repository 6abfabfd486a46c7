#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are committed; run this again only to change them. Each seed is a
small input that reaches one thing the target's reader knows (the input
layouts are described at the top of each fuzz_<target>.cpp).
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ------------------------------------------------------------ config spaces

class Space:
    """A 4096-byte configuration space."""

    def __init__(self, vendor=0x1234, device=0x5678, header_type=0, cap_pointer=0x40, class_code=0x020000):
        self.b = bytearray(4096)
        struct.pack_into("<HHHH", self.b, 0, vendor, device, 0x0006, 0x0010 if cap_pointer else 0)
        struct.pack_into("<I", self.b, 8, class_code << 8 | 0x01)
        self.b[0x0E] = header_type
        if header_type == 2:
            self.b[0x14] = cap_pointer
        else:
            self.b[0x34] = cap_pointer
        if header_type == 1:
            self.b[0x18:0x1B] = bytes([0, 1, 3])     # primary, secondary, subordinate bus

    def legacy(self, at, cap_id, nxt, body=b""):
        self.b[at] = cap_id
        self.b[at + 1] = nxt
        self.b[at + 2:at + 2 + len(body)] = body
        return self

    def pcie(self, at, nxt, port_type):
        body = struct.pack("<H", 0x0002 | port_type << 4)        # PCI Express Capabilities
        body += struct.pack("<IHH", 0x00008000, 0x2810, 0x0000)  # Device Capabilities, Control, Status
        body += struct.pack("<IHH", 0x00437083, 0x0040, 0x1083)  # Link Capabilities, Control, Status
        return self.legacy(at, 0x10, nxt, body)

    def extended(self, at, cap_id, nxt, body=b""):
        struct.pack_into("<I", self.b, at, cap_id | 1 << 16 | nxt << 20)
        self.b[at + 4:at + 4 + len(body)] = body
        return self

    def used(self):
        """The space without its trailing zeros (the targets zero-fill)."""
        return bytes(self.b).rstrip(b"\0") or b"\0"


def endpoint():
    s = Space()
    s.pcie(0x40, 0x80, 0)
    s.legacy(0x80, 0x01, 0x90, struct.pack("<HHB", 0x0003, 0x0008, 0))
    s.legacy(0x90, 0x05, 0xB0, struct.pack("<H", 0x0080))            # MSI, 64-bit
    s.legacy(0xB0, 0x11, 0xC0, struct.pack("<HII", 0x0007, 0x2000, 0x3000))
    s.legacy(0xC0, 0x09, 0x00, bytes([0x10, 1, 2, 3]))                 # vendor specific, 16 bytes
    s.extended(0x100, 0x0001, 0x148, struct.pack("<IIII", 0x00100000, 0, 0x00062030, 0x00000041))
    s.extended(0x148, 0x0002, 0x168, struct.pack("<I", 0x00000001))
    s.extended(0x168, 0x0003, 0x178, struct.pack("<II", 0x12345678, 0x9ABCDEF0))
    s.extended(0x178, 0x0004, 0x190)
    s.extended(0x190, 0x000B, 0x000)                                  # vendor specific: no length known
    return s


def root_port():
    s = Space(vendor=0x5153, device=0x1001, header_type=1, class_code=0x060400)
    s.pcie(0x40, 0x80, 4)
    s.legacy(0x80, 0x01, 0x90, struct.pack("<HH", 0x0003, 0x0008))
    s.legacy(0x90, 0x05, 0x00, struct.pack("<H", 0x0000))            # MSI, 32-bit
    s.extended(0x100, 0x0001, 0x000, struct.pack("<II", 0x00000010, 0))
    return s


def caps_seed(name, space, mode=0, answered=0, legacy_type=0x10, legacy_start=0, check=1, ext_type=1, header=0):
    head = struct.pack("<BHBBBHB", mode, answered, legacy_type, legacy_start, check, ext_type, header)
    write("fuzz_caps", name, head + space.used())


def caps_seeds():
    caps_seed("endpoint", endpoint())
    caps_seed("endpoint-msix-lookup", endpoint(), legacy_type=0x11, ext_type=3, header=0x90)
    caps_seed("root-port-aer-expect-set", root_port(), mode=8, legacy_type=0x05, ext_type=1)
    s = endpoint().legacy(0xC0, 0x09, 0x40)
    caps_seed("legacy-loop", s, legacy_type=0x07)
    s = endpoint().legacy(0xC0, 0x09, 0x3C)
    caps_seed("legacy-into-header", s, legacy_type=0x07)
    s = endpoint().extended(0x190, 0x000B, 0x100)
    caps_seed("extended-loop", s, ext_type=0x0B)
    s = endpoint().extended(0x190, 0x000B, 0x0FC)
    caps_seed("extended-into-legacy", s, ext_type=0x0B)
    caps_seed("answers-64-bytes", endpoint(), mode=2)
    caps_seed("answers-256-bytes", endpoint(), mode=1)
    caps_seed("answers-0x101-bytes", endpoint(), mode=3, answered=0x101)
    caps_seed("writes-refused", root_port(), mode=4 | 8)
    s = Space()
    s.pcie(0x40, 0x60, 0).legacy(0x60, 0x05, 0x70).pcie(0x70, 0xA0, 1)
    s.legacy(0xA0, 0x05, 0x00, struct.pack("<H", 0x0080))
    s.extended(0x100, 0x0001, 0x200).extended(0x200, 0x0001, 0x000)
    caps_seed("two-of-each", s, legacy_type=0x05, legacy_start=0x60)
    s = Space(cap_pointer=0xFC)
    s.legacy(0xFC, 0x10, 0x00)
    s.extended(0x100, 0x0003, 0xFFC).extended(0xFFC, 0x0004, 0x000)
    caps_seed("headers-at-the-ends", s, ext_type=4, header=0xFC)
    caps_seed("cardbus", Space(header_type=2, cap_pointer=0x80).legacy(0x80, 0x01, 0x00), legacy_type=1)
    caps_seed("no-capabilities", Space(cap_pointer=0))


# --------------------------------------------------------------- traces

def entry(kind, payload=b"", length=None):
    if length is None:
        length = len(payload) // 4
    return bytes([0xF1, kind, length & 0xFF, length >> 8, 0x5A, 0x5A, 0x5A, 0x5A]) + payload


def tlp(kind, fmt, typ, length, dwords=3):
    first = bytes([(fmt & 3) << 5 | (typ & 0x1F), 0, (length >> 8) & 3, length & 0xFF])
    return entry(kind, first + bytes(range(0x10, 0x10 + 4 * (dwords - 1))))


def dllp(typ):
    return entry(3, bytes([0xEE, typ, 0, 0xB2, 0xB3, 0xB4, 0xB5, 0xEE]), length=0)


def trace_seed(name, trace, pattern=(0, 0, 0, 1), flags=0x0B, dllp_type=0x40, capacity=4, index=0,
               asked=0, mode=0, extra=0):
    head = bytes(pattern) + struct.pack("<IBBHIBBxx", flags, dllp_type, capacity, index, asked, mode, extra)
    assert len(head) == 20
    write("fuzz_trace", name, head + trace)


def trace_seeds():
    mixed = (tlp(0, 0, 0x00, 1) + dllp(0x40) + tlp(1, 2, 0x00, 1, dwords=4) + entry(4) +
             dllp(0x91) + tlp(2, 0, 0x0A, 1) + dllp(0x00) + entry(7, length=0x40))
    trace_seed("mixed", mixed)
    trace_seed("mixed-strict-completions", mixed, pattern=(0x0A, 0, 0, 1), flags=0x8000000B, dllp_type=0x90,
               index=2, asked=16)
    trace_seed("mixed-fetched-twice", mixed, mode=2, asked=1000)
    trace_seed("card-claims-more", mixed, mode=1, extra=200)
    trace_seed("card-size-fails-again", mixed, mode=2 | 4)
    trace_seed("empty", b"")
    trace_seed("zero-length-tlp", entry(0) + tlp(0, 0, 0, 0), flags=0x01)
    trace_seed("payload-past-the-end", tlp(0, 0, 0, 1) + entry(0, b"\0" * 8, length=0x100))
    trace_seed("bad-marker", tlp(0, 0, 0, 1) + b"\xF0" + bytes(7) + tlp(0, 0, 0, 1))
    trace_seed("header-cut", tlp(0, 0, 0, 1) + b"\xF1\x00\x01")
    trace_seed("dllps-capacity-1", dllp(0x40) + dllp(0x41) + dllp(0x47) + dllp(0xC0), capacity=1)


# ---------------------------------------------------------------- dumps

def dump(location, title, space, length):
    lines = [f"{location} {title}"]
    for off in range(0, length, 16):
        row = " ".join(f"{x:02x}" for x in space.b[off:off + 16])
        lines.append(f"{off:02x}: {row}" if off < 0x100 else f"{off:03x}: {row}")
    return "\n".join(lines) + "\n"


def simdump_seeds():
    rp = root_port()
    ep = endpoint()
    write("fuzz_simdump", "root-port-and-endpoint",
          dump("00:01.0", "PCI bridge: Device 5153:1001", rp, 256) +
          "\tControl: I/O+ Mem+ BusMaster+\n\n" +
          dump("01:00.0", "Ethernet controller: Device 1234:5678", ep, 4096))
    host = Space(vendor=0x5153, device=0x1000, cap_pointer=0, class_code=0x060000)
    write("fuzz_simdump", "domains-and-64-bytes",
          dump("0000:00:00.0", "Host bridge", host, 64) + dump("0001:00:00.0", "Host bridge", host, 64))
    up = Space(vendor=0x5A45, device=0x0001, header_type=1, class_code=0x060400)
    up.b[0x18:0x1B] = bytes([1, 2, 3])
    up.pcie(0x40, 0x00, 5)
    down = Space(vendor=0x5A45, device=0x0002, header_type=1, class_code=0x060400)
    down.b[0x18:0x1B] = bytes([2, 3, 3])
    down.pcie(0x40, 0x00, 6)
    rp3 = root_port()
    rp3.b[0x18:0x1B] = bytes([0, 1, 3])
    write("fuzz_simdump", "test-card",
          dump("00:01.0", "PCI bridge", rp3, 256) + dump("01:00.0", "ZEB upstream", up, 256) +
          dump("02:00.0", "ZEB downstream", down, 256) + dump("03:00.0", "DUT", endpoint(), 256))
    text = dump("00:1c.0", "PCI bridge", rp, 256)
    text = text[:text.rindex("f0:") + 3 + 3 * 8] + "\n"          # the last line holds 8 bytes
    write("fuzz_simdump", "crlf-and-short-last-line", text.replace("\n", "\r\n"))
    write("fuzz_simdump", "errors",
          "30: 00\n" + dump("00:02.0", "x", host, 64).replace("10: 00", "10: zz") +
          dump("00:02.0", "again", host, 64) + "00:20.0 device out of range\n" +
          "00:03.0 gap\n00: " + " ".join(["00"] * 16) + "\n20: 00\n")


# ------------------------------------------------------------- ini files

def ini_seeds():
    write("fuzz_ini", "verdaapp", "[DLL]\nDLLName = libqorbsim.so\n")
    write("fuzz_ini", "cfgspace", "; window of the configuration space\n[CfgSpaceInfo]\n"
          "CfgSpaceLength=\"52428800\"\n")
    write("fuzz_ini", "qorbsim",
          "[link]\ntraining_ms = 0x10\n\n"
          "[function 00:01.0]\nlink_training_stuck = 1\naer_correctable = 0x40\n"
          "break_capabilities = legacy-loop\nbreak_capabilities = extended-loop\n\n"
          "[function 06:00.0]\nstatus = 0x2000\ndevice_status = 0x0004\nlink_status = 0x4000\n"
          "aer_uncorrectable = 0x10\n\n[function 01:00.0]\nbreak_capabilities = legacy-wild\n"
          "secondary_status = 0x2000\n")
    write("fuzz_ini", "qorbsim-errors",
          "[platform]\ndump =\n[function 00:1f.0]\nsecondary_status = 1\nlink_training_stuck = 1\n"
          "[function 0:1.8]\nstatus=1\n[function 0f:00.0]\nstatus = 0x10000\n")
    write("fuzz_ini", "qorbsysfs",
          "[sysfs]\nroot = /sys/bus/pci/devices/\ndomain = 0x0000\nallow_writes = off\n"
          "mcfg = /sys/firmware/acpi/tables/MCFG\n")
    write("fuzz_ini", "layout",
          "# comment\n  [DLL]  \n   DLLName='quoted.so' ; trailing comment\nDLLName = second\n"
          "dllname=third\n[dll]\nDLLNAME=" + "x" * 300 + "\ncontinued value\n[sysfs\nkey\n=\n")


# ---------------------------------------------------------- platform files

def datfile_seeds():
    write("fuzz_datfile", "example", """<platform>
  <Test mode="simulation"/>
  <User name="qorb_user"/>
  <DUT vendorid="5153" deviceid="1010"/>
  <DUT bus="6" device="0" function="0"/>
  <DUT vendorid="5153" deviceid="1050" bus="9" device="0" function="0"/>
  <DUT vendorid="5153" deviceid="1012" bus="4" device="0" function="1"
       subsysvendor="20819" subsysdeviceid="4114"/>
  <QORBINIFilePath path="ini/"/>
  <QORBINIFileName name="ini/VERDAapp.ini"/>
  <ReplayCount count="3"/>
  <PCIEBaseAddress address="E0000000"/>
  <DUTConfig incr="4" offset="10" length="4"/>
  <DUTSerrEnable enable="1"/>
</platform>
""")
    write("fuzz_datfile", "many-duts", "<p>" + "<DUT bus=\"1\"/>" * 101 + "</p>")
    write("fuzz_datfile", "long-names", "<p><AppINIFileName n=\"" + "a/" * 550 + "\"/><User/><User a=\"1\"/>"
          "<User b=\"2\"/><QORBINIFileName/></p>")
    write("fuzz_datfile", "values", "<P><test MODE=\"AddIn\"/><dutconfig incr=\"-1x\" offset=\"FFFFF\"/>"
          "<ReplayCount c=\"  -99999999999999999999\"/><PCIEBaseAddress a=\"0x1_0000_0000_0000_0000\"/>"
          "<DUT vendorid=\"\" bus=\"+70000\" function=\"-1\"/></P>")
    write("fuzz_datfile", "entities", "<?xml version=\"1.0\"?>\n<!DOCTYPE p [<!ENTITY u \"user&#38;#65;\">]>\n"
          "<p><User n=\"&u;&amp;&#x41;\"/><![CDATA[<DUT bus=\"1\"/>]]><!-- <DUT/> --></p>")
    write("fuzz_datfile", "not-well-formed", "<p><User n=\"x\"/><DUT bus=\"2\"></p>")


def main():
    if os.path.isdir(CORPUS):
        shutil.rmtree(CORPUS)
    caps_seeds()
    trace_seeds()
    simdump_seeds()
    ini_seeds()
    datfile_seeds()


if __name__ == "__main__":
    main()
