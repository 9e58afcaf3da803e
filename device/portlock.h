#pragma once

#include <QSerialPort>
#include <QString>

/// One owner per sender: an exclusive hold on a serial device for as long as it is open, taken
/// alike by the window and vx4ctl. Ports are compared by the device they lead to, so a symbolic
/// link and its target are one port. The hold is a POSIX record lock on a file named after the
/// device in the system's lock folder: the kernel drops it however its process ends, and it
/// keeps root out too, which the terminal's own exclusive mode does not.
class PortLock
{
public:
    PortLock() = default;
    ~PortLock();
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    /// Where a port name lives: "/dev/ttyUSB0" for "ttyUSB0", a path as it stands.
    static QString systemLocation(const QString &port);
    /// The device a port name leads to, links resolved; the location itself when it leads
    /// nowhere, so two names of one missing port still compare equal.
    static QString canonicalDevice(const QString &port);

    /// Takes the hold on `port`'s device; false with `errorString()` saying why not: permission
    /// denied (with the group to join) or "port busy: in use by process N". A port that does not
    /// exist is left to the serial library to report.
    bool acquire(const QString &port);
    void release();
    QString errorString() const { return m_error; }

    /// The port itself failed to open after the hold was taken: releases the hold and turns the
    /// serial library's reason into one of the above where it is one of them.
    void openFailed(QSerialPort::SerialPortError error, const QString &reason);

private:
    bool refuse(const QString &why);
    QString permissionText() const;

    QString m_port;
    QString m_device;
    QString m_lockPath;
    int m_fd = -1;
    bool m_held = false;
    QString m_error;
};
