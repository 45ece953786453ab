#!/usr/bin/env bash
# Fails when a C++ file of the tree drifts from .clang-format, naming each file and the first lines
# that differ. The tree is formatted with Debian 12's clang-format (14); another version may disagree.
#   check-format.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 2
command -v clang-format >/dev/null || { echo "clang-format is not installed" >&2; exit 2; }
mapfile -t files < <(find src plugins service bench tests \( -name '*.cpp' -o -name '*.h' \) -type f | sort)
drift=0
for file in "${files[@]}"; do
    if ! clang-format --dry-run -Werror "$file" >/dev/null 2>&1; then
        drift=$((drift + 1))
        echo "--- $file"
        clang-format "$file" | diff "$file" - | head -n 12
    fi
done
echo "${#files[@]} files checked, $drift not formatted (run: clang-format -i FILE)"
[ "$drift" -eq 0 ]
