#pragma once
// The journal of a population matrix or sequence run, beside its report: the
// settings and the fingerprints of the inputs the report is made with and,
// while the paths of one pair or segment reach the corridor map, that item
// and the counts its cells had before. Beside it, the row digests: one per
// report row, written before the row. A run killed at any moment can then be
// continued (--resume), and shards merged, only from rows and inputs that
// are checked to be those of the run: edited, removed, duplicated or
// reordered rows and changed inputs are refused.
#include "analysis/AnalysisSettings.h"
#include "analysis/MapSet.h"
#include "paths/Corridor.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stravex {

class tReportFile;

// "key\tvalue" lines of everything a report's rows depend on: the settings
// that reach the report or the corridor map, the maps of each role by file
// name with the fingerprints of their documentation and cells, and the data
// file by name and fingerprint. Folders are left out: shards computed in
// different folders from identical inputs are of one run.
std::vector<std::string> RunSettingsLines(const TAnalysisSettings& settings, const tMapSet& maps,
                                          const std::string& dataFile, const tRaster* friction);
// "key\tabsolute path" of every input, kept in the journal as information only.
std::vector<std::string> RunInputPaths(const tMapSet& maps, const std::string& dataFile,
                                       const tRaster* friction);

// What an interrupted report holds: its header line is checked against the
// run's; the rows are the whole CR LF lines after it.
struct tKeptReport {
  uint64_t Rows = 0;
  uint64_t Bytes = 0;  // header and whole rows; 0 when the header is still to be written
  std::string LastRow; // empty without rows
  std::vector<uint64_t> RowDigests;
};
// EInOutError naming the report when its header is not the run's. A report
// that holds no more than the start of the run's header (a run killed between
// creating it and writing its first line) keeps nothing: Bytes 0.
tKeptReport ReadKeptReport(const std::string& reportPath, const std::string& header);

class tRunJournal {
public:
  // reportPath: the run's report; the journal is that path with ".journal"
  // in place of ".txt", the row digests with ".digests".
  tRunJournal(const std::string& reportPath, std::vector<std::string> settings,
              std::vector<std::string> inputPaths = {});
  ~tRunJournal();
  const std::string& Path() const { return fPath; }
  const std::string& DigestsPath() const { return fDigestsPath; }

  // A fresh run: the settings, nothing pending, no row.
  void Begin();
  // A resumed run: reads the journal and its row digests and checks the
  // settings against this run's. EInOutError naming the journal when it is
  // missing, unreadable or of an earlier version, or naming the first
  // setting or input that differs, with both values.
  void Load();
  // A resumed run: the kept rows must be the rows recorded, in order.
  // EInOutError naming the report and the first row that differs.
  void CheckKeptRows(const std::string& reportPath, const tKeptReport& kept) const;
  // A resumed run: the row digests go on after the first `rows`.
  void ContinueDigests(uint64_t rows);

  // Before a row reaches the report.
  void BeforeRow(std::string_view row);

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
  // EInOutError naming the journal when it is missing, unreadable, of an
  // earlier version or not a whole journal.
  static tContents Read(const std::string& path);
  // The row digests beside a journal, in row order; a cut last line is left
  // out. EInOutError naming the file when it is missing or not row digests.
  static std::vector<uint64_t> ReadDigests(const std::string& path);
  static std::string DigestsPathOf(const std::string& journalPath);

private:
  void Write() const;

  std::string fPath, fDigestsPath;
  std::vector<std::string> fSettings, fInputPaths;
  std::vector<uint64_t> fRecorded; // a resumed run's row digests
  std::unique_ptr<tReportFile> fDigests;
  std::optional<uint64_t> fPending;
  std::vector<tCorridorMap::tCellCount> fCells;
  std::optional<uint64_t> fFirstCorridorRow;
  std::optional<uint64_t> fCompleteRows;
  std::vector<std::string> fLogLines;
};

// The first row (0-based) of `rows` that is not `recorded` at its place;
// nullopt when every row is. Rows beyond the recorded ones differ.
std::optional<uint64_t> FirstDifferentRow(const std::vector<uint64_t>& rows,
                                          const std::vector<uint64_t>& recorded);

// How two "key\tvalue" lines of journals differ, for a refusal: an input of
// the same name with other contents names its fingerprints.
struct tSettingDifference {
  std::string Key;
  std::string Was, Now;     // the values, "(none)" for a missing line
  std::string ChangedInput; // "friction map friction": same name, other contents
  std::string WasPrint, NowPrint;
};
std::optional<tSettingDifference> FirstDifference(const std::vector<std::string>& was,
                                                  const std::vector<std::string>& now);

} // namespace stravex
