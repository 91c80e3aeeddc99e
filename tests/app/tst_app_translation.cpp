// The German translation shipped beside the window program: complete for
// every text the window and the worker show, with the same placeholders and
// line structure as the English source.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

struct TsMessage
{
    QString sContext;
    QString sSource;
    QString sTranslation;
    bool bUnfinished = false;
};

static QList<TsMessage> readTs(const QString &sPath, bool *pOk)
{
    QList<TsMessage> messages;
    QFile file(sPath);
    *pOk = file.open(QIODevice::ReadOnly);
    QXmlStreamReader xml(&file);
    QString sContext;
    TsMessage current;
    while (*pOk && !xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            sContext = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            current = TsMessage{sContext, xml.readElementText(), QString(), false};
        } else if (xml.name() == QLatin1String("translation")) {
            current.bUnfinished = xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
            current.sTranslation = xml.readElementText();
            messages << current;
        }
    }
    *pOk = *pOk && !xml.hasError();
    return messages;
}

static QStringList placeholders(const QString &s)
{
    static const QRegularExpression re(QStringLiteral("%\\d"));
    QStringList list;
    for (auto it = re.globalMatch(s); it.hasNext();)
        list << it.next().captured();
    list.sort();
    return list;
}

class TestAppTranslation : public QObject
{
    Q_OBJECT

private slots:
    void everyTextTranslated()
    {
        bool bOk = false;
        const QList<TsMessage> messages = readTs(QStringLiteral(SERVOPROG_TS), &bOk);
        QVERIFY(bOk);
        QVERIFY(messages.size() > 100);
        for (const TsMessage &m : messages) {
            const QByteArray where = (m.sContext + QStringLiteral(": ") + m.sSource).toUtf8();
            QVERIFY2(!m.bUnfinished && !m.sTranslation.isEmpty(), where.constData());
            QVERIFY2(placeholders(m.sSource) == placeholders(m.sTranslation), where.constData());
            for (QLatin1Char c : {QLatin1Char('\n'), QLatin1Char('\t')})
                QVERIFY2(m.sSource.count(c) == m.sTranslation.count(c), where.constData());
            QVERIFY2(m.sSource.startsWith(QLatin1String("<html>"))
                         == m.sTranslation.startsWith(QLatin1String("<html>")),
                     where.constData());
        }
    }

    // lupdate over today's sources finds no text the translation lacks.
    void translationMatchesSources()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString sFresh = tmp.filePath(QStringLiteral("fresh.ts"));
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(SERVOPROG_LUPDATE),
                      {QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none"),
                       QStringLiteral(SERVOPROG_SOURCE_DIR "/ui"), QStringLiteral(SERVOPROG_SOURCE_DIR "/worker"),
                       QStringLiteral("-ts"), sFresh});
        QVERIFY(lupdate.waitForFinished(120000));
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());

        bool bOk = false;
        QSet<QString> shipped;
        for (const TsMessage &m : readTs(QStringLiteral(SERVOPROG_TS), &bOk))
            shipped << m.sContext + QLatin1Char('\x1f') + m.sSource;
        QVERIFY(bOk);
        QStringList missing;
        for (const TsMessage &m : readTs(sFresh, &bOk))
            if (!shipped.contains(m.sContext + QLatin1Char('\x1f') + m.sSource))
                missing << m.sContext + QStringLiteral(": ") + m.sSource;
        QVERIFY(bOk);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestAppTranslation)
#include "tst_app_translation.moc"
