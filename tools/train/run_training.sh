#!/bin/sh
# Trains both bleed models for the step totals of recipe.json (40,500 steps full, 48,000 ECO), one
# process per model with one thread each, at low priority, then evaluates them. On a machine to
# ourselves both shapes train in parallel (one per core); with SEQUENTIAL=1 the full model runs to
# its end first, then the ECO model. The step count fixes the run, so the same seeds give the same
# models on any machine; END=HH:MM (UTC) only stops early: every model checkpoints where it is and
# the same command continues it later, to the same result. INIT_FULL and INIT_ECO start a new run
# from the models of earlier checkpoints or, given a .bin, from a model blob such as a shipped
# model (a fresh optimiser and schedule). RECIPE picks another recipe; DATA must hold its data.
#
#   tools/train/run_training.sh
#   END=20:25 tools/train/run_training.sh        # stop early at 20:25, run again to continue
#   SEQUENTIAL=1 tools/train/run_training.sh
#   RECIPE=tools/train/recipe-sung.json DATA=/work/train-data3 RUNS=/work/train-runs3 \
#     INIT_FULL=resources/models/big_base_s1.bin INIT_ECO=resources/models/gig_eco_v2.bin \
#     tools/train/run_training.sh
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
DATA=${DATA:-/work/train-data}
RUNS=${RUNS:-/work/train-runs}
PY="nice -n 15 /usr/bin/python3"
mkdir -p "$RUNS/full" "$RUNS/eco"

train() {
    shape=$1
    init=$2
    case "$init" in
    *.bin) init_flag=--init-blob ;;
    *) init_flag=--init ;;
    esac
    $PY "$HERE/train.py" --shape "$shape" --data "$DATA" --run-dir "$RUNS/$shape" \
        ${RECIPE:+--recipe "$RECIPE"} ${END:+--deadline "$END"} ${init:+$init_flag "$init"}
}

if [ -n "${SEQUENTIAL:-}" ]; then
    train full "${INIT_FULL:-}"
    train eco "${INIT_ECO:-}"
else
    train full "${INIT_FULL:-}" &
    full=$!
    train eco "${INIT_ECO:-}" &
    eco=$!
    wait $full
    wait $eco
fi

# Evaluate only finished runs: an early stop leaves no last_*.bin behind.
if [ ! -f "$RUNS/full/last_big_base_s1.bin" ] || [ ! -f "$RUNS/eco/last_gig_eco_v2.bin" ]; then
    echo "training stopped before the end of its steps; run again to continue"
    exit 0
fi
$PY "$HERE/evaluate" --data "$DATA" --split valid --full "$RUNS/full/big_base_s1.bin" \
    --eco "$RUNS/eco/gig_eco_v2.bin" --json "$RUNS/evaluation-valid.json" > "$RUNS/evaluation-valid.md"
echo "evaluation written to $RUNS/evaluation-valid.md"
$PY "$HERE/evaluate" --data "$DATA" --split eval --count "${EVAL_COUNT:-24}" --full "$RUNS/full/big_base_s1.bin" \
    --eco "$RUNS/eco/gig_eco_v2.bin" --json "$RUNS/evaluation-eval.json" > "$RUNS/evaluation-eval.md"
echo "evaluation written to $RUNS/evaluation-eval.md"
if [ -d "$DATA/eval-sung" ]; then
    $PY "$HERE/evaluate" --data "$DATA" --split eval-sung --full "$RUNS/full/big_base_s1.bin" \
        --eco "$RUNS/eco/gig_eco_v2.bin" --json "$RUNS/evaluation-eval-sung.json" > "$RUNS/evaluation-eval-sung.md"
    echo "evaluation written to $RUNS/evaluation-eval-sung.md"
fi
$PY "$HERE/chain_loss.py" --data "$DATA" --split valid --full "$RUNS/full/big_base_s1.bin" \
    --eco "$RUNS/eco/gig_eco_v2.bin" --ceilings > "$RUNS/ceilings-valid.md"
echo "spectral-stage ceilings written to $RUNS/ceilings-valid.md"
