#!/bin/sh
# /init of the emulated-machine harness's initramfs (busybox sh).
#
# Runs qorb through the sysfs driver on the machine QEMU built, and reports
# everything over the serial console in lines that start with "QORBVM":
#
#   QORBVM START <kernel release>
#   QORBVM DEV <name> <vendor> <device> <class> <sysfs path> <config size>
#   QORBVM BEGIN <block>                    a command's output follows,
#   QORBVM| <line>                          one line each,
#   QORBVM END <block> <exit status>
#   QORBVM INJECT <seq> <qemu device id> <monitor command>
#   QORBVM SKIPPED <seq> <why>             the host did not inject
#   QORBVM DONE
#
# After an INJECT line the guest waits for the host's answer on the console,
# "QORBVM-GO <seq> ok" (or "... failed"), before it runs the assertions that
# expect the error. The host decides what to inject: /qorb/plan holds one
# line per injection,
#
#   <seq>|<slot>|<qemu id>|<inject arguments>|<assertions before>|<assertions after>
#
# where the assertion lists are qorb_vm_probe arguments.
PATH=/bin:/sbin:/usr/bin:/usr/sbin
export PATH
/bin/busybox mkdir -p /proc /sys /dev /tmp /sbin /usr/bin /usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev 2>/dev/null
exec </dev/console >/dev/console 2>&1
# Kernel messages would cut into the report lines: emergencies only.
echo 1 > /proc/sys/kernel/printk

P=QORBVM
Q=/qorb/bin/qorb
DRV=/qorb/bin/libqorbsysfs.so
PROBE=/qorb/bin/qorb_vm_probe

say() { echo "$P $*"; }

# block NAME COMMAND...: the command's output (standard error included)
# framed as one block, with its exit status.
block() {
    name=$1
    shift
    "$@" > /tmp/block.out 2>&1
    rc=$?
    say BEGIN "$name"
    awk -v p="$P| " '{ print p $0 }' /tmp/block.out
    say END "$name" "$rc"
}

finish() {
    say DONE
    sync
    poweroff -f
    sleep 10
}

# The driver writes only when its configuration says so; the tests here
# clear AER status bits.
mkdir -p /run/qorb
cd /run/qorb || finish
printf '[sysfs]\nallow_writes = yes\n' > qorbsysfs.ini

# "qorbvm.shell" on the kernel command line (run_vm.py --shell): a shell
# instead of the run, to use qorb by hand.
case " $(cat /proc/cmdline) " in
*" qorbvm.shell "*)
    echo "qorb is /qorb/bin/qorb (driver /qorb/bin/libqorbsysfs.so, writes enabled here in /run/qorb);"
    echo "the platform file is /qorb/platform.xml. Leave with: poweroff -f"
    PATH=/qorb/bin:$PATH setsid cttyhack sh
    poweroff -f
    ;;
esac

stty -echo 2>/dev/null
say START "$(uname -r)"

for d in /sys/bus/pci/devices/*; do
    [ -e "$d/config" ] || continue
    say DEV "${d##*/}" "$(cat "$d/vendor")" "$(cat "$d/device")" "$(cat "$d/class")" \
        "$(readlink -f "$d")" "$(stat -c %s "$d/config")"
done
for d in /sys/bus/pci/devices/*; do
    [ -e "$d/config" ] || continue
    block "config ${d##*/}" od -An -tx1 -v "$d/config"
done

block mcfg "$PROBE" "$DRV" --mcfg
block "mcfg-table" od -An -tx1 -v /sys/firmware/acpi/tables/MCFG
block scan "$Q" --driver "$DRV" scan --json
block tree "$Q" --driver "$DRV" tree
block caps "$Q" --driver "$DRV" caps --json

# The checklist on the platform file's DUTs, on the machine as it booted.
block check "$Q" --driver "$DRV" check --platform /qorb/platform.xml --xml /tmp/check.xml \
    --junit /tmp/junit.xml
block junit cat /tmp/junit.xml
# Link Control of every PCI bridge after the link checks.
for d in /sys/bus/pci/devices/*; do
    [ "$(cat "$d/class")" = 0x060400 ] || continue
    slot=${d##*/}
    block "linkctl ${slot#*:}" "$Q" --driver "$DRV" read -s "${slot#*:}" CAP_EXP+0x10.w
done

while IFS='|' read -r seq slot id inject before after <&3; do
    [ -n "$seq" ] || continue
    # shellcheck disable=SC2086 # the lists are words on purpose
    block "aer-before $seq" "$PROBE" "$DRV" "$slot" $before
    say INJECT "$seq" "$id" "$inject"
    reply=
    read -t 60 -r reply
    case "$reply" in
    *"$P-GO $seq ok"*) ;;
    *) say SKIPPED "$seq" "no go from the host: $reply"; continue ;;
    esac
    # shellcheck disable=SC2086
    block "aer-after $seq" "$PROBE" "$DRV" "$slot" $after
done 3< /qorb/plan

# The same driver for a user without CAP_SYS_ADMIN: Linux gives it the
# first 64 bytes of each function and no MCFG table (docs/real-hardware.md).
mkdir -p /etc
echo 'root:x:0:0::/:/bin/sh' > /etc/passwd
echo 'qorb:x:1000:1000::/run/qorb:/bin/sh' >> /etc/passwd
printf 'root:x:0:\nqorb:x:1000:\n' > /etc/group
as_user() { su -s /bin/sh qorb -c "cd /run/qorb && $*"; }
block "user scan" as_user "$Q" --driver "$DRV" scan --json
block "user caps" as_user "$Q" --driver "$DRV" caps -s 01:00.0 --json
block "user write" as_user "$Q" --driver "$DRV" write -s 01:00.0 0x0c.b=0x00
block "user mcfg" as_user "$PROBE" "$DRV" --mcfg

# Configuration space after the injections, for the host to see what else
# the emulated errors changed.
for d in /sys/bus/pci/devices/*; do
    [ -e "$d/config" ] || continue
    block "after ${d##*/}" od -An -tx1 -v "$d/config"
done

finish
