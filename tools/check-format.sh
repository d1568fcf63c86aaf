#!/usr/bin/env bash
# Checks that the lines changed since the branch left main (or, on main itself,
# in the last commit) follow .clang-format. Lines nobody touched are left
# alone, so older files need not be reformatted first.
set -euo pipefail
cd "$(dirname "$0")/.."
head=$(git rev-parse HEAD)
base=""
for ref in main origin/main; do
  if git rev-parse -q --verify "$ref^{commit}" >/dev/null; then
    base=$(git merge-base HEAD "$ref" || true)
    break
  fi
done
if [ -z "$base" ] || [ "$base" = "$head" ]; then
  base=$(git rev-parse -q --verify 'HEAD~1^{commit}' || true)
fi
if [ -z "$base" ]; then
  echo "format check: no earlier commit to compare with"
  exit 0
fi
out=$(git clang-format --diff --extensions c,cc,cpp,h,hpp "$base" -- 2>&1)
if grep -q '^diff ' <<<"$out"; then
  echo "$out"
  echo "format check: the lines above differ from .clang-format (fix: git clang-format $base)"
  exit 1
fi
echo "format check: lines changed since $(git rev-parse --short "$base") are formatted"
