#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQuickTest>

// Prepares each test file's engine: the program's style, and `testHelper` for the tests.
class QmlTestSetup final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QmlTestSetup)
    Q_PROPERTY(QString screenshotDir READ screenshotDir CONSTANT)

public:
    QmlTestSetup() = default;

    QString screenshotDir() const { return qEnvironmentVariable("ZELK_SCREENSHOT_DIR"); }

    // Creates the document at `url` in a context of its own holding `contextProperties`, so a test
    // can give one instance APP_VER/DEV_MODE while the others see none.
    Q_INVOKABLE QObject *createWithContext(const QUrl &url, const QVariantMap &contextProperties)
    {
        // The context owns the object; the engine owns the context until releaseCreated.
        auto *context = new QQmlContext(engine->rootContext(), engine);
        context->setObjectName(createdContext);
        for (auto it = contextProperties.cbegin(); it != contextProperties.cend(); ++it)
            context->setContextProperty(it.key(), it.value());
        QQmlComponent component(engine, url);
        QObject *object = component.create(context);
        if (!object) {
            qWarning() << component.errors();
            return nullptr;
        }
        object->setParent(context);
        QQmlEngine::setObjectOwnership(object, QQmlEngine::CppOwnership);
        return object;
    }

    // Deletes what createWithContext made, before the objects its context properties name go away.
    Q_INVOKABLE void releaseCreated()
    {
        qDeleteAll(engine->findChildren<QQmlContext *>(createdContext, Qt::FindDirectChildrenOnly));
    }

public slots:
    void applicationAvailable() { QQuickStyle::setStyle(QStringLiteral("Basic")); }

    void qmlEngineAvailable(QQmlEngine *qmlEngine)
    {
        engine = qmlEngine;
        engine->rootContext()->setContextProperty(QStringLiteral("testHelper"), this);
    }

private:
    const QString createdContext = QStringLiteral("createdByTestHelper");
    QQmlEngine *engine = nullptr;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_qml, QmlTestSetup)

#include "main.moc"
