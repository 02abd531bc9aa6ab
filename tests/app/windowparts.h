#pragma once
// Window tests reach the window's parts by object name and act on them as a user does:
// clicks, keys, context menus. A part missing or named twice stops the run with its name.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTreeView>
#include <QtTest>
#include <vector>

#include "filelistmodel.h"

namespace fenwa {

template <class T = QWidget> T* part(const QObject& w, const char* name) {
    const QList<T*> found = w.findChildren<T*>(QLatin1String(name));
    if (found.size() != 1)
        qFatal("window part \"%s\" (%s) found %d times", name, T::staticMetaObject.className(),
               int(found.size()));
    return found.front();
}
// One of a row of like parts: "AdvImage", 1 for "AdvImage1".
template <class T = QWidget> T* nth(const QObject& w, const char* stem, int number) {
    return part<T>(w, qPrintable(QLatin1String(stem) + QString::number(number)));
}
inline QAbstractButton* button(const QObject& w, const char* name) {
    return part<QAbstractButton>(w, name);
}
inline QLineEdit* lineEdit(const QObject& w, const char* name) {
    return part<QLineEdit>(w, name);
}
inline QAction* action(const QObject& w, const char* name) {
    return part<QAction>(w, name);
}
inline QTreeView* fileList(const QObject& w) {
    return part<QTreeView>(w, "lvFiles");
}
inline FileListModel* model(const QObject& w) {
    return &dynamic_cast<FileListModel&>(*fileList(w)->model());
}
// The status bar's note of the selection (and of the groups a rule left undecided).
inline QString selectionNote(const QObject& w) {
    return part<QLabel>(w, "lblSelection")->text();
}

// A mouse click where the button shows; one on a page not in front as its shortcut would.
inline void click(const QObject& w, const char* name) {
    QAbstractButton* b = button(w, name);
    if (b->isVisible())
        QTest::mouseClick(b, Qt::LeftButton);
    else
        b->click();
}
// Clicks a check box or radio button that is not already as wanted.
inline void tick(const QObject& w, const char* name, bool on = true) {
    if (button(w, name)->isChecked() != on)
        button(w, name)->click();
}
inline bool ticked(const QObject& w, const char* name) {
    return button(w, name)->isChecked();
}

// One key event per character: QTest::keyClicks cannot send every text.
inline void typeText(QWidget* target, const QString& text) {
    for (QChar c : text)
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent key(type, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(target, &key);
        }
}
// Types over the field's text (the first key replaces it all), then Enter when asked.
inline void typeInto(const QObject& w, const char* name, const QString& text, bool enter = false) {
    QLineEdit* e = lineEdit(w, name);
    e->setFocus();
    e->selectAll();
    if (text.isEmpty())
        QTest::keyClick(e, Qt::Key_Backspace);
    typeText(e, text);
    if (enter)
        QTest::keyClick(e, Qt::Key_Return);
}

// Rows are clicked in the size column where it shows: a click on the current row's name
// would start renaming it.
inline QRect rowRect(const QObject& w, int row) {
    QTreeView* list = fileList(w);
    const QRect size = list->visualRect(model(w)->index(row, ColSize));
    return list->viewport()->rect().contains(size.center())
               ? size
               : list->visualRect(model(w)->index(row, ColName));
}
inline void clickRow(const QObject& w, int row, Qt::KeyboardModifiers modifiers = {}) {
    fileList(w)->scrollTo(model(w)->index(row, 0)); // as the user scrolls to it
    QTest::mouseClick(fileList(w)->viewport(), Qt::LeftButton, modifiers, rowRect(w, row).center());
}
inline void clickHeader(const QObject& w, int column) {
    QHeaderView* h = fileList(w)->header();
    const QPoint p(h->sectionViewportPosition(column) + h->sectionSize(column) / 2,
                   h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
}
inline QList<int> selectedRows(const QObject& w) {
    QList<int> rows;
    for (const QModelIndex& i : fileList(w)->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}
inline QStringList column(const QObject& w, int c) {
    QStringList out;
    for (int r = 0; r < model(w)->rowCount(); ++r)
        out << model(w)->index(r, c).data().toString();
    return out;
}

// The result list's name editor while one is open.
inline QLineEdit* openEditor(const QObject& w) {
    for (QLineEdit* e : fileList(w)->viewport()->findChildren<QLineEdit*>())
        if (e->isVisible())
            return e;
    return nullptr;
}
// Clicks the row (in its Size column: F2 edits the name wherever the row was clicked),
// then F2: the name editor, or null. The row is unselected first, so that the click
// itself does not start an edit a moment later.
inline QLineEdit* startEditing(const QObject& w, int row) {
    if (selectedRows(w).contains(row))
        clickRow(w, row, Qt::ControlModifier);
    const QRect size = fileList(w)->visualRect(model(w)->index(row, ColSize));
    QTest::mouseClick(fileList(w)->viewport(), Qt::LeftButton, {}, size.center());
    QTest::keyClick(fileList(w), Qt::Key_F2);
    return openEditor(w);
}
// Renames a row as a user does: F2, the new text (none: Delete), Enter or Esc.
inline void editName(const QObject& w, int row, const QString& text, Qt::Key end = Qt::Key_Return) {
    QLineEdit* editor = startEditing(w, row);
    QVERIFY2(editor, "F2 opened no editor");
    editor->selectAll();
    if (text.isEmpty())
        QTest::keyClick(editor, Qt::Key_Delete);
    typeText(editor, text);
    QTest::keyClick(editor, end);
    // The list commits the edit through a queued call.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!openEditor(w));
}

// A right click on the control (on its viewport for a list): the menu that opened, or null.
inline QMenu* openContextMenu(const QObject& w, const char* name, QPoint at = {4, 4}) {
    QWidget* target = part(w, name);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(target))
        target = area->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
    QApplication::sendEvent(target, &event);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}
inline void closeMenus() {
    while (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
}
// A menu's item by name; a submenu answers as the item that opens it.
inline QAction* menuItem(const QMenu& menu, const char* name) {
    QObject* found = part<QObject>(menu, name);
    if (auto* submenu = qobject_cast<QMenu*>(found))
        return submenu->menuAction();
    return &dynamic_cast<QAction&>(*found);
}
// Opens the control's context menu and chooses the item, when it is offered (`run`), or
// only looks: answers whether it was offered.
inline bool choose(const QObject& w, const char* control, const char* item, bool run = true) {
    QMenu* menu = openContextMenu(w, control);
    if (!menu)
        qFatal("no context menu opened on \"%s\"", control);
    QAction* a = menuItem(*menu, item);
    const bool enabled = a->isEnabled();
    closeMenus();
    if (enabled && run)
        a->trigger();
    return enabled;
}
inline bool offered(const QObject& w, const char* control, const char* item) {
    return choose(w, control, item, false);
}

// The objects that receive events of one kind, in order, while it lives: those of one
// object, or of every object of the application.
class EventRecorder : public QObject {
public:
    explicit EventRecorder(QEvent::Type type, QObject* watched = qApp)
        : type_(type), watched_(watched) {
        watched_->installEventFilter(this);
    }
    ~EventRecorder() override { watched_->removeEventFilter(this); }
    std::vector<QObject*> seen;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == type_)
            seen.push_back(object);
        return false;
    }

private:
    QEvent::Type type_;
    QObject* watched_;
};

} // namespace fenwa
