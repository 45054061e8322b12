#!/usr/bin/env bash
# The whole page, as served from the build tree, fits in 3 MB.
#   page_size.sh BUILD_WEB
set -euo pipefail
dir=$1
files=("$dir"/index.html "$dir"/page.js "$dir"/morvane.js "$dir"/morvane.wasm "$dir"/chiptune3/*.js)
bytes=$(cat "${files[@]}" | wc -c)
limit=$((3 * 1024 * 1024))
if [ "$bytes" -gt "$limit" ]; then
  echo "FAIL: the page is $bytes bytes, more than $limit" >&2
  exit 1
fi
echo "the page is $bytes bytes"
