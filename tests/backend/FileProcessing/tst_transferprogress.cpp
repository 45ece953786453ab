#include "FileProcessing/TransferProgress.h"

#include <QtTest>

class tst_TransferProgress final : public QObject
{
    Q_OBJECT

public:
    tst_TransferProgress() = default;
    Q_DISABLE_COPY_MOVE(tst_TransferProgress)

private slots:
    void uploadPercent_data();
    void uploadPercent();
    void downloadPercent_data();
    void downloadPercent();
};

void tst_TransferProgress::uploadPercent_data()
{
    QTest::addColumn<qint64>("sent");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<double>("percent");
    QTest::newRow("nothing sent") << qint64(0) << qint64(3) << true << 0.0;
    QTest::newRow("a third") << qint64(1) << qint64(3) << true << 33.3;
    QTest::newRow("two thirds rounds down") << qint64(2) << qint64(3) << true << 66.6;
    QTest::newRow("just short of all") << qint64(9999) << qint64(10000) << true << 99.9;
    QTest::newRow("all sent") << qint64(3) << qint64(3) << true << 100.0;
    QTest::newRow("large file") << qint64(4'000'000'000) << qint64(8'000'000'000) << true << 50.0;
    QTest::newRow("total zero") << qint64(0) << qint64(0) << false << 0.0;
    QTest::newRow("total unknown") << qint64(10) << qint64(-1) << false << 0.0;
}

void tst_TransferProgress::uploadPercent()
{
    QFETCH(qint64, sent);
    QFETCH(qint64, total);
    QFETCH(bool, reported);
    QFETCH(double, percent);
    const auto result = TransferProgress::uploadPercent(sent, total);
    QCOMPARE(result.has_value(), reported);
    if (reported)
        QCOMPARE(*result, percent);
}

void tst_TransferProgress::downloadPercent_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<double>("percent");
    QTest::newRow("half of total") << qint64(500) << qint64(1000) << qint64(-1) << 50.0;
    QTest::newRow("total wins over expected") << qint64(250) << qint64(1000) << qint64(500) << 25.0;
    QTest::newRow("all of total is capped") << qint64(1000) << qint64(1000) << qint64(-1) << 99.8;
    QTest::newRow("no total, no expected") << qint64(700) << qint64(-1) << qint64(-1) << 95.0;
    QTest::newRow("no total, expected 1000, 500 in") << qint64(500) << qint64(-1) << qint64(1000) << 50.0;
    QTest::newRow("no total, expected 1000, 1200 in") << qint64(1200) << qint64(-1) << qint64(1000) << 99.8;
    QTest::newRow("total zero uses expected") << qint64(100) << qint64(0) << qint64(1000) << 10.0;
    QTest::newRow("expected zero does not divide") << qint64(0) << qint64(-1) << qint64(0) << 95.0;
}

void tst_TransferProgress::downloadPercent()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(qint64, expectedSize);
    QFETCH(double, percent);
    QCOMPARE(TransferProgress::downloadPercent(received, total, expectedSize), percent);
}

QTEST_GUILESS_MAIN(tst_TransferProgress)
#include "tst_transferprogress.moc"
