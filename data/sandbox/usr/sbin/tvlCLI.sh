#!/bin/sh
# Stand-in for the command-line mode script (PC build): logs the call in the sandbox and does
# nothing else.
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log"
echo "tvlCLI.sh $*" >> "$root/var/log/standin.log"
exit 0
