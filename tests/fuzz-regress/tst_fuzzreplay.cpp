// Replays the seed corpus of one fuzz target, and the inputs that once made
// it fail, through the target's own checks in the normal build (no libFuzzer
// needed). A broken check aborts the program, so the test fails with the
// data row of the input that did it.
#include <QDir>
#include <QFile>
#include <QTest>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize);

class TestFuzzReplay : public QObject
{
    Q_OBJECT

private slots:
    void replay_data();
    void replay();
};

void TestFuzzReplay::replay_data()
{
    QTest::addColumn<QString>("sPath");
    const QStringList folders = QString::fromUtf8(FUZZ_REPLAY_DIRS).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    int nFiles = 0;
    for (const QString &sFolder : folders) {
        const QDir dir(sFolder);
        for (const QString &sName : dir.entryList(QDir::Files, QDir::Name)) {
            QTest::newRow(qPrintable(dir.dirName() + QLatin1Char('/') + sName)) << dir.filePath(sName);
            ++nFiles;
        }
    }
    QVERIFY2(nFiles > 0, "no corpus files found");
}

void TestFuzzReplay::replay()
{
    QFETCH(QString, sPath);
    QFile file(sPath);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(sPath));
    const QByteArray input = file.readAll();
    // Also every prefix of short inputs: truncated records and frames are
    // where parsers go wrong.
    const qsizetype nPrefixes = input.size() <= 300 ? input.size() : 0;
    for (qsizetype n = 0; n < nPrefixes; ++n)
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(n));
    QCOMPARE(
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(input.size())),
        0);
}

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
