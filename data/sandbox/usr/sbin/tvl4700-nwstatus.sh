#!/bin/sh
# Stand-in for the instrument's network status script (PC build).  Prints
# etc/standin/tvl4700-nwstatus.out of the sandbox when that file exists (tests write it),
# otherwise the line below.
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log"
echo "tvl4700-nwstatus.sh $*" >> "$root/var/log/standin.log"
if [ -f "$root/etc/standin/tvl4700-nwstatus.out" ]; then
    cat "$root/etc/standin/tvl4700-nwstatus.out"
    exit 0
fi
echo "yes no"
