#!/usr/bin/env python3
"""qorb on an emulated PCI Express machine (docs/emulated-machine.md): boots Linux in QEMU on a q35 machine,
runs qorb in it through the sysfs driver (guest-init.sh), injects AER errors through QMP when the guest asks,
and compares qorb's answers with the guest's configuration space as libpci reads it (lspci -F on the dump the
guest printed). Exit status 0: every comparison held; 1: one did not; 77 (reason printed): cannot run here."""
import argparse, collections, ctypes, glob, json, os, pathlib, re, shutil, signal, socket, subprocess, sys
import tempfile, threading, time

# The devices QEMU is asked for: id, device and where it is plugged, where Linux finds it, IDs.
MACHINE = [("rp1", "ioh3420,bus=pcie.0,addr=0x10,chassis=1,slot=1", "00:10.0", "8086:3420"),
           ("rp2", "ioh3420,bus=pcie.0,addr=0x11,chassis=1,slot=2", "00:11.0", "8086:3420"),
           ("up", "x3130-upstream,bus=rp2,addr=0x0", "02:00.0", "104c:8232"),
           ("dn1", "xio3130-downstream,bus=up,addr=0x0,chassis=2,slot=1", "03:00.0", "104c:8233"),
           ("dn2", "xio3130-downstream,bus=up,addr=0x1,chassis=2,slot=2", "03:01.0", "104c:8233"),
           ("ep1", "e1000e,bus=rp1,addr=0x0", "01:00.0", "8086:10d3"),
           ("ep2", "e1000e,bus=dn1,addr=0x0", "04:00.0", "8086:10d3")]
SLOT, DUTS = {ident: slot for ident, _d, slot, _i in MACHINE}, ["ep1", "ep2"]
QEMU, BUSYBOX = "qemu-system-x86_64", "/bin/busybox"
# What q35 has unasked (-nodefaults, -vga none): the host bridge, the ICH9's LPC, SATA and SMBus functions.
BUILTIN = {"00:00.0": "8086:29c0", "00:1f.0": "8086:2918", "00:1f.2": "8086:2922", "00:1f.3": "8086:2930"}
PORT_TYPES = {"Endpoint": 0, "Legacy Endpoint": 1, "Root Port": 4, "Upstream Port": 5, "Downstream Port": 6}
# The AER status bits the library asserts, by its exported names: name -> (correctable, mask).
AER_BITS = {"TrainingError": (0, 0x1), "DLProtocolError": (0, 0x10), "FlowControlProtocolError": (0, 0x2000),
            "CompletionTimeout": (0, 0x4000), "CompleterAbort": (0, 0x8000), "UnexpectedCompletion": (0, 0x10000),
            "ReceiverOverflow": (0, 0x20000), "UnsupportedRequestError": (0, 0x100000), "ReceiverError": (1, 0x1),
            "BadTLP": (1, 0x40), "BadDLLP": (1, 0x80), "ReplayNumberRollover": (1, 0x100),
            "ReplayTimerTimeout": (1, 0x1000)}
# Every bit on the first endpoint, a few on the endpoint below the switch and on ports.
INJECTIONS = [("ep1", name) for name in AER_BITS] + [("ep2", "BadTLP"), ("ep2", "UnsupportedRequestError"),
    ("ep2", "ReplayTimerTimeout"), ("rp1", "BadDLLP"), ("dn1", "CompletionTimeout")]
# Asked for all the same, refused by QEMU; the bit is asserted CLEAR after every other injection.
REFUSED = {"TrainingError": "QEMU refuses to inject uncorrectable bit 0 (Training Error in PCI Express 1.0a, "
                            "undefined in later revisions)"}
