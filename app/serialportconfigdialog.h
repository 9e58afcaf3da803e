#pragma once

#include "portsettings.h"

#include <QDialog>

class QComboBox;

/// Lets the technician choose the line parameters for the next Open; always opens at 9600 8N1
/// without flow control.
class SerialPortConfigDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SerialPortConfigDialog(QWidget *parent = nullptr);

    /// The chosen parameters; the time-out is left at its default, the caller keeps its own.
    PortSettings selectedPortSettings() const;

    QComboBox *baudRateBox() const { return m_baudRateBox; }
    QComboBox *dataBitsBox() const { return m_dataBitsBox; }
    QComboBox *parityBox() const { return m_parityBox; }
    QComboBox *stopBitsBox() const { return m_stopBitsBox; }
    QComboBox *flowControlBox() const { return m_flowControlBox; }

private:
    QComboBox *m_baudRateBox = nullptr;
    QComboBox *m_dataBitsBox = nullptr;
    QComboBox *m_parityBox = nullptr;
    QComboBox *m_stopBitsBox = nullptr;
    QComboBox *m_flowControlBox = nullptr;
};
