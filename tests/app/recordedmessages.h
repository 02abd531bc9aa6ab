#pragma once
// Stands in for the message boxes in window tests: every message is recorded.

#include <QStringList>

#include "messages.h"

namespace fenwa {

struct RecordedMessages : UserMessages {
    QStringList errors;
    QStringList notices;
    void error(QWidget*, const QString& text) override { errors << text; }
    void information(QWidget*, const QString& text) override { notices << text; }
    QStringList questions;
    bool answer = false;
    bool confirm(QWidget*, const QString& text) override {
        questions << text;
        return answer;
    }
};

} // namespace fenwa
