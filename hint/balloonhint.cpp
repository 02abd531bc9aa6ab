#include "balloonhint.h"

TBalloonHint::TBalloonHint(QObject* owner) : QObject(owner) {
    RegisterHintFontSubstitutes();
    THintHost::Instance()->SetHintPause(hintPauseTime_);
    ReplaceHintWindow();
}

TBalloonHint::~TBalloonHint() {
    THintHost::Instance()->Release(this);
}

void TBalloonHint::SetHintDirection(THintDirection value) {
    hintDirection_ = value;
    ApplyHintStyle();
}

void TBalloonHint::SetHintColor(const QColor& value) {
    hintColor_ = value;
    ApplyHintStyle();
}

void TBalloonHint::SetHintShadowColor(const QColor& value) {
    hintShadowColor_ = value;
    ApplyHintStyle();
}

void TBalloonHint::SetOnSelectHintDirection(TOnSelectHintDirection handler) {
    onSelectHintDirection_ = std::move(handler);
    ApplyHintStyle();
}

void TBalloonHint::SetHintFont(const THintFont& value) {
    hintFont_ = value;
    ReplaceHintWindow();
}

void TBalloonHint::SetHintPauseTime(int value) {
    if (value == hintPauseTime_)
        return;
    hintPauseTime_ = value;
    THintHost::Instance()->SetHintPause(value);
}

THintStyle TBalloonHint::Style() const {
    return {BalloonLook{hintColor_, hintShadowColor_, hintFont_}, hintDirection_,
            onSelectHintDirection_};
}

void TBalloonHint::ReplaceHintWindow() {
    THintHost* host = THintHost::Instance();
    host->Install(this, Style());
    host->RecreateHintWindow();
}

void TBalloonHint::ApplyHintStyle() {
    THintHost::Instance()->SetStyle(this, Style());
}
