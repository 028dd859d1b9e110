#!/bin/sh
# Stand-in for the instrument's network script (PC build).  It changes
# nothing on this machine: the settings live in etc/tvl4700-network of the
# sandbox this script lies in.
#   --read                 prints: mode ip netmask gateway dns extra
#   --write dhcp           DHCP, keeping the last manual addresses
#   --write ip netmask network gateway dns extra
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log" "$root/etc"
echo "tvl4700-network.sh $*" >> "$root/var/log/standin.log"
state="$root/etc/tvl4700-network"
current() {
    if [ -f "$state" ]; then head -n 1 "$state"
    else echo "dhcp 169.254.15.181 255.255.0.0 169.254.1.1 169.254.1.1"; fi
}
case "$1" in
--read)
    current ;;
--write)
    shift
    if [ "$1" = dhcp ] && [ $# -eq 1 ]; then
        set -- $(current)
        shift
        line="dhcp $*"
    elif [ $# -eq 6 ]; then
        line="static $1 $2 $4 $5 $6"
    else
        echo "tvl4700-network.sh: --write needs dhcp or six words" >&2
        exit 2
    fi
    echo "$line" > "$state.new" && mv "$state.new" "$state" ;;
*)
    echo "usage: tvl4700-network.sh --read | --write dhcp | --write ip netmask network gateway dns extra" >&2
    exit 2 ;;
esac
