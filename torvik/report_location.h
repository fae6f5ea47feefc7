#pragma once

#include <QString>
#include <functional>

namespace k5::torvik {

// The folders a saved report may go to, in the order they are tried.
struct ReportFolders {
    QString program;    // the folder that holds the program file
    QString documents;  // the user's documents folder; empty when the desktop names none
    QString home;
};

// The folders of the running program and its user.
ReportFolders CurrentReportFolders();

// Whether a file can be created in `folder`: it exists and a probe file can be made and
// removed there. Asking the file system itself covers read-only mounts and access lists,
// which the permission bits do not show.
bool IsWritableFolder(const QString& folder);

// Where "CfgLog.txt" is saved: beside the program when its folder is writable (a copy run
// from a folder of its own), otherwise in the documents folder, otherwise in the home
// folder. When none of them is writable the last candidate is named all the same, so that
// the failed save says which file it could not create.
QString ReportPathIn(const ReportFolders& folders,
                     const std::function<bool(const QString&)>& isWritable = IsWritableFolder);

}  // namespace k5::torvik
