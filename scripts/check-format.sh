#!/usr/bin/env bash
# Checks that every C++ source and header is laid out as .clang-format says (clang-format 14, as Debian
# ships it); lists the files that are not and exits 1.  With --fix, rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
[ "${1:-}" = --fix ] && fix=1
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
    echo "check-format: clang-format not found (Debian package clang-format)" >&2
    exit 1
fi

status=0
while IFS= read -r -d '' file; do
    if [ "$fix" = 1 ]; then
        "$format" -i "$file"
    elif ! "$format" "$file" | cmp -s - "$file"; then
        echo "not formatted: $file (scripts/check-format.sh --fix rewrites it)"
        status=1
    fi
done < <(find core motbox motbox-delta tests bench examples python \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
exit $status
