#pragma once

#include "balloongeometry.h"
#include "hintfonts.h"
#include "hinthost.h"

#include <QColor>
#include <QObject>

#include <functional>

// The hint-balloon component. While one exists, every hint of the application shows as a
// cartoon balloon instead of the standard tool-tip; its properties give the balloon's
// preferred side, colours, font and the pause before a hint appears. Creating it installs the
// balloon application-wide; destroying it brings the standard tool-tip back.
//
//     TBalloonHint* BalloonHint1 = new TBalloonHint(mainWindow);
//     BalloonHint1->SetHintFont(MainWindowHintFont());
class TBalloonHint : public QObject {
    Q_OBJECT
public:
    // Lets the owner choose the direction for the control under the cursor, for one showing.
    using TOnSelectHintDirection =
        std::function<void(QWidget* HintControl, THintDirection& HintDirection)>;

    explicit TBalloonHint(QObject* owner = nullptr);
    ~TBalloonHint() override;

    THintDirection HintDirection() const { return hintDirection_; }
    void SetHintDirection(THintDirection value);

    QColor HintColor() const { return hintColor_; }
    void SetHintColor(const QColor& value);

    QColor HintShadowColor() const { return hintShadowColor_; }
    void SetHintShadowColor(const QColor& value);

    const THintFont& HintFont() const { return hintFont_; }
    // Also rebuilds the hint window so that the next hint is measured with the new font.
    void SetHintFont(const THintFont& value);

    int HintPauseTime() const { return hintPauseTime_; }
    // A new value becomes the application's hint pause at once; the current value does
    // nothing, so a pause set elsewhere stays.
    void SetHintPauseTime(int value);

    // The handler gets the deepest control under the mouse, disabled ones included.
    const TOnSelectHintDirection& OnSelectHintDirection() const { return onSelectHintDirection_; }
    void SetOnSelectHintDirection(TOnSelectHintDirection handler);

    // Installs the balloon with a fresh hint window, which measures hint texts with HintFont.
    void ReplaceHintWindow();
    // Hands the properties down to the application's hints.
    void ApplyHintStyle();

private:
    THintStyle Style() const;

    THintDirection hintDirection_ = hdUpRight;
    QColor hintColor_{255, 255, 0};
    QColor hintShadowColor_{128, 0, 128};
    THintFont hintFont_ = DefaultHintFont();
    int hintPauseTime_ = 600;
    TOnSelectHintDirection onSelectHintDirection_;
};
