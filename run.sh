#!/usr/bin/env bash
# Runs the system.  The programs are being built one by one; until the
# supervisor exists there is nothing to start as a whole.
set -euo pipefail
echo "The runnable system is not built yet: no supervisor (qx_ctrl) exists so far." >&2
exit 1
