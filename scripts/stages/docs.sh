#!/usr/bin/env bash
# The documentation's runnable blocks, from a fresh copy of the tree.
#   scripts/stages/docs.sh   (takes no build folder: the blocks make their own)
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh build-essential cmake dmidecode lshw \
  python3-venv python3-pip python3-setuptools python3-wheel \
  mono-mcs mono-runtime default-jdk-headless libjna-java
# Debian's nodejs and npm; a machine with a node and npm of its own keeps them.
command -v node >/dev/null && command -v npm >/dev/null || scripts/install-deps.sh nodejs npm
# The blocks use the tools of the Debian the documents describe, before any
# a developer's PATH puts first (pyenv's python3, say).
PATH=/usr/bin:/bin:$PATH scripts/check-docs.sh
