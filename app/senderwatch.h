#pragma once

#include "VX4interface.h"

#include <QPointer>

/// Watches the sender while a service dialog is open: its answer may be sent only to the sender
/// the technician saw when the dialog opened, connected all the while.
class SenderWatch
{
public:
    explicit SenderWatch(VX4Interface *sender)
        : sender(sender)
        , serialNumber(sender ? sender->serialNumber() : 0)
    {
        if (sender)
            lossConnection = QObject::connect(sender, &VX4Interface::vx4DisconnectedSignal,
                                              [this] { lost = true; });
    }
    ~SenderWatch() { QObject::disconnect(lossConnection); }
    SenderWatch(const SenderWatch &) = delete;
    SenderWatch &operator=(const SenderWatch &) = delete;

    /// The same sender is still open, connected and never lost since the dialog opened.
    bool unchanged(const VX4Interface *current) const
    {
        return sender && sender == current && !lost && sender->isConnected()
            && sender->serialNumber() == serialNumber;
    }

private:
    QPointer<VX4Interface> sender;
    quint16 serialNumber;
    bool lost = false;
    QMetaObject::Connection lossConnection;
};
