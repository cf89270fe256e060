#!/bin/bash
# Submits a sharded matrix study: the job array of matrix-array.sbatch, then
# merge.sbatch, which starts only when every array task has ended with status
# 0 (and is cancelled when one fails). Run it from the folder of the maps:
#   SHARDS=8 OUT=run1 path/to/submit.sh [SBATCH OPTION...]
# The study's variables (see matrix-array.sbatch) reach both jobs through the
# environment; sbatch options given here (e.g. --partition=short) go to both.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export SHARDS=${SHARDS:-4}

# --parsable prints "JOBID" or "JOBID;CLUSTER".
array=$(sbatch --parsable --array=1-"$SHARDS" "$@" "$here/matrix-array.sbatch")
array=${array%%;*}
merge=$(sbatch --parsable --dependency=afterok:"$array" --kill-on-invalid-dep=yes "$@" \
        "$here/merge.sbatch")
merge=${merge%%;*}
echo "array job: $array"
echo "merge job: $merge"
