#!/usr/bin/env python3
"""qorb on an emulated PCI Express machine (docs/emulated-machine.md).

Boots a Linux kernel in QEMU on a q35 machine with root ports, a switch and
e1000e endpoints, runs qorb inside it through the sysfs driver with writes
enabled (guest-init.sh), injects AER errors through QMP when the guest asks,
and compares what qorb answered with the guest's configuration space as
libpci reads it (lspci -F on the dump the guest printed). Exit status 0 when
every comparison held, 1 when one did not, 77 (reason printed) when the run
cannot happen on this host."""

import argparse, ctypes, glob, json, os, re, shutil, signal, socket, subprocess, sys, tempfile, threading, time
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGES = "qemu-system-x86 linux-image-cloud-amd64 busybox-static cpio"
# The devices QEMU is asked for: id, device and where it is plugged, where Linux finds it, IDs.
MACHINE = [("rp1", "ioh3420,bus=pcie.0,addr=0x10,chassis=1,slot=1", "00:10.0", "8086:3420"),
           ("rp2", "ioh3420,bus=pcie.0,addr=0x11,chassis=1,slot=2", "00:11.0", "8086:3420"),
           ("up", "x3130-upstream,bus=rp2,addr=0x0", "02:00.0", "104c:8232"),
           ("dn1", "xio3130-downstream,bus=up,addr=0x0,chassis=2,slot=1", "03:00.0", "104c:8233"),
           ("dn2", "xio3130-downstream,bus=up,addr=0x1,chassis=2,slot=2", "03:01.0", "104c:8233"),
           ("ep1", "e1000e,bus=rp1,addr=0x0", "01:00.0", "8086:10d3"),
           ("ep2", "e1000e,bus=dn1,addr=0x0", "04:00.0", "8086:10d3")]
SLOT = {ident: slot for ident, _d, slot, _i in MACHINE}
# What q35 has unasked (-nodefaults, -vga none): the host bridge, the ICH9's LPC, SATA and SMBus functions.
BUILTIN = {"00:00.0": "8086:29c0", "00:1f.0": "8086:2918", "00:1f.2": "8086:2922", "00:1f.3": "8086:2930"}
DUTS = ["ep1", "ep2"]
PORT_TYPES = {"Endpoint": 0, "Legacy Endpoint": 1, "Root Port": 4, "Upstream Port": 5, "Downstream Port": 6}
# The AER status bits the library asserts, by its exported names: (name, correctable, mask).
AER_BITS = [("TrainingError", 0, 0x1), ("DLProtocolError", 0, 0x10), ("FlowControlProtocolError", 0, 0x2000),
            ("CompletionTimeout", 0, 0x4000), ("CompleterAbort", 0, 0x8000), ("UnexpectedCompletion", 0, 0x10000),
            ("ReceiverOverflow", 0, 0x20000), ("UnsupportedRequestError", 0, 0x100000), ("ReceiverError", 1, 0x1),
            ("BadTLP", 1, 0x40), ("BadDLLP", 1, 0x80), ("ReplayNumberRollover", 1, 0x100),
            ("ReplayTimerTimeout", 1, 0x1000)]
# Every bit on the first endpoint, a few on the endpoint below the switch and on ports.
BIT = {bit[0]: bit for bit in AER_BITS}
INJECTIONS = [("ep1", bit) for bit in AER_BITS] + [("ep2", BIT["BadTLP"]), ("ep2", BIT["UnsupportedRequestError"]),
    ("ep2", BIT["ReplayTimerTimeout"]), ("rp1", BIT["BadDLLP"]), ("dn1", BIT["CompletionTimeout"])]
# Asked for all the same; QEMU refuses it, and it is asserted CLEAR after every other injection.
REFUSED = {"TrainingError": "QEMU refuses to inject uncorrectable bit 0 (Training Error in PCI Express 1.0a, "
                            "undefined in later revisions)"}
