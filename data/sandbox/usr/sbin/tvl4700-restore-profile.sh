#!/bin/sh
# Stand-in for the instrument's profile restore script (PC build): replaces
# the present settings files (var/lib/tarvel/bp, ch1-ch3) of the sandbox with
# those of var/lib/tarvel/profiles/N.  N: 0-10; profile 0 is the factory
# settings: without a saved profile 0 the settings files are removed, so
# every setting takes its default.  A file the profile lacks is removed too.
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log"
echo "tvl4700-restore-profile.sh $*" >> "$root/var/log/standin.log"
case "$1" in
[0-9]|10) ;;
*) echo "tvl4700-restore-profile.sh: profile number 0-10 expected" >&2; exit 2 ;;
esac
data="$root/var/lib/tarvel"
profile="$data/profiles/$1"
if [ ! -d "$profile" ] && [ "$1" != 0 ]; then
    echo "tvl4700-restore-profile.sh: no profile $1" >&2
    exit 1
fi
for f in bp ch1 ch2 ch3; do
    if [ -f "$profile/$f" ]; then
        cp "$profile/$f" "$data/$f.new" && mv "$data/$f.new" "$data/$f" || exit 1
    else
        rm -f "$data/$f"
    fi
done
exit 0
