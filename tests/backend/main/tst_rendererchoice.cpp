#include "FileBytes.h"
#include "main/RendererChoice.h"

#include <QDir>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

class tst_RendererChoice final : public QObject
{
    Q_OBJECT

private slots:
    void emulatedOpenGl_data()
    {
        // clang-format off
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QByteArray>("mesaSoftware");
        QTest::addColumn<bool>("emulated");

        QTest::newRow("no graphics device") << QStringList() << QByteArray() << true;
        QTest::newRow("display card without a render node") << QStringList { "dri/card0" } << QByteArray() << true;
        QTest::newRow("render node") << QStringList { "dri/card0", "dri/renderD128" } << QByteArray() << false;
        QTest::newRow("NVIDIA's device") << QStringList { "nvidia0" } << QByteArray() << false;
        QTest::newRow("render node, Mesa told to emulate") << QStringList { "dri/renderD128" } << QByteArray("true")
                                                           << true;
        QTest::newRow("render node, emulation switched off") << QStringList { "dri/renderD128" } << QByteArray("0")
                                                             << false;
        // clang-format on
    }

    void emulatedOpenGl()
    {
        QFETCH(QStringList, devices);
        QFETCH(QByteArray, mesaSoftware);
        QFETCH(bool, emulated);

        const QTemporaryDir dev;
        QVERIFY(QDir(dev.path()).mkpath(QStringLiteral("dri")));
        for (const QString &device : devices)
            QVERIFY(writeFile(dev.filePath(device), {}));
        qputenv("LIBGL_ALWAYS_SOFTWARE", mesaSoftware);
        QCOMPARE(RendererChoice::openGlIsEmulated(dev.path()), emulated);
        qunsetenv("LIBGL_ALWAYS_SOFTWARE");
    }

    void usersChoiceIsKept()
    {
        qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
        qputenv("QSG_RHI_BACKEND", "opengl");
        RendererChoice::apply();
        QCOMPARE(QQuickWindow::sceneGraphBackend(), QString());
        qunsetenv("QSG_RHI_BACKEND");
        RendererChoice::apply();
        QCOMPARE(QQuickWindow::sceneGraphBackend(), QStringLiteral("software"));
    }
};

QTEST_GUILESS_MAIN(tst_RendererChoice)
#include "tst_rendererchoice.moc"
