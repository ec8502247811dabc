#!/bin/sh
# Runs the browser tests against the built host program:
#   run-tests.sh HOST_PROGRAM PLUG_IN
# Without node, Chromium or the npm packages (npm ci here) the tests are
# skipped with status 77, unless NI_USB_DAQ_REQUIRE_BROWSER=1 makes that a failure.
here=$(cd "$(dirname "$0")" && pwd)
chromium=${NI_USB_DAQ_CHROMIUM:-/usr/bin/chromium}
missing=""
command -v node >/dev/null 2>&1 || missing="$missing node"
[ -x "$chromium" ] || missing="$missing $chromium"
[ -f "$here/node_modules/playwright-core/package.json" ] || missing="$missing node_modules (npm ci in $here)"
if [ -n "$missing" ]; then
  if [ "${NI_USB_DAQ_REQUIRE_BROWSER:-0}" = 1 ]; then
    echo "browser tests cannot run, missing:$missing" >&2
    exit 1
  fi
  echo "browser tests skipped, missing:$missing"
  exit 77
fi
export NI_USB_DAQ_HOST_PATH="$1" NI_USB_DAQ_PLUGIN_PATH="$2" NI_USB_DAQ_CHROMIUM="$chromium"
cd "$here" && exec node --test page.test.mjs view.test.mjs
