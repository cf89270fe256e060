#pragma once
// Runs one analysis at a time on a worker thread. Log lines, the task label
// and progress reach the window's thread queued; warning and error boxes
// block the worker until the window has shown them, so the core's "work goes
// on after OK" holds.
#include "CoreRun.h"

#include <QObject>
#include <QString>

#include <memory>
#include <thread>

namespace stravex::gui {

class tRunController : public QObject {
  Q_OBJECT
public:
  tRunController(tMapSet& maps, const tLocationSequence& sequence, tRandomGenerator& random,
                 QObject* parent = nullptr);
  ~tRunController() override;

  // False (and nothing happens) while a run is under way.
  bool Start(tRunInput input);
  // From Start until the window has taken the run's end.
  bool Running() const { return fFlags.Busy.load(); }
  bool CancelPending() const { return fFlags.CancelRequested.load(); }
  // Only while running; true when it took effect.
  bool RequestCancel() { return fFlags.RequestCancel(); }
  // Waits for the running analysis to end, keeping the event loop of the
  // calling (window) thread alive so that boxes raised by the run are served.
  void WaitForEnd();
  const tRunInput& LastInput() const { return fInput; }
  const tRunEnd& LastEnd() const { return fEnd; }

signals:
  void LogLine(const QString& line);
  void TaskLabel(const QString& label);
  void Progress(int percent);
  void Items(quint64 done, quint64 total);
  // Delivered blocking: the worker waits until the slot returns.
  void Message(bool error, const QString& text);
  // On the window's thread, after every queued log line of the run.
  void Finished();

private:
  void Joined();

  tMapSet& fMaps;
  const tLocationSequence& fSequence;
  tRandomGenerator& fRandom;
  tRunFlags fFlags;
  tRunInput fInput;
  tRunEnd fEnd;
  std::thread fWorker;
};

} // namespace stravex::gui
