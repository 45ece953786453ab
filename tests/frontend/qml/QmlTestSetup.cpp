#include "QmlTestSetup.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>

QString QmlTestSetup::screenshotDir() const
{
    return qEnvironmentVariable("ZELK_SCREENSHOT_DIR");
}

QObject *QmlTestSetup::createWithContext(const QUrl &url, const QVariantMap &contextProperties)
{
    if (!m_engine)
        return nullptr;
    // The context owns the object; the engine owns the context until releaseCreated.
    auto *context = new QQmlContext(m_engine->rootContext(), m_engine);
    m_contexts.emplace_back(context);
    for (auto it = contextProperties.cbegin(); it != contextProperties.cend(); ++it)
        context->setContextProperty(it.key(), it.value());
    QQmlComponent component(m_engine, url);
    QObject *object = component.create(context);
    if (!object) {
        qWarning() << component.errors();
        return nullptr;
    }
    object->setParent(context);
    QQmlEngine::setObjectOwnership(object, QQmlEngine::CppOwnership);
    return object;
}

void QmlTestSetup::releaseCreated()
{
    for (const QPointer<QQmlContext> &context : m_contexts)
        delete context.data();
    m_contexts.clear();
}

void QmlTestSetup::applicationAvailable()
{
    QQuickStyle::setStyle(QStringLiteral("Basic"));
}

void QmlTestSetup::qmlEngineAvailable(QQmlEngine *engine)
{
    m_engine = engine;
    m_contexts.clear();
    engine->rootContext()->setContextProperty(QStringLiteral("testHelper"), this);
}
