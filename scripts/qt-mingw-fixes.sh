#!/usr/bin/env bash
# Source fixes Qt 6.4.2 needs to build for Windows with OpenGL and Direct2D
# off. Each is applied once; running again changes nothing.
set -euo pipefail
src="$1"
