#pragma once
// How the windows speak to the user: modal message boxes titled "Fenwa". Windows take
// an instance in their constructor, so tests can record the messages instead.

#include <QString>

class QWidget;

namespace fenwa {

class UserMessages {
public:
    virtual ~UserMessages() = default;
    // An error the user can correct: error icon, one OK button.
    virtual void error(QWidget* parent, const QString& text) = 0;
    // A notice (the about box): information icon, one OK button.
    virtual void information(QWidget* parent, const QString& text) = 0;
    // A question answered Yes or No; whoever does not ask answers No.
    virtual bool confirm(QWidget*, const QString&) { return false; }
};

class MessageBoxMessages : public UserMessages {
public:
    void error(QWidget* parent, const QString& text) override;
    void information(QWidget* parent, const QString& text) override;
    bool confirm(QWidget* parent, const QString& text) override;
};

} // namespace fenwa
