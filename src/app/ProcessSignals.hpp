#pragma once

#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <memory>
#include <vector>

namespace lumora {

// Turns process signals into a Qt signal on the event loop: the handler only writes a byte into
// a socket pair of its signal, which is read there. Each signal number belongs to one object at
// a time; the default handling comes back when it goes.
class ProcessSignals : public QObject {
    Q_OBJECT

public:
    explicit ProcessSignals(QList<int> numbers, QObject* parent = nullptr);
    ~ProcessSignals() override;

signals:
    void received();

private:
    QList<int> m_numbers;
    std::vector<std::unique_ptr<QSocketNotifier>> m_notifiers;
};

} // namespace lumora
