#!/usr/bin/env python3
"""qorb on an emulated PCI Express machine.

Boots a Linux kernel in QEMU on a q35 machine with root ports, a switch and
e1000e endpoints, runs qorb inside it through the sysfs driver with writes
enabled, injects AER errors through QEMU's monitor when the guest asks, and
compares what qorb found with what the guest's own sysfs says and what the
QEMU command line made. docs/emulated-machine.md describes it.

Exit status: 0 when every comparison held, 1 when one did not, 77 when the
run cannot happen on this host (QEMU, a kernel or a static busybox missing),
with the reason on standard output."""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True   # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import checks      # noqa: E402
import initramfs   # noqa: E402
import machine     # noqa: E402
from qemu import Machine  # noqa: E402
from report import Report  # noqa: E402

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGES = "qemu-system-x86 linux-image-cloud-amd64 busybox-static"


class Skip(Exception):
    pass


def find_kernel(given):
    if given:
        if not os.access(given, os.R_OK):
            raise Skip("the kernel %s cannot be read" % given)
        return given
    candidates = sorted((os.path.join("/boot", n) for n in os.listdir("/boot") if n.startswith("vmlinuz-")),
                        key=lambda p: ("cloud" in p, os.path.getmtime(p)), reverse=True) \
        if os.path.isdir("/boot") else []
    for path in candidates:
        if "cloud" in path and os.access(path, os.R_OK):
            return path
    if candidates:
        raise Skip("no readable cloud kernel in /boot (found %s; install linux-image-cloud-amd64, whose PCI "
                   "Express port and serial drivers are built in, or give --kernel)" % ", ".join(candidates))
    raise Skip("no kernel in /boot (install linux-image-cloud-amd64 or give --kernel)")


def find_busybox(given):
    for path in [given] if given else ["/bin/busybox", "/usr/bin/busybox"]:
        if path and os.access(path, os.X_OK) and initramfs.is_static(path):
            return path
    raise Skip("no statically linked busybox (install busybox-static)")


def prerequisites(args):
    if args.skip:
        raise Skip(args.skip)
    qemu = shutil.which(args.qemu)
    if not qemu:
        raise Skip("%s is not installed (apt-get install %s)" % (args.qemu, PACKAGES))
    for tool in ("ldd",):
        if not shutil.which(tool):
            raise Skip("%s is not installed" % tool)
    return qemu, find_kernel(args.kernel), find_busybox(args.busybox)


def stripped(path, workdir):
    """A copy without debug information when objcopy is there (the build's
    binaries carry several megabytes of it), else the file itself."""
    if not shutil.which("objcopy"):
        return path
    out = os.path.join(workdir, "strip-" + os.path.basename(path))
    if subprocess.run(["objcopy", "--strip-debug", path, out], capture_output=True).returncode != 0:
        return path
    return out


def build_initramfs(args, busybox, workdir):
    archive = initramfs.Archive()
    for folder in ("bin", "sbin", "usr/bin", "usr/sbin", "proc", "sys", "dev", "tmp", "run", "qorb/bin"):
        archive.directory(folder)
    archive.char_device("dev/console", 5, 1)
    archive.char_device("dev/null", 1, 3, 0o666)
    archive.file("bin/busybox", busybox, 0o755)
    archive.symlink("bin/sh", "busybox")
    archive.file("init", os.path.join(HERE, "guest-init.sh"), 0o755)

    programs = {"qorb/bin/qorb": args.tool, "qorb/bin/libqorbsysfs.so": args.driver,
                "qorb/bin/qorb_vm_probe": args.probe}
    for target, source in programs.items():
        archive.file(target, stripped(source, workdir), 0o755)
    # Every shared object they load sits at the path ldd found it at, so the
    # programs' own search paths (RUNPATH into the build tree) find them.
    for source in programs.values():
        for path in initramfs.shared_objects(source):
            if path not in archive:
                archive.file(path, stripped(os.path.realpath(path), workdir), 0o755)

    archive.data("qorb/platform.xml", machine.platform_xml())
    archive.data("qorb/plan", "".join("%d|%s|%s|%s|%s|%s\n" % (seq, slot, ident, command, " ".join(before),
                                                                " ".join(after))
                                      for seq, slot, ident, command, before, after in machine.plan()))
    path = os.path.join(workdir, "initramfs.cpio")
    with open(path, "wb") as out:
        archive.write(out)
    return path


def qemu_argv(qemu, kernel, initrd, accel, extra=""):
    return [qemu, "-machine", "q35", "-accel", accel, "-cpu", "max", "-m", "256", "-smp", "1",
            "-nodefaults", "-display", "none", "-vga", "none", "-nic", "none", "-no-reboot",
            "-serial", "stdio",
            "-kernel", kernel, "-initrd", initrd,
            "-append", "console=ttyS0 pci=noaer panic=-1 quiet rdinit=/init" + extra] + machine.qemu_device_args()


