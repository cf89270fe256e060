#pragma once
// Sharded runs: a population matrix or sequence run split into N shards that
// each compute every N-th report row (rows r, 0-based in report order, with
// r mod N = K - 1), so that long and short pairs spread evenly. A job array
// of a cluster runs one shard per task; MergeShards puts them back together.
#include <cstdint>
#include <functional>
#include <string>

namespace stravex {

struct tShard {
  int32_t Index = 1; // K, 1..Count
  int32_t Count = 1; // N
  bool Holds(uint64_t row) const {
    return row % static_cast<uint64_t>(Count) == static_cast<uint64_t>(Index - 1);
  }
  bool operator==(const tShard&) const = default;
};

// The job-array variables that give a task's index, in the order they are
// read: Slurm, PBS Pro, Torque, SGE, LSF.
inline constexpr const char* kTaskIndexVariables[] = {"SLURM_ARRAY_TASK_ID", "PBS_ARRAY_INDEX",
                                                      "PBS_ARRAYID", "SGE_TASK_ID", "LSB_JOBINDEX"};

// "K/N", or "auto/N" with K from the first job-array variable that is set.
// EConvertError for another form, ERangeError for K outside 1..N or N
// outside 1..1000000; messages name the text or the variable.
using tGetEnv = std::function<const char*(const char*)>;
tShard ParseShard(const std::string& text, const tGetEnv& getEnv);

// "-shard-K-of-N".
std::string ShardSuffix(const tShard& shard);
// A report's fixed name with the shard before its extension:
// "MatrixAnalysis.txt" -> "MatrixAnalysis-shard-K-of-N.txt".
std::string ShardReportName(const std::string& fixedName, const tShard& shard);
// A shard's corridor map: the name without a GeoTIFF extension, then the
// suffix; always an IDRISI map (the merge writes the GeoTIFF).
std::string ShardCorridorName(const std::string& corridor, const tShard& shard);

} // namespace stravex
