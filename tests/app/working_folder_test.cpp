#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "WorkingFolder.h"

// The menu entry's start: the working folder is made when missing and given the installed
// example init.cfg only when it has none; the user's own init.cfg is never replaced.
class WorkingFolderTest : public QObject {
    Q_OBJECT
  private slots:
    void EnteringGivesTheExampleOnlyToAFolderWithout() {
        const QString before = QDir::currentPath();
        QTemporaryDir root;
        const auto write = [](const QString& path, const QByteArray& bytes) {
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        QVERIFY(write(root.filePath("share/tandel/init.cfg.example"), "example") &&
                write(root.filePath("own/init.cfg"), "own") && QDir(root.path()).mkdir("bin"));
        for (const auto& [folder, expected] : {std::pair{"made/TANDEL", "example"}, {"own", "own"}}) {
            const QString path = root.filePath(folder);
            const QString failure = EnterWorkingFolder(path, ExampleConfigFor(root.filePath("bin")));
            const QString current = QDir::currentPath();
            QDir::setCurrent(before);
            QFile config(path + "/init.cfg");
            QVERIFY(config.open(QIODevice::ReadOnly));
            QCOMPARE(QStringList({failure, current, config.readAll()}),
                     QStringList({"", QDir(path).canonicalPath(), expected}));
        }
    }
};

QTEST_GUILESS_MAIN(WorkingFolderTest)
#include "working_folder_test.moc"
