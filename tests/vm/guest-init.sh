#!/bin/sh
# shellcheck disable=SC2086 # the assertion lists are words on purpose
# /init of the emulated-machine harness (busybox sh): runs qorb through the
# sysfs driver with writes enabled and reports on the serial console:
#   QORBVM BEGIN <block> / QORBVM| <line> ... / QORBVM END <block> <exit status>
#   QORBVM INJECT <seq>, then waits for "QORBVM-GO <seq> ok" (or "failed")
#   QORBVM DONE
# /qorb/plan holds one injection a line, <seq>|<slot>|<assertions before>|<after>.
/bin/busybox --install -s /bin
export PATH=/bin:/qorb/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
echo 1 > /proc/sys/kernel/printk   # emergencies only: no kernel lines inside the report
DRV=/qorb/bin/libqorbsysfs.so
block() {
    name=$1
    shift
    "$@" > /tmp/block.out 2>&1
    rc=$?
    echo "QORBVM BEGIN $name"
    sed 's/^/QORBVM| /' /tmp/block.out
    echo "QORBVM END $name $rc"
}
# Every function's configuration space as lspci -xxxx prints it.
dump() {
    for d in /sys/bus/pci/devices/*; do
        echo "${d##*/0000:} $(cat "$d/vendor") $(cat "$d/device")"
        hexdump -v -e '"%03_ax: " 16/1 "%02x " "\n"' "$d/config"
        echo
    done
}
mkdir -p /run/qorb && cd /run/qorb && printf '[sysfs]\nallow_writes = yes\n' > qorbsysfs.ini
if grep -q qorbvm.shell /proc/cmdline; then
    echo "qorb --driver $DRV ...; the platform file is /qorb/platform.xml. Leave with: poweroff -f"
    setsid cttyhack sh
    poweroff -f
fi
stty -echo
block dump dump
block mcfg qorb_vm_probe $DRV --mcfg
block mcfg-table hexdump -v -e '16/1 "%02x " "\n"' /sys/firmware/acpi/tables/MCFG
block scan qorb --driver $DRV scan --json
block tree qorb --driver $DRV tree
block caps qorb --driver $DRV caps --json
block check qorb --driver $DRV check --platform /qorb/platform.xml --junit /tmp/junit.xml
block junit cat /tmp/junit.xml
while IFS='|' read -r seq slot before after <&3; do
    block "aer-before $seq" qorb_vm_probe $DRV "$slot" $before
    echo "QORBVM INJECT $seq"
    read -t 60 -r reply
    case "$reply" in
    *"QORBVM-GO $seq ok"*) block "aer-after $seq" qorb_vm_probe $DRV "$slot" $after ;;
    esac
done 3< /qorb/plan
# The same driver for a user without CAP_SYS_ADMIN: Linux gives it the first
# 64 bytes of each function and no MCFG table (docs/real-hardware.md).
printf 'root:x:0:0::/:/bin/sh\nqorb:x:1000:1000::/run/qorb:/bin/sh\n' > /etc/passwd
printf 'root:x:0:\nqorb:x:1000:\n' > /etc/group
as_user() { su -s /bin/sh qorb -c "cd /run/qorb && $*"; }
block "user scan" as_user qorb --driver $DRV scan --json
block "user caps" as_user qorb --driver $DRV caps -s 01:00.0 --json
block "user write" as_user qorb --driver $DRV write -s 01:00.0 0x0c.b=0x00
block "user mcfg" as_user qorb_vm_probe $DRV --mcfg
# After the checklist and the injections: what else they changed, and every
# port's Link Control (qorb check leaves no link disabled).
block after dump
echo "QORBVM DONE"
sync
poweroff -f
