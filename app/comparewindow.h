#pragma once
// The comparison window: two to four copies of one group side by side, each with the
// facts a user decides by. Zoom and pan move every picture together, so the same detail
// shows in each. A number key keeps that copy: the other rows of its group become selected
// in the result list, and only the user's Delete there deletes anything.

#include <QImage>
#include <QPointF>
#include <QSize>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PictureLoader.h"

class QLabel;
class QTreeView;

namespace fenwa {

class FileListModel;
class FileRecordStore;
class ListHost;
class UserMessages;
class ComparePicture;

// The rows a comparison shows, or why there are none.
struct ComparedRows {
    enum class Refusal { None, NoGroups, NothingChosen, NotOneGroup, TooMany, NoPicture };
    Refusal refusal = Refusal::None;
    std::vector<size_t> rows; // list rows, the first pane's first
};

// What the list's selection compares: 2 to 4 selected rows of one recorded group, or,
// with one row selected (or none, the current row), that row and the rows of its group
// after it in list order, then those before it, up to 4 in all.
ComparedRows ChooseComparedRows(const FileRecordStore& rows, std::vector<size_t> selected,
                                long current);

// The group after (or before) the group `group` in list order, groups ordered by their
// first row, skipping groups without a picture: its first rows (up to 4), or nothing.
// `fromRow` places a group that is no longer in the list.
std::vector<size_t> SteppedGroupRows(const FileRecordStore& rows, uint32_t group, size_t fromRow,
                                     bool forward);

class TfrmCompare : public QWidget {
    Q_OBJECT
public:
    static constexpr int MaxPanes = 4;

    // What the window needs of the main window's result list.
    struct ListAccess {
        QTreeView* view = nullptr;
        FileListModel* model = nullptr;
        ListHost* host = nullptr;
        UserMessages* messages = nullptr;
        // True while a search or a delete runs: the selection is not changed then.
        std::function<bool()> busy;
    };

    TfrmCompare(ListAccess list, QWidget* parent);
    ~TfrmCompare() override;

    // Compares what the list's selection chooses and shows the window; false (a message
    // said why) when it chooses nothing to compare.
    bool openOnSelection();
    // 1 = English, any other code Chinese.
    void SetLanguage(int code);

    int paneCount() const { return paneCount_; }
    // Zoom 1 fits each picture to its pane; the centre is where the panes look, as a
    // fraction of each picture's width and height.
    double zoom() const { return zoom_; }
    QPointF centre() const { return centre_; }

    // Keeps pane `pane` (0-based): selects the other rows of its group in the list.
    void keepPane(int pane);
    void showNextGroup() { stepGroup(true); }
    void showPriorGroup() { stepGroup(false); }
    void zoomBy(double factor);
    void fitPictures();

    // --- For the picture panes ---
    void zoomAt(ComparePicture* pane, QPointF at, double factor);
    void panBy(ComparePicture* pane, QPointF pixels);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // A compared row, known by what its file is, so that a list re-sorted or changed
    // while the window is open still finds it (or knows it is gone).
    struct PaneRow {
        size_t row = 0;
        uint32_t group = 0;
        std::string path;
        uint64_t inode = 0;
        bool picture = false;
    };
    enum class Showing { Nothing, Loading, NotPicture, Unreadable, Picture };
    struct Pane {
        QWidget* column = nullptr;
        Showing state = Showing::Nothing;
        ComparePicture* picture = nullptr;
        QLabel* facts = nullptr;
        PaneRow row;
        // As the list shows them.
        QString name;
        QString folder;
        QString modified;
        int64_t bytes = 0;
        TPictureHeaderFacts header;
        bool headerRead = false;
        QSize loadedSize; // as the picture loaded, for kinds whose header gives none
    };

    void showRows(const std::vector<size_t>& rows);
    void stepGroup(bool forward);
    // Starts the waiting loads while fewer than LoadsAtOnce run.
    void startLoads();
    void headerArrived(int generation, int pane, const TPictureHeaderFacts& facts);
    void pictureArrived(int generation, int pane, const std::vector<QImage>& levels,
                        QSize loadedSize);
    void updateFacts(int pane);
    void updateAllFacts();
    void updateTexts();
    // The pane's row in the list as it is now, or -1 when the row left it.
    long currentRowOf(PaneRow& row) const;
    void refuse(ComparedRows::Refusal refusal);
    // What a pane without a picture says instead.
    QString noteOf(Showing state) const;

    ListAccess list_;
    std::array<Pane, MaxPanes> panes_;
    int paneCount_ = 0;
    QLabel* lblCompareKeys = nullptr;
    QLabel* lblCompareStatus = nullptr;
    int language_ = 1;
    double zoom_ = 1.0;
    QPointF centre_{0.5, 0.5};
    // Loads of an earlier showing are dropped when they arrive.
    int generation_ = 0;
    std::shared_ptr<std::atomic<int>> liveGeneration_;
    std::vector<int> waiting_; // panes whose picture is still to load
    int running_ = 0;          // loads under way, of this showing or an earlier one
};

} // namespace fenwa
