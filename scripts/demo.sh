#!/usr/bin/env bash
# Builds the server, creates a demo BBS installation in demo/ (once) and runs
# the server there in console mode. Ctrl+C stops it in order.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
port="${OSPRINE_DEMO_PORT:-2525}"
if [ ! -f demo/SYSPATHS.CFG ]; then
  build/bin/osprine-mkbbs demo --port "$port" --users 12 --system-id bbs.example --esmtp
fi
cd demo
export OSPRINE_HEADLESS="${OSPRINE_HEADLESS:-1}"
exec ../build/bin/osprine
