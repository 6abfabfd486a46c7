#!/bin/sh
# shellcheck disable=SC2086,SC3045 # assertion lists are words on purpose; busybox sh has read -t
# /init of the emulated-machine harness (busybox sh): runs qorb through the sysfs driver with writes
# enabled and reports on the serial console, each command's output as a block
#   QORBVM BEGIN <name> / QORBVM| <line> ... / QORBVM END <name> <exit status>
# For each line of /qorb/plan, <seq>|<slot>|<monitor command>|<probe assertions before>|<after>, it prints
# "QORBVM INJECT <seq> <command>" between them, waiting for "QORBVM-GO <seq> ok"; at the end "QORBVM DONE".
/bin/busybox mkdir -p /proc /sys /dev /tmp /etc /run/qorb && /bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
echo 1 > /proc/sys/kernel/printk   # emergencies only: no kernel lines inside the report
Q="/qorb/bin/qorb --driver /qorb/bin/libqorbsysfs.so"
P="/qorb/bin/qorb_vm_probe /qorb/bin/libqorbsysfs.so"
block() {   # block NAME COMMAND...
    name=$1; shift; "$@" > /tmp/out 2>&1; rc=$?
    echo "QORBVM BEGIN $name"; sed 's/^/QORBVM| /' /tmp/out; echo "QORBVM END $name $rc"
}
dump() {   # every function's configuration space as lspci -xxxx prints it
    for d in /sys/bus/pci/devices/*; do
        echo "${d##*/0000:} $(cat "$d/class")" && hexdump -v -e '"%03_ax: " 16/1 "%02x " "\n"' "$d/config" && echo
    done
}
cd /run/qorb && printf '[sysfs]\nallow_writes = yes\n' > qorbsysfs.ini
stty -echo
block dump dump
block scan $Q scan --json
block tree $Q tree --json
block caps $Q caps --json
block check $Q check --platform /qorb/platform.xml
while IFS='|' read -r seq slot inject before after <&3; do
    block "aer-before $seq" $P "$slot" $before
    echo "QORBVM INJECT $seq $inject"
    read -t 60 -r reply
    case "$reply" in *"QORBVM-GO $seq ok"*) block "aer-after $seq" $P "$slot" $after ;; esac
done 3< /qorb/plan
# The driver for a user without CAP_SYS_ADMIN: Linux gives it 64 bytes of each function.
printf 'root:x:0:0::/:/bin/sh\nqorb:x:1000:1000::/run/qorb:/bin/sh\n' > /etc/passwd
for c in "scan $Q scan --json" "caps $Q caps -s 01:00.0 --json" "write $Q write -s 01:00.0 0x0c.b=0"; do
    block "user ${c%% *}" su -s /bin/sh qorb -c "cd /run/qorb && ${c#* }"
done
block after dump   # what the checklist and the injections left behind
echo "QORBVM DONE"
sync; poweroff -f
