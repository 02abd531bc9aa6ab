// A window of buttons with hints in English or Chinese ("zh" as the first argument), near
// each edge of the screen, to look at the balloons as a user would. "nograb" as the second
// argument shows the balloon without reading the screen (translucent and masked).
#include "balloonhint.h"
#include "hintfonts.h"
#include "hinthost.h"

#include <QApplication>
#include <QGridLayout>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool chinese = argc > 1 && QString::fromLocal8Bit(argv[1]) == QLatin1String("zh");
    QWidget window;
    window.setObjectName(QStringLiteral("demo"));
    auto* layout = new QGridLayout(&window);
    const QStringList english = {QStringLiteral("Add Directory"),
                                 QStringLiteral("Find the duplicates in the directories"),
                                 QStringLiteral("Delete All Directories"),
                                 QStringLiteral("Save & close: a long hint text that has to wrap "
                                                "over more than one line in the balloon")};
    const QStringList chineseHints = {
        QStringLiteral("加入新的目錄"), QStringLiteral("開始搜尋重複的檔案"),
        QStringLiteral("取消所有目錄"), QStringLiteral("選擇縮圖比例, 比例越小速度越快")};
    const QStringList& hints = chinese ? chineseHints : english;
    for (int i = 0; i < 9; ++i) {
        auto* button = new QPushButton(QStringLiteral("Button %1").arg(i + 1), &window);
        button->setObjectName(QStringLiteral("button%1").arg(i + 1));
        button->setMinimumSize(120, 60);
        button->setToolTip(hints[i % hints.size()]);
        layout->addWidget(button, i / 3, i % 3,
                          (i / 3 == 1) ? Qt::AlignCenter
                                       : (i / 3 == 0 ? Qt::AlignTop : Qt::AlignBottom));
    }
    if (argc > 2 && QString::fromLocal8Bit(argv[2]) == QLatin1String("nograb"))
        THintHost::Instance()->SetScreenGrabber({});
    auto* BalloonHint1 = new TBalloonHint(&window);
    BalloonHint1->SetHintFont(MainWindowHintFont());
    BalloonHint1->SetHintPauseTime(300);
    window.setStyleSheet(QStringLiteral("#demo { background: #3a6ea5; }"));
    // Fills the screen by hand: without a window manager full-screen requests do nothing.
    window.setGeometry(QGuiApplication::primaryScreen()->geometry());
    window.show();
    window.activateWindow();
    return app.exec();
}
