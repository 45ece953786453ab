#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// One ZELK per user: a start with files while ZELK runs hands them to the running program over a
// local socket whose name is the user's own, instead of opening a second main window.
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // The user's socket name; tests, each with its own HOME, get their own.
    static QString serverName();
    // True when a running ZELK took the files (absolute paths), which it acknowledges.
    static bool handOver(const QStringList &files, int timeoutMs = 3000);
    // Takes the name, replacing one left by a program that ended without freeing it; false when it cannot.
    bool listen();

signals:
    void filesArrived(const QStringList &files);

private:
    Q_DISABLE_COPY(SingleInstance)

    void takeConnection();

    QLocalServer *server;
};
