#!/bin/sh
# Trains both bleed models, time-bounded, one process per model with one thread each, at low
# priority, then evaluates them. On a machine to ourselves both shapes train in parallel (one per
# core); with SEQUENTIAL_UNTIL=HH:MM the models take turns until that time and run side by side
# afterwards. Every stage resumes from the checkpoints in RUNS when started again; INIT_FULL and
# INIT_ECO start a new run from the models of earlier checkpoints (a fresh optimiser and schedule).
#
#   END=20:25 tools/train/run_training.sh
#   FULL_UNTIL=17:40 ECO_UNTIL=18:00 END=18:08 SEQUENTIAL_UNTIL=18:00 tools/train/run_training.sh
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
DATA=${DATA:-/work/train-data}
RUNS=${RUNS:-/work/train-runs}
END=${END:?END=HH:MM (UTC) is when training stops}
PY="nice -n 15 /usr/bin/python3"
mkdir -p "$RUNS/full" "$RUNS/eco"

if [ -n "${SEQUENTIAL_UNTIL:-}" ]; then
    $PY "$HERE/train.py" --shape full --data "$DATA" --run-dir "$RUNS/full" --deadline "${FULL_UNTIL:?}"
    $PY "$HERE/train.py" --shape eco --data "$DATA" --run-dir "$RUNS/eco" --deadline "${ECO_UNTIL:?}"
fi
$PY "$HERE/train.py" --shape full --data "$DATA" --run-dir "$RUNS/full" --deadline "$END" \
    ${INIT_FULL:+--init "$INIT_FULL"} &
full=$!
$PY "$HERE/train.py" --shape eco --data "$DATA" --run-dir "$RUNS/eco" --deadline "$END" \
    ${INIT_ECO:+--init "$INIT_ECO"} &
eco=$!
wait $full
wait $eco

$PY "$HERE/evaluate" --data "$DATA" --split valid --full "$RUNS/full/big_base_s1.bin" \
    --eco "$RUNS/eco/gig_eco_v2.bin" --json "$RUNS/evaluation-valid.json" > "$RUNS/evaluation-valid.md"
echo "evaluation written to $RUNS/evaluation-valid.md"
$PY "$HERE/evaluate" --data "$DATA" --split eval --count "${EVAL_COUNT:-24}" --full "$RUNS/full/big_base_s1.bin" \
    --eco "$RUNS/eco/gig_eco_v2.bin" --json "$RUNS/evaluation-eval.json" > "$RUNS/evaluation-eval.md"
echo "evaluation written to $RUNS/evaluation-eval.md"
$PY "$HERE/chain_loss.py" --data "$DATA" --split valid --full "$RUNS/full/big_base_s1.bin" \
    --eco "$RUNS/eco/gig_eco_v2.bin" --ceilings > "$RUNS/ceilings-valid.md"
echo "spectral-stage ceilings written to $RUNS/ceilings-valid.md"
