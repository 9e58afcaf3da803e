#include "portsettings.h"

#include <QObject>

bool PortSettings::operator==(const PortSettings &o) const
{
    return baudRate == o.baudRate && dataBits == o.dataBits && parity == o.parity
        && stopBits == o.stopBits && flowControl == o.flowControl && timeoutMs == o.timeoutMs;
}

void PortSettings::applyTo(QSerialPort &port) const
{
    port.setBaudRate(baudRate);
    port.setDataBits(QSerialPort::DataBits(qBound(5, dataBits, 8)));
    switch (parity) {
    case Parity::None:
        port.setParity(QSerialPort::NoParity);
        break;
    case Parity::Odd:
        port.setParity(QSerialPort::OddParity);
        break;
    case Parity::Even:
        port.setParity(QSerialPort::EvenParity);
        break;
    case Parity::Mark:
        port.setParity(QSerialPort::MarkParity);
        break;
    case Parity::Space:
        port.setParity(QSerialPort::SpaceParity);
        break;
    }
    switch (stopBits) {
    case StopBits::One:
        port.setStopBits(QSerialPort::OneStop);
        break;
    case StopBits::OneAndHalf:
        port.setStopBits(QSerialPort::OneAndHalfStop);
        break;
    case StopBits::Two:
        port.setStopBits(QSerialPort::TwoStop);
        break;
    }
    switch (flowControl) {
    case Flow::Off:
        port.setFlowControl(QSerialPort::NoFlowControl);
        break;
    case Flow::Hardware:
        port.setFlowControl(QSerialPort::HardwareControl);
        break;
    case Flow::XonXoff:
        port.setFlowControl(QSerialPort::SoftwareControl);
        break;
    }
}

QString PortSettings::unsupportedReason() const
{
#ifndef Q_OS_WIN
    // The serial library takes 1.5 stop bits here without complaint but sends one.
    if (stopBits == StopBits::OneAndHalf)
        return QObject::tr("1.5 stop bits are not supported by the serial ports of this system.");
#endif
    return {};
}
