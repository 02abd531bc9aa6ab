#pragma once
// The two interface languages: every caption and hint that changes with the language,
// the window font, the texts of the directory-picking dialog and the viewer's menu.
// Message boxes are not here: they read the same in both languages.

#include <QString>
#include <QStringList>
#include <vector>

namespace fenwa {

enum LanguageCode : int { English = 1, Chinese = 2 };

enum class TextRole { Caption, Hint };

struct LanguageText {
    const char* control; // the control's name; "TfrmMain" is the window itself
    TextRole role;
    const char* english;
    const char* chinese; // an empty english or chinese text means no hint
};

// In the order they are applied.
const std::vector<LanguageText>& languageTable();

// Every code other than English counts as Chinese.
QString languageText(const LanguageText& entry, int code);

struct LanguageFont {
    QString family;
    int points;
};
LanguageFont windowFontFor(int code);

// The directory-picking dialog; the filter's description and pattern are separated by '|'.
struct OpenDialogTexts {
    QString fileName;
    QString filter;
    QString title;
};
OpenDialogTexts openDialogTextsFor(int code);

// The viewer's menu, in the order miNextImage, miPriorImage, miFirstImage, miLastImage,
// miDelete, miClose; the blanks line the key names up.
QStringList viewerMenuCaptionsFor(int code);

// The result list's column headers: the five of the records read the same in both
// languages; the picture columns after them are translated.
QStringList listHeaderCaptionsFor(int code);

// The list menu's Undo item, naming the action it would reverse.
enum class UndoCaption { Nothing, Delete, Rename, Move, Replace };
QString undoMenuCaptionFor(int code, UndoCaption action);

// The tooltip of a row of the result list under a protected directory.
QString protectedRowHintFor(int code);

// "description|pattern" as a file dialog's name filter: "description (pattern)".
QString dialogNameFilter(const QString& filter);

// The English caption the language table gives a control (its name when none).
QString englishCaption(const char* control);

} // namespace fenwa
