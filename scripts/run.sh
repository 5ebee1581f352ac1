#!/usr/bin/env bash
# Starts Tandor File, or explains how to run it when there is no display.
set -euo pipefail
program="$1"; shift || true
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'TXT'
There is no display to show the Tandor File window on.
Run it under a virtual X server:     xvfb-run -a make run
or without any window system:        QT_QPA_PLATFORM=offscreen make run
TXT
  exit 1
fi
exec "$program" "$@"
