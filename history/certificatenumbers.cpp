// Certificate numbers: reserved in the database a block at a time, drawn from this bench's block,
// and every drawn number's row brought to its end (issued, void or replaced) with its run.
#include "calibrationhistory.h"

#include "historyschema.h"
#include "pendingfile.h"

#include <QDate>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

constexpr int BlockLockWaitMs = 10000; ///< two windows of one bench draw one after the other
constexpr qint64 MaxSequence = 999999999999; ///< twelve digits at most

QString utcNow()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

QString numberText(qint64 sequence)
{
    return QStringLiteral("VX4-%1-%2")
        .arg(QDate::currentDate().year(), 4, 10, QLatin1Char('0'))
        .arg(sequence, 6, 10, QLatin1Char('0'));
}

/// The numbers the block file holds, in the order they are to be drawn.
bool readBlock(const QString &path, QList<qint64> *block, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    // A reserved block is a few lines: anything larger is not this program's file.
    for (const QByteArray &line : file.read(64 * 1024).split('\n')) {
        bool ok = false;
        const qint64 sequence = line.trimmed().toLongLong(&ok);
        if (ok && sequence > 0 && sequence <= MaxSequence)
            block->append(sequence);
    }
    return true;
}

bool writeBlock(const QString &path, const QList<qint64> &block, QString *error)
{
    QSaveFile file(path);
    QByteArray bytes;
    for (qint64 sequence : block)
        bytes += QByteArray::number(sequence) + '\n';
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
    return false;
}

} // namespace

bool CalibrationHistory::reserveNumbers(int count, QList<qint64> *block, QString *error)
{
    QSqlDatabase db = database();
    QSqlQuery q(db);
    bool ok = HistorySchema::beginWrite(db, sqlite(), error)
        && q.exec(QStringLiteral("SELECT COALESCE(MAX(sequence), 0) FROM certificate_numbers"))
        && q.next();
    const qint64 highest = ok ? q.value(0).toLongLong() : 0;
    q.finish();
    QList<qint64> reserved;
    for (int i = 1; ok && i <= count; ++i) {
        q.prepare(QStringLiteral("INSERT INTO certificate_numbers (sequence, state, bench, "
                                 "reserved_utc) VALUES (?, 'reserved', ?, ?)"));
        q.addBindValue(highest + i);
        q.addBindValue(m_location.bench);
        q.addBindValue(utcNow());
        ok = q.exec();
        reserved.append(highest + i);
    }
    if (ok && db.commit()) {
        block->append(reserved);
        return true;
    }
    if (error->isEmpty())
        *error = q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
    dropConnection();
    return false;
}

QString CalibrationHistory::drawCertificateNumber(QString *error)
{
    QString why;
    const auto held = lockFileBeside(m_location.blockFile, BlockLockWaitMs, &why);
    QList<qint64> block;
    if (!held || !readBlock(m_location.blockFile, &block, &why)) {
        *error = QStringLiteral("no certificate number can be issued: %1").arg(why);
        return {};
    }
    QString databaseWhy;
    bool reachable = open(&databaseWhy);
    // Topped up while the database answers, so that the bench can go on without it.
    if (reachable && block.size() < BlockSize / 2) {
        QList<qint64> reserved;
        reachable = reserveNumbers(BlockSize - int(block.size()), &reserved, &databaseWhy);
        if (reachable && !writeBlock(m_location.blockFile, block + reserved, &why)) {
            *error = QStringLiteral("no certificate number can be issued: %1").arg(why);
            return {};
        }
        block += reserved;
    }
    while (!block.isEmpty()) {
        const qint64 sequence = block.takeFirst();
        const QString number = numberText(sequence);
        if (reachable) {
            QSqlQuery q(database());
            q.prepare(QStringLiteral(
                "UPDATE certificate_numbers SET state = 'drawn', number = ?, drawn_utc = ? "
                "WHERE sequence = ? AND state = 'reserved'"));
            q.addBindValue(number);
            q.addBindValue(utcNow());
            q.addBindValue(sequence);
            if (!q.exec()) {
                // Still this bench's number: the row is brought up to date with its run.
                databaseWhy = q.lastError().text();
                dropConnection();
                reachable = false;
            } else if (q.numRowsAffected() != 1) {
                continue; // no longer reserved: someone has taken it out of this bench's hands
            }
        }
        // Out of the block before it is handed out, or it could be handed out twice.
        if (!writeBlock(m_location.blockFile, block, &why)) {
            *error = QStringLiteral("no certificate number can be issued: %1").arg(why);
            return {};
        }
        return number;
    }
    *error = reachable
        ? QStringLiteral("no certificate number can be issued: none could be reserved in %1: %2")
              .arg(m_location.describe(), databaseWhy)
        : QStringLiteral("no certificate number can be issued: %1, and this bench holds no "
                         "numbers reserved while it could be reached")
              .arg(databaseWhy.simplified());
    return {};
}

bool CalibrationHistory::claimNumber(const QString &number, const QString &state, qint64 runId,
                                     const QString &sha256, const QString &note, QString *error)
{
    const qint64 sequence = sequenceOf(number);
    if (sequence <= 0)
        return true; // not one of ours: no row to keep
    QSqlQuery q(database());
    q.prepare(QStringLiteral("UPDATE certificate_numbers SET number = ?, state = ?, run_id = ?, "
                             "pdf_sha256 = ?, note = ?, drawn_utc = CASE WHEN drawn_utc = '' "
                             "THEN ? ELSE drawn_utc END WHERE sequence = ? AND state IN "
                             "('reserved', 'drawn')"));
    // Empty rather than NULL: every text column is NOT NULL.
    const QString shaText = sha256.isNull() ? QStringLiteral("") : sha256;
    const QString noteText = note.isNull() ? QStringLiteral("") : note.left(MaxTextChars);
    for (const QVariant &v :
         QVariantList { number, state, runId, shaText, noteText, utcNow(), sequence })
        q.addBindValue(v);
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    if (q.numRowsAffected() == 1)
        return true;
    q.prepare(QStringLiteral("SELECT state, number FROM certificate_numbers WHERE sequence = ?"));
    q.addBindValue(sequence);
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    if (q.next()) {
        *error = QStringLiteral("the certificate number %1 is already %2 (as %3)")
                     .arg(number, q.value(0).toString(), q.value(1).toString());
        return false;
    }
    // A number from before numbers were reserved: it gets its row now.
    q.prepare(QStringLiteral("INSERT INTO certificate_numbers (sequence, number, state, bench, "
                             "reserved_utc, drawn_utc, run_id, pdf_sha256, note) VALUES (?, ?, ?, "
                             "?, ?, ?, ?, ?, ?)"));
    for (const QVariant &v : QVariantList { sequence, number, state, m_location.bench, utcNow(),
                                            utcNow(), runId, shaText, noteText })
        q.addBindValue(v);
    if (q.exec())
        return true;
    *error = q.lastError().text();
    return false;
}
