#include "certificate.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QPainter>
#include <QPdfWriter>
#include <QStringList>
#include <QTextDocument>

namespace Certificate {

namespace {
constexpr int PdfResolution = 96; ///< dots per inch: the screen's, as the page was laid out for
constexpr qreal MarginMm = 15; ///< every edge of every page
constexpr qreal FooterLines = 2; ///< room kept at the foot of each page for its footer

/// Replaces the bytes after `key` in `pdf`, up to `end`, by `value` when it has their length,
/// so that no offset of the file's cross-reference table moves.
void replaceSameLength(QByteArray &pdf, const QByteArray &key, char end, const QByteArray &value)
{
    const qsizetype at = pdf.indexOf(key);
    const qsizetype stop = at < 0 ? -1 : pdf.indexOf(end, at + key.size());
    if (stop >= 0 && stop - at - key.size() == value.size())
        pdf.replace(at + key.size(), value.size(), value);
}
} // namespace

void print(const CalibrationRecord &record, QPagedPaintDevice *device)
{
    device->setPageMargins(QMarginsF(MarginMm, MarginMm, MarginMm, MarginMm),
                           QPageLayout::Millimeter);
    QPainter painter(device);
    if (!painter.isActive())
        return;
    QTextDocument document;
    document.documentLayout()->setPaintDevice(device);
    document.setHtml(html(record));
    const qreal footer = FooterLines * painter.fontMetrics().height();
    const QSizeF body(device->width(), device->height() - footer);
    document.setPageSize(body);
    const int pages = document.pageCount();
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            device->newPage();
        // A page that is not the certificate's first must still say whose page it is.
        painter.save();
        painter.translate(0, -page * body.height());
        document.drawContents(&painter, QRectF(QPointF(0, page * body.height()), body));
        painter.restore();
        const QString text
            = QCoreApplication::translate("CalSumPage", "Certificate %1    Page %2 of %3")
                  .arg(record.certificateNumber)
                  .arg(page + 1)
                  .arg(pages);
        painter.drawText(QRectF(0, body.height(), body.width(), footer),
                         Qt::AlignRight | Qt::AlignBottom, text);
    }
}

QByteArray pdf(const CalibrationRecord &record)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(PdfResolution);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setTitle(
            QStringLiteral("Certificate of Calibration %1").arg(record.certificateNumber));
        print(record, &writer);
    }
    // The writer stamps the moment of writing; the calibration's own moment keeps the bytes the
    // same whenever a run's certificate is written again.
    QByteArray bytes = buffer.data();
    const QDateTime utc = record.calibrated.isValid() ? record.calibrated.toUTC()
                                                      : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    const QByteArray stamp = utc.toString(QStringLiteral("yyyyMMddhhmmss")).toLatin1();
    // The writer adds the computer's UTC offset: "Z" where it is 0, "+01'00'" and the like
    // elsewhere. Either width is filled with the same moment in UTC.
    for (const char *zone : { "Z", "Z00'00'" })
        replaceSameLength(bytes, "/CreationDate (D:", ')', stamp + zone);
    // Later writers add a document id drawn at random: one from the certificate number instead.
    const QByteArray id
        = QCryptographicHash::hash(record.certificateNumber.toUtf8(), QCryptographicHash::Md5)
              .toHex()
              .toUpper();
    replaceSameLength(bytes, "/ID [<", ']', id + "><" + id + '>');
    return bytes;
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString fileNameSafe(const QString &text)
{
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    QString safe = text;
    for (QChar &c : safe) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || forbidden.contains(c))
            c = u'_';
    }
    return safe;
}

QString pdfFileName(const QString &serialNumber, const QDateTime &calibrated)
{
    return fileNameSafe(serialNumber) + u' '
        + calibrated.date().toString(QStringLiteral("yyyy-MM-dd "))
        + calibrated.time().toString(QStringLiteral("hh-mm-ss")) + QStringLiteral(".pdf");
}

QString voltagesRow(const QDateTime &written, const QString &serialNumber,
                    const QString &firmwareVersion,
                    const std::array<double, CalPages::SetPointCount> &volts)
{
    QStringList fields { written.toString(Qt::TextDate), serialNumber, firmwareVersion };
    for (double v : volts)
        fields.append(QString::number(v, 'f', 5));
    return fields.join(QStringLiteral(", "));
}

} // namespace Certificate
