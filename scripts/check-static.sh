#!/usr/bin/env bash
# Static checks: the Windows adapter branch compiles for 32-bit Windows, every source is
# clang-format clean, and cppcheck and clang-tidy (the checks in .clang-tidy) find nothing in the
# production sources (link/, image/, settings/, texts/, flash/, app/, cli/).
#
#   scripts/check-static.sh [BUILD_TREE]
#
# BUILD_TREE is a clang build tree whose compile_commands.json clang-tidy reads (the CI passes its
# sanitizer tree, already built). Without it, or when it is not a clang tree, build/tidy is
# configured with clang++ and only its generated sources are built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

for f in $(git ls-files 'link/*_win32.cpp' 'settings/*_win32.cpp'); do
  echo "i686-w64-mingw32-g++ -fsyntax-only $f"
  i686-w64-mingw32-g++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I. "$f"
done

files=$(git ls-files '*.cpp' '*.h' | grep -v '^res/')
if [[ -n $files ]]; then
  clang-format --dry-run --Werror $files
  echo "clang-format: clean"
fi

# Our sources; the Windows branch is checked above and by cppcheck, not by clang-tidy.
production='link image settings texts flash app cli'
mapfile -t sources < <(for d in $production; do git ls-files "$d/*.cpp"; done)
if [[ ${#sources[@]} -eq 0 ]]; then
  exit 0
fi
# Includes are written from the project root.
includes=(-I.)

# Suppressions, each with its reason, are inline (cppcheck-suppress) next to the code concerned.
echo "cppcheck: ${#sources[@]} files"
cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr \
  --std=c++20 --language=c++ --library=posix --library=qt -j "$jobs" -q \
  "${includes[@]}" "${sources[@]}"
echo "cppcheck: clean"

tree=${1:-}
is_clang_tree() {
  [[ -f $1/compile_commands.json && -f $1/CMakeCache.txt ]] &&
    grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' "$1/CMakeCache.txt"
}
if [[ -z $tree ]] || ! is_clang_tree "$tree"; then
  [[ -n $tree ]] && echo "clang-tidy: $tree is not a configured clang tree; using build/tidy"
  tree=build/tidy
  cmake -S . -B "$tree" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=OFF >/dev/null
  # Sources that include moc or uic output need it generated.
  mapfile -t generated < <(ninja -C "$tree" -t targets all | grep -o '^[A-Za-z0-9_]*_autogen' |
    sort -u)
  if [[ ${#generated[@]} -gt 0 ]]; then
    cmake --build "$tree" -j "$jobs" --target "${generated[@]}" >/dev/null
  fi
fi

# Only the sources the tree compiles (a platform's other branch is not in it).
compiled=$(grep -o '"file": *"[^"]*"' "$tree/compile_commands.json" | sed 's/.*"\([^"]*\)"$/\1/' |
  sort -u)
here=$(pwd -P)  # the tree names sources by their physical paths
tidy_sources=()
for f in "${sources[@]}"; do
  if grep -qxF "$here/$f" <<<"$compiled"; then
    tidy_sources+=("$f")
  fi
done
echo "clang-tidy: ${#tidy_sources[@]} files, tree $tree"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
printf '%s\n' "${tidy_sources[@]}" |
  xargs -P "$jobs" -n 4 clang-tidy -p "$tree" --quiet \
    --header-filter="^$here/(${production// /|})/" >"$log" 2>&1 || status=$?
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log" || true
if [[ $status -ne 0 ]]; then
  echo "clang-tidy: findings above"
  exit 1
fi
echo "clang-tidy: clean"
