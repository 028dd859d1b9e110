#!/bin/sh
# Stand-in for the instrument's profile restore script (PC build): replaces
# the present settings files (var/lib/tarvel/bp, ch1-ch3) of the sandbox with
# those of var/lib/tarvel/profiles/N.  N: 0-10; profile 0 is the factory
# settings: without a saved profile 0 the settings files are removed, so
# every setting takes its default.  A file the profile lacks is removed too.
# An unknown profile, or one without its meter file or with an empty file,
# is refused (status 1) and the present files stay as they are; so do they
# when the profile's files cannot all be copied beside them first.
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log"
echo "tvl4700-restore-profile.sh $*" >> "$root/var/log/standin.log"
case "$1" in
[0-9]|10) ;;
*) echo "tvl4700-restore-profile.sh: profile number 0-10 expected" >&2; exit 2 ;;
esac
data="$root/var/lib/tarvel"
profile="$data/profiles/$1"
# A save cut between its two renames left the profile under its old name.
[ -d "$profile" ] || profile="$data/profiles/.$1.old"
files="bp ch1 ch2 ch3"
refuse() {
    echo "tvl4700-restore-profile.sh: profile $1 not restored: $2" >&2
    for f in $files; do rm -f "$data/$f.restore"; done
    exit 1
}
if [ -d "$profile" ]; then
    [ -s "$profile/bp" ] || refuse "$1" "incomplete profile"
    for f in $files; do
        if [ -e "$profile/$f" ] && [ ! -s "$profile/$f" ]; then refuse "$1" "incomplete profile"; fi
    done
elif [ "$1" != 0 ]; then
    refuse "$1" "no profile $1"
fi
for f in $files; do rm -f "$data/$f.restore"; done
for f in $files; do
    if [ -f "$profile/$f" ]; then
        cp "$profile/$f" "$data/$f.restore" && [ -s "$data/$f.restore" ] || refuse "$1" "cannot copy $f"
    fi
done
for f in $files; do
    if [ -f "$data/$f.restore" ]; then
        mv "$data/$f.restore" "$data/$f" || exit 1
    else
        rm -f "$data/$f"
    fi
done
exit 0
