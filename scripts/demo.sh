#!/usr/bin/env bash
# Sets the machine up, builds Vokari, and runs the main job.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
"$here/setup.sh" --build-dir "$top/build"
exec "$top/build/bin/vokari-cli" --version
