#include "LiveUpdateWindowHost.h"

#include <QPlainTextEdit>

#include "BaseDirectory.h"

void LiveUpdateWindowHost::LogClear() {
    log_.clear();
}

void LiveUpdateWindowHost::LogAppend(const std::string& line) {
    log_.appendPlainText(QString::fromStdString(line));
}

void LiveUpdateWindowHost::PaintOnlyPass() {
    passes_.paintOnlyPass();
    if (passes_.closing()) throw WindowClosing{};
}

std::string LiveUpdateWindowHost::BaseDirectory() {
    return ::BaseDirectory();
}
