#include "torvik/report_location.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "torvik/configuration_report.h"

namespace k5::torvik {

ReportFolders CurrentReportFolders() {
    return {QCoreApplication::applicationDirPath(),
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), QDir::homePath()};
}

bool IsWritableFolder(const QString& folder) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        return false;
    }
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".k5-report-probe-XXXXXX")));
    return probe.open();  // the probe removes itself
}

QString ReportPathIn(const ReportFolders& folders,
                     const std::function<bool(const QString&)>& isWritable) {
    QString chosen;
    for (const QString& folder : {folders.program, folders.documents, folders.home}) {
        if (folder.isEmpty()) {
            continue;
        }
        chosen = folder;
        if (isWritable(folder)) {
            break;
        }
    }
    const QString name =
        QString::fromLatin1(kReportFileName.data(), static_cast<qsizetype>(kReportFileName.size()));
    return QDir::cleanPath(QDir(chosen).filePath(name));
}

}  // namespace k5::torvik
