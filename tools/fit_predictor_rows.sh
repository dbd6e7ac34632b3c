#!/usr/bin/env bash
# Fits the byte predictor's probability rows and writes them to
# src/coding/predictor_rows.h: builds the training corpus from pinned Debian
# 12 packages (tools/make_training_corpus.sh, every piece checked against
# tools/training.sha256), then runs tools/predictor_rows over it. The same
# corpus gives the same header on any machine; it takes about 30 minutes on
# two cores. The rows are part of the compressed format: new rows change
# every archive, and the frozen-format tests will say so.
#
# Usage: tools/fit_predictor_rows.sh [predictor_rows options, e.g. --keep-preset 3]
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/make_training_corpus.sh tools/training
cmake --preset release >/dev/null
cmake --build --preset release --target predictor_rows >/dev/null
t=tools/training
build/release/predictor_rows "$@" $t/manuals.txt $t/python.txt $t/code.dat $t/fonts.dat \
  $t/sounds.dat $t/tree.dat >src/coding/predictor_rows.h.new
mv src/coding/predictor_rows.h.new src/coding/predictor_rows.h
echo "wrote src/coding/predictor_rows.h"
