#include "RunController.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

namespace stravex::gui {

namespace {

// Lives on the worker: turns the core's calls into the controller's signals.
class tQueuedReporter : public tReporter {
public:
  explicit tQueuedReporter(tRunController& c) : fC(c) {}
  void Log(const std::string& line) override { emit fC.LogLine(QString::fromStdString(line)); }
  void TaskLabel(const std::string& label) override {
    emit fC.TaskLabel(QString::fromStdString(label));
  }
  void Progress(int percent) override { emit fC.Progress(percent); }
  void Items(uint64_t done, uint64_t total) override { emit fC.Items(done, total); }
  bool CancelRequested() override { return fC.CancelPending(); }
  void Warning(const std::string& message) override {
    emit fC.Message(false, QString::fromStdString(message));
  }
  void ErrorBox(const std::string& message) override {
    emit fC.Message(true, QString::fromStdString(message));
  }

private:
  tRunController& fC;
};

} // namespace

tRunController::tRunController(tMapSet& maps, const tLocationSequence& sequence,
                               tRandomGenerator& random, QObject* parent)
    : QObject(parent), fMaps(maps), fSequence(sequence), fRandom(random) {}

tRunController::~tRunController() {
  if (fWorker.joinable()) {
    fFlags.RequestCancel();
    WaitForEnd();
  }
}

bool tRunController::Start(tRunInput input) {
  if (fFlags.Busy.load() || fWorker.joinable()) return false;
  fInput = std::move(input);
  fEnd = tRunEnd{};
  fFlags.CancelRequested = false;
  fFlags.Busy = true;
  fWorker = std::thread([this] {
    tQueuedReporter reporter(*this);
    const tRunEnd end = ExecuteRun(fInput, fMaps, fSequence, fRandom, reporter, fFlags);
    // Queued behind the run's last log line.
    QMetaObject::invokeMethod(
        this,
        [this, end] {
          fEnd = end;
          Joined();
        },
        Qt::QueuedConnection);
  });
  return true;
}

void tRunController::Joined() {
  if (fWorker.joinable()) fWorker.join();
  fFlags.Busy = false;
  fFlags.CancelRequested = false;
  emit Finished();
}

void tRunController::WaitForEnd() {
  if (!fWorker.joinable()) return;
  if (QThread::currentThread() != thread()) return;
  QEventLoop loop;
  connect(this, &tRunController::Finished, &loop, &QEventLoop::quit);
  // Finished may already be queued; the loop delivers it.
  if (fWorker.joinable()) loop.exec();
}

} // namespace stravex::gui
