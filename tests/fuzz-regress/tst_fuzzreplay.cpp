// Replays the seed corpus of one fuzz target, and the inputs that once made
// it fail, through the target's own checks in the normal build (no libFuzzer
// needed). A broken check aborts the program, so the test fails with the
// data row of the input that did it.
#include <QDir>
#include <QTest>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize);

class TestFuzzReplay : public QObject
{
    Q_OBJECT

private slots:
    void replay_data()
    {
        QTest::addColumn<QString>("sPath");
        int nFiles = 0;
        for (const QString &sFolder : QString::fromUtf8(FUZZ_REPLAY_DIRS).split(';', Qt::SkipEmptyParts)) {
            const QDir dir(sFolder);
            for (const QString &sName : dir.entryList(QDir::Files, QDir::Name)) {
                QTest::newRow(qPrintable(dir.dirName() + '/' + sName)) << dir.filePath(sName);
                ++nFiles;
            }
        }
        QVERIFY2(nFiles > 0, "no corpus files found");
    }

    // Also every prefix of short inputs: truncated records and frames are
    // where parsers go wrong.
    void replay()
    {
        QFETCH(QString, sPath);
        QFile file(sPath);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(sPath));
        const QByteArray input = file.readAll();
        const auto *pData = reinterpret_cast<const std::uint8_t *>(input.constData());
        for (qsizetype n = 0; input.size() <= 300 && n < input.size(); ++n)
            LLVMFuzzerTestOneInput(pData, std::size_t(n));
        QCOMPARE(LLVMFuzzerTestOneInput(pData, std::size_t(input.size())), 0);
    }
};

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
