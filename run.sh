#!/usr/bin/env bash
# Installs what is missing, builds the release configuration, lays out a runnable installation
# in build/stage/ and starts zarntool there with the given arguments.
#
# The build seeds the stage's conf/zarntool.ini and conf/policytable.conf (from the factory copy)
# on its first layout only: a table saved by the program, or a file removed on purpose, is left
# as it is by later runs.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
if [ -e build/stage ] && [ ! -L build/stage ]; then
  echo "build/stage exists and is not the link to the release stage; remove it first" >&2
  exit 1
fi
ln -sfn release/stage build/stage
exec build/stage/zarntool "$@"
