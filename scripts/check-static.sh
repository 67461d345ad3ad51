#!/usr/bin/env bash
# Static checks that need no build tree: the Windows adapter branch compiles for 32-bit Windows,
# and every source is clang-format clean.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

for f in $(git ls-files 'link/*_win32.cpp' 'app/settings/*_win32.cpp'); do
  echo "i686-w64-mingw32-g++ -fsyntax-only $f"
  i686-w64-mingw32-g++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -Ilink -Iapp/settings "$f"
done

files=$(git ls-files '*.cpp' '*.h' | grep -v '^res/')
if [[ -n $files ]]; then
  clang-format --dry-run --Werror $files
  echo "clang-format: clean"
fi
