#!/usr/bin/env bash
# Runs the web panel's browser tests: the system's Chromium, headless, driven by puppeteer-core
# against fadelink-headless and simulated amplifiers on 127.0.27.x, the whole run inside a private
# network namespace that holds nothing but loopback.
#   webtest/run.sh BUILD_DIR        (CTest runs it as web_Panel)
# Exits 77 (CTest: skipped) when Chromium or the npm packages are missing:
#   scripts/setup && (cd webtest && PUPPETEER_SKIP_DOWNLOAD=1 npm ci)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)

if [ -z "${FADELINK_WEBTEST_INSIDE:-}" ]; then
  chromium=${FADELINK_CHROMIUM:-/usr/bin/chromium}
  if [ ! -x "$chromium" ]; then
    echo "web_Panel skipped: no Chromium at $chromium (scripts/setup installs it)"
    exit 77
  fi
  if [ ! -d "$here/node_modules/puppeteer-core" ] || [ ! -d "$here/node_modules/axe-core" ]; then
    echo "web_Panel skipped: npm packages missing (cd webtest && PUPPETEER_SKIP_DOWNLOAD=1 npm ci)"
    exit 77
  fi
  if ! command -v node >/dev/null 2>&1; then
    echo "web_Panel skipped: node not found"
    exit 77
  fi
  for program in "$build/app/fadelink-headless" "$build/tools/ampsim/ampsim"; do
    [ -x "$program" ] || { echo "web_Panel: $program is not built" >&2; exit 1; }
  done
  export FADELINK_WEBTEST_INSIDE=1 FADELINK_CHROMIUM="$chromium" FADELINK_BUILD_DIR="$build"
  exec unshare --net -- "$0" "$@"
fi

# ---- inside the private network namespace ----
ip link set lo up
# An amplifier address that never answers a probe: the panel must show it off-line.
ip route add unreachable 127.0.27.9/32 table local
cd "$here"
exec node --test events.test.mjs panel.test.mjs
