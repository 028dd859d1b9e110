#!/bin/sh
# Stand-in for the firmware update from the internet (PC build): logs the call in the sandbox and does
# nothing else.
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log"
echo "tvl4700-update.sh $*" >> "$root/var/log/standin.log"
exit 0
