#!/usr/bin/env bash
# The documentation's runnable blocks, from a fresh copy of the tree.
#   scripts/stages/docs.sh   (takes no build folder: the blocks make their own)
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh build-essential cmake dmidecode lshw mono-mcs mono-runtime default-jdk-headless libjna-java
scripts/check-docs.sh
