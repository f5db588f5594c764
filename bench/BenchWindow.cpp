#include "BenchWindow.h"

#include <sys/resource.h>

#include <QPlainTextEdit>
#include <QtTest>
#include <cstdio>
#include <cstdlib>

#include "Clock.h"
#include "PosixBackend.h"

BenchWindow::BenchWindow() {
    form_ = std::make_unique<TForm1>(
        TForm1::Services{desktop_, PosixSerialBackend(), SystemClock::Instance()});
    form_->show();
    form_->activateWindow();
    if (!QTest::qWaitForWindowActive(form_.get())) Fail("the window was not activated");
}

BenchWindow::~BenchWindow() = default;

void BenchWindow::Click(const char* name) {
    QTest::mouseClick(Find<QPushButton>(name), Qt::LeftButton);
}

QStringList BenchWindow::Lines(const char* memo) {
    const QString text = Find<QPlainTextEdit>(memo)->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

Usage Usage::Now() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return {ms(usage.ru_utime) + ms(usage.ru_stime), usage.ru_maxrss};
}

void Report(const std::string& name, double value) {
    std::printf("%s %.3f\n", name.c_str(), value);
    std::fflush(stdout);
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "tandel-bench: %s\n", what.c_str());
    std::exit(1);
}
