"""The comparisons of the emulated-machine harness: what qorb answered in the
guest against the guest's own sysfs and the QEMU command line. Each check
answers a list of problems; an empty list means it held."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import xml.etree.ElementTree as ET

import machine
from report import decode_capabilities, parse_assertions, parse_tree

QORB_SUCCESS = 0x00000000
QORB_STATUS_FAILED = 0x80000006

# What `qorb check` answers on each DUT of this machine: "pass", "skip" (the
# check cannot run here, as on any machine without that hardware) or
# "known" (it fails because QEMU's models lack a behaviour the check needs;
# docs/emulated-machine.md names each difference).
EXPECTED_CHECKS = {
    "CFG.1.1#1.1": "pass",
    "CFG.1.2#1.1": "pass",
    "CFG.1.3#1.1": "pass",
    "CFG.1.4#1.1": "pass",
    "EM.1.1#1.1": "pass",
    "PHYLINK.1.1#1.1": "pass",
    "PHYLINK.1.2#1.1": "known",
    "DLL.2.1#1.1": "skip",
    "DLL.2.1#1.2": "skip",
    "DLL.2.1#1.3": "skip",
    "DLL.2.1#1.4": "skip",
    "PHY.2.1#1.1": "skip",
    "TXN.2.1#1.1": "skip",
    "TXN.2.1#1.2": "skip",
    "DLL.2.1#1.5": "skip",
    "DLL.2.1#1.6": "skip",
}

# Why each "known" outcome is expected: the difference, as the docs name it.
KNOWN_DIFFERENCES = {
    "PHYLINK.1.2#1.1": "link disable: QEMU's ports keep the device below a disabled link answering",
}


def _json_block(report, name, problems):
    lines, status = report.block(name)
    if status is None:
        problems.append("qorb %s: no output from the guest" % name)
        return None
    if status != 0:
        problems.append("qorb %s exited with %d: %s" % (name, status, " / ".join(lines[-3:])))
        return None
    try:
        return json.loads("\n".join(lines))
    except ValueError as error:
        problems.append("qorb %s printed no JSON (%s): %s" % (name, error, " / ".join(lines[:3])))
        return None


def check_listing(report):
    """The guest's sysfs lists exactly the functions the command line makes,
    where the firmware was expected to number them, below the right bridges,
    with 4096 bytes of configuration space for the PCI Express ones."""
    problems = []
    expected = machine.expected_functions()
    seen = {slot: info["ids"] for slot, info in report.devices.items()}
    for slot in sorted(set(expected) | set(seen)):
        if slot not in seen:
            problems.append("sysfs: %s [%s] is missing" % (slot, expected[slot]))
        elif slot not in expected:
            problems.append("sysfs: %s [%s] was not asked for" % (slot, seen[slot]))
        elif seen[slot] != expected[slot]:
            problems.append("sysfs: %s is [%s], expected [%s]" % (slot, seen[slot], expected[slot]))
    locations = machine.predicted_locations()
    for ident, _driver, bus, _number, _props, _ids, _type in machine.MACHINE:
        info = report.devices.get(locations[ident])
        if not info:
            continue
        chain = [part[-7:] for part in info["path"].split("/") if part.count(":") == 2]
        parent = chain[-2] if len(chain) > 1 else None
        want = None if bus == "pcie.0" else locations[bus]
        if parent != want:
            problems.append("sysfs: %s (%s) sits below %s, expected below %s" % (ident, locations[ident], parent,
                                                                                  want))
        if info["size"] != 4096:
            problems.append("sysfs: %s config holds %d bytes, expected 4096" % (ident, info["size"]))
    return problems


def check_scan(report):
    """qorb scan finds exactly what sysfs lists, with its IDs and port types."""
    problems = []
    scan = _json_block(report, "scan", problems)
    if scan is None:
        return problems
    found = {e["slot"]: e for e in scan}
    listed = {slot: info["ids"] for slot, info in report.devices.items()}
    for slot in sorted(set(found) | set(listed)):
        if slot not in found:
            problems.append("qorb scan: %s [%s] is in sysfs but not found" % (slot, listed[slot]))
        elif slot not in listed:
            problems.append("qorb scan: found %s, which sysfs does not list" % slot)
        elif "%s:%s" % (found[slot]["vendor_id"], found[slot]["device_id"]) != listed[slot]:
            problems.append("qorb scan: %s is [%s:%s], sysfs says [%s]" % (
                slot, found[slot]["vendor_id"], found[slot]["device_id"], listed[slot]))
    locations = machine.predicted_locations()
    for ident, _driver, _bus, _number, _props, _ids, port_type in machine.MACHINE:
        entry = found.get(locations[ident])
        if entry and entry.get("port_type") != port_type:
            problems.append("qorb scan: %s (%s) has port type %s, expected %d" % (
                ident, locations[ident], entry.get("port_type"), port_type))
    return problems


def check_tree(report):
    """qorb tree links each endpoint to the port above it, the switch's
    upstream port to the root port above it, and each switch downstream port
    to the port above the switch; the built-in functions have no parent."""
    lines, status = report.block("tree")
    if status != 0:
        return ["qorb tree exited with %s" % status]
    problems = []
    parents = parse_tree(lines)
    locations = machine.predicted_locations()
    expected = {slot: None for slot in machine.expected_functions()}
    for child, parent in machine.EXPECTED_PARENT.items():
        expected[locations[child]] = locations[parent]
    for slot, want in sorted(expected.items()):
        if slot not in parents:
            problems.append("qorb tree: %s is not drawn" % slot)
        elif parents[slot] != want:
            problems.append("qorb tree: %s hangs below %s, expected %s" % (slot, parents[slot], want))
    return problems


def lspci_offsets(spaces):
    """{slot: [capability offsets]} as lspci decodes the dumps, or None
    without lspci. spaces is {slot: bytes}."""
    lspci = shutil.which("lspci") or ("/usr/bin/lspci" if os.access("/usr/bin/lspci", os.X_OK) else None)
    if not lspci:
        return None
    text = []
    for slot, data in sorted(spaces.items()):
        text.append("%s Device" % slot)
        text += ["%03x: %s" % (i, " ".join("%02x" % b for b in data[i:i + 16])) for i in range(0, len(data), 16)]
        text.append("")
    with tempfile.NamedTemporaryFile("w", suffix=".txt") as dump:
        dump.write("\n".join(text))
        dump.flush()
        result = subprocess.run([lspci, "-F", dump.name, "-vv"], capture_output=True, text=True, check=False)
    offsets, slot = {}, None
    for line in result.stdout.splitlines():
        match = re.match(r"^([0-9a-f]{2}:[0-9a-f]{2}\.[0-7]) ", line)
        if match:
            slot = match.group(1)
            offsets[slot] = []
        match = re.match(r"^\s+Capabilities: \[([0-9a-f]+)", line)
        if match and slot:
            offsets[slot].append(int(match.group(1), 16))
    return offsets


def check_caps(report):
    """qorb caps walks every function's lists as its config bytes say; the
    harness's own decoding of the bytes is checked against lspci's."""
    problems = []
    caps = _json_block(report, "caps", problems)
    if caps is None:
        return problems
    spaces = {slot: report.config(slot) for slot in report.devices if report.config(slot)}
    oracle = lspci_offsets(spaces)
    if oracle is None:
        print("qorb-vm: note: no lspci on this host; capability lists are decoded by the harness alone")
    for slot, data in sorted(spaces.items()):
        mine = [offset for _k, offset, _i, _n in decode_capabilities(data)]
        if oracle is not None and oracle.get(slot) != mine:
            problems.append("harness: lspci decodes the capabilities of %s at %s, the harness at %s" % (
                slot, oracle.get(slot), mine))
    walked = {e["slot"]: e for e in caps}
    for slot, info in sorted(report.devices.items()):
        data = report.config(slot)
        if data is None or len(data) != info["size"]:
            problems.append("config of %s: %s bytes dumped, sysfs says %d" % (
                slot, "no" if data is None else len(data), info["size"]))
            continue
        want = decode_capabilities(data)
        entry = walked.get(slot)
        if entry is None:
            problems.append("qorb caps: no walk of %s" % slot)
            continue
        got = [(c["list"], c["offset"], c["id"], c["next"]) for c in entry["capabilities"]]
        if got != want:
            problems.append("qorb caps: %s walked %s, its config says %s" % (slot, _caps_text(got),
                                                                           _caps_text(want)))
        if "stopped" in entry:
            problems.append("qorb caps: the walk of %s stopped: %s" % (slot, entry["stopped"]))
    return problems


def _caps_text(entries):
    return " ".join("%s@%x:%x" % (kind[0], offset, ident) for kind, offset, ident, _n in entries) or "(none)"


def check_aer(report, injections):
    """For every injection: before it the bit asserts CLEAR and an assertion
    of SET fails; QEMU sets it; then SET passes and clears it through the
    write-one-to-clear register, CLEAR passes, and every other asserted bit
    is CLEAR."""
    problems = []
    refused = set()
    for seq, slot, ident, command, before, after in machine.plan():
        name = before[0].split("=")[0]
        where = "%s %s (%s)" % (name, ident, slot)
        got = parse_assertions(report.block("aer-before %d" % seq)[0])
        if [(n, e, c) for n, e, c, _s in got] != [(name, 0, 0), (name, 1, 0)]:
            problems.append("%s: the assertions before the injection did not run: %s" % (where, got))
        elif [s for _n, _e, _c, s in got] != [QORB_SUCCESS, QORB_STATUS_FAILED]:
            problems.append("%s: before the injection CLEAR answered 0x%08x (expected success) and SET 0x%08x "
                            "(expected failure)" % (where, got[0][3], got[1][3]))
        command_sent, answer, accepted = injections.get(str(seq), (None, None, False))
        if command_sent is None:
            problems.append("%s: the guest never asked for %s" % (where, command))
            continue
        if not accepted:
            if name in machine.REFUSED and "failed to inject" in answer:
                print("qorb-vm: known difference, %s: %s" % (where, machine.REFUSED[name]))
                refused.add(str(seq))
            else:
                problems.append("%s: QEMU refused %s: %s" % (where, command, answer))
            continue
        lines, _status = report.block("aer-after %d" % seq)
        got = parse_assertions(lines)
        items = [(item.split("=")[0], int(item.split("=")[1][0]), 1 if item.endswith("c") else 0) for item in after]
        if [(n, e, c) for n, e, c, _s in got] != items:
            problems.append("%s: the assertions after the injection did not run: %s" % (where, lines[-3:]))
            continue
        failed = ["%s expected %s%s: 0x%08x" % (n, "SET" if e else "CLEAR", ", clearing" if c else "", s)
                  for n, e, c, s in got if s != QORB_SUCCESS]
        if failed:
            problems.append("%s: after the injection: %s" % (where, "; ".join(failed)))
        text = "(Expected : SET) Actual value (SET)::"
        if not any(text in line for line in lines):
            problems.append("%s: the log has no verdict \"%s\"" % (where, text))
    for line in report.skipped:
        if line.split(" ")[0] not in refused:
            problems.append("the guest skipped injection %s" % line)
    return problems


CAP_NAMES = {("legacy", 0x01): "Power Management", ("legacy", 0x05): "MSI", ("legacy", 0x10): "Express",
             ("legacy", 0x11): "MSI-X", ("legacy", 0x0D): "Subsystem ID", ("extended", 0x0001): "AER",
             ("extended", 0x0003): "Serial Number"}


def _where(offset, capabilities):
    """"0xec (Express+0x0c)": an offset named by the capability it is in."""
    inside = [c for c in capabilities if c[1] <= offset and (c[0] == "legacy") == (offset < 0x100)]
    if offset < 0x40 or not inside:
        return "0x%02x" % offset
    kind, start, ident, _next = max(inside, key=lambda c: c[1])
    return "0x%02x (%s+0x%02x)" % (offset, CAP_NAMES.get((kind, ident), "cap %x" % ident), offset - start)


def note_side_effects(report):
    """Prints the registers the injections changed besides the AER status
    bits the assertions cleared: what QEMU does on an error beyond setting
    the status bit (docs/emulated-machine.md). Never a problem in itself."""
    for slot in sorted({slot for _seq, slot, _i, _c, _b, _a in machine.plan()}):
        before, after = report.config(slot), report.config(slot, "after")
        if not before or not after or len(before) != len(after):
            continue
        capabilities = decode_capabilities(before)
        changed = [offset for offset in range(0, len(before), 4) if before[offset:offset + 4] != after[offset:offset + 4]]
        if changed:
            print("qorb-vm: note: after the injections %s differs at %s" % (
                slot, ", ".join(_where(offset, capabilities) for offset in changed)))


def check_checklist(report):
    """qorb check runs to the end on every DUT and each check ends as the
    table says."""
    lines, status = report.block("junit")
    check_lines, check_status = report.block("check")
    if status != 0 or not lines:
        return ["qorb check wrote no JUnit report (exit %s): %s" % (check_status, " / ".join(check_lines[-5:]))]
    try:
        root = ET.fromstring("\n".join(lines))
    except ET.ParseError as error:
        return ["qorb check's JUnit report does not parse: %s" % error]
    problems = []
    suites = root.findall("testsuite")
    if len(suites) != len(machine.DUTS):
        problems.append("qorb check reported %d DUTs, the platform file names %d" % (len(suites),
                                                                                     len(machine.DUTS)))
    any_known = False
    for suite in suites:
        outcomes = {}
        for case in suite.findall("testcase"):
            check = case.get("name", "").split(" ")[0]
            failure, skipped = case.find("failure"), case.find("skipped")
            outcome = "known" if failure is not None else "skip" if skipped is not None else "pass"
            message = (failure if failure is not None else skipped if skipped is not None else case).get("message", "")
            outcomes[check] = (outcome, message)
        for check, want in EXPECTED_CHECKS.items():
            outcome, message = outcomes.get(check, (None, ""))
            if outcome is None:
                problems.append("qorb check, %s: %s did not run" % (suite.get("name"), check))
            elif outcome != want:
                word = {"pass": "pass", "skip": "skip", "known": "fail"}
                problems.append("qorb check, %s: %s: expected to %s, it did %s%s" % (
                    suite.get("name"), check, word[want], word[outcome], ": " + message if message else ""))
            elif outcome == "known":
                any_known = True
                print("qorb-vm: known difference, %s %s: %s (%s)" % (suite.get("name"), check,
                                                                     KNOWN_DIFFERENCES[check], message))
        for check in sorted(set(outcomes) - set(EXPECTED_CHECKS)):
            problems.append("qorb check, %s: unexpected check %s" % (suite.get("name"), check))
    if check_status != (1 if any_known else 0):
        problems.append("qorb check exited with %s" % check_status)
    return problems


def check_mcfg(report):
    """The library answers the MCFG window of domain 0 as the guest's ACPI
    table holds it (the driver reads the table itself), and a read through
    QORB_ReadConfigSpace_Ex of 01:00.0 answers its IDs."""
    lines, status = report.block("mcfg")
    table_lines, table_status = report.block("mcfg-table")
    if status != 0 or table_status != 0:
        return ["the MCFG probe did not run (exit %s, table dump exit %s): %s" % (status, table_status, lines)]
    table = bytes(int(word, 16) for line in table_lines for word in line.split())
    want = None
    for offset in range(44, len(table) - 15, 16):
        if int.from_bytes(table[offset + 8:offset + 10], "little") == 0:
            base = int.from_bytes(table[offset:offset + 8], "little")
            start, end = table[offset + 10], table[offset + 11]
            want = "answer=1 base=0x%x start=%d end=%d length=0x%x" % (base, start, end, (end - start + 1) << 20)
            break
    if table[:4] != b"MCFG" or want is None:
        return ["the guest's MCFG table has no entry for domain 0: %s" % table[:16].hex()]
    problems = []
    got = next((line.split(" ", 1)[1] for line in lines if line.startswith("QORBVM-MCFG ")), None)
    if got != want:
        problems.append("QueryAcpiMcfgTableInfo answered %s, the MCFG table says %s" % (got, want))
    ids = report.devices.get("01:00.0", {}).get("ids", "")
    want_read = "bytes=4 dword=0x%s%s" % tuple(reversed(ids.split(":"))) if ids else None
    got_read = next((line.split(" ", 1)[1] for line in lines if line.startswith("QORBVM-READEX ")), None)
    if got_read != want_read:
        problems.append("QORB_ReadConfigSpace_Ex of 01:00.0 answered %s, expected %s" % (got_read, want_read))
    return problems


def check_unprivileged(report):
    """The driver as a user without CAP_SYS_ADMIN sees it (Linux gives the
    64-byte header only, and no MCFG table): the scan finds every function,
    a capability walk fails with its reason instead of showing none, a
    write is refused with its reason, and the MCFG window is not known."""
    problems = []
    lines, status = report.block("user scan")
    try:
        found = {e["slot"]: "%s:%s" % (e["vendor_id"], e["device_id"]) for e in json.loads("\n".join(lines))}
    except (ValueError, KeyError, TypeError):
        found = None
    listed = {slot: info["ids"] for slot, info in report.devices.items()}
    if status != 0 or found != listed:
        problems.append("unprivileged qorb scan (exit %s) found %s, sysfs lists %s" % (status, found, listed))
    lines, status = report.block("user caps")
    text = "\n".join(lines)
    if status != 1 or "cannot be read" not in text:
        problems.append("unprivileged qorb caps should fail naming the unreadable list (exit %s): %s" % (
            status, " / ".join(lines[-4:])))
    lines, status = report.block("user write")
    if status != 1 or not any("writes need root" in line for line in lines):
        problems.append("an unprivileged write should fail saying it needs root (exit %s): %s" % (status, lines))
    lines, status = report.block("user mcfg")
    ids = report.devices.get("01:00.0", {}).get("ids", "")
    want = ["QORBVM-MCFG answer=0 base=0x0 start=0 end=0 length=0x0",
            "QORBVM-READEX bytes=4 dword=0x%s%s" % tuple(reversed(ids.split(":"))) if ids else None]
    if status != 0 or [line for line in lines if line.startswith("QORBVM-")] != want:
        problems.append("unprivileged MCFG probe answered %s, expected %s" % (lines, want))
    return problems


PCI_EXP_LNKCTL_LD = 0x0010


def check_links_enabled(report):
    """qorb check leaves no link disabled: Link Disable is clear in every
    port's Link Control after the link checks."""
    problems = []
    locations = machine.predicted_locations()
    for ident, _driver, _bus, _number, _props, _ids, port_type in machine.MACHINE:
        if port_type == machine.ENDPOINT:
            continue
        lines, status = report.block("linkctl " + locations[ident])
        if status != 0 or not lines:
            problems.append("Link Control of %s (%s) could not be read: %s" % (ident, locations[ident], lines))
        elif int(lines[0], 16) & PCI_EXP_LNKCTL_LD:
            problems.append("the link below %s (%s) is left disabled: Link Control %s" % (
                ident, locations[ident], lines[0]))
    return problems


def run_all(report, injections):
    problems = []
    for check in (check_listing, check_scan, check_tree, check_caps):
        problems += check(report)
    problems += check_aer(report, injections)
    problems += check_checklist(report)
    problems += check_links_enabled(report)
    problems += check_mcfg(report)
    problems += check_unprivileged(report)
    note_side_effects(report)
    return problems