# How each check of `qorb check` ends on both DUTs: pass, skip (no such hardware here, as on any machine
# without it), or a known difference (it fails because QEMU's models lack what it needs).
CHECKS = {"CFG.1.1#1.1": "pass", "CFG.1.2#1.1": "pass", "CFG.1.3#1.1": "pass", "CFG.1.4#1.1": "pass",
          "EM.1.1#1.1": "pass", "PHYLINK.1.1#1.1": "pass", "DLL.2.1#1.1": "skip", "DLL.2.1#1.2": "skip",
          "DLL.2.1#1.3": "skip", "DLL.2.1#1.4": "skip", "DLL.2.1#1.5": "skip", "DLL.2.1#1.6": "skip",
          "PHY.2.1#1.1": "skip", "TXN.2.1#1.1": "skip", "TXN.2.1#1.2": "skip",
          "PHYLINK.1.2#1.1": "link disable: QEMU's ports keep the device below a disabled link answering"}


class Skip(Exception):
    pass


def prerequisites(args):
    if args.skip:
        raise Skip(args.skip)
    for tool, package in ((args.qemu, PACKAGES), ("cpio", "cpio"), ("lspci", "pciutils"), ("ldd", "libc-bin")):
        if not shutil.which(tool):
            raise Skip("%s is not installed (apt-get install %s)" % (tool, package))
    kernels = [args.kernel] if args.kernel else sorted(glob.glob("/boot/vmlinuz-*cloud*"), key=os.path.getmtime)
    if not kernels or not os.access(kernels[-1], os.R_OK):
        raise Skip("no readable kernel %s (install linux-image-cloud-amd64, whose PCI Express port and serial "
                   "drivers are built in, or give --kernel)" % (kernels or ["/boot/vmlinuz-*cloud*"])[-1])
    args.kernel = kernels[-1]
    if not os.access(args.busybox, os.X_OK) or shared_objects(args.busybox):
        raise Skip("no statically linked busybox at %s (install busybox-static)" % args.busybox)


def shared_objects(program):
    """What the program loads, as ldd resolves it here, the dynamic loader included."""
    out = subprocess.run(["ldd", program], capture_output=True, text=True).stdout
    if "not found" in out:
        raise SystemExit("qorb-vm: %s needs a library ldd cannot find:\n%s" % (program, out))
    return re.findall(r"(/\S+) \(0x", out)


def initramfs(args, work):
    root = os.path.join(work, "root")
    for folder in ("bin", "proc", "sys", "dev", "tmp", "run", "etc", "qorb/bin"):
        os.makedirs(os.path.join(root, folder))

    def put(source, target):   # without debug information when objcopy can strip it
        target = os.path.join(root, target.lstrip("/"))
        if os.path.exists(target):
            return
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if not shutil.which("objcopy") or subprocess.run(["objcopy", "--strip-debug", source, target]).returncode:
            shutil.copy(source, target)
    for name, source in (("qorb", args.tool), ("libqorbsysfs.so", args.driver), ("qorb_vm_probe", args.probe)):
        put(source, "qorb/bin/" + name)
        for path in shared_objects(source):   # where ldd found it, so the build tree's RUNPATHs hold
            put(os.path.realpath(path), path)
    shutil.copy(args.busybox, os.path.join(root, "bin/busybox"))
    os.symlink("busybox", os.path.join(root, "bin/sh"))
    shutil.copy(os.path.join(HERE, "guest-init.sh"), os.path.join(root, "init"))
    os.chmod(os.path.join(root, "init"), 0o755)
    with open(os.path.join(root, "qorb/platform.xml"), "w") as f:
        f.write('<platform>\n  <Test mode="platform"/>\n' + "".join(
            '  <DUT vendorid="%s" deviceid="%s" bus="%d" device="%d" function="%s"/>\n' % (
                ids[:4], ids[5:], int(slot[:2], 16), int(slot[3:5], 16), slot[6])
            for ident, _d, slot, ids in MACHINE if ident in DUTS) + "</platform>\n")
    with open(os.path.join(root, "qorb/plan"), "w") as f:
        for seq, (ident, (name, _c, _m)) in enumerate(INJECTIONS, 1):
            others = " ".join("%s=0" % other for other, _c, _m in AER_BITS if other != name)
            f.write("%d|%s|%s=0 %s=1|%s=1c %s=0 %s\n" % (seq, SLOT[ident], name, name, name, name, others))
    subprocess.run("find . | cpio -o -H newc -R 0:0 --quiet > ../initramfs.cpio", shell=True, cwd=root, check=True)
    return os.path.join(work, "initramfs.cpio")


