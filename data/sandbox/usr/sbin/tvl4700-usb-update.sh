#!/bin/sh
# Stand-in for the firmware update from a USB drive (PC build): logs the call in the sandbox and does
# nothing else.
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log"
echo "tvl4700-usb-update.sh $*" >> "$root/var/log/standin.log"
exit 0
