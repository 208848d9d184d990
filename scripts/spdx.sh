#!/usr/bin/env bash
# Puts the licence line "SPDX-License-Identifier: GPL-3.0-or-later" at the head of every tracked
# source file that has none: C and C++ sources and headers (// comment), CMake files, shell
# scripts and Python (#), Lua (--). It goes after a "#!" line where there is one. A file that
# already names a licence in its first lines is left as it is, so running it again changes
# nothing.
#
#   bash scripts/spdx.sh           add the line where it is missing, naming each file changed
#   bash scripts/spdx.sh --check   name the files without it; exit 1 if there are any
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

licence="SPDX-License-Identifier: GPL-3.0-or-later"

check=0
case "${1-}" in
    "") ;;
    --check) check=1 ;;
    *) echo "usage: spdx.sh [--check]" >&2; exit 2 ;;
esac

# The comment that opens the licence line in FILE, or nothing for a file that is not source.
comment_for() {
    local file=$1 first=
    case "$file" in
        *.c | *.cc | *.cpp | *.cxx | *.h | *.hh | *.hpp | *.h.in) echo "//"; return ;;
        CMakeLists.txt | */CMakeLists.txt | *.cmake | *.cmake.in) echo "#"; return ;;
        *.sh | *.bash | *.py) echo "#"; return ;;
        *.lua) echo "--"; return ;;
    esac
    # Scripts without an extension (.ci/run) are known by their "#!" line.
    IFS= read -r first <"$file" || true
    case "$first" in
        '#!'*sh | '#!'*sh\ * | '#!'*python*) echo "#" ;;
        '#!'*lua*) echo "--" ;;
    esac
}

missing=0
while IFS= read -r -d '' file; do
    [[ -f $file && ! -L $file ]] || continue
    comment=$(comment_for "$file")
    [[ -n $comment ]] || continue
    # Any licence named near the head counts, so that a file taken in under another licence
    # keeps its own.
    [[ $(head -n 5 "$file") == *SPDX-License-Identifier:* ]] && continue
    missing=$((missing + 1))
    if ((check)); then
        echo "$file"
        continue
    fi
    line="$comment $licence"
    tmp=$(mktemp "$file.spdx.XXXXXX")
    first=
    IFS= read -r first <"$file" || true
    if [[ $first == '#!'* ]]; then
        { printf '%s\n%s\n' "$first" "$line"; tail -n +2 "$file"; } >"$tmp"
    else
        { printf '%s\n' "$line"; cat "$file"; } >"$tmp"
    fi
    chmod --reference="$file" "$tmp"
    mv "$tmp" "$file"
    echo "spdx.sh: $file"
done < <(git ls-files -z)

if ((check)); then
    if ((missing > 0)); then
        echo "spdx.sh: $missing files without \"$licence\"" >&2
        exit 1
    fi
    exit 0
fi
echo "spdx.sh: added the licence line to $missing files"
