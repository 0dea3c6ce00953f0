#!/usr/bin/env bash
# Fails when clang-format would change any C++ file of the project (the repo's .clang-format).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
status=0
while IFS= read -r -d '' file; do
    if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
        echo "needs clang-format -i: $file" >&2
        status=1
    fi
done < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h')
if [ "$status" -eq 0 ]; then
    echo "clang-format: every C++ file is formatted"
fi
exit "$status"
