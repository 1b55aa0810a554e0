// The results model: rows, numbers with gaps, cell texts and colours, the
// bulk removal and reordering that the result-set jobs use, snapshots that
// outlive the rows, and reads from another thread while rows are appended.
#include "views/results_model.h"

#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {

std::vector<KeptVersion> Batch(int64_t firstOrdinal, const std::vector<std::u16string>& texts) {
    std::vector<KeptVersion> batch;
    for (const auto& text : texts) batch.push_back({firstOrdinal++, text});
    return batch;
}

// Hands texts over as a run does: written into one buffer.
void AppendPacked(CResultsModel& model, int64_t firstOrdinal, const std::vector<std::u16string>& texts,
                  CResultsModel::Announce announce) {
    std::size_t bytes = 0;
    for (const auto& text : texts) bytes += CRowStore::MaxTextBytes(text.size());
    std::shared_ptr<char[]> buffer = CRowStore::NewTextBuffer(bytes);
    std::size_t used = 0;
    std::vector<CStoredText> stored;
    for (const auto& text : texts) stored.push_back(CRowStore::WriteText(buffer.get(), used, text));
    model.AppendPacked(std::move(buffer), stored, firstOrdinal, announce);
}

QString Cell(const CResultsModel& model, int row, int column) {
    return model.data(model.index(row, column)).toString();
}

}  // namespace

