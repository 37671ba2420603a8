#!/usr/bin/env bash
# Installs what is missing, builds the release configuration, lays out a runnable installation
# in build/stage/ and starts zarntool there with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
stage=build/release/stage
rm -rf build/stage
ln -sfn release/stage build/stage
# The policy table file belongs to the user once it exists: seed it only on first layout.
if [ ! -e "$stage/conf/policytable.conf" ]; then
  cp "$stage/conf/policytable.conf.default" "$stage/conf/policytable.conf"
fi
exec "$stage/zarntool" "$@"
