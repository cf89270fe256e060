#pragma once
// The journal of a population matrix or sequence run, beside its report: the
// settings and inputs the report is made with and, while the paths of one
// pair or segment reach the corridor map, that item and the counts its cells
// had before. A run killed at any moment can then be continued (--resume):
// the report keeps its whole rows, the corridor map is set back to the
// counts of the last item whose row was written, and the missing items are
// computed as an uninterrupted run would.
#include "AnalysisSettings.h"
#include "Corridor.h"
#include "MapSet.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace stravex {

class tRunJournal {
public:
  // reportPath: the run's report; the journal is that path with ".journal"
  // in place of ".txt".
  tRunJournal(const std::string& reportPath, std::vector<std::string> settings);
  const std::string& Path() const { return fPath; }

  // A fresh run: the settings, nothing pending.
  void Begin();
  // A resumed run: reads the journal and checks its settings against this
  // run's. EInOutError naming the journal when it is missing or unreadable,
  // or naming the first setting that differs, with both values.
  void Load();

  std::optional<uint64_t> PendingItem() const { return fPending; }
  const std::vector<tCorridorMap::tCellCount>& PendingCells() const { return fCells; }

  // Before the paths of item k reach the corridor map: k and the counts the
  // cells they cross have now.
  void BeforeCorridor(uint64_t item, const std::vector<tCorridorMap::tCellCount>& cells);

  // Sharded runs. The report row (numbered as in the whole run) whose paths
  // are the first to reach the corridor map: it fixes the map's display
  // range. Recorded once, before those paths are added.
  std::optional<uint64_t> FirstCorridorRow() const { return fFirstCorridorRow; }
  void NoteFirstCorridorRow(uint64_t row);
  // The run ended with all its rows: their number and the log's lines.
  void Complete(uint64_t rows, const std::vector<std::string>& logLines);

  // What a journal holds, for the merge of shards.
  struct tContents {
    std::vector<std::string> Settings;
    std::optional<uint64_t> FirstCorridorRow;
    std::optional<uint64_t> CompleteRows; // set once the run ended with all its rows
    std::vector<std::string> LogLines;
  };
  // EInOutError naming the journal when it is missing, unreadable or not
  // a whole journal.
  static tContents Read(const std::string& path);

private:
  void Write() const;

  std::string fPath;
  std::vector<std::string> fSettings;
  std::optional<uint64_t> fPending;
  std::vector<tCorridorMap::tCellCount> fCells;
  std::optional<uint64_t> fFirstCorridorRow;
  std::optional<uint64_t> fCompleteRows;
  std::vector<std::string> fLogLines;
};

// "key\tvalue" lines of everything a report's rows depend on: the settings
// that reach the report or the corridor map, the maps of each role and a
// fingerprint of their documentation files and images, and of the data file.
std::vector<std::string> RunSettingsLines(const TAnalysisSettings& settings, const tMapSet& maps,
                                          const std::string& dataFile, const tRaster* friction);

// What an interrupted report holds: its header line is checked against the
// run's; the rows are the whole CR LF lines after it.
struct tKeptReport {
  uint64_t Rows = 0;
  uint64_t Bytes = 0;  // header and whole rows
  std::string LastRow; // empty without rows
};
// EInOutError naming the report when its header is not the run's.
tKeptReport ReadKeptReport(const std::string& reportPath, const std::string& header);

} // namespace stravex
