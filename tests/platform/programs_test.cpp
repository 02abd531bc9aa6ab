// Programs named by a bare name are found in the search path and get the parameter text
// as exactly one argument.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

#include "programs.h"
#include "shell.h"

namespace {

// A program that writes its argument count and arguments, one a line, next to itself.
const char* const RecordingScript = "#!/bin/sh\n"
                                    "out=\"$(dirname \"$0\")/$(basename \"$0\").args\"\n"
                                    "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; "
                                    "done; } > \"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n";

class ProgramsTest : public testing::Test {
protected:
    QTemporaryDir bin;
    QByteArray savedPath;

    void SetUp() override {
        ASSERT_TRUE(bin.isValid());
        savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ":/usr/bin:/bin");
    }
    void TearDown() override { qputenv("PATH", savedPath); }

    QString install(const QString& name) {
        QFile f(bin.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(RecordingScript);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return f.fileName();
    }

    // The arguments the program recorded; waits for the detached program to finish.
    QStringList recordedArguments(const QString& name) {
        const QString out = bin.filePath(name + ".args");
        QElapsedTimer waited;
        waited.start();
        while (!QFile::exists(out) && waited.elapsed() < 30000)
            QThread::msleep(20);
        QFile f(out);
        if (!f.open(QIODevice::ReadOnly))
            return {QStringLiteral("<the program never ran>")};
        QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
        lines.removeLast(); // after the last newline
        return lines;
    }
};

} // namespace

TEST(ProgramNames, CandidatesInLookupOrder) {
    using fenwa::platform::programNameCandidates;
    EXPECT_EQ(programNameCandidates("ACDSee32.exe"),
              (std::vector<QString>{"ACDSee32.exe", "ACDSee32", "acdsee32"}));
    EXPECT_EQ(programNameCandidates("uedit32.EXE"),
              (std::vector<QString>{"uedit32.EXE", "uedit32"}));
    EXPECT_EQ(programNameCandidates("tool"), (std::vector<QString>{"tool"}));
}

TEST_F(ProgramsTest, FindsTheFirstCandidateOnThePath) {
    EXPECT_EQ(fenwa::platform::findProgram("Uedit32.exe"), QString());
    const QString lower = install("uedit32");
    EXPECT_EQ(fenwa::platform::findProgram("Uedit32.exe"), lower);
    const QString stem = install("Uedit32");
    EXPECT_EQ(fenwa::platform::findProgram("Uedit32.exe"), stem);
    EXPECT_EQ(fenwa::platform::findProgram(bin.path() + "/Uedit32"), QString()); // not bare
}

TEST_F(ProgramsTest, ThePathReachesTheProgramAsOneArgument) {
    install("acdsee32");
    const QString path = QStringLiteral("/photos/my holiday/-rf *.png");
    const auto result = fenwa::platform::ShellOpen("ACDSee32.exe", path.toStdString());
    ASSERT_TRUE(result.opened) << result.message.toStdString();
    EXPECT_EQ(recordedArguments("acdsee32"), (QStringList{"1", path}));
}

TEST_F(ProgramsTest, NoParametersMeansNoArgument) {
    install("viewer");
    ASSERT_TRUE(fenwa::platform::ShellOpen("viewer").opened);
    EXPECT_EQ(recordedArguments("viewer"), QStringList{"0"});
}

TEST_F(ProgramsTest, AMissingProgramIsReportedInTheLayersWords) {
    const auto result = fenwa::platform::ShellOpen("NoSuchProgram.exe", "/x");
    EXPECT_FALSE(result.opened);
    EXPECT_TRUE(result.message.contains("'NoSuchProgram.exe'"));
    EXPECT_TRUE(fenwa::platform::ShellOpen(std::string(), "/x").opened); // nothing to do
}

TEST_F(ProgramsTest, StartFailureIsReported) {
    QFile f(bin.filePath("broken"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a program");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_NE(fenwa::platform::startDetached(f.fileName().toStdString(), {}), 0);
}

// Names a file system allows but that break naive handling: not UTF-8, line breaks,
// tabs, a leading dash, quotes, blanks at both ends.
TEST_F(ProgramsTest, AnyFileNameReachesTheProgramByteForByte) {
    QFile f(bin.filePath("nulargs"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nout=\"$0.args\"\nprintf '%s\\0' \"$@\" > \"$out.tmp\" && "
            "mv \"$out.tmp\" \"$out\"\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const std::string path = "/photos/\xff\xfe bad\nline\t-rf \"q\" 'x' .jpg ";
    ASSERT_TRUE(fenwa::platform::ShellOpen("nulargs", path).opened);
    const QString out = bin.filePath("nulargs.args");
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(out) && waited.elapsed() < 30000)
        QThread::msleep(20);
    QFile recorded(out);
    ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
    EXPECT_EQ(recorded.readAll().toStdString(), path + '\0');
}

TEST(ShellOpenAddress, FileAddressesKeepEveryByteOfTheName) {
    const std::string path = "/tmp/\xff\xfe\nname #1 %41?.jpg";
    const QByteArray encoded = fenwa::platform::fileUrlOf(path);
    const QUrl url = QUrl::fromEncoded(encoded, QUrl::StrictMode);
    ASSERT_TRUE(url.isValid());
    EXPECT_TRUE(url.isLocalFile());
    EXPECT_EQ(url.toEncoded(), encoded); // what the opener is handed
    EXPECT_EQ(
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString(),
        path);
    // A name that is UTF-8 comes back as the same text.
    EXPECT_EQ(QUrl::fromEncoded(fenwa::platform::fileUrlOf("/tmp/相片 a.jpg")).toLocalFile(),
              QStringLiteral("/tmp/相片 a.jpg"));
}