class ResultsModelTest : public QObject {
    Q_OBJECT
private slots:
    void CellsHeadersAndColours() {
        CResultsModel model;
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        model.AppendVersions(Batch(0, {u"alpha", u"\U0001F600x", u"gamma"}));
        QCOMPARE(inserted.count(), 1);  // one insertion for the whole batch
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.columnCount(), 3);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("#"));
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Length"));
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Text"));
        QCOMPARE(Cell(model, 0, 0), QStringLiteral("1"));
        QCOMPARE(Cell(model, 1, 1), QStringLiteral("3"));  // a surrogate pair counts two
        QCOMPARE(Cell(model, 2, 2), QStringLiteral("gamma"));

        const auto colour = [&](int row, int column) {
            return model.data(model.index(row, column), Qt::BackgroundRole).value<QColor>();
        };
        QCOMPARE(colour(0, 0), QColor(212, 229, 237));
        QCOMPARE(colour(1, 1), QColor(212, 229, 237));
        QCOMPARE(colour(0, 2), QColor(255, 255, 255));
        QCOMPARE(colour(1, 2), QColor(233, 242, 246));
        QCOMPARE(colour(2, 2), QColor(255, 255, 255));

        model.AppendVersions(Batch(3, {u"delta"}));
        QCOMPARE(Cell(model, 3, 0), QStringLiteral("4"));
        model.Clear();
        QCOMPARE(model.RowCount(), std::size_t{0});
        model.AppendVersions(Batch(0, {u"again"}));
        QCOMPARE(Cell(model, 0, 0), QStringLiteral("1"));
    }

    void MultiLineVersionsInOneLineCells() {
        CResultsModel model;
        std::u16string long_(5000, u'x');
        long_[10] = u'\n';
        model.AppendVersions(Batch(0, {u"first\r\nsecond\nthird\r", u"one line", long_}));
        const QString mark(QChar(0x21B5));
        QCOMPARE(Cell(model, 0, 2), "first" + mark + "second" + mark + "third" + mark);
        QCOMPARE(Cell(model, 0, 1), QStringLiteral("20"));
        QCOMPARE(model.data(model.index(0, 2), Qt::ToolTipRole).toString(), QStringLiteral("first\r\nsecond\nthird\r"));
        QCOMPARE(Cell(model, 1, 2), QStringLiteral("one line"));
        QVERIFY(!model.data(model.index(1, 0), Qt::ToolTipRole).isValid());
        // The cell keeps its cap; the tooltip shows the start and says there is more.
        QCOMPARE(Cell(model, 2, 2).size(), 4096);
        QCOMPARE(Cell(model, 2, 2).at(10), mark.at(0));
        const QString tip = model.data(model.index(2, 2), Qt::ToolTipRole).toString();
        QVERIFY(tip.size() < 1000);
        QVERIFY(tip.startsWith(QStringLiteral("xxxxxxxxxx\nxxx")));
        QVERIFY(tip.endsWith(QChar(0x2026)));
    }

    void LongTextsKeepTheirCharacters() {
        CResultsModel model;
        std::u16string huge(700000, u'h');
        huge[0] = u'[';
        huge.back() = u']';
        std::vector<KeptVersion> batch;
        for (int i = 0; i < 3000; ++i) batch.push_back({i, std::u16string(400, static_cast<char16_t>(u'a' + i % 26))});
        batch.push_back({3000, huge});
        batch.push_back({3001, u"after"});
        model.AppendVersions(std::move(batch));
        QCOMPARE(model.RowCount(), std::size_t{3002});
        QVERIFY(model.RowText(3000) == huge);
        QVERIFY(model.RowText(2999) == std::u16string(400, static_cast<char16_t>(u'a' + 2999 % 26)));
        QVERIFY(model.RowText(3001) == u"after");
        QVERIFY(model.ApproximateBytes() >= (3000 * 400 + huge.size()) * 2);
    }

    void RemovedRowsLeaveGapsInOneReset() {
        CResultsModel model;
        model.AppendVersions(Batch(0, {u"A", u"B", u"A", u"C", u"B"}));
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        model.RemoveRows({2, 4});
        QCOMPARE(reset.count(), 1);
        QCOMPARE(removed.count(), 0);
        QCOMPARE(model.RowCount(), std::size_t{3});
        QCOMPARE(model.RowNumber(0), int64_t{1});
        QCOMPARE(model.RowNumber(1), int64_t{2});
        QCOMPARE(model.RowNumber(2), int64_t{4});
        QVERIFY(model.RowText(2) == u"C");
        // The text column's colours follow the new positions.
        QCOMPARE(model.data(model.index(2, 2), Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 255));

        // Repeats and rows past the end are ignored.
        model.RemoveRows({0, 0, 7});
        QCOMPARE(model.RowCount(), std::size_t{2});
        QVERIFY(model.RowText(0) == u"B");
        QCOMPARE(model.RowNumber(0), int64_t{2});
    }

    void ReorderMovesLengthAndTextButNotNumbers() {
        CResultsModel model;
        model.AppendVersions(Batch(0, {u"one", u"three", u"fifteen"}));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QVERIFY(model.Reorder({2, 0, 1}));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(reset.count(), 0);  // rows stay, so does the selection
        QCOMPARE(Cell(model, 0, 0), QStringLiteral("1"));
        QCOMPARE(Cell(model, 0, 1), QStringLiteral("7"));
        QCOMPARE(Cell(model, 0, 2), QStringLiteral("fifteen"));
        QCOMPARE(Cell(model, 1, 2), QStringLiteral("one"));
        QCOMPARE(Cell(model, 2, 1), QStringLiteral("5"));

        QVERIFY(!model.Reorder({0, 0, 1}));     // not a permutation
        QVERIFY(!model.Reorder({0, 1, 2, 3}));  // more rows than the list has
        QCOMPARE(Cell(model, 0, 2), QStringLiteral("fifteen"));
        QVERIFY(model.Reorder({1, 0}));  // a prefix: rows appended after the job began stay put
        QCOMPARE(Cell(model, 0, 2), QStringLiteral("one"));
        QCOMPARE(Cell(model, 2, 2), QStringLiteral("three"));
    }

    void SnapshotOutlivesChanges() {
        CResultsModel model;
        model.AppendVersions(Batch(0, {u"first", u"second", u"third", u"fourth"}));
        const CRowSnapshot some = model.Snapshot({{0, 1}, {2, 9}});  // rows past the end are dropped
        const CRowSnapshot all = model.SnapshotAll();
        QCOMPARE(some.Size(), std::size_t{3});
        model.Reorder({3, 2, 1, 0});
        model.RemoveRows({0});
        model.AppendVersions(Batch(4, {u"fifth"}));  // fills the slot that row 3 had
        QVERIFY(model.RowText(0) == u"third");
        QVERIFY(model.RowText(3) == u"fifth");
        QVERIFY(some.Text(0) == u"first");
        QVERIFY(some.Text(1) == u"third");
        QVERIFY(some.Text(2) == u"fourth");
        model.Clear();
        model.AppendVersions(Batch(0, {u"XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX"}));
        QCOMPARE(all.Size(), std::size_t{4});
        QVERIFY(all.Text(1) == u"second");
        QVERIFY(all.Text(3) == u"fourth");
        QVERIFY(all.Text(4).empty());
    }

    void BulkOperationsAcrossBlocks() {
        // Enough rows for several blocks: removal and reordering cross block borders.
        constexpr int kRows = 70000;
        std::vector<std::u16string> texts;
        for (int i = 0; i < kRows; ++i) texts.push_back(QString::number(i).toStdU16String());
        CResultsModel model;
        model.AppendVersions(Batch(0, texts));
        const CRowSnapshot before = model.SnapshotAll();
        std::vector<uint32_t> order(kRows);
        for (int i = 0; i < kRows; ++i) order[i] = static_cast<uint32_t>((static_cast<int64_t>(i) * 7919) % kRows);
        QVERIFY(model.Reorder(order));
        for (int i : {0, 1, 16383, 16384, 50000, kRows - 1}) {
            QVERIFY(model.RowText(i) == texts[order[i]]);
            QCOMPARE(model.RowNumber(i), int64_t{i + 1});
        }
        std::vector<std::size_t> odd;
        for (std::size_t i = 1; i < kRows; i += 2) odd.push_back(i);
        model.RemoveRows(odd);
        QCOMPARE(model.RowCount(), std::size_t{kRows / 2});
        for (int i : {0, 8192, 20000, kRows / 2 - 1}) {
            QVERIFY(model.RowText(i) == texts[order[2 * i]]);
            QCOMPARE(model.RowNumber(i), int64_t{2 * i + 1});
        }
        QVERIFY(before.Text(16384) == u"16384");
    }

    void PreparedReorderSurvivesChangesInBetween() {
        CResultsModel model;
        model.AppendVersions(Batch(0, {u"a", u"bb", u"ccc"}));
        // Prepared on another thread, like the shuffle job does; rows arrive meanwhile.
        std::shared_ptr<CPreparedReorder> prepared;
        std::thread worker([&] { prepared = model.PrepareReorder({2, 1, 0}); });
        worker.join();
        model.AppendVersions(Batch(3, {u"dddd"}));
        QVERIFY(model.ApplyReorder(*prepared));
        QVERIFY(model.RowText(0) == u"ccc");
        QVERIFY(model.RowText(2) == u"a");
        QVERIFY(model.RowText(3) == u"dddd");
        QCOMPARE(model.RowNumber(3), int64_t{4});

        // A removal in between: the order is applied to the rows as they are then.
        prepared = model.PrepareReorder({1, 0});
        model.RemoveRows({0});
        QVERIFY(model.ApplyReorder(*prepared));
        QVERIFY(model.RowText(0) == u"a");
        QVERIFY(model.RowText(1) == u"bb");
        QCOMPARE(model.RowNumber(0), int64_t{2});

        // An order that no longer fits the rows changes nothing.
        prepared = model.PrepareReorder({0, 1, 2});
        model.RemoveRows({0, 1});
        QVERIFY(!model.ApplyReorder(*prepared));
        QCOMPARE(model.RowCount(), std::size_t{1});
        QVERIFY(model.RowText(0) == u"dddd");
    }

    // Batched rows reach the views in order, each once, with rowCount() never
    // ahead of what was announced; every other change announces them first.
    void BatchedRowsReachTheViewsInOrder() {
        CResultsModel model;
        int announced = 0;
        int outOfOrder = 0;
        connect(&model, &QAbstractItemModel::rowsInserted, &model, [&](const QModelIndex&, int first, int last) {
            if (first != announced || last < first || model.rowCount() != last + 1) ++outOfOrder;
            announced = last + 1;
        });
        connect(&model, &QAbstractItemModel::modelReset, &model, [&] { announced = model.rowCount(); });
        const auto texts = [](int first, int count) {
            std::vector<std::u16string> batch;
            for (int i = first; i < first + count; ++i) batch.push_back(u"row " + QString::number(i).toStdU16String());
            return batch;
        };
        AppendPacked(model, 0, texts(0, 100), CResultsModel::Announce::kBatched);
        QCOMPARE(model.rowCount(), 100);  // the first block after a quiet spell goes out at once
        AppendPacked(model, 100, texts(100, 50), CResultsModel::Announce::kBatched);
        AppendPacked(model, 150, texts(150, 50), CResultsModel::Announce::kBatched);
        QCOMPARE(model.rowCount(), 100);
        QCOMPARE(model.RowCount(), std::size_t{200});
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 200, 5 * CResultsModel::kAnnounceMilliseconds);
        for (int row : {0, 99, 100, 199}) QCOMPARE(Cell(model, row, 2), QStringLiteral("row %1").arg(row));

        // Rows still waiting are announced before rows appended directly, and before a reorder.
        AppendPacked(model, 200, texts(200, 10), CResultsModel::Announce::kBatched);
        model.AppendVersions(Batch(210, texts(210, 5)));
        QCOMPARE(model.rowCount(), 215);
        QCOMPARE(Cell(model, 214, 0), QStringLiteral("215"));
        AppendPacked(model, 215, texts(215, 5), CResultsModel::Announce::kBatched);
        std::vector<uint32_t> order(220);
        for (uint32_t i = 0; i < 220; ++i) order[i] = 219 - i;
        QVERIFY(model.Reorder(order));
        QCOMPARE(model.rowCount(), 220);
        QCOMPARE(Cell(model, 0, 2), QStringLiteral("row 219"));
        QCOMPARE(outOfOrder, 0);

        // A clear drops what waits; nothing is announced for it afterwards.
        AppendPacked(model, 220, texts(220, 30), CResultsModel::Announce::kBatched);
        model.Clear();
        QCOMPARE(model.rowCount(), 0);
        AppendPacked(model, 0, texts(0, 3), CResultsModel::Announce::kNow);
        QCOMPARE(model.rowCount(), 3);
        QTest::qWait(2 * CResultsModel::kAnnounceMilliseconds);
        QCOMPARE(model.rowCount(), 3);
        model.AnnouncePending();
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(outOfOrder, 0);
    }

    void ReadsFromAnotherThreadWhileRowsArrive() {
        CResultsModel model;
        std::vector<std::u16string> texts;
        for (int i = 0; i < 1000; ++i) texts.push_back(u"row " + std::u16string(1 + i % 50, u'*'));
        model.AppendVersions(Batch(0, texts));
        std::atomic<bool> stop{false};
        std::atomic<int> wrong{0};
        std::thread reader([&] {
            while (!stop.load()) {
                for (std::size_t i = 0; i < 1000; ++i) {
                    if (model.RowText(i) != texts[i]) wrong.fetch_add(1);
                }
            }
        });
        for (int b = 0; b < 200; ++b) model.AppendVersions(Batch(1000 + b * 1000, texts));
        stop.store(true);
        reader.join();
        QCOMPARE(wrong.load(), 0);
        QCOMPARE(model.RowCount(), std::size_t{201000});
    }
};

QTEST_MAIN(ResultsModelTest)
#include "results_model_qtest.moc"
