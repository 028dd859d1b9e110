#!/bin/sh
# Stand-in for the instrument's profile save script (PC build): copies the
# present settings files (var/lib/tarvel/bp, ch1-ch3) of the sandbox into
# var/lib/tarvel/profiles/N.  N: 1-10.
# The copies are made in a folder of their own and checked (the meter's file
# is needed, no copy may be empty); only then does that folder become the
# profile, so a save that fails (a full disk) leaves the profile saved
# before it whole, and fails with status 1.
root=$(cd "$(dirname "$0")/../.." && pwd -P) || exit 1
mkdir -p "$root/var/log"
echo "tvl4700-save-profile.sh $*" >> "$root/var/log/standin.log"
case "$1" in
[1-9]|10) ;;
*) echo "tvl4700-save-profile.sh: profile number 1-10 expected" >&2; exit 2 ;;
esac
data="$root/var/lib/tarvel"
profiles="$data/profiles"
profile="$profiles/$1"
new="$profiles/.$1.new"
old="$profiles/.$1.old"
fail() {
    echo "tvl4700-save-profile.sh: profile $1 not saved: $2" >&2
    rm -rf "$new"
    exit 1
}
mkdir -p "$profiles" || fail "$1" "no profile folder"
# A save cut between its two renames left the profile under its old name.
if [ ! -d "$profile" ] && [ -d "$old" ]; then mv -T "$old" "$profile" || fail "$1" "cannot recover it"; fi
rm -rf "$new" "$old"
mkdir "$new" || fail "$1" "no room for the copies"
[ -s "$data/bp" ] || fail "$1" "no meter settings file"
for f in bp ch1 ch2 ch3; do
    [ -f "$data/$f" ] || continue
    cp "$data/$f" "$new/$f" && [ -s "$new/$f" ] || fail "$1" "cannot copy $f"
done
if [ -d "$profile" ]; then mv -T "$profile" "$old" || fail "$1" "cannot replace it"; fi
if ! mv -T "$new" "$profile"; then
    [ -d "$old" ] && mv -T "$old" "$profile"
    fail "$1" "cannot replace it"
fi
rm -rf "$old"
exit 0
