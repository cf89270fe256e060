#pragma once
// Puts the shards of one population matrix or sequence run back together:
// the report and the corridor map a one-machine run with the same settings
// writes, byte for byte.
#include "analysis/Analyses.h"
#include "base/Reporter.h"

#include <string>
#include <vector>

namespace stravex {

// shardReports: the N reports PROJECT-MatrixAnalysis-shard-K-of-N.txt (or
// -SequenceAnalysis-) of one run, in any order; each journal and corridor
// shard is found beside its report. Checks that every shard 1..N is there
// once, finished, made with the same settings and header, then writes in
// workDir (empty: the current folder) PROJECT-MatrixAnalysis.txt and the
// corridor map (counts added, held at 32767 with one warning) and, when
// logPath is given, the run's log; the log lines also go to reporter.Log.
// Every shard's rows are checked against the digests its journal recorded.
// EInOutError with a message that says what is wrong; every output is
// checked before anything is written and the files are renamed in only once
// all are complete, so that a refused or failed merge changes no file and
// creates none.
std::vector<tWrittenFile> MergeShards(const std::vector<std::string>& shardReports,
                                      const std::string& workDir, tReporter& reporter,
                                      const std::string& logPath = {});

} // namespace stravex
