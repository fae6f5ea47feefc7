// Where TORVIK saves its report: beside the program when it may write there, else in the
// documents folder, else at home; and every save box names the file.

#include "torvik/ui/report_location.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <vector>

#include "tests/support/scoped_env.h"
#include "window_fixture.h"

namespace k5::torvik::test {
namespace {

struct ChoiceCase {
    const char* name;
    ReportFolders folders;
    std::vector<QString> writable;
    QString expected;
};

TEST(ReportLocation, TakesTheFirstWritableFolderInOrder) {
    const QString program = QStringLiteral("/home/tech/k5kit");
    const QString documents = QStringLiteral("/home/tech/Documents");
    const QString home = QStringLiteral("/home/tech");
    const std::vector<ChoiceCase> cases = {
        {"beside the program when it may write there",
         {program, documents, home},
         {program, documents, home},
         program + "/CfgLog.txt"},
        {"an installed copy writes to the documents folder",
         {program, documents, home},
         {documents, home},
         documents + "/CfgLog.txt"},
        {"a documents folder that cannot be written falls back to home",
         {program, documents, home},
         {home},
         home + "/CfgLog.txt"},
        {"no documents folder named: home",
         {program, QString(), home},
         {home},
         home + "/CfgLog.txt"},
        {"nothing writable names the last candidate, so the failure says where",
         {program, documents, home},
         {},
         home + "/CfgLog.txt"},
        {"nothing writable and no home: the documents folder",
         {program, documents, QString()},
         {},
         documents + "/CfgLog.txt"},
        {"a trailing separator does not double",
         {QStringLiteral("/home/tech/k5kit/"), documents, home},
         {QStringLiteral("/home/tech/k5kit/")},
         program + "/CfgLog.txt"},
    };
    for (const ChoiceCase& c : cases) {
        const QSet<QString> writable(c.writable.begin(), c.writable.end());
        std::vector<QString> asked;
        const QString chosen = ReportPathIn(c.folders, {.isWritable = [&](const QString& folder) {
                                                asked.push_back(folder);
                                                return writable.contains(folder);
                                            }});
        EXPECT_EQ(chosen, c.expected) << c.name;
        // Once a writable folder is found, the later ones are not even probed.
        for (size_t i = 0; i + 1 < asked.size(); ++i) {
            EXPECT_FALSE(writable.contains(asked[i])) << c.name;
        }
    }
}

// The superuser may write anywhere, so only the folder's place decides.
TEST(ReportLocation, SystemFoldersNeverTakeTheReport) {
    const SystemFolders posix = {
        .roots = {QStringLiteral("/usr"), QStringLiteral("/bin"), QStringLiteral("/sbin")},
        .rootsWhenSuperuserOwned = {QStringLiteral("/opt")}};
    const SystemFolders windows = {
        .roots = {QStringLiteral("C:/Program Files"), QStringLiteral("C:/Program Files (x86)")},
        .rootsWhenSuperuserOwned = {},
        .pathCase = Qt::CaseInsensitive};
    const QString documents = QStringLiteral("/root/Documents");
    struct Case {
        const char* program;
        const SystemFolders& system;
        bool superuserOwned;
        bool beside;
    };
    const std::vector<Case> cases = {
        {"/usr/bin", posix, true, false},
        {"/usr/local/bin", posix, true, false},
        {"/sbin", posix, true, false},
        {"/opt/k5kit/bin", posix, true, false},
        {"/opt/tech/k5kit", posix, false, true},  // a user's own copy under /opt
        {"/home/tech/k5kit", posix, true, true},
        {"/home/tech/usr", posix, true, true},
        {"/usr2/k5kit", posix, true, true},
        {"C:/Program Files/K5 Kit", windows, false, false},
        {"c:/program files (x86)/K5 Kit", windows, false, false},
        {"C:/Program Files Tools/K5 Kit", windows, false, true},
        {"D:/K5 Kit", windows, false, true},
    };
    for (const Case& c : cases) {
        const QString program = QString::fromUtf8(c.program);
        const QString chosen =
            ReportPathIn({program, documents, QStringLiteral("/root"), c.system},
                         {.isWritable = [](const QString&) { return true; },
                          .ownedBySuperuser = [&](const QString&) { return c.superuserOwned; }});
        EXPECT_EQ(chosen.toStdString(),
                  ((c.beside ? program : documents) + "/CfgLog.txt").toStdString())
            << c.program;
    }
}

TEST(ReportLocation, ThisMachinesSystemFoldersAreKnownThroughLinks) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString link = scratch.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/usr/bin"), link));
    const SystemFolders system = CurrentSystemFolders();
    EXPECT_TRUE(IsSystemFolder(QStringLiteral("/usr/bin"), system));
    EXPECT_TRUE(IsSystemFolder(link, system));
    EXPECT_FALSE(IsSystemFolder(scratch.path(), system));
}

TEST(ReportLocation, ProbesTheFileSystemAndLeavesNothingBehind) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString folder = scratch.path();
    const QString file = scratch.filePath(QStringLiteral("plain-file"));
    {
        QFile plain(file);
        ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    }
    EXPECT_TRUE(IsWritableFolder(folder));
    EXPECT_FALSE(IsWritableFolder(scratch.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(IsWritableFolder(file));
    EXPECT_FALSE(IsWritableFolder(QString()));
    // The probe file is gone again: only the file made above is left.
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("plain-file")});

