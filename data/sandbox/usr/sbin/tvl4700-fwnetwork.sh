#!/bin/sh
# Stand-in for the instrument's firmware-on-the-internet script (PC build).  Prints
# etc/standin/tvl4700-fwnetwork.out of the sandbox when that file exists (tests write it),
# otherwise the line below.
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log"
echo "tvl4700-fwnetwork.sh $*" >> "$root/var/log/standin.log"
if [ -f "$root/etc/standin/tvl4700-fwnetwork.out" ]; then
    cat "$root/etc/standin/tvl4700-fwnetwork.out"
    exit 0
fi
echo "false N/A"