# How each check of `qorb check` ends on both DUTs: pass, skip (no such hardware here), or fail for a known
# difference, because QEMU's models lack what it needs (docs/emulated-machine.md).
CHECKS = {"CFG.1.1#1.1": "pass", "CFG.1.2#1.1": "pass", "CFG.1.3#1.1": "pass", "CFG.1.4#1.1": "pass",
          "EM.1.1#1.1": "pass", "PHYLINK.1.1#1.1": "pass", "DLL.2.1#1.1": "skip", "DLL.2.1#1.2": "skip",
          "DLL.2.1#1.3": "skip", "DLL.2.1#1.4": "skip", "DLL.2.1#1.5": "skip", "DLL.2.1#1.6": "skip",
          "PHY.2.1#1.1": "skip", "TXN.2.1#1.1": "skip", "TXN.2.1#1.2": "skip",
          "PHYLINK.1.2#1.1": "link disable: QEMU's ports keep the device below a disabled link answering"}

def skip_reason(args):
    for tool, package in ((QEMU, "qemu-system-x86"), ("cpio", "cpio"), ("lspci", "pciutils")):
        if not shutil.which(tool):
            return "%s is not installed (apt-get install %s)" % (tool, package)
    args.kernel = args.kernel or max(glob.glob("/boot/vmlinuz-*cloud*"), key=os.path.getmtime, default=None)
    if not args.kernel or not os.access(args.kernel, os.R_OK):
        return "no readable kernel %s (install linux-image-cloud-amd64, whose PCI Express port and serial " \
               "drivers are built in, or give --kernel)" % (args.kernel or "/boot/vmlinuz-*cloud*")
    if not os.access(BUSYBOX, os.X_OK) or shared_objects(BUSYBOX):
        return "no statically linked busybox at %s (install busybox-static)" % BUSYBOX

def shared_objects(program):
    """What the program loads, as ldd resolves it here, the dynamic loader included."""
    out = subprocess.run(["ldd", program], capture_output=True, text=True).stdout
    if "not found" in out:
        raise SystemExit("qorb-vm: %s needs a library ldd cannot find:\n%s" % (program, out))
    return re.findall(r"(/\S+) \(0x", out)

def initramfs(args, root):
    def put(source, target, text=None):   # a file (without debug information when objcopy can strip it), or text
        target = os.path.join(root, target.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if text is not None:
            pathlib.Path(target).write_text(text)
        elif not os.path.exists(target) and subprocess.run(["objcopy", "--strip-debug", source, target]).returncode:
            shutil.copy(source, target)
    for name, source in (("qorb", args.tool), ("libqorbsysfs.so", args.driver), ("qorb_vm_probe", args.probe)):
        put(source, "qorb/bin/" + name)
        for path in shared_objects(source):   # where ldd found it, so the build tree's RUNPATHs hold
            put(os.path.realpath(path), path)
    put(BUSYBOX, "bin/busybox")
    shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), "guest-init.sh"), root + "/init")   # 755
    os.symlink("busybox", os.path.join(root, "bin/sh"))
    put(None, "qorb/platform.xml", '<platform><Test mode="platform"/>\n%s</platform>\n' % "".join(
        '<DUT vendorid="%s" deviceid="%s" bus="%d" device="%d" function="%s"/>\n' % (
            ids[:4], ids[5:], int(slot[:2], 16), int(slot[3:5], 16), slot[6]) for ident, _d, slot, ids in MACHINE
        if ident in DUTS))
    put(None, "qorb/plan", "".join("%d|%s|pcie_aer_inject_error %s%s 0x%x|%s=0 %s=1f|%s=1c %s=0 %s\n" % (
        seq, SLOT[ident], "-c " * AER_BITS[name][0], ident, AER_BITS[name][1], name, name, name, name,
        " ".join(o + "=0" for o in AER_BITS if o != name)) for seq, (ident, name) in enumerate(INJECTIONS, 1)))
    subprocess.run("find . | cpio -o -H newc -R 0:0 --quiet > ../initramfs.cpio", shell=True, cwd=root, check=True)
    return os.path.join(root, "../initramfs.cpio")

def qmp(stream, command, **arguments):
    stream.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")   # line buffered
    reply = {"event": None}
    while "event" in reply:
        reply = json.loads(stream.readline() or '{"error": {"desc": "the QMP socket closed"}}')
    if "error" in reply:
        raise RuntimeError("QMP %s: %s" % (command, reply["error"].get("desc")))
    return reply["return"]

