// LibTorch's headers come before Qt's, whose "slots" macro they do not expect.
#include "AllocationPlan.h"
#include "PlannedAllocator.h"

#include <ATen/ATen.h>

#include <QTest>

#include <cstring>
#include <vector>

namespace {

// Convolutions and a softmax, whose temporaries come and go as a network's do; "b" asks for one more
// tensor than "a", "x" throws halfway.
at::Tensor compute(const at::Tensor &input, char kind)
{
    const at::Tensor weight = at::ones({ 4, 4, 3, 3 }) / 36.0;
    at::Tensor x = at::relu(at::conv2d(input, weight, {}, 1, 1));
    if (kind == 'b')
        x = x * 2.0;
    if (kind == 'x')
        x = at::conv2d(x, at::ones({ 4, 3, 3, 3 }));
    return at::softmax(at::conv2d(x, weight, {}, 1, 1), 1);
}

at::Tensor inputOf(int frames)
{
    return at::arange(4 * 32 * frames, at::kFloat).reshape({ 1, 4, 32, frames }).sin();
}

} // namespace

class tst_PlannedAllocator final : public QObject
{
    Q_OBJECT

private slots:
    void place_data()
    {
        QTest::addColumn<QString>("script"); // "aBYTES" allocates the next index, "rINDEX" releases
        QTest::addColumn<int>("arena");
        QTest::addColumn<int>("unplaced"); // an index without a place, -1 for none

        QTest::newRow("a place reused") << "a1000 r0 a1000 r1" << 1024 << -1;
        QTest::newRow("both alive") << "a1000 a1000 r0 r1" << 2048 << -1;
        QTest::newRow("small ones in a large one's place")
            << "a4096 a4096 r0 a2048 a2048 r1 r2 r3" << 8192 << -1;
        QTest::newRow("held past the end") << "a100 a100 r0" << 128 << 1;
    }

    // The plan packs the recorded allocations as tightly as their lives allow, and never gives two
    // allocations alive at once a byte in common.
    void place()
    {
        QFETCH(QString, script);
        QFETCH(int, arena);
        QFETCH(int, unplaced);

        AllocationPlan plan;
        std::vector<std::size_t> bytes;
        std::vector<std::pair<int, int>> lives; // step allocated, step released
        const QStringList steps = script.split(QLatin1Char(' '));
        for (int step = 0; step < steps.size(); ++step) {
            const int value = steps[step].mid(1).toInt();
            if (steps[step].startsWith(QLatin1Char('a'))) {
                QCOMPARE(plan.recordAllocation(value), int(bytes.size()));
                bytes.push_back(value);
                lives.push_back({ step, steps.size() });
            } else {
                plan.recordRelease(value);
                lives[value].second = step;
            }
        }
        plan.place();

        QCOMPARE(plan.arenaSize(), std::size_t(arena));
        for (int i = 0; i < int(bytes.size()); ++i) {
            QVERIFY(plan.matches(i, bytes[i]));
            QVERIFY(!plan.matches(i, bytes[i] + 1));
            QCOMPARE(plan.offsetOf(i) < 0, i == unplaced);
            for (int j = 0; j < i && plan.offsetOf(i) >= 0; ++j) {
                const bool together = lives[j].first < lives[i].second && lives[i].first < lives[j].second;
                const bool overlap = plan.offsetOf(j) >= 0
                    && plan.offsetOf(j) < plan.offsetOf(i) + std::int64_t(bytes[i])
                    && plan.offsetOf(i) < plan.offsetOf(j) + std::int64_t(bytes[j]);
                QVERIFY2(!(together && overlap), qPrintable(QStringLiteral("%1 and %2").arg(j).arg(i)));
            }
        }
        QVERIFY(!plan.matches(int(bytes.size()), 64));
    }

    void passes_data()
    {
        QTest::addColumn<QString>("passes"); // kind and frames: "a" a pass, "b" another, "x" one that throws,
                                             // "k" one whose answer is kept past it
        QTest::addColumn<QString>("modes");

        // clang-format off
        QTest::newRow("a new shape records, the same replays")
            << "a64 a128 a128 a128 a64 a64" << "record record replay replay record replay";
        // Each row starts on a shape of its own, which the rows before did not plan.
        QTest::newRow("a pass that strays goes to the heap")
            << "a48 a48 b48 a48 a48" << "record replay heap record replay";
        QTest::newRow("a pass that throws plans nothing") << "x40 a40 a40" << "record record replay";
        QTest::newRow("answers kept past their pass") << "k56 k56 k56 a56" << "record replay replay replay";
        // clang-format on
    }

    // Every pass answers exactly what LibTorch's own allocator gives, an answer kept past its pass
    // included, while the passes after a recording take their tensors from the arena.
    void passes()
    {
        QFETCH(QString, passes);
        QFETCH(QString, modes);
        const QStringList kinds = passes.split(QLatin1Char(' '));
        const QStringList expected = modes.split(QLatin1Char(' '));
        PlannedAllocator &allocator = PlannedAllocator::instance();

        std::vector<std::pair<at::Tensor, at::Tensor>> kept; // answer, what it must stay
        for (int i = 0; i < kinds.size(); ++i) {
            const char kind = kinds[i].at(0).toLatin1();
            const int frames = kinds[i].mid(1).toInt();
            const at::Tensor input = inputOf(frames);
            const at::Tensor reference = kind == 'x' ? at::Tensor() : compute(input, kind);
            at::Tensor answer = at::empty({ 1, 4, 32, frames });
            {
                PlannedAllocator::Pass pass(frames);
                if (kind == 'x') {
                    QVERIFY_THROWS_EXCEPTION(c10::Error, compute(input, kind));
                } else {
                    at::Tensor computed = compute(input, kind);
                    if (kind == 'k')
                        answer = computed;
                    else
                        std::memcpy(answer.data_ptr<float>(), computed.data_ptr<float>(), computed.nbytes());
                    pass.complete();
                }
            }
            const PlannedAllocator::Mode mode = allocator.lastPass();
            const char *name = mode == PlannedAllocator::Mode::Record ? "record"
                : mode == PlannedAllocator::Mode::Replay              ? "replay"
                                                                      : "heap";
            QCOMPARE(QString::fromLatin1(name), expected[i]);
            if (mode == PlannedAllocator::Mode::Replay)
                QVERIFY(allocator.arenaSize() > 0);
            if (kind != 'x')
                kept.push_back({ answer, reference });
        }
        for (const auto &[answer, reference] : kept)
            QVERIFY(at::equal(answer, reference));
    }
};

QTEST_GUILESS_MAIN(tst_PlannedAllocator)
#include "tst_plannedallocator.moc"
