#include "WorkingFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString HomeWorkingFolder() {
    const QString home = qEnvironmentVariable("TANDEL_HOME");
    if (!home.isEmpty()) return home;
    return QDir(QDir::homePath()).filePath("TANDEL");
}

QString EnterWorkingFolder(const QString& folder, const QString& exampleConfig) {
    const QString shown = QDir::toNativeSeparators(folder);
    if (!QDir().mkpath(folder)) return "Nie można utworzyć folderu " + shown;
    const QString config = QDir(folder).filePath("init.cfg");
    // A dangling link or any other entry named init.cfg is the user's: left alone.
    if (!QFileInfo(config).exists() && !QFileInfo(config).isSymLink() && !exampleConfig.isEmpty()) {
        if (!QFile::copy(exampleConfig, config)) {
            return "Nie można skopiować " + QDir::toNativeSeparators(exampleConfig) + " do " +
                   QDir::toNativeSeparators(config);
        }
        // The copy is the user's to edit, whatever the installed example's permissions are.
        QFile(config).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                     QFile::ReadOther);
    }
    if (!QDir::setCurrent(folder)) return "Nie można otworzyć folderu " + shown;
    return {};
}

QString ExampleConfigFor(const QString& programFolder) {
    const QDir dir(programFolder);
    for (const QString& candidate :
         {dir.filePath("init.cfg.example"), dir.filePath("../share/tandel/init.cfg.example")}) {
        if (QFileInfo(candidate).isFile()) return QDir::cleanPath(candidate);
    }
    return {};
}
