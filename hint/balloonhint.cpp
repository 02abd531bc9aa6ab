#include "balloonhint.h"

#include "hinthost.h"
#include "newhint.h"

TBalloonHint::TBalloonHint(QObject* owner) : QObject(owner) {
    RegisterHintFontSubstitutes();
    THintHost::Instance()->SetHintPause(hintPauseTime_);
    ReplaceHintWindow();
    ApplyHintFont();
}

TBalloonHint::~TBalloonHint() {
    THintHost::Instance()->Release(this);
}

void TBalloonHint::SetHintFont(const THintFont& value) {
    hintFont_ = value;
    ReplaceHintWindow();
    ApplyHintFont();
}

void TBalloonHint::SetHintPauseTime(int value) {
    if (value == hintPauseTime_)
        return;
    hintPauseTime_ = value;
    THintHost::Instance()->SetHintPause(value);
}

void TBalloonHint::ReplaceHintWindow() {
    THintHost* host = THintHost::Instance();
    host->Install(this);
    host->RecreateHintWindow();
}

void TBalloonHint::ApplyHintFont() {
    if (TNewHint* window = THintHost::Instance()->HintWindow())
        window->SetCanvasFont(hintFont_);
}
