#!/usr/bin/env bash
# The set-up's install step against a throwaway apt configuration in which
# the security suite has amd64 indexes only, as when the mirror is in the
# middle of a sync: its amd64 libraries are then newer than any i386 one
# apt can see, and wine32:i386 cannot be installed beside them. The plain
# install must fail there (when the mirror has such a skew today), and the
# set-up's fallback must resolve every package it installs, nothing
# installed for real (apt-get -s, and an empty package status, so that the
# whole dependency closure is resolved as on a fresh machine).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SKIP=77

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts" "$work/prefs"
: >"$work/status"
cat >"$work/sources.list" <<'EOF'
deb [arch=amd64,i386] http://deb.debian.org/debian bookworm main
deb [arch=amd64,i386] http://deb.debian.org/debian bookworm-updates main
deb [arch=amd64] http://deb.debian.org/debian-security bookworm-security main
EOF
APT_OPTS=(
  -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts="$work/parts"
  -o Dir::Etc::Preferences="$work/prefs/none" -o Dir::Etc::PreferencesParts="$work/prefs"
  -o Dir::State::Lists="$work/lists" -o Dir::State::status="$work/status"
  -o Dir::State::extended_states="$work/extended_states" -o Dir::Cache="$work/cache"
  -o APT::Architecture=amd64 -o APT::Architectures::=amd64 -o APT::Architectures::=i386
  -o Debug::NoLocking=1
)

# The machine's own indexes for the same addresses save most of the download.
cp /var/lib/apt/lists/deb.debian.org_debian*_dists_bookworm* "$work/lists/" 2>/dev/null || true
if ! apt-get "${APT_OPTS[@]}" update -qq >"$work/update.log" 2>&1; then
  if grep -qE "Could not (resolve|connect)|Temporary failure|Network is unreachable|Connection failed" "$work/update.log"; then
    echo "SKIPPED: this machine cannot reach the package mirror:"
    sed 's/^/  /' "$work/update.log"
    exit $SKIP
  fi
  echo "apt-get update of the throwaway configuration failed:"
  sed 's/^/  /' "$work/update.log"
  exit 1
fi

# The set-up's own functions, with no pauses and a simulated install.
APT_OPTS+=(-s)
VELMORA_APT_UPDATE_PAUSE=0
source "$ROOT/tools/setup.sh"
set +e

rc=0
echo "== the plain install of the set-up's packages, with the security suite for amd64 only"
if apt-get "${APT_OPTS[@]}" install -qq --no-install-recommends "${PACKAGES[@]}" >"$work/plain.log" 2>&1; then
  echo "resolves: the mirror has no amd64/i386 skew between its suites today; only the fallback is checked."
else
  grep -E '^(E:| [^ ].*:)' "$work/plain.log" | head -n 8 | sed 's/^/  /'
  grep -q "broken packages\|:i386" "$work/plain.log" || { echo "FAIL: the plain install failed for another reason than an unresolvable set"; rc=1; }
fi

echo "== the set-up's install step"
if install_packages "${PACKAGES[@]}" >"$work/setup.log" 2>&1; then
  sed 's/^/  /' "$work/setup.log" | grep '^  setup:' || true
  # The simulation's plan must really hold wine32:i386 and its libraries.
  if ! grep -q '^Inst wine32:i386 ' "$work/setup.log"; then
    echo "FAIL: the fallback's plan does not install wine32:i386"
    rc=1
  fi
  grep '^Inst \(wine32:i386\|libssl3:i386\|libssl3 \)' "$work/setup.log" | sed 's/^/  /'
else
  echo "FAIL: the set-up's install step could not resolve the packages:"
  sed 's/^/  /' "$work/setup.log"
  rc=1
fi

echo "== an install that nothing can resolve stops with a message, not a bare code"
FAILED_INDEXES="http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz"
if install_packages velmora-no-such-package >"$work/none.log" 2>&1; then
  echo "FAIL: a package that does not exist was reported as installed"
  rc=1
elif ! grep -q "binary-i386/Packages.xz" "$work/none.log" || ! grep -q "again later" "$work/none.log"; then
  echo "FAIL: the message does not name the failed index and say to run again later:"
  sed 's/^/  /' "$work/none.log"
  rc=1
else
  grep '^setup:' "$work/none.log" | sed 's/^/  /'
fi
exit $rc
