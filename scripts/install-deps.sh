#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are missing, with sudo when not root.
set -euo pipefail
missing=()
for pkg in "$@"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
$sudo_cmd apt-get update
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y "${missing[@]}"