def run_guest(argv, work, deadline, blocks, injected):
    """Reads the guest's report into blocks ({name: (lines, exit status)}) to its end, injecting errors as it
    asks (injected: {seq: (monitor command, answer)}). Answers the problems of the run itself."""
    problems, expired, name, sock_path = [], [], None, os.path.join(work, "qmp.sock")
    with open(os.path.join(work, "qemu.stderr"), "wb") as stderr, open(os.path.join(work, "console.log"), "wb") as log:
        # PR_SET_PDEATHSIG: QEMU dies with the harness, even by SIGKILL (a CTest timeout).
        proc = subprocess.Popen(argv + ["-qmp", "unix:%s,server=on,wait=off" % sock_path], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=stderr, bufsize=0,
                                preexec_fn=lambda: ctypes.CDLL(None).prctl(1, signal.SIGKILL))
        (timer := threading.Timer(deadline - time.monotonic(), lambda: (expired.append(1), proc.kill()))).start()
        try:
            sock = socket.socket(socket.AF_UNIX)
            while sock.connect_ex(sock_path) and proc.poll() is None:
                time.sleep(0.05)
            monitor = sock.makefile("rw", buffering=1)
            monitor.readline()   # the greeting
            qmp(monitor, "qmp_capabilities")
            for raw in proc.stdout:
                log.write(raw)
                line = raw.decode("utf-8", "replace").rstrip("\r\n")
                if line.startswith("QORBVM| profiling:"):
                    pass   # a coverage build cannot write its counts in the guest
                elif line.startswith("QORBVM|") and name:
                    lines.append(line[8:])
                elif line.startswith("QORBVM BEGIN "):
                    name, lines = line[13:], []
                elif line.startswith("QORBVM END ") and name:
                    blocks[name], name = (lines, int(line.rsplit(" ", 1)[1])), None
                elif line.startswith("QORBVM INJECT "):   # QORBVM INJECT <seq> <monitor command>
                    seq, command = int(line.split()[2]), line.split(" ", 3)[3]
                    injected[seq] = (command, qmp(monitor, "human-monitor-command", **{"command-line": command}))
                    proc.stdin.write(b"QORBVM-GO %d %s\n" % (seq, b"ok" if injected[seq][1][:2] == "OK" else b"no"))
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
            proc.kill()
            proc.wait()
    return problems + ["the run did not end within the time given"] * len(expired)

def lspci(path, dump):
    """{slot: {ids, bridges above, port type, capability offsets, link disabled}} as libpci reads a dump."""
    pathlib.Path(path).write_text("\n".join(dump) + "\n")
    functions = {}
    for line in subprocess.run(["lspci", "-F", path, "-PP", "-n", "-vv"], capture_output=True, text=True).stdout \
            .splitlines():
        if line[:1].isalnum():   # 00:11.0/02:00.0 0604: 104c:8232 (rev 02) ...
            above = line.split()[0].split("/")
            f = functions[above.pop()] = {"ids": line.split()[2], "above": above, "type": None, "caps": [], "ld": 0}
        match = re.match(r"\tCapabilities: \[([0-9a-f]+)[^\]]*\] (Express \(v\d\) ([^,(]*[^,( ]))?", line)
        if match:
            f["caps"].append(int(match.group(1), 16))
            f["type"] = match.group(3) if match.group(2) else f["type"]
        f["ld"] = f["ld"] or "LnkCtl:" in line and "Disabled+" in line
    return functions

