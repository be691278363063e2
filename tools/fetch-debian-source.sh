#!/usr/bin/env bash
# Fetches a Debian source package with apt-get source, through a private list of source indexes
# made from this machine's own package sources (Debian's archive), so that the system's apt
# setup stays as it is. Unpacks it into DEST (emptied first) and prints the version fetched.
#
#   tools/fetch-debian-source.sh PACKAGE DEST [VERSION]
#
# Without VERSION, the newest release whose files can be had (an index may list one not yet
# mirrored).
set -euo pipefail
package=$1
dest=$2
wanted=${3:-}

apt=$(mktemp -d "${TMPDIR:-/tmp}/pelfry-apt-XXXXXX")
trap 'rm -rf "$apt"' EXIT
chmod 755 "$apt" # apt reads its indexes as its own unprivileged user
mkdir -p "$apt/parts" "$apt/lists/partial"
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$apt/parts/debian.sources"
fi
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt/parts/main.list"
fi
cat >"$apt/apt.conf" <<CONF
Dir::Etc::SourceList "/dev/null";
Dir::Etc::SourceParts "$apt/parts";
Dir::State::Lists "$apt/lists";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
CONF
export APT_CONFIG=$apt/apt.conf
apt-get update -qq >&2

if [ -n "$wanted" ]; then
  versions=$wanted
else
  versions=$(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -rV)
fi
for v in $versions; do
  rm -rf "$dest" && mkdir -p "$dest"
  if (cd "$dest" && apt-get source -qq "$package=$v" >/dev/null 2>&1); then
    echo "$v"
    exit 0
  fi
done
echo "Cannot fetch Debian's source of $package${wanted:+ $wanted}" >&2
exit 1
