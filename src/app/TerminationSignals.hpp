#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace lumora {

// Turns SIGTERM and SIGINT into a normal quit of the event loop, so that the same clean end
// runs as for the Quit command. The signal handler only writes a byte into a socket pair; the
// quit happens on the event loop.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    // False when the handlers could not be installed.
    [[nodiscard]] bool installed() const { return m_notifier != nullptr; }

signals:
    void terminationRequested();

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace lumora
