#include "languages.h"

#include <string_view>

namespace fenwa {

namespace {

constexpr TextRole C = TextRole::Caption;
constexpr TextRole H = TextRole::Hint;

const char* const DelayHintEnglish = "Delay ?? milliseconds";
const char* const DelayHintChinese = "先等千分之 ?? 秒再載入圖片內容";
const char* const ScaleHintEnglish = "Image Scale";
const char* const ScaleHintChinese = "選擇縮圖比例, 比例越小速度越快";
const char* const SlideHintChinese = "列出重複的圖(依據篩選條件而出現)";

} // namespace

const std::vector<LanguageText>& languageTable() {
    static const std::vector<LanguageText> table{
        {"TfrmMain", C, "Fenwa", "Fenwa"},
        {"Label2", C, "Input directories to find duplicates:", "輸入要搜尋的目錄:"},
        {"btnAddDir", H, "Add Directory", "加入新的目錄"},
        {"btnSubDir", H, "Delete Directory", "取消您所選擇的目錄"},
        {"btnClearDir", H, "Delete All Directories", "取消所有目錄"},
        {"lblVersion", C, "Version: 0.5", "版本: 0.5"},
        {"lblDate", C, "Date: 4/20/1998", "日期: 4/20/1998"},
        {"Image1", H, "Connect to my web page", "連到我的網頁"},
        {"Edit1", H, "Input a directory", "輸入要搜尋的目錄"},
        {"lstDir", H, "Directories list", "您可以一次檢查多個目錄"},
        {"btnFindDuplicates", H, "Find the duplicates in the directories", "開始搜尋重複的檔案"},
        {"btnFindDuplicates", C, "Find Duplicates", "找出重複"},
        {"btnFindAll", H, "List all files in the directories", "列出所有檔案"},
        {"btnFindAll", C, "List All", "列出所有"},
        {"tbsOptions", C, "Options", "選項"},
        {"edTime", H, DelayHintEnglish, DelayHintChinese},
        {"Label5", H, DelayHintEnglish, DelayHintChinese},
        // The edit sits in the blanks between the two parts of the caption.
        {"Label5", C, "Delay time:                    mSeconds",
         "動作前先等                 /1000 秒"},
        {"ckName", H, "Compare names", "搜尋名稱重複的檔案"},
        {"ckName", C, "Name", "檔名"},
        {"ckSize", H, "Compare size", "搜尋相同大小的檔案"},
        {"ckSize", C, "Size", "大小"},
        {"ckTime", H, "Compare time", "搜尋相同時間的檔案"},
        {"ckTime", C, "Time", "時間"},
        {"ckContent", H, "Compare content, byte for byte", "搜尋內容相同的檔案"},
        {"ckContent", C, "Content", "內容"},
        {"ckSimilar", H, "Find pictures that look alike: resized, recompressed, turned or mirrored",
         "搜尋相似的圖片:縮放、重新壓縮、旋轉或鏡像"},
        {"ckSimilar", C, "Similar", "相似"},
        {"cbSimilarLevel", H, "How alike similar pictures must be", "相似的程度"},
        {"cbSimilarLevel", C, "Strict|Normal|Loose", "嚴格|一般|寬鬆"},
        {"ckInclude", H, "", "搜尋時是否包含子目錄"},
        {"ckInclude", C, "Include Subdirectories", "包含子目錄"},
        {"raClick", H, "", "點一下滑鼠預覽圖片或顯示幻燈片"},
        {"raClick", C, "Single click to action", "單擊滑鼠開始動作"},
        {"raDblClick", H, "", "點兩下滑鼠預覽圖片或顯示幻燈片"},
        {"raDblClick", C, "Double click to action", "雙擊滑鼠開始動作"},
        {"ckShowSlides", H, "", "是否顯示下面的幻燈片"},
        {"ckShowSlides", C, "Show Slides", "顯示幻燈片"},
        {"ckPreview", H, "", "是否預覽圖片"},
        {"ckPreview", C, "Preview", "預覽"},
        {"tbsMore", C, "More Options", "更多選項"},
        {"ckNoConfirm", H, "File deletion", "刪除檔案時不必確認"},
        {"ckNoConfirm", C, "No confirmation", "不必確認"},
        {"ckNoRecycle", H, "File deletion", "真正刪除,不必丟到資源回收筒"},
        {"ckNoRecycle", C, "Don't use recycle bin", "不必丟資源回收筒"},
        {"btnSaveOptions", H, "", "儲存設定值"},
        {"btnSaveOptions", C, "Save options", "儲存設定"},
        {"btnClearCache", H, "Forget the fingerprints and content hashes kept between searches",
         "清除搜尋之間保存的指紋與內容雜湊"},
        {"btnClearCache", C, "Clear cache", "清除快取"},
        {"cbProtected", H,
         "Protected folders: rules never select their files, and a Delete asks first",
         "受保護的資料夾: 規則不會選取其中的檔案, 刪除前會先問"},
        {"cbProtected", C, "Protected", "受保護"},
        {"btnAddProtected", H, "Add a protected folder", "加入受保護的資料夾"},
        {"btnDelProtected", H, "Remove the protected folder shown", "移除顯示的受保護資料夾"},
        {"tbsFilters", C, "Filters", "篩選"},
        {"lblMinSize", C, "Min size:", "最小:"},
        {"lblMaxSize", C, "Max size:", "最大:"},
        {"lblSizeUnit", C, "bytes, or with k, M, G; blank: any",
         "位元組, 或加 k, M, G; 空白: 不限"},
        {"edMinSize", H,
         "Files smaller than this are left out: bytes, or a number with k, M or G after it "
         "(1k is 1024 bytes)",
         "小於此大小的檔案不列入: 位元組數, 或數字後加 k, M 或 G (1k 是 1024 位元組)"},
        {"edMaxSize", H,
         "Files larger than this are left out (blank: no limit): bytes, or a number with k, M "
         "or G after it",
         "大於此大小的檔案不列入 (空白: 不限): 位元組數, 或數字後加 k, M 或 G"},
        {"ckSkipEmpty", H, "Leave out files of 0 bytes", "不列入 0 位元組的檔案"},
        {"ckSkipEmpty", C, "Skip empty files", "略過空檔案"},
        {"ckPicturesOnly", H, "Leave out every file that is not a picture", "只列入圖片檔案"},
        {"ckPicturesOnly", C, "Pictures only", "只找圖片"},
        {"cbSkipFolders", H, "Folders a search does not enter, by whatever path it comes to them",
         "搜尋時不進入的資料夾, 不論經由哪個路徑到達"},
        {"cbSkipFolders", C, "Skip folders", "略過的資料夾"},
        {"btnAddSkip", H, "Add a folder to skip", "加入要略過的資料夾"},
        {"btnDelSkip", H, "Remove the skipped folder shown", "移除顯示的略過資料夾"},
        {"Image", H, "Double click to view in full size", "雙擊滑鼠可看原圖"},
        {"rbHalf", H, ScaleHintEnglish, ScaleHintChinese},
        {"rbQuarter", H, ScaleHintEnglish, ScaleHintChinese},
        {"rbEighth", H, ScaleHintEnglish, ScaleHintChinese},
        {"rbFullSize", H, ScaleHintEnglish, ScaleHintChinese},
        {"rbEighth", C, "1/8(Faster)", "1/8(最快)"},
        {"AdvImage1", H, "", SlideHintChinese},
        {"AdvImage2", H, "", SlideHintChinese},
        {"AdvImage3", H, "", SlideHintChinese},
        {"AdvImage4", H, "", SlideHintChinese},
        {"AdvImage5", H, "", SlideHintChinese},
        {"miNextGroup", C, "Next Group [Ctrl+Down]", "下一組 [Ctrl+Down]"},
        {"miPriorGroup", C, "Prior Group [Ctrl+Up]", "上一組 [Ctrl+Up]"},
        {"miOpen", C, "Open", "開啟舊檔"},
        {"miViewFull", C, "View Image In Full Size", "觀看原圖大小"},
        {"miPreview", C, "Preview", "預覽"},
        {"miCompare", C, "Compare Side by Side [F3]", "並排比較 [F3]"},
        {"miAcdsee", C, "Open With ACDSee", "用 ACDSee 開啟"},
        {"miUltraEdit", C, "Open With UltraEdit", "用 UltraEdit 開啟"},
        {"miDelete", C, "Delete", "刪除"},
        {"miMoveTo", C, "Move to Folder...", "移動到資料夾..."},
        {"miHardLink", C, "Replace with Hard Link", "以硬連結取代"},
        {"miSymLink", C, "Replace with Symbolic Link", "以符號連結取代"},
        {"miReflink", C, "Replace with Reflink Clone", "以 reflink 複本取代"},
        {"miSaveList", C, "Save List As...", "清單另存新檔..."},
        {"miView", C, "View Image In Full Size", "觀看原圖大小"},
        {"miAddItem", C, "Add", "新增"},
        {"miDelItems", C, "Delete", "刪除"},
        {"miDelAllItems", C, "Delete All", "刪除全部"},
        {"miProtectDir", C, "Protect (never delete)", "保護 (不刪除)"},
        {"miSelect", C, "Select", "選取"},
        {"miKeepNewest", C, "Keep the newest", "保留最新的"},
        {"miKeepOldest", C, "Keep the oldest", "保留最舊的"},
        {"miKeepLargest", C, "Keep the largest file", "保留最大的檔案"},
        {"miKeepPixels", C, "Keep the picture with the most pixels", "保留像素最多的圖片"},
        {"miKeepTaken", C, "Keep the earliest taken", "保留最早拍攝的"},
        {"miKeepShortest", C, "Keep the shortest path", "保留路徑最短的"},
        {"miKeepUnder", C, "Keep the one under a directory...", "保留某個目錄下的..."},
        {"miKeepFirst", C, "Keep the first row", "保留第一列"},
        {"miThenBy", C, "Then by", "其次依"},
        {"miThenFirst", C, "The first row", "第一列"},
        {"miThenNewest", C, "Newest", "最新"},
        {"miThenOldest", C, "Oldest", "最舊"},
        {"miThenLargest", C, "Largest", "最大"},
        {"miThenPixels", C, "Most pixels", "像素最多"},
        {"miThenTaken", C, "Earliest taken", "最早拍攝"},
        {"miThenShortest", C, "Shortest path", "路徑最短"},
        {"miInvertSelection", C, "Invert selection within groups", "組內反向選取"},
        {"miClearSelection", C, "Clear selection", "取消選取"},
    };
    return table;
}

QString languageText(const LanguageText& entry, int code) {
    return QString::fromUtf8(code == English ? entry.english : entry.chinese);
}

LanguageFont windowFontFor(int code) {
    if (code == English)
        return {QStringLiteral("MS Sans Serif"), 8};
    return {QStringLiteral("新細明體"), 9};
}

OpenDialogTexts openDialogTextsFor(int code) {
    if (code == English)
        return {QStringLiteral("Any file name"), QStringLiteral("No need to change.|.___"),
                QStringLiteral("You can input any file name")};
    return {QStringLiteral("任何檔名"), QStringLiteral("不必變更.|.___"),
            QStringLiteral("隨便打個檔名即可指定此目錄")};
}

QStringList viewerMenuCaptionsFor(int code) {
    if (code == English)
        return {
            QStringLiteral("Next Image     [PageDown]"), QStringLiteral("Prior Image     [PageUp]"),
            QStringLiteral("First Image      [Home]"),   QStringLiteral("Last Image      [End]"),
            QStringLiteral("Delete             [Del]"),  QStringLiteral("Close")};
    return {QStringLiteral("下一張     [PageDown]"), QStringLiteral("上一張     [PageUp]"),
            QStringLiteral("第一張     [Home]"),     QStringLiteral("末一張     [End]"),
            QStringLiteral("刪除         [Del]"),    QStringLiteral("關閉")};
}

QStringList listHeaderCaptionsFor(int code) {
    QStringList captions{QStringLiteral("Name"), QStringLiteral("Directory"),
                         QStringLiteral("Size"), QStringLiteral("Type"), QStringLiteral("Time")};
    if (code == English)
        captions << QStringLiteral("Picture size") << QStringLiteral("Taken")
                 << QStringLiteral("Likeness");
    else
        captions << QStringLiteral("圖片尺寸") << QStringLiteral("拍攝時間")
                 << QStringLiteral("相似度");
    return captions;
}

QString undoMenuCaptionFor(int code, UndoCaption action) {
    const bool english = code == English;
    switch (action) {
    case UndoCaption::Delete:
        return english ? QStringLiteral("Undo Delete [Ctrl+Z]")
                       : QStringLiteral("復原刪除 [Ctrl+Z]");
    case UndoCaption::Rename:
        return english ? QStringLiteral("Undo Rename [Ctrl+Z]")
                       : QStringLiteral("復原改名 [Ctrl+Z]");
    case UndoCaption::Move:
        return english ? QStringLiteral("Undo Move [Ctrl+Z]") : QStringLiteral("復原移動 [Ctrl+Z]");
    case UndoCaption::Replace:
        return english ? QStringLiteral("Undo Replace [Ctrl+Z]")
                       : QStringLiteral("復原取代 [Ctrl+Z]");
    case UndoCaption::Nothing:
        break;
    }
    return english ? QStringLiteral("Undo [Ctrl+Z]") : QStringLiteral("復原 [Ctrl+Z]");
}

QString protectedRowHintFor(int code) {
    if (code == English)
        return QStringLiteral(
            "Protected folder: rules never select this file, and a Delete asks first");
    return QStringLiteral("受保護的資料夾: 規則不會選取這個檔案, 刪除前會先問");
}

QString dialogNameFilter(const QString& filter) {
    const qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return filter;
    return filter.left(bar) + QStringLiteral(" (") + filter.mid(bar + 1) + QLatin1Char(')');
}

QString englishCaption(const char* control) {
    for (const LanguageText& entry : languageTable())
        if (entry.role == TextRole::Caption && std::string_view(entry.control) == control)
            return QString::fromUtf8(entry.english);
    return QString::fromLatin1(control);
}

} // namespace fenwa
