#include "torvik/ui/report_location.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "torvik/configuration_report.h"

namespace k5::torvik {

namespace {

bool IsAtOrUnderAny(const QString& path, const QStringList& roots, Qt::CaseSensitivity pathCase) {
    for (const QString& root : roots) {
        if (root.isEmpty()) {
            continue;
        }
        const QString clean = QDir::cleanPath(root);
        if (path.compare(clean, pathCase) == 0 ||
            path.startsWith(clean + QLatin1Char('/'), pathCase)) {
            return true;
        }
    }
    return false;
}

}  // namespace

SystemFolders CurrentSystemFolders() {
#ifdef Q_OS_WIN
    // The environment names the folders for this process, the registry for the machine; a
    // folder named by either counts.
    SystemFolders system;
    system.pathCase = Qt::CaseInsensitive;
    const auto add = [&system](const QString& folder) {
        if (!folder.isEmpty()) {
            system.roots.append(QDir::cleanPath(QDir::fromNativeSeparators(folder)));
        }
    };
    for (const char* name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "SystemRoot"}) {
        add(qEnvironmentVariable(name));
    }
    const QSettings known(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"),
        QSettings::NativeFormat);
    for (const char* name : {"ProgramFilesDir", "ProgramFilesDir (x86)", "ProgramW6432Dir"}) {
        add(known.value(QString::fromLatin1(name)).toString());
    }
    return system;
#else
    return {.roots = {QStringLiteral("/usr"), QStringLiteral("/bin"), QStringLiteral("/sbin")},
            .rootsWhenSuperuserOwned = {QStringLiteral("/opt")}};
#endif
}

bool IsOwnedBySuperuser(const QString& folder) {
    const QFileInfo info(folder);
    return info.exists() && info.ownerId() == 0;
}

bool IsSystemFolder(const QString& folder, const SystemFolders& system,
                    const std::function<bool(const QString&)>& ownedBySuperuser) {
    if (folder.isEmpty()) {
        return false;
    }
    // /bin may be a link into /usr, and a folder may be reached through a link of its own.
    QStringList paths{QDir::cleanPath(folder)};
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (!canonical.isEmpty() && canonical != paths.front()) {
        paths.append(canonical);
    }
    for (const QString& path : paths) {
        if (IsAtOrUnderAny(path, system.roots, system.pathCase)) {
            return true;
        }
        if (IsAtOrUnderAny(path, system.rootsWhenSuperuserOwned, system.pathCase) &&
            ownedBySuperuser(folder)) {
            return true;
        }
    }
    return false;
}

ReportFolders CurrentReportFolders() {
    return {QCoreApplication::applicationDirPath(),
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), QDir::homePath(),
            CurrentSystemFolders()};
}

bool IsWritableFolder(const QString& folder) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        return false;
    }
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".k5-report-probe-XXXXXX")));
    return probe.open();  // the probe removes itself
}

QString ReportPathIn(const ReportFolders& folders, const FolderChecks& checks) {
    // The superuser may write into /usr/bin, but a report does not belong there.
    const QString program = IsSystemFolder(folders.program, folders.system, checks.ownedBySuperuser)
                                ? QString()
                                : folders.program;
    QString chosen;
    for (const QString& folder : {program, folders.documents, folders.home}) {
        if (folder.isEmpty()) {
            continue;
        }
        chosen = folder;
        if (checks.isWritable(folder)) {
            break;
        }
    }
    const QString name =
        QString::fromLatin1(kReportFileName.data(), static_cast<qsizetype>(kReportFileName.size()));
    return QDir::cleanPath(QDir(chosen).filePath(name));
}

}  // namespace k5::torvik
