#pragma once

#include <QString>
#include <QWidget>

namespace k5::tools {

// Shows `widget`, lets it lay itself out and saves what it draws as `directory/name.png`,
// for the screenshot programs. Prints the file's path; false (with a message on standard
// error) when the file could not be written.
bool SaveSnapshot(QWidget& widget, const QString& directory, const QString& name);

}  // namespace k5::tools