def qemu_argv(args, initrd, extra=""):
    argv = [args.qemu, "-machine", "q35", "-accel", args.accel, "-cpu", "max", "-m", "256", "-smp", "1",
            "-nodefaults", "-display", "none", "-vga", "none", "-nic", "none", "-no-reboot", "-serial", "stdio",
            "-kernel", args.kernel, "-initrd", initrd,
            "-append", "console=ttyS0 pci=noaer panic=-1 quiet rdinit=/init" + extra]
    for ident, device, _slot, _ids in MACHINE:
        argv += ["-device", device.replace(",", ",id=%s," % ident, 1)]
    return argv


def qmp(stream, command, **arguments):
    stream.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
    stream.flush()
    reply = {"event": None}
    while "event" in reply:
        reply = json.loads(stream.readline() or '{"error": {"desc": "the QMP socket closed"}}')
    if "error" in reply:
        raise RuntimeError("QMP %s: %s" % (command, reply["error"].get("desc")))
    return reply["return"]


def die_with_parent():
    """In QEMU before exec: it gets SIGKILL when the harness dies, even by SIGKILL (a CTest timeout)."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)   # PR_SET_PDEATHSIG


def run_guest(args, initrd, work, deadline, console):
    """Reads the guest's report to its end, injecting errors as it asks.
    Answers ({block: (lines, exit status)}, {seq: (monitor command, answer)}, problems)."""
    blocks, injected, problems, expired = {}, {}, [], []
    qmp_path = os.path.join(work, "qmp.sock")
    proc = subprocess.Popen(qemu_argv(args, initrd) + ["-qmp", "unix:%s,server=on,wait=off" % qmp_path],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=open(work + "/qemu.stderr", "wb"),
                            preexec_fn=die_with_parent)
    timer = threading.Timer(deadline - time.monotonic(), lambda: (expired.append(1), proc.kill()))
    timer.start()
    try:
        sock = socket.socket(socket.AF_UNIX)
        while sock.connect_ex(qmp_path) and proc.poll() is None:
            time.sleep(0.05)
        monitor = sock.makefile("rw")
        monitor.readline()   # the greeting
        qmp(monitor, "qmp_capabilities")
        name = None
        for raw in proc.stdout:
            console.write(raw)
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if line.startswith("QORBVM|") and name:
                lines.append(line[8:])
            elif line.startswith("QORBVM BEGIN "):
                name, lines = line[13:], []
            elif line.startswith("QORBVM END ") and name:
                blocks[name], name = (lines, int(line.rsplit(" ", 1)[1])), None
            elif line.startswith("QORBVM INJECT "):
                seq = int(line.split()[2])
                ident, (_name, correctable, mask) = INJECTIONS[seq - 1]
                command = "pcie_aer_inject_error %s%s 0x%x" % ("-c " if correctable else "", ident, mask)
                injected[seq] = (command, qmp(monitor, "human-monitor-command", **{"command-line": command}))
                go = "ok" if injected[seq][1].startswith("OK") else "failed"
                proc.stdin.write(b"QORBVM-GO %d %s\n" % (seq, go.encode()))
                proc.stdin.flush()
            elif line == "QORBVM DONE":
                blocks["done"] = ([], 0)
                break
        proc.wait(max(1, min(15, deadline - time.monotonic())))
    except subprocess.TimeoutExpired:
        problems.append("the guest did not power off after its run")
    except (OSError, RuntimeError, ValueError) as error:
        problems.append("the run broke off: %s" % error)
    finally:
        timer.cancel()
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    if expired:
        problems.append("the run did not end within %d s" % args.timeout)
    return blocks, injected, problems


def lspci(path):
    """{slot: {ids, bridges above, port type, capability offsets, link disabled}} as libpci reads a dump."""
    out = subprocess.run(["lspci", "-F", path, "-PP", "-n", "-vv"], capture_output=True, text=True).stdout
    functions = {}
    for line in out.splitlines():
        words = line.split()
        if words and not line.startswith("\t"):   # 00:11.0/02:00.0 0604: 104c:8232 (rev 02) ...
            above = words[0].split("/")
            f = functions[above.pop()] = {"ids": words[2], "above": above, "type": None, "caps": [], "ld": False}
        match = re.match(r"\tCapabilities: \[([0-9a-f]+)[^\]]*\] (Express \(v\d\) ([^,(]*[^,( ]))?", line)
        if match:
            f["caps"].append(int(match.group(1), 16))
            f["type"] = PORT_TYPES.get(match.group(3), match.group(3)) if match.group(2) else f["type"]
        f["ld"] = f["ld"] or "LnkCtl:" in line and "Disabled+" in line
    return functions


def config_bytes(lines):
    """{slot: configuration space} of the guest's dump."""
    spaces, slot = {}, None
    for line in lines:
        if re.match(r"[0-9a-f]{2}:[0-9a-f]{2}\.[0-7] ", line):
            slot, spaces[line[:7]] = line[:7], bytearray()
        elif ": " in line and slot:
            spaces[slot] += bytes.fromhex(line.split(": ", 1)[1])
    return spaces


