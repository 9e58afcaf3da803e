#include "debugdialog.h"

#include "qlogger.h"
#include "settingskeys.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTextStream>
#include <QVBoxLayout>

namespace Group = SettingsStore::DebugDialogGroup;

DebugDialog::DebugDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Debug Output"));

    outputView = new QPlainTextEdit(this);
    outputView->setObjectName(QStringLiteral("outputView"));
    outputView->setMaximumBlockCount(MaxLines);
    // Read-only: Tab passes it by; a click still gives it the keys for scrolling and copying.
    outputView->setFocusPolicy(Qt::ClickFocus);
    m_clearButton = new QPushButton(tr("Clear"), this);
    m_fontButton = new QPushButton(tr("Set Font"), this);
    m_saveButton = new QPushButton(tr("Save to File"), this);
    for (QPushButton *button : { m_clearButton, m_fontButton, m_saveButton })
        button->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_clearButton);
    buttons->addWidget(
        new QLabel(tr("Keeps the last %1 lines; Save to File writes those.").arg(MaxLines), this));
    buttons->addStretch();
    buttons->addWidget(m_fontButton);
    buttons->addWidget(m_saveButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(outputView, 1);
    layout->addLayout(buttons);

    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(Group::Name);
    resize(settings.value(Group::Size, QSize(600, 600)).toSize());
    move(settings.value(Group::Position, QPoint(200, 200)).toPoint());
    const QVariant font = settings.value(Group::Font);
    if (font.metaType().id() == QMetaType::QFont)
        outputView->setFont(font.value<QFont>());
    settings.endGroup();

    outputView->setReadOnly(true);
    connect(m_clearButton, &QPushButton::clicked, outputView, &QPlainTextEdit::clear);
    connect(m_saveButton, &QPushButton::clicked, this, &DebugDialog::onSave);
    connect(m_fontButton, &QPushButton::clicked, this, &DebugDialog::onFontButtonClicked);
}

DebugDialog::~DebugDialog()
{
    // The window's end is itself logged: no line may reach it once it is being torn down.
    disconnect(QLogger::instance(), nullptr, this, nullptr);
}

void DebugDialog::appendPlainText(const QString &text)
{
    outputView->appendPlainText(text);
}

void DebugDialog::onFontButtonClicked()
{
    bool ok = false;
    outputView->setFont(QFontDialog::getFont(&ok, outputView->font(), nullptr));
}

void DebugDialog::onSave()
{
    const QString fileName = QFileDialog::getSaveFileName(this, tr("Save File"), QDir::homePath(),
                                                          tr("Text Files (*.txt)"));
    if (fileName.isEmpty())
        return;

    QFile file(fileName);
    bool written = false;
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QTextStream out(&file);
        out.setEncoding(QStringConverter::System);
        out << outputView->toPlainText();
        out.flush();
        written = out.status() == QTextStream::Ok && file.error() == QFileDevice::NoError;
        file.close();
        written = written && file.error() == QFileDevice::NoError;
    }
    if (written)
        return;

    // The technician asked for a file and must learn that there is none.
    QMessageBox box(QMessageBox::Warning, tr("Save File"),
                    tr("The debug output could not be saved to %1.").arg(fileName), QMessageBox::Ok,
                    this);
    box.setInformativeText(file.errorString());
    box.exec();
}

void DebugDialog::reject()
{
    close();
}

void DebugDialog::closeEvent(QCloseEvent *event)
{
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(Group::Name);
    settings.setValue(Group::Position, pos());
    settings.setValue(Group::Size, size());
    settings.setValue(Group::Font, outputView->font());
    settings.endGroup();
    event->accept();
}
