#!/bin/sh
# Stand-in for the instrument's profile save script (PC build): copies the
# present settings files (var/lib/tarvel/bp, ch1-ch3) of the sandbox into
# var/lib/tarvel/profiles/N.  N: 1-10.
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log"
echo "tvl4700-save-profile.sh $*" >> "$root/var/log/standin.log"
case "$1" in
[1-9]|10) ;;
*) echo "tvl4700-save-profile.sh: profile number 1-10 expected" >&2; exit 2 ;;
esac
data="$root/var/lib/tarvel"
profile="$data/profiles/$1"
mkdir -p "$profile" || exit 1
for f in bp ch1 ch2 ch3; do
    if [ -f "$data/$f" ]; then
        cp "$data/$f" "$profile/$f.new" && mv "$profile/$f.new" "$profile/$f" || exit 1
    else
        rm -f "$profile/$f"
    fi
done
exit 0