    // A folder without write permission; the superuser writes anywhere, so only an ordinary
    // user can see it refused.
    const QString locked = scratch.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("locked")));
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    if (::geteuid() != 0) {
        EXPECT_FALSE(IsWritableFolder(locked));
    }
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(ReportLocation, DocumentsFolderIsTheDesktopsOwn) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString documents = scratch.filePath(QStringLiteral("Reports folder"));
    ASSERT_TRUE(QDir().mkpath(documents));
    ASSERT_TRUE(QDir().mkpath(scratch.filePath(QStringLiteral("config"))));
    QFile dirs(scratch.filePath(QStringLiteral("config/user-dirs.dirs")));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DOCUMENTS_DIR=\"" + documents.toUtf8() + "\"\n");
    dirs.close();
    const k5::test::ScopedEnv config("XDG_CONFIG_HOME",
                                     scratch.filePath(QStringLiteral("config")).toStdString());

    const ReportFolders folders = CurrentReportFolders();
    EXPECT_EQ(folders.program, QCoreApplication::applicationDirPath());
    EXPECT_EQ(folders.documents, documents);
    EXPECT_EQ(folders.home, QDir::homePath());
    EXPECT_EQ(
        ReportPathIn(folders,
                     {.isWritable = [&](const QString& folder) { return folder == documents; }}),
        documents + "/CfgLog.txt");
}

using ReportBoxes = WindowTest;

TEST_F(ReportBoxes, EverySaveBoxNamesTheFile) {
    struct Case {
        const char* name;
        QString path;
        const char* text;
        qtkit::MessageIcon icon;
    };
    const std::vector<Case> cases = {
        {"saved", ReportPath(), "Save data OK", qtkit::MessageIcon::None},
        {"not created", scratch_.filePath(QStringLiteral("gone/CfgLog.txt")), "Failed",
         qtkit::MessageIcon::Exclamation},
        {"short write", QStringLiteral("/dev/full"), "Save data failed",
         qtkit::MessageIcon::Exclamation},
    };
    StartSim({.left = 760, .right = 760});
    for (const Case& c : cases) {
        if (c.path.startsWith(QStringLiteral("/dev/")) && !QFile::exists(c.path)) {
            continue;  // no /dev/full to make the write fail
        }
        boxes_.Forget();
        window_ = std::make_unique<CTORVIKDlg>(
            boxes_, TorvikOptions{.reportPath = c.path, .timeScale = kFastTimeScale});
        OpenCom8();
        boxes_.AnswerNext(qtkit::MessageAnswer::Yes);
        Button("startButton")->click();
        ASSERT_TRUE(WaitUntilIdle()) << c.name;
        ASSERT_EQ(boxes_.Shown().size(), 2u) << c.name;
        const qtkit::MessageRequest& box = boxes_.Shown()[1];
        EXPECT_EQ(box.caption, QStringLiteral("Note")) << c.name;
        EXPECT_EQ(box.text, QString::fromLatin1(c.text)) << c.name;
        EXPECT_EQ(box.icon, c.icon) << c.name;
        EXPECT_EQ(boxes_.Details()[1], QDir::toNativeSeparators(c.path)) << c.name;
        EXPECT_TRUE(boxes_.Details()[0].isEmpty()) << c.name;  // the question names no file
        window_.reset();
    }
}

TEST_F(ReportBoxes, WithoutAChosenFileTheRuleDecides) {
    window_ = std::make_unique<CTORVIKDlg>(boxes_);
    EXPECT_EQ(Window().ReportPath(), ReportPathIn(CurrentReportFolders()));
    // Run from a build tree its owner may write to, the report goes beside the program.
    if (IsWritableFolder(QCoreApplication::applicationDirPath())) {
        EXPECT_EQ(QFileInfo(Window().ReportPath()).absolutePath(),
                  QCoreApplication::applicationDirPath());
    }
}

}  // namespace
}  // namespace k5::torvik::test
