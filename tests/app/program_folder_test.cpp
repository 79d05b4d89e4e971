// What ships in the program folder: the help file's topics, the desktop
// entry, the about picture; and the program started without a display.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include "app/about_picture.h"
#include "app/jpeg_image.h"

namespace veltra {
namespace {

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ProgramFolderTest, HelpFileHasEveryTopicTheWindowsCarry) {
    const QByteArray help = Read(QString(VELTRA_PROGRAM_DIR) + "/veltrahelp.hlp");
    ASSERT_FALSE(help.isEmpty());
    for (int topic : {1, 4, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18}) {
        EXPECT_TRUE(help.contains(QString("id=\"topic-%1\"").arg(topic).toUtf8())) << topic;
        EXPECT_TRUE(help.contains(QString("href=\"#topic-%1\"").arg(topic).toUtf8())) << topic;
    }
}

TEST(ProgramFolderTest, StagingFolderIsComplete) {
    for (const char* name : {"veltra-log", "datamast.dat", "datamast.idx", "datamast.blb",
                             "sys1.dat", "sys2.dat", "faq.txt", "veltrahelp.hlp",
                             "veltra-log.desktop", "veltra-log.svg"}) {
        EXPECT_TRUE(QFile::exists(QString(VELTRA_PROGRAM_DIR) + "/" + name)) << name;
    }
    EXPECT_TRUE(QFileInfo(QString(VELTRA_PROGRAM_DIR) + "/data").isDir());
}

TEST(ProgramFolderTest, DesktopEntryValidates) {
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty()) GTEST_SKIP() << "desktop-file-validate is not installed";
    QProcess process;
    process.start(validator, {QString(VELTRA_DIST_DIR) + "/veltra-log.desktop"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardOutput().toStdString()
                                     << process.readAllStandardError().toStdString();
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
}

TEST(ProgramFolderTest, AboutPictureDecodesAndBadDataDoesNot) {
    const QImage picture = DecodeJpeg(kAboutPicture, kAboutPictureSize);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(400, 260));
    const QByteArray garbage("this is not a JPEG image at all");
    EXPECT_TRUE(DecodeJpeg(reinterpret_cast<const unsigned char*>(garbage.data()), garbage.size())
                    .isNull());
    EXPECT_TRUE(DecodeJpeg(kAboutPicture, 40).isNull());
    EXPECT_TRUE(DecodeJpeg(nullptr, 0).isNull());
}

TEST(ProgramFolderTest, WithoutADisplayTheProgramSaysHowToRunIt) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    process.setProcessEnvironment(env);
    process.start(VELTRA_LOG_PATH, {});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(process.exitCode(), 0);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("xvfb-run")) << err.toStdString();
}

}  // namespace
}  // namespace veltra
