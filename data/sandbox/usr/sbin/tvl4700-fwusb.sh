#!/bin/sh
# Stand-in for the instrument's firmware-on-USB-drive script (PC build).  Prints
# etc/standin/tvl4700-fwusb.out of the sandbox when that file exists (tests write it),
# otherwise the line below.
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log"
echo "tvl4700-fwusb.sh $*" >> "$root/var/log/standin.log"
if [ -f "$root/etc/standin/tvl4700-fwusb.out" ]; then
    cat "$root/etc/standin/tvl4700-fwusb.out"
    exit 0
fi
if grep -q "^/dev/sdb1 " "$root/proc/mounts" 2>/dev/null; then echo nofile; else echo nodrive; fi
