#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace k5::torvik {

// The folders that belong to installed software. A report left there is a file no package
// knows, so the program's own folder never takes one when it lies in them, whoever runs it.
struct SystemFolders {
    QStringList roots;  // a folder at or under one of these is a system folder
    // A folder at or under one of these is a system folder when the superuser owns it: a copy
    // in a user's own folder under /opt stays portable.
    QStringList rootsWhenSuperuserOwned;
    Qt::CaseSensitivity pathCase = Qt::CaseSensitive;
};

// This platform's system folders: /usr, /bin, /sbin and a root-owned /opt; on Windows the
// program-files folders and the Windows folder.
SystemFolders CurrentSystemFolders();

bool IsOwnedBySuperuser(const QString& folder);

// Whether `folder`, as given or with its links resolved, lies at or under a system folder.
bool IsSystemFolder(
    const QString& folder, const SystemFolders& system,
    const std::function<bool(const QString&)>& ownedBySuperuser = IsOwnedBySuperuser);

// The folders a saved report may go to, in the order they are tried.
struct ReportFolders {
    QString program;    // the folder that holds the program file
    QString documents;  // the user's documents folder; empty when the desktop names none
    QString home;
    SystemFolders system = {};  // where the program's folder does not count
};

// The folders of the running program and its user.
ReportFolders CurrentReportFolders();

// Whether a file can be created in `folder`: it exists and a probe file can be made and
// removed there. Asking the file system itself covers read-only mounts and access lists,
// which the permission bits do not show.
bool IsWritableFolder(const QString& folder);

// What ReportPathIn asks of the file system; a test answers for a machine of its making.
struct FolderChecks {
    std::function<bool(const QString&)> isWritable = IsWritableFolder;
    std::function<bool(const QString&)> ownedBySuperuser = IsOwnedBySuperuser;
};

// Where "CfgLog.txt" is saved: beside the program when its folder is writable and not a
// system folder (a copy run from a folder of its own), otherwise in the documents folder,
// otherwise in the home folder. When none of them is writable the last candidate is named
// all the same, so that the failed save says which file it could not create.
QString ReportPathIn(const ReportFolders& folders, const FolderChecks& checks = {});

}  // namespace k5::torvik
