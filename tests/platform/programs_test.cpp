// Programs named by a bare name are found in the search path and get the parameter text
// as exactly one argument.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "programs.h"
#include "shell.h"

namespace {

// A program that writes its argument count and arguments, one a line, into the pipe
// "<itself>.args".
const char* const RecordingScript =
    "#!/bin/sh\n"
    "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$0.args\"\n";

// A pipe the started program writes its record into. The program is detached, so there
// is no process to wait for: the wait is for it to close its end of the pipe.
class RecordPipe {
public:
    explicit RecordPipe(const QString& path) : path_(QFile::encodeName(path)) {
        if (::mkfifo(path_.constData(), 0600) == 0)
            fd_ = ::open(path_.constData(), O_RDONLY | O_NONBLOCK);
    }
    ~RecordPipe() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RecordPipe(const RecordPipe&) = delete;
    RecordPipe& operator=(const RecordPipe&) = delete;

    // Everything written until the writer closed the pipe; what came before the deadline
    // when the program never finishes.
    QByteArray waitForRecord() {
        QByteArray record;
        const QDeadlineTimer deadline(30000);
        while (fd_ >= 0) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0)
                record.append(buffer, n);
            else if (n == 0 && (p.revents & POLLHUP))
                break; // a writer came and went
        }
        return record;
    }

private:
    QByteArray path_;
    int fd_ = -1;
};

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

    QString install(const QString& name, const char* script = RecordingScript) {
        QFile f(bin.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(script);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        record = std::make_unique<RecordPipe>(f.fileName() + ".args");
        return f.fileName();
    }

    // The arguments the installed program recorded, once it has finished.
    QStringList recordedArguments() {
        const QByteArray bytes = record->waitForRecord();
        if (bytes.isEmpty())
            return {QStringLiteral("<the program never ran>")};
        QStringList lines = QString::fromUtf8(bytes).split('\n');
        lines.removeLast(); // after the last newline
        return lines;
    }

    std::unique_ptr<RecordPipe> record;
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
    EXPECT_EQ(recordedArguments(), (QStringList{"1", path}));
}

TEST_F(ProgramsTest, NoParametersMeansNoArgument) {
    install("viewer");
    ASSERT_TRUE(fenwa::platform::ShellOpen("viewer").opened);
    EXPECT_EQ(recordedArguments(), QStringList{"0"});
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
    install("nulargs", "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$0.args\"\n");
    const std::string path = "/photos/\xff\xfe bad\nline\t-rf \"q\" 'x' .jpg ";
    ASSERT_TRUE(fenwa::platform::ShellOpen("nulargs", path).opened);
    EXPECT_EQ(record->waitForRecord().toStdString(), path + '\0');
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
