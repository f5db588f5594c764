#include "ProgrammingHost.h"

#include <QComboBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>

#include "BaseDirectory.h"
#include "DesktopServices.h"
#include "DeviceConfig.h"
#include "OpenFailureDetail.h"
#include "PortSearch.h"
#include "TSerialPortDriver.h"
#include "WindowTexts.h"

void ProgrammingHost::LogClear() {
    parts_.log.clear();
}

void ProgrammingHost::LogAppend(const std::string& line) {
    parts_.log.appendPlainText(QString::fromStdString(line));
}

void ProgrammingHost::SetProgressMax(int maximum) {
    parts_.progress.setMaximum(maximum);
}

void ProgrammingHost::SetProgress(int position) {
    parts_.progress.setValue(position);
}

std::string ProgrammingHost::PortBoxText() {
    return parts_.portBox.currentText().toStdString();
}

std::string ProgrammingHost::BaseDirectory() {
    return ::BaseDirectory();
}

std::string ProgrammingHost::FirmwareFolder() {
    return FolderOnDisk(parts_.firmwareFolder);
}

std::string ProgrammingHost::SelectedFirmware() {
    const auto selected = parts_.firmwareList.selectedItems();
    return selected.isEmpty() ? std::string() : selected.first()->text().toStdString();
}

void ProgrammingHost::ShowMessage(const std::string& text) {
    // The open failure comes here only when the port box text names no port (a port that does
    // not open comes through ShowOpenFailure): below it, what the box takes.
    const QString detail =
        text == kLineOpenFailed ? PortTextHint(parts_.portBox.currentText()) : QString();
    parts_.desktop.Message(QString::fromStdString(text), detail);
}

void ProgrammingHost::ShowOpenFailure(const std::string& text, const std::string& reason) {
    const std::string polish =
        reason.empty() ? std::string()
                       : OpenFailureDetail(parts_.dane.PortName(), parts_.dane.LastOpenFailure(),
                                           ReasonLanguage::Polish);
    parts_.desktop.Message(QString::fromStdString(text), QString::fromStdString(polish));
}

bool ProgrammingHost::AskYesNo(const std::string& caption, const std::string& text) {
    return parts_.desktop.YesNo(QString::fromStdString(caption), QString::fromStdString(text));
}
