#!/usr/bin/env bash
# Sets everything up, builds the launcher and runs the whole test suite.
# The test build names hosts under ".test", which never resolve: the tests route every request
# through a community server of their own on 127.0.0.1.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$top/build"

bash "$top/tools/setup.sh"
bash "$top/tools/check-format.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESTRAHAL_WERROR=ON \
    -DVESTRAHAL_WEB_DOMAIN=vestrahal.test \
    -DVESTRAHAL_LOGON_HOST=logon.vestrahal.test \
    -DVESTRAHAL_OFFICIAL_LOGON_HOST=logon.officiel.test \
    -DVESTRAHAL_PARTNER_LOGON_HOST=logon.brontavale.test
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure
# The same code again under the sanitizers, and the fuzz targets' short runs.
bash "$top/tools/run-sanitized-tests.sh"