def tree_parents(lines):
    """qorb tree's drawing as {slot: parent slot or None}."""
    parents, stack = {}, []
    for line in lines:
        match = re.search(r"([0-9a-f]{2}:[0-9a-f]{2}\.[0-7]) \[", line)
        if match:
            del stack[match.start() // 3:]
            parents[match.group(1)] = stack[-1] if stack else None
            stack.append(match.group(1))
    return parents


def checks(blocks, injected, work):
    problems = []

    def need(held, text):
        if not held:
            problems.append(text)

    def diff(what, got, want):
        for slot in sorted(set(got) | set(want)):
            need(got.get(slot) == want.get(slot), "%s: %s is %s, libpci reads %s" % (
                what, slot, got.get(slot, "not there"), want.get(slot, "none")))

    def block(name, json_wanted=False):
        lines, status = blocks.get(name, ([], None))
        if not json_wanted:
            return lines, status
        try:
            if status != 0:
                raise ValueError("exit status")
            return json.loads("\n".join(lines)), status
        except ValueError:
            return problems.append("qorb %s (exit %s) printed no JSON: %s" % (name, status, lines[-3:])), status

    oracle = {}
    for when in ("dump", "after"):
        with open(os.path.join(work, when), "w") as f:
            f.write("\n".join(block(when)[0]) + "\n")
        oracle[when], oracle[when + " bytes"] = lspci(f.name), config_bytes(block(when)[0])
    functions, space = oracle["dump"], oracle["dump bytes"]
    # The guest has exactly the functions the command line made, where the firmware numbers them, below
    # the bridge each was plugged into, with 4096 bytes of configuration space for the PCI Express ones.
    diff("the guest's listing", {s: f["ids"] for s, f in functions.items()},
         dict(BUILTIN, **{slot: ids for _i, _d, slot, ids in MACHINE}))
    for ident, device, slot, _ids in MACHINE:
        got = ((functions.get(slot, {}).get("above") or [None])[-1], len(space.get(slot, b"")))
        want = (SLOT.get(re.search(r"bus=(\w+)", device).group(1)), 4096)
        need(got == want, "%s (%s): bridge above and config size are %s, expected %s" % (ident, slot, got, want))
    scan, status = block("scan", True)
    diff("qorb scan", {e["slot"]: ("%s:%s" % (e["vendor_id"], e["device_id"]), e["port_type"]) for e in scan or []},
         {s: (f["ids"], f["type"]) for s, f in functions.items()})
    # A switch downstream port hangs below the port above its switch.
    lines, status = block("tree")
    need(status == 0, "qorb tree exited with %s" % status)
    diff("qorb tree", tree_parents(lines),
         {s: ((f["above"][:-1] if f["type"] == 6 else f["above"]) or [None])[-1] for s, f in functions.items()})
    caps, status = block("caps", True)
    want = {}
    for slot, f in functions.items():
        for kind, width, offsets in (("legacy", 1, [o for o in f["caps"] if o < 0x100]),
                                     ("extended", 2, [o for o in f["caps"] if o >= 0x100])):
            want.setdefault(slot, []).extend((kind, o, int.from_bytes(space[slot][o:o + width], "little"),
                                              (offsets + [0])[i + 1]) for i, o in enumerate(offsets))
    diff("qorb caps", {e["slot"]: [(c["list"], c["offset"], c["id"], c["next"]) for c in e["capabilities"]]
                       + ([e["stopped"]] if "stopped" in e else []) for e in caps or []}, want)

    # The MCFG window of domain 0 as the guest's ACPI table holds it, and a read of another domain's form.
    table = bytes.fromhex(" ".join(block("mcfg-table")[0]))
    entry = next((table[o:o + 12] for o in range(44, len(table) - 11, 16) if table[o + 8:o + 10] == b"\0\0"), None)
    mcfg = entry and "QORBVM-MCFG answer=1 base=0x%x start=%d end=%d length=0x%x" % (
        int.from_bytes(entry[:8], "little"), entry[10], entry[11], (entry[11] - entry[10] + 1) << 20)
    ep1 = MACHINE[5][3]
    readex = "QORBVM-READEX bytes=4 dword=0x%s%s" % (ep1[5:], ep1[:4])   # QORB_ReadConfigSpace_Ex of 01:00.0
    for name, want in (("mcfg", [mcfg, readex]),
                       ("user mcfg", ["QORBVM-MCFG answer=0 base=0x0 start=0 end=0 length=0x0", readex])):
        lines, status = block(name)
        got = [line for line in lines if line.startswith("QORBVM-")]
        need(status == 0 and got == want, "%s probe (exit %s) answered %s, expected %s" % (name, status, got, want))
    # Without CAP_SYS_ADMIN (64 bytes of header, no MCFG table): the scan still finds everything, a walk
    # fails naming the list it cannot read, a write is refused saying why.
    scan, status = block("user scan", True)
    diff("unprivileged qorb scan (exit %s)" % status,
         {e["slot"]: e["vendor_id"] + ":" + e["device_id"] for e in scan or []},
         {s: f["ids"] for s, f in functions.items()})
    for name, text in (("user caps", "cannot be read"), ("user write", "writes need root")):
        lines, status = block(name)
        need(status == 1 and text in "\n".join(lines), "unprivileged %s should fail saying \"%s\" (exit %s): %s"
             % (name, text, status, lines[-3:]))

    # qorb check: every check ran on every DUT and ended as the table says.
    lines, status = block("check")
    try:
        suites = ET.fromstring("\n".join(block("junit")[0])).findall("testsuite")
    except ET.ParseError as error:
        suites = problems.append("qorb check (exit %s) left no JUnit report (%s): %s" % (status, error, lines[-5:]))
    need(len(suites or []) == len(DUTS), "qorb check reported %d DUTs, expected %d" % (len(suites or []), len(DUTS)))
    for suite in suites or []:
        outcomes = {}
        for case in suite.findall("testcase"):
            failure, skipped = case.find("failure"), case.find("skipped")
            outcomes[case.get("name", "").split(" ")[0]] = (
                "skip" if skipped is not None else "pass" if failure is None else failure.get("message", "fail"))
        for check in sorted(set(CHECKS) | set(outcomes)):
            want, got = CHECKS.get(check, "not run"), outcomes.get(check, "not run")
            if want not in ("pass", "skip") and got not in ("pass", "skip", "not run"):
                print("qorb-vm: known difference, %s %s: %s (%s)" % (suite.get("name"), check, want, got))
            else:
                need(got == want, "qorb check, %s: %s: expected %s, got %s" % (suite.get("name"), check, want, got))
    need(status == 1, "qorb check exited with %s, expected 1 (the known differences fail)" % status)

    # The injections: CLEAR holds and SET fails before; after, SET holds and clears the bit, then CLEAR
    # holds for it and every other bit, and the log has the verdict.
    for seq, (ident, (name, _c, _m)) in enumerate(INJECTIONS, 1):
        where = "%s on %s (%s)" % (name, ident, SLOT[ident])
        lines, status = block("aer-before %d" % seq)
        got = re.findall(r"QORBVM-ASSERT (\w+) expected=(\d) clear=(\d) status=0x(\w+)", "\n".join(lines))
        need(got == [(name, "0", "0", "00000000"), (name, "1", "0", "80000006")],
             "%s: before the injection CLEAR should pass and SET fail: %s" % (where, got or lines[-3:]))
        command, answer = injected.get(seq, ("no injection asked for", ""))
        if name in REFUSED and "failed to inject" in answer:
            print("qorb-vm: known difference, %s: %s" % (where, REFUSED[name]))
            continue
        lines, status = block("aer-after %d" % seq)
        got = re.findall(r"QORBVM-ASSERT (\w+) expected=(\d) clear=(\d) status=0x(\w+)", "\n".join(lines))
        want = [(name, "1", "1", "00000000"), (name, "0", "0", "00000000")] + [
            (other, "0", "0", "00000000") for other, _c, _m in AER_BITS if other != name]
        failed = [g for g in got if g[3] != "00000000"] or (got != want and got) or "no verdict in the log"
        need(got == want and "(Expected : SET) Actual value (SET)::" in "\n".join(lines),
             "%s: after %s (%s) SET with clear, then CLEAR of every bit should pass: %s" % (
                 where, command, answer.strip(), failed))

    # Afterwards no link is left disabled; the registers the injections changed besides the AER status
    # are printed (docs/emulated-machine.md), never a problem in themselves.
    for slot, f in oracle["after"].items():
        need(not f["ld"], "the link below %s is left disabled (Link Control)" % slot)
    for slot, before in sorted(space.items()):
        after = oracle["after bytes"].get(slot, b"")
        changed = ["0x%02x" % o for o in range(0, len(before), 4) if before[o:o + 4] != after[o:o + 4]]
        if changed and after:
            print("qorb-vm: note: after the injections %s differs at %s" % (slot, ", ".join(changed)))
    need("done" in blocks, "the guest's report is incomplete")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True, help="the qorb tool (build/tools/qorb/qorb)")
    parser.add_argument("--driver", required=True, help="the sysfs driver, libqorbsysfs.so")
    parser.add_argument("--probe", required=True, help="the guest's assertion program, qorb_vm_probe")
    parser.add_argument("--qemu", default="qemu-system-x86_64")
    parser.add_argument("--accel", default="tcg", help="tcg (default) or kvm where it works")
    parser.add_argument("--kernel", help="the guest kernel (default: the newest /boot/vmlinuz-*cloud*)")
    parser.add_argument("--busybox", default="/bin/busybox", help="a statically linked busybox")
    parser.add_argument("--timeout", type=float, default=170, help="seconds for the whole run (default 170)")
    parser.add_argument("--keep", metavar="DIR", help="keep the console log, the dumps and QEMU's messages in DIR")
    parser.add_argument("--skip", metavar="REASON", help="skip the run with this reason")
    parser.add_argument("--shell", action="store_true", help="boot with a shell on this terminal instead")
    args = parser.parse_args()

    def interrupted(signum, _frame):   # QEMU is stopped and the temporary folder removed
        raise SystemExit("qorb-vm: interrupted by signal %d" % signum)
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, interrupted)
    start = time.monotonic()
    try:
        prerequisites(args)
    except Skip as why:
        print("qorb-vm: skipped: %s" % why)
        return 77
    with tempfile.TemporaryDirectory(prefix="qorb-vm-") as work:
        initrd = initramfs(args, work)
        if args.shell:
            monitor = os.path.join(work, "monitor.sock")
            print("qorb-vm: monitor: socat - UNIX-CONNECT:%s (then: pcie_aer_inject_error -c ep1 0x40)" % monitor)
            argv = qemu_argv(args, initrd, " qorbvm.shell") + ["-monitor", "unix:%s,server=on,wait=off" % monitor]
            return subprocess.run(argv).returncode
        with open(os.path.join(work, "console.log"), "wb") as console:
            blocks, injected, problems = run_guest(args, initrd, work, start + args.timeout, console)
        problems += checks(blocks, injected, work)
        print("qorb-vm: %s, %s, %s, %.0f s" % (args.qemu, args.kernel, args.accel, time.monotonic() - start))
        if args.keep:
            shutil.copytree(work, args.keep, dirs_exist_ok=True, ignore=shutil.ignore_patterns("root", "*.sock", "*.cpio"))
        if not problems:
            print("qorb-vm: passed")
            return 0
        print("qorb-vm: FAILED\n  - " + "\n  - ".join(problems))
        if "done" not in blocks:
            for name in ("console.log", "qemu.stderr"):
                with open(os.path.join(work, name), "rb") as f:
                    print("--- %s (end) ---\n%s" % (name, f.read()[-4000:].decode("utf-8", "replace")))
        return 1


if __name__ == "__main__":
    sys.exit(main())
