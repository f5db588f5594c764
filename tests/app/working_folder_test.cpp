#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "WorkingFolder.h"

namespace {

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

}  // namespace

// The menu entry's start: the working folder is made when missing and given the example
// init.cfg only when it has none; the user's own init.cfg is never replaced.
class WorkingFolderTest : public QObject {
    Q_OBJECT
  private slots:
    void EnteringGivesTheExampleOnlyToAFolderWithout_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("ownConfig");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("missing folder, made") << "a/TANDEL" << QByteArray() << QByteArray("example");
        QTest::newRow("folder with its own init.cfg") << "b" << QByteArray("own") << QByteArray("own");
    }
    void EnteringGivesTheExampleOnlyToAFolderWithout() {
        QFETCH(QString, folder);
        QFETCH(QByteArray, ownConfig);
        QFETCH(QByteArray, expected);
        QTemporaryDir root;
        const QString before = QDir::currentPath();
        const QString example = root.filePath("share/tandel/init.cfg.example");
        QVERIFY(QDir().mkpath(root.filePath("share/tandel")) && QDir().mkpath(root.filePath("bin")));
        Write(example, "example");
        const QString path = root.filePath(folder);
        if (!ownConfig.isEmpty()) {
            QVERIFY(QDir().mkpath(path));
            Write(path + "/init.cfg", ownConfig);
        }
        const QString failure = EnterWorkingFolder(path, ExampleConfigFor(root.filePath("bin")));
        const QString current = QDir::currentPath();
        QDir::setCurrent(before);
        QCOMPARE(failure, QString());
        QCOMPARE(current, QDir(path).canonicalPath());
        QCOMPARE(Read(path + "/init.cfg"), expected);
    }
};

QTEST_GUILESS_MAIN(WorkingFolderTest)
#include "working_folder_test.moc"
