#include "serialportconfigdialog.h"
#include "vx4log.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QVBoxLayout>

#define LOG VX4_LOG("serialportconfigdialog")

SerialPortConfigDialog::SerialPortConfigDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Serial Port Configuration"));

    auto box = [this](const char *name, const QStringList &items, int current) {
        auto *combo = new QComboBox(this);
        combo->setObjectName(QLatin1String(name));
        combo->addItems(items);
        combo->setCurrentIndex(current);
        return combo;
    };
    m_baudRateBox = box("baudRateBox",
                        { QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                          QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                          QStringLiteral("57600"), QStringLiteral("115200") },
                        3);
    m_dataBitsBox = box(
        "dataBitsBox",
        { QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8") }, 3);
    m_parityBox
        = box("parityBox", { tr("None"), tr("Odd"), tr("Even"), tr("Mark"), tr("Space") }, 0);
    m_stopBitsBox = box("stopBitsBox",
                        { QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2") }, 0);
    m_flowControlBox = box("flowControlBox", { tr("Off"), tr("Hardware"), tr("Xon/Xoff") }, 0);

    auto *form = new QFormLayout;
    form->addRow(tr("Baud Rate"), m_baudRateBox);
    form->addRow(tr("Data Bits"), m_dataBitsBox);
    form->addRow(tr("Parity"), m_parityBox);
    form->addRow(tr("Stop Bits"), m_stopBitsBox);
    form->addRow(tr("Flow Control"), m_flowControlBox);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel,
                                         Qt::Horizontal, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    resize(225, 175);
}

PortSettings SerialPortConfigDialog::selectedPortSettings() const
{
    PortSettings settings;

    LOG << "baud rate: " << m_baudRateBox->currentText();
    settings.baudRate = m_baudRateBox->currentText().toInt();

    LOG << "data bits: " << m_dataBitsBox->currentText();
    settings.dataBits = m_dataBitsBox->currentText().toInt();

    // Items are mapped by position: their texts are translatable.
    LOG << "parity: " << m_parityBox->currentText();
    static const PortSettings::Parity parities[]
        = { PortSettings::Parity::None, PortSettings::Parity::Odd, PortSettings::Parity::Even,
            PortSettings::Parity::Mark, PortSettings::Parity::Space };
    settings.parity = parities[qBound(0, m_parityBox->currentIndex(), 4)];

    LOG << "flow control: " << m_flowControlBox->currentText();
    static const PortSettings::Flow flows[]
        = { PortSettings::Flow::Off, PortSettings::Flow::Hardware, PortSettings::Flow::XonXoff };
    settings.flowControl = flows[qBound(0, m_flowControlBox->currentIndex(), 2)];

    LOG << "stop bits: " << m_stopBitsBox->currentText();
    static const PortSettings::StopBits stops[]
        = { PortSettings::StopBits::One, PortSettings::StopBits::OneAndHalf,
            PortSettings::StopBits::Two };
    settings.stopBits = stops[qBound(0, m_stopBitsBox->currentIndex(), 2)];

    return settings;
}
