#!/usr/bin/env bash
# Formats Quillo's tracked C++ sources in place with the project's .clang-format.
#   scripts/format.sh            reformat every tracked .cpp and .h file
#   scripts/format.sh --check    change nothing; list the files that would change
#                                and exit 1 if there are any
set -euo pipefail

cd "$(dirname "$0")/.."

check=false
case "${1:-}" in
    "") ;;
    --check) check=true ;;
    *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

# The configuration is written for clang-format 14: later versions read some
# options differently and would churn the tree.
formatter=
for candidate in clang-format-14 clang-format; do
    if command -v "$candidate" > /dev/null && "$candidate" --version | grep -q 'version 14\.'; then
        formatter=$candidate
        break
    fi
done

if [ -z "$formatter" ]; then
    echo "$0: clang-format 14 not found (Debian package clang-format-14)" >&2
    exit 2
fi

mapfile -t files < <(git ls-files -- '*.cpp' '*.h')

if ! $check; then
    "$formatter" --style=file -i -- "${files[@]}"
    exit 0
fi

changed=0
for file in "${files[@]}"; do
    if ! "$formatter" --style=file -- "$file" | cmp -s -- "$file" -; then
        echo "$file"
        changed=1
    fi
done
exit $changed
