#pragma once

#include <QObject>

#include <memory>

// Tells when a process that is not this one's child ends, given its id: without polling, through
// a pidfd on Linux and the process's handle on Windows (elsewhere it looks twice a second).
class ProcessWatch : public QObject {
    Q_OBJECT

public:
    explicit ProcessWatch(qint64 processId, QObject* parent = nullptr);
    ~ProcessWatch() override;

signals:
    // Once, from the event loop; at once for a process that is already gone.
    void ended();

private:
    void end();

    struct Handle;
    std::unique_ptr<Handle> handle;
    bool told = false;
};
