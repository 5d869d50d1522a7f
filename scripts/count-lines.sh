#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Prints the size of the test code beside the other code: C++ lines of the tracked files (*.cpp, *.h)
# that are neither blank nor only a // comment, tests being the files under tests/ and fuzz/.
# Usage: scripts/count-lines.sh [GIT-REVISION]   (the working tree's tracked files by default)
set -euo pipefail
cd "$(dirname "$0")/.."
revision=${1:-}

list_files() {
  if [ -n "$revision" ]; then git ls-tree -r --name-only "$revision"; else git ls-files; fi
}
show_file() {
  if [ -n "$revision" ]; then git show "$revision:$1"; else cat "$1"; fi
}

# Blank lines and lines that hold only a // comment do not count.
count_code_lines() {
  grep -cvE '^[[:space:]]*(//.*)?$' || true
}

tests=0; other=0
while IFS= read -r file; do
  case "$file" in *.cpp|*.h) ;; *) continue ;; esac
  lines=$(show_file "$file" | count_code_lines)
  case "$file" in tests/*|fuzz/*) tests=$((tests + lines)) ;; *) other=$((other + lines)) ;; esac
done < <(list_files)

total=$((tests + other))
echo "tests (tests/, fuzz/): $tests lines"
echo "other C++:             $other lines"
awk -v t="$tests" -v o="$other" -v a="$total" 'BEGIN {
  printf "tests / all:   %.1f%%\n", 100 * t / a
  printf "tests / other: %.1f%% (at most 50%%: %d lines)\n", 100 * t / o, o / 2
}'
