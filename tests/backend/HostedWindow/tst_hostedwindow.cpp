#include "HostedWindow/HostedWindow.h"

#include <QTest>

class tst_HostedWindow final : public QObject
{
    Q_OBJECT

public:
    tst_HostedWindow() = default;

private slots:
    void fittingScale_data();
    void fittingScale();

private:
    Q_DISABLE_COPY_MOVE(tst_HostedWindow)
};

void tst_HostedWindow::fittingScale_data()
{
    QTest::addColumn<QSize>("base");
    QTest::addColumn<double>("chosen");
    QTest::addColumn<QSize>("available");
    QTest::addColumn<double>("used");

    const QSize settings(540, 670);
    QTest::newRow("fits as chosen") << settings << 1.25 << QSize(1920, 1080) << 1.25;
    QTest::newRow("exactly the screen") << settings << 1.0 << QSize(540, 670) << 1.0;
    // 670 x 2 = 1340: the largest hundredth that fits 1000 is 1.49 (998 high).
    QTest::newRow("too high") << settings << 2.0 << QSize(1920, 1000) << 1.49;
    QTest::newRow("too wide") << settings << 1.5 << QSize(700, 2000) << 1.29;
    QTest::newRow("one pixel short") << settings << 1.0 << QSize(540, 669) << 0.99;
    QTest::newRow("unreadable stored scale") << settings << 0.0 << QSize(1920, 1080) << 1.0;
    QTest::newRow("no screen known") << settings << 1.25 << QSize() << 1.25;
}

void tst_HostedWindow::fittingScale()
{
    QFETCH(QSize, base);
    QFETCH(double, chosen);
    QFETCH(QSize, available);
    QFETCH(double, used);

    QCOMPARE(HostedWindow::fittingScale(base, chosen, available), used);
}

QTEST_APPLESS_MAIN(tst_HostedWindow)
#include "tst_hostedwindow.moc"
