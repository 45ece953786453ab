#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>

#include <vector>

class QQmlContext;
class QQmlEngine;

// Prepares each test file's engine: the program's style, and `testHelper` for the tests.
class QmlTestSetup final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QmlTestSetup)
    Q_PROPERTY(QString screenshotDir READ screenshotDir CONSTANT)

public:
    QmlTestSetup() = default;

    QString screenshotDir() const;

    // Creates the document at `url` in a context of its own holding `contextProperties`, so a test
    // can give one instance APP_VER/DEV_MODE while the others see none.
    Q_INVOKABLE QObject *createWithContext(const QUrl &url, const QVariantMap &contextProperties);
    // Deletes what createWithContext made, before the objects its context properties name go away.
    Q_INVOKABLE void releaseCreated();

public slots:
    void applicationAvailable();
    void qmlEngineAvailable(QQmlEngine *engine);

private:
    QQmlEngine *m_engine = nullptr;
    std::vector<QPointer<QQmlContext>> m_contexts;
};