def checks(blocks, injected, work):
    problems = []
    need = lambda held, text: held or problems.append(text)   # noqa: E731

    def diff(what, got, want):
        for slot in sorted(set(got) | set(want)):
            need(got.get(slot) == want.get(slot), "%s: %s is %s, expected %s" % (
                what, slot, got.get(slot, "not there"), want.get(slot, "nothing")))

    def json_block(name):
        lines, status = blocks[name]
        try:
            return json.loads("\n".join(lines)) if status == 0 else need(0, "qorb %s exited with %s" % (name, status))
        except ValueError:
            need(0, "qorb %s printed no JSON: %s" % (name, lines[-3:]))

    functions, space, slot = lspci(os.path.join(work, "dump"), blocks["dump"][0]), {}, None
    for line in blocks["dump"][0]:   # the bytes themselves, for the capability IDs
        if re.match(r"[0-9a-f]{2}:[0-9a-f]{2}\.[0-7] ", line):
            slot, space[line[:7]] = line[:7], bytearray()
        elif ": " in line and slot:
            space[slot] += bytes.fromhex(line.split(": ", 1)[1])
    # Exactly the functions the command line made, where the firmware numbers them, each below the bridge
    # it was plugged into, with 4096 bytes of configuration space for the PCI Express ones.
    diff("the guest's listing (IDs, bridge above, config size)",
         {s: (f["ids"], (f["above"] or [None])[-1], len(space.get(s, b""))) for s, f in functions.items()},
         dict({s: (ids, None, 256) for s, ids in BUILTIN.items()}, **{
             slot: (ids, SLOT.get(re.search(r"bus=(\w+)", device)[1]), 4096) for _i, device, slot, ids in MACHINE}))
    diff("qorb scan", {e["slot"]: ("%s:%s" % (e["vendor_id"], e["device_id"]), e["port_type"], e["port_type_name"])
                       for e in json_block("scan") or []},
         {s: (f["ids"], PORT_TYPES.get(f["type"]), f["type"]) for s, f in functions.items()})
    diff("qorb tree", {e["slot"]: e["upstream"] for e in json_block("tree") or []},   # the bridge it sits below
         {s: ([None] + f["above"])[-1] for s, f in functions.items()})
    want = {}
    for slot, f in functions.items():
        for kind, width, offsets in (("legacy", 1, [o for o in f["caps"] if o < 0x100]),
                                     ("extended", 2, [o for o in f["caps"] if o >= 0x100])):
            want.setdefault(slot, []).extend((kind, o, int.from_bytes(space[slot][o:o + width], "little"),
                                              (offsets + [0])[i + 1]) for i, o in enumerate(offsets))
    diff("qorb caps", {e["slot"]: [(c["list"], c["offset"], c["id"], c["next"]) for c in e["capabilities"]]
                       + [e.get("stopped")] * ("stopped" in e) for e in json_block("caps") or []}, want)
    # Without CAP_SYS_ADMIN (64 bytes of header): the scan still finds everything, a walk
    # fails naming the list it cannot read, a write is refused saying why.
    diff("unprivileged qorb scan", {e["slot"]: e["vendor_id"] + ":" + e["device_id"] for e in json_block("user scan")
                                    or []}, {s: f["ids"] for s, f in functions.items()})
    for name, text in (("user caps", "cannot be read"), ("user write", "writes need root")):
        lines, status = blocks[name]
        need(status == 1 and text in "\n".join(lines), "unprivileged %s should fail saying \"%s\" (exit %s): %s"
             % (name[5:], text, status, lines[-3:]))
    # qorb check: each check ends on each DUT as the table says.
    lines, status = blocks["check"]
    got = {(m[2], m[1]): (m[0].lower(), m[3])   # PASS  CFG.1.1#1.1      01:00.0  DUT present: ...
           for m in re.findall(r"^([A-Z]+) +(\S+#\S+) +(\S+) +(.*)", "\n".join(lines), re.M)}
    expected = {(SLOT[dut], check): want for dut in DUTS for check, want in CHECKS.items()}
    for key in sorted(set(got) | set(expected)):
        want, (outcome, message) = expected.get(key, "not in the table"), got.get(key, ("not run", ""))
        if outcome == "fail" and want not in ("pass", "skip", "not in the table"):
            print("qorb-vm: known difference, %s %s: %s (%s)" % (*key, want, message))
        else:
            need(outcome == want, "qorb check, %s %s: expected %s, got %s: %s" % (*key, want, outcome, message))
    need(status == 1, "qorb check exited with %s, expected 1 (the known differences fail)" % status)
    # The injections: before, CLEAR passes and SET fails; after, SET passes and clears the bit, then CLEAR
    # passes for it and every other bit, and the log has the verdict.
    for seq, (ident, name) in enumerate(INJECTIONS, 1):
        command, answer = injected.get(seq, ("no injection", "it was not asked for"))
        for phase in ("before", "after"):
            lines, status = blocks["aer-%s %d" % (phase, seq)]
            if phase == "after" and name in REFUSED and answer.startswith("failed to inject"):
                print("qorb-vm: known difference, %s on %s: %s" % (name, ident, REFUSED[name]))
            else:
                verdict = phase == "before" or "(Expected : SET) Actual value (SET)::" in "\n".join(lines)
                need(status == 0 and verdict,
                     "%s on %s, %s %s (%s): the assertions did not all answer as expected (exit %s): %s" % (
                         name, ident, phase, command, answer.strip(), status,
                         [line for line in lines if "unexpected" in line] or lines[-2:]))
    # Afterwards no link is left disabled.
    for slot, f in lspci(os.path.join(work, "after"), blocks["after"][0]).items():
        need(not f["ld"], "the link below %s is left disabled (Link Control)" % slot)
    need("done" in blocks, "the guest's report is incomplete")
    return problems

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True, help="the qorb tool (build/tools/qorb/qorb)")
    parser.add_argument("--driver", required=True, help="the sysfs driver, libqorbsysfs.so")
    parser.add_argument("--probe", required=True, help="the guest's assertion program, qorb_vm_probe")
    parser.add_argument("--accel", default="tcg", help="tcg (the default) or kvm where it works")
    parser.add_argument("--kernel", help="the guest kernel (default: the newest /boot/vmlinuz-*cloud*)")
    parser.add_argument("--timeout", type=float, default=170, help="seconds for the whole run (default 170)")
    parser.add_argument("--keep", metavar="DIR", help="keep the console log, the dumps and QEMU's messages in DIR")
    parser.add_argument("--skip", metavar="REASON", help="skip the run with this reason")
    args = parser.parse_args()
    start, why = time.monotonic(), args.skip or skip_reason(args)
    if why:
        print("qorb-vm: skipped: %s" % why)
        return 77
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):   # stop QEMU, remove the folder on the way out
        signal.signal(signum, lambda signum, _frame: sys.exit("qorb-vm: interrupted by signal %d" % signum))
    with tempfile.TemporaryDirectory(prefix="qorb-vm-") as work:
        argv = [QEMU, "-machine", "q35", "-accel", args.accel, "-cpu", "max", "-m", "256", "-smp", "1",
                "-nodefaults", "-display", "none", "-vga", "none", "-nic", "none", "-no-reboot", "-serial", "stdio",
                "-kernel", args.kernel, "-initrd", initramfs(args, os.path.join(work, "root")),
                "-append", "console=ttyS0 pci=noaer panic=-1 quiet rdinit=/init"]
        for ident, device, _slot, _ids in MACHINE:
            argv += ["-device", device.replace(",", ",id=%s," % ident, 1)]
        blocks, injected = collections.defaultdict(lambda: ([], None)), {}
        problems = run_guest(argv, work, start + args.timeout, blocks, injected)
        problems += checks(blocks, injected, work)
        print("qorb-vm: %s, %s, %s, %.0f s" % (QEMU, args.kernel, args.accel, time.monotonic() - start))
        if args.keep:
            shutil.copytree(work, args.keep, dirs_exist_ok=True,
                            ignore=shutil.ignore_patterns("root", "*.sock", "*.cpio"))
        if problems:
            print("qorb-vm: FAILED\n  - " + "\n  - ".join(problems))
            for name in ("console.log", "qemu.stderr") if "done" not in blocks else ():
                with open(os.path.join(work, name), "rb") as f:
                    print("--- %s (end) ---\n%s" % (name, f.read()[-4000:].decode("utf-8", "replace")))
        return 1 if problems else print("qorb-vm: passed") or 0

if __name__ == "__main__":
    sys.exit(main())