def run_shell(qemu, kernel, initrd, accel, workdir):
    """The same machine with a shell on this terminal instead of the run;
    the human monitor listens on a Unix socket for pcie_aer_inject_error."""
    monitor = os.path.join(workdir, "monitor.sock")
    print("qorb-vm: monitor: socat - UNIX-CONNECT:%s   (then: pcie_aer_inject_error -c ep1 0x40)" % monitor)
    argv = qemu_argv(qemu, kernel, initrd, accel, " qorbvm.shell") + [
        "-monitor", "unix:%s,server=on,wait=off" % monitor]
    return subprocess.run(argv, check=False).returncode


def run_guest(vm, report, deadline, injections):
    """Reads the console to the end of the guest's run, injecting errors as
    it asks. injections gets {seq: (command, monitor answer, accepted)}."""
    commands = {str(seq): (ident, command) for seq, _slot, ident, command, _b, _a in machine.plan()}
    for line in vm.lines(deadline):
        event = report.feed(line)
        if event and event[0] == "INJECT":
            seq = event[1]
            ident, command = commands.get(seq, (None, None))
            if command is None:
                vm.send("QORBVM-GO %s failed\n" % seq)
                continue
            try:
                answer = vm.monitor.human(command).strip()
                ok = answer.startswith("OK")
            except RuntimeError as error:
                answer, ok = str(error), False
            injections[seq] = (command, answer, ok)
            vm.send("QORBVM-GO %s %s\n" % (seq, "ok" if ok else "failed"))
        if report.done:
            return


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True, help="the qorb tool (build/tools/qorb/qorb)")
    parser.add_argument("--driver", required=True, help="the sysfs driver, libqorbsysfs.so")
    parser.add_argument("--probe", required=True, help="the guest's assertion program, qorb_vm_probe")
    parser.add_argument("--qemu", default="qemu-system-x86_64")
    parser.add_argument("--kernel", help="the guest kernel (default: the newest /boot/vmlinuz-*cloud*)")
    parser.add_argument("--busybox", help="a statically linked busybox (default /bin/busybox)")
    parser.add_argument("--timeout", type=float, default=170, help="seconds for the whole run (default 170)")
    parser.add_argument("--keep", metavar="DIR", help="keep the console log and QEMU's messages in DIR")
    parser.add_argument("--skip", metavar="REASON", help="skip the run with this reason")
    parser.add_argument("--shell", action="store_true",
                        help="boot the machine with a shell on this terminal instead of running the checks")
    args = parser.parse_args()

    # A signal ends the run through the same clean-up as an error: QEMU is
    # stopped and the temporary folder removed. (SIGKILL cannot be caught;
    # QEMU then dies with the harness, see qemu.py.)
    def interrupted(signum, _frame):
        raise SystemExit("qorb-vm: interrupted by signal %d" % signum)
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, interrupted)

    start = time.monotonic()
    deadline = start + args.timeout
    try:
        qemu, kernel, busybox = prerequisites(args)
    except Skip as why:
        print("qorb-vm: skipped: %s" % why)
        return SKIP

    kvm = os.access("/dev/kvm", os.R_OK | os.W_OK)
    with tempfile.TemporaryDirectory(prefix="qorb-vm-") as workdir:
        initrd = build_initramfs(args, busybox, workdir)
        if args.shell:
            return run_shell(qemu, kernel, initrd, "kvm" if kvm else "tcg", workdir)
        console_path = os.path.join(workdir, "console.log")
        report = Report()
        injections = {}
        problems = []
        with open(console_path, "wb") as console:
            vm = Machine(qemu_argv(qemu, kernel, initrd, "kvm" if kvm else "tcg"), workdir, console)
            try:
                vm.connect_monitor(deadline)
                run_guest(vm, report, deadline, injections)
                if vm.wait(max(1, min(15, deadline - time.monotonic()))) is None:
                    problems.append("the guest did not power off after its run")
            except TimeoutError:
                problems.append("the run did not end within %d s" % args.timeout)
            except RuntimeError as error:
                problems.append(str(error))
            finally:
                vm.stop()
                qemu_messages = vm.stderr_text()
        if args.keep:
            os.makedirs(args.keep, exist_ok=True)
            shutil.copy(console_path, os.path.join(args.keep, "console.log"))
            with open(os.path.join(args.keep, "qemu.stderr"), "w") as f:
                f.write(qemu_messages)

        print("qorb-vm: %s, kernel %s, %s, %.0f s" % (qemu, report.kernel or os.path.basename(kernel),
                                                   "KVM" if kvm else "TCG", time.monotonic() - start))
        if not report.done:
            problems.append("the guest's report is incomplete")
        problems += checks.run_all(report, injections)
        if problems:
            print("qorb-vm: FAILED")
            for p in problems:
                print("  - " + p)
            if not report.done or any("did not end" in p for p in problems):
                with open(console_path, "rb") as f:
                    tail = f.read()[-6000:].decode("utf-8", "replace")
                print("--- last console output ---\n" + tail)
                if qemu_messages.strip():
                    print("--- QEMU ---\n" + qemu_messages[-3000:])
            return 1
        print("qorb-vm: passed")
        return 0


if __name__ == "__main__":
    sys.exit(main())
