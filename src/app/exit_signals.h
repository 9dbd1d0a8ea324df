#pragma once
// SIGTERM and SIGINT end the agent through its normal exit: the signal handler only writes
// to a pipe, and the event loop reads it and quits.
#include <QObject>

class QSocketNotifier;

namespace perimo {

class ExitSignals : public QObject {
  Q_OBJECT

 public:
  explicit ExitSignals(QObject* parent = nullptr);
  ~ExitSignals() override;

  // A signal arrived; quitting ended only the loops running then (a start-up question's).
  bool requested() const { return requested_; }

 private:
  void OnSignal();
  QSocketNotifier* notifier_ = nullptr;
  bool requested_ = false;
};

}  // namespace perimo
