#!/usr/bin/env bash
# Code checks: layout (clang-format) and static analysis (clang-tidy) of an
# already configured build.
#   scripts/stages/checks.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
scripts/install-deps.sh clang-format clang-tidy
scripts/check-format.sh
scripts/check-tidy.sh "$build"
