#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "common/Errors.h"
#include "platform/QtShell.h"

namespace {

TEST(QtShell, FileExistsOnlyForAFileAtExactlyThatPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("MSINFO32.EXE")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    QtShell shell;
    EXPECT_TRUE(shell.fileExists(file.fileName()));
    EXPECT_FALSE(shell.fileExists(dir.path()));
    EXPECT_FALSE(shell.fileExists(dir.filePath(QStringLiteral("MISSING.EXE"))));
    EXPECT_FALSE(shell.fileExists(QString()));
}

TEST(QtShell, StartingWhatCannotRunThrows) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile notProgram(dir.filePath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(notProgram.open(QIODevice::WriteOnly));
    notProgram.close();

    QtShell shell;
    EXPECT_THROW(shell.startProgram(QString()), FadewellError);
    EXPECT_THROW(shell.startProgram(dir.filePath(QStringLiteral("missing"))), FadewellError);
    EXPECT_THROW(shell.startProgram(notProgram.fileName()), FadewellError);
}

TEST(QtShell, StartsAProgramInAFolderWithSpacesWithoutWaiting) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("System Tools")));
    const QString marker = dir.filePath(QStringLiteral("ran"));
    QFile script(dir.filePath(QStringLiteral("System Tools/info tool")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ntouch '" + QFile::encodeName(marker) + "'\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QtShell shell;
    shell.startProgram(script.fileName());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(marker); }, 5000));
}

} // namespace
