// app/window/XForm.cpp — the merge window.
#include "app/window/XForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Messages.h"
#include "app/OutputContainer.h"
#include "app/SmartMerge.h"
#include "app/window/Anchors.h"
#include "app/window/NaturalOrder.h"
#include "app/window/OutputName.h"
#include "app/window/SourceDifferences.h"
#include "app/window/SourceListBox.h"
#include "diag/MainThread.h"
#include "diag/ThreadName.h"

namespace tw {

namespace {

constexpr int kNoticeHeight = 60, kBottomHeight = 24;
constexpr int kMainHeight = TXForm::kClientHeight - kNoticeHeight - kBottomHeight;

const char* const kFastJoinNote = NoTr(
    "　　如果源文件组的所有视频都是FLV/F4V，并且有着完全相同的编码格式、码率、帧率、分辨率、"
    "声道数、采样率、音频位数，勾选“快速合并”将极大加快合并速度。\r\n\r\n"
    "　　如果并非完全相同，勾选“快速合并”可能会导致生成的视频的某些部分出现乱码、无声等异常现象。"
    "\r\n\r\n"
    "　　建议在快速合并生成视频后，打开视频，检查各个部分能否正常播放。");

// A caption or message in the messages' language.
QString Q(const char* text) { return QString::fromUtf8(Tr(text)); }

std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

}  // namespace

/// The driver's user: the window's dialogs, its state label and its check
/// box. Called on the merge thread; each call runs on the main thread. Once
/// the window is going, questions are answered No and messages dropped.
class TXForm::TUser : public TJoinUser {
  public:
    explicit TUser(TXForm& form) : FForm(form) {}
    bool AskYesNo(const std::string& text) override {
        bool yes = false;
        OnMain([&] { yes = FForm.Dialogs().AskYesNo(text); });
        return yes;
    }
    void Tell(const std::string& text) override { Notify(nkError, text); }
    void Notify(TNoticeKind kind, const std::string& text) override {
        OnMain([&] { FForm.Dialogs().Tell(text, kind); });
    }
    void SetStateText(const std::string& text) override {
        OnMain([&] { FForm.SetStateText(text); });
    }
    /// A stop asked for: between the parts of a smart merge, and after the
    /// merged file is in place (the sources are then kept).
    bool StopRequested() override { return FForm.FStopAsked; }
    /// The check box as it is when the merge has ended: a user who unticks
    /// it meanwhile keeps the sources.
    bool DeleteSources(bool) override {
        bool on = false;
        OnMain([&] { on = FForm.CbAutoDel->isChecked(); });
        return on;
    }

  private:
    template <typename F>
    void OnMain(F&& fn) {
        if (!FForm.FGoing) RunOnMainThread(std::forward<F>(fn));
    }
    TXForm& FForm;
};

TXForm::TXForm()
    : QWidget(nullptr),
      FDialogs(std::make_unique<TWindowDialogs>(this)),
      FUser(std::make_unique<TUser>(*this)) {
    setObjectName(QStringLiteral("XForm"));
    // Tahoma where it exists; otherwise a font that has the Chinese glyphs.
    QFont font = this->font();
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(8);
    setFont(font);
    CreateControls();
    resize(kClientWidth, kClientHeight);
    setMinimumSize(kClientWidth, kClientHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    setAcceptDrops(true);

    FFEncoder.OnProgress = [this](TCustomEncoder* sender, PProgressInfo info) {
        FFEncoderProgress(sender, info);
    };
    // Calls queued for the main thread outside a merge (log and terminate
    // notifications, previews) and under modal dialogs are served here; a
    // worker waiting for them would otherwise hang.
    FCallPump = new QTimer(this);
    connect(FCallPump, &QTimer::timeout, this, [] { DrainMainThreadCalls(); });
    FCallPump->start(20);
}

TXForm::~TXForm() {
    if (!FMergeThread.joinable()) return;
    // The merge stops and its thread ends before the encoder goes; its calls
    // for the main thread are served meanwhile.
    FGoing = true;
    FStopAsked = true;
    while (!FMergeThreadDone) WaitAndDrainMainThreadCalls(std::chrono::milliseconds(20));
    FMergeThread.join();
}

void TXForm::CreateControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    pnlNotice = new QFrame(this);
    pnlNotice->setObjectName(QStringLiteral("pnlNotice"));
    pnlNotice->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnlNotice->setFixedHeight(kNoticeHeight);
    // The mode code the publisher services expect ("0" or "-").
    pnlNotice->setProperty("Caption", QStringLiteral("0"));
    PnlMain = new QFrame(this);
    PnlMain->setObjectName(QStringLiteral("PnlMain"));
    PnlMain->setFrameStyle(QFrame::NoFrame);
    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel2->setFixedHeight(kBottomHeight);
    layout->addWidget(pnlNotice);
    layout->addWidget(PnlMain, 1);
    layout->addWidget(Panel2);

    FMainAnchors = new TAnchors(PnlMain, QSize(kClientWidth, kMainHeight));
    FBottomAnchors = new TAnchors(Panel2, QSize(kClientWidth, kBottomHeight));
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    auto label = [&](const char* name, const char* caption) {
        auto* l = new QLabel(Q(caption), PnlMain);
        named(l, name);
        return l;
    };
    auto flat = [&](const char* name, const char* caption) {
        auto* b = new QToolButton(PnlMain);
        named(b, name);
        b->setText(Q(caption));
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);  // a speed button takes no focus
        return b;
    };
    auto button = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(Q(caption), PnlMain);
        named(b, name);
        b->setAutoDefault(false);
        return b;
    };

    Label2 = label("Label2", "合并到文件");
    FMainAnchors->Place(Label2, {8, 11, 60, 13});
    EtF4vOutput = new QLineEdit(PnlMain);
    named(EtF4vOutput, "EtF4vOutput");
    FMainAnchors->Place(EtF4vOutput, {74, 8, 304, 21}, akLeft | akTop | akRight);
    SbSetOutFileName = flat("SbSetOutFileName", "设定");
    FMainAnchors->Place(SbSetOutFileName, {380, 8, 31, 21}, akTop | akRight);
    SbAutoSet = flat("SbAutoSet", "自动设定");
    FMainAnchors->Place(SbAutoSet, {411, 8, 53, 21}, akTop | akRight);
    Label3 = label("Label3", "注: 增加视频文件的时候支持框选");
    FMainAnchors->Place(Label3, {211, 35, 175, 13}, akTop | akRight);
    Label1 = label("Label1", "源文件组");
    FMainAnchors->Place(Label1, {8, 52, 48, 13});
    LbF4vInputFiles = new TSourceListBox(13, PnlMain);
    named(LbF4vInputFiles, "LbF4vInputFiles");
    LbF4vInputFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FMainAnchors->Place(LbF4vInputFiles, {8, 71, 370, 258}, akAll);
    BtAdd = button("BtAdd", "增　加");
    FMainAnchors->Place(BtAdd, {392, 59, 72, 25}, akTop | akRight);
    BtRemove = button("BtRemove", "去　除");
    FMainAnchors->Place(BtRemove, {392, 90, 72, 25}, akTop | akRight);
    BtClear = button("BtClear", "清　空");
    FMainAnchors->Place(BtClear, {392, 121, 72, 25}, akTop | akRight);
    BtUp = button("BtUp", "上　移");
    FMainAnchors->Place(BtUp, {392, 156, 72, 25}, akTop | akRight);
    BtDown = button("BtDown", "下　移");
    FMainAnchors->Place(BtDown, {392, 187, 72, 25}, akTop | akRight);
    BtJoin = button("BtJoin", "合　并");
    BtJoin->setProperty("Tag", 0);
    FMainAnchors->Place(BtJoin, {392, 222, 72, 25}, akTop | akRight);
    LblState = label("LblState", "1111");
    LblState->setAlignment(Qt::AlignCenter);
    FMainAnchors->Place(LblState, {8, 338, 178, 13}, akLeft | akBottom);
    BtCheckDup = button("BtCheckDup", "检查重复");
    FMainAnchors->Place(BtCheckDup, {192, 333, 86, 25}, akRight | akBottom);
    BtAutoSort = button("BtAutoSort", "自动排序");
    FMainAnchors->Place(BtAutoSort, {284, 333, 86, 25}, akRight | akBottom);

    pnlMenu = new QFrame(Panel2);
    named(pnlMenu, "pnlMenu");
    pnlMenu->setFrameStyle(QFrame::NoFrame);
    pnlMenu->setProperty("Caption", QStringLiteral("pnlMenu"));
    FBottomAnchors->Place(pnlMenu, {8, 2, 49, 20});
    CbAutoDel = new QCheckBox(Q("合并完成后删除源文件组"), Panel2);
    named(CbAutoDel, "CbAutoDel");
    FBottomAnchors->Place(CbAutoDel, {200, 3, 155, 17});
    CkFastJoin = new QCheckBox(Q("快速合并"), Panel2);
    named(CkFastJoin, "CkFastJoin");
    FBottomAnchors->Place(CkFastJoin, {380, 3, 71, 17});

    for (QWidget* w : std::initializer_list<QWidget*>{Label1, Label2, Label3, LblState})
        w->setFocusPolicy(Qt::NoFocus);
    const std::vector<QWidget*> order = {
        BtAdd,           BtClear,    BtDown,     BtJoin,    BtRemove,   BtUp,   EtF4vOutput,
        LbF4vInputFiles, BtAutoSort, BtCheckDup, CbAutoDel, CkFastJoin, pnlMenu};
    for (size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

    connect(BtAdd, &QPushButton::clicked, this, [this] { BtAddClick(); });
    connect(BtRemove, &QPushButton::clicked, this, [this] { BtRemoveClick(); });
    connect(BtClear, &QPushButton::clicked, this, [this] { BtClearClick(); });
    connect(BtUp, &QPushButton::clicked, this, [this] { BtUpClick(); });
    connect(BtDown, &QPushButton::clicked, this, [this] { BtDownClick(); });
    connect(BtJoin, &QPushButton::clicked, this, [this] { BtJoinClick(); });
    connect(BtCheckDup, &QPushButton::clicked, this, [this] { BtCheckDupClick(); });
    connect(BtAutoSort, &QPushButton::clicked, this, [this] { BtAutoSortClick(); });
    connect(SbSetOutFileName, &QToolButton::clicked, this, [this] { SbSetOutFileNameClick(); });
    connect(SbAutoSet, &QToolButton::clicked, this, [this] { SbAutoSetClick(); });
    connect(CkFastJoin, &QCheckBox::clicked, this, [this] { CkFastJoinClick(); });
    // CbAutoDel stays enabled while merging and is read when the merge has
    // ended (TUser::DeleteSources).
}

bool TXForm::FormCreate() {
    if (!FFEncoder.LibrariesLoaded() && !FFEncoder.LoadLibraries(LibraryFolder())) {
        FLoadFailed = true;
        Dialogs().Tell(FFEncoder.LastError, nkError);
        // Closes as soon as the event loop runs.
        QTimer::singleShot(0, this, [this] { close(); });
        return false;
    }
    SetTitle("");
    SetStateText("");
    return true;
}

void TXForm::SetTitle(const std::string& name) {
    setWindowTitle(QString::fromStdString(name.empty() ? "Tarnwick" : "Tarnwick - " + name));
}

void TXForm::SetStateText(const std::string& text) {
    LblState->setText(QString::fromStdString(text));
}

std::vector<std::string> TXForm::StringsToArray() const {
    std::vector<std::string> items;
    for (int i = 0; i < LbF4vInputFiles->count(); ++i)
        items.push_back(LbF4vInputFiles->item(i)->text().toStdString());
    return items;
}

size_t TXForm::AppendFiles(const std::vector<std::string>& files) {
    // One merge takes at most this many files: said now, not at the merge.
    const size_t capacity = static_cast<size_t>(std::max(FFEncoder.TaskCapacity, 0));
    const size_t listed = static_cast<size_t>(LbF4vInputFiles->count());
    const size_t room = listed < capacity ? capacity - listed : 0;
    const size_t added = std::min(room, files.size());
    for (size_t i = 0; i < added; ++i) LbF4vInputFiles->addItem(QString::fromStdString(files[i]));
    if (added < files.size())
        // The component's own words for a full task, in every language.
        Dialogs().Tell("max input files " + std::to_string(capacity) + " reached", nkError);
    return added;
}

void TXForm::BtAddClick() { AppendFiles(Dialogs().OpenFiles()); }

void TXForm::BtRemoveClick() {
    if (LbF4vInputFiles->selectedItems().isEmpty()) {
        Dialogs().Tell(Tr("请选择要去除的文件"), nkError);
        return;
    }
    // Exactly the selected items, whichever row has the focus.
    int first = -1;
    for (int i = LbF4vInputFiles->count() - 1; i >= 0; --i)
        if (LbF4vInputFiles->item(i)->isSelected()) {
            delete LbF4vInputFiles->takeItem(i);
            first = i;
        }
    // Nothing stays selected: a second click must not remove a neighbour.
    LbF4vInputFiles->clearSelection();
    if (LbF4vInputFiles->count() > 0)
        LbF4vInputFiles->setCurrentRow(std::min(first, LbF4vInputFiles->count() - 1),
                                       QItemSelectionModel::NoUpdate);
}

void TXForm::BtClearClick() { LbF4vInputFiles->clear(); }

void TXForm::BtUpClick() {
    if (LbF4vInputFiles->selectedItems().isEmpty()) {
        Dialogs().Tell(Tr("请选择要移动位置的文件"), nkError);
        return;
    }
    const int count = LbF4vInputFiles->count();
    for (int i = 0; i < count; ++i)
        if (LbF4vInputFiles->item(i)->isSelected()) MoveItem(i, -1);
}

void TXForm::BtDownClick() {
    if (LbF4vInputFiles->selectedItems().isEmpty()) {
        Dialogs().Tell(Tr("请选择要移动位置的文件"), nkError);
        return;
    }
    for (int i = LbF4vInputFiles->count() - 1; i >= 0; --i)
        if (LbF4vInputFiles->item(i)->isSelected()) MoveItem(i, 1);
}

void TXForm::MoveItem(int index, int delta) {
    const int target = index + delta;
    if (index < 0 || index >= LbF4vInputFiles->count() || target < 0 ||
        target >= LbF4vInputFiles->count())
        return;
    QListWidgetItem* a = LbF4vInputFiles->item(index);
    QListWidgetItem* b = LbF4vInputFiles->item(target);
    const QString textA = a->text(), textB = b->text();
    const bool selA = a->isSelected(), selB = b->isSelected();
    a->setText(textB);
    b->setText(textA);
    a->setSelected(selB);
    b->setSelected(selA);
    // The focus travels with its text too.
    const int current = LbF4vInputFiles->currentRow();
    if (current == index || current == target)
        LbF4vInputFiles->setCurrentRow(current == index ? target : index,
                                       QItemSelectionModel::NoUpdate);
}

void TXForm::CheckDuplicates() {
    const std::vector<std::string> items = StringsToArray();
    if (items.size() < 2) return;
    for (size_t i = 0; i + 1 < items.size(); ++i)
        for (size_t j = i + 1; j < items.size(); ++j)
            if (AsciiLower(items[i]) == AsciiLower(items[j])) {
                Dialogs().Tell(TrF("{1}\r\n与\r\n{2}\r\n重复！", {items[i], items[j]}), nkWarning);
                return;
            }
}

void TXForm::BtCheckDupClick() { CheckDuplicates(); }

void TXForm::BtAutoSortClick() {
    // The list is locked while a merge reads it: then only the check runs.
    if (FMerging) {
        CheckDuplicates();
        return;
    }
    // Natural order of the file names; each item keeps its selection, and
    // the focused item stays focused.
    struct TRow {
        QString Text;
        bool Selected, Current;
    };
    std::vector<TRow> rows;
    for (int i = 0; i < LbF4vInputFiles->count(); ++i) {
        QListWidgetItem* item = LbF4vInputFiles->item(i);
        rows.push_back({item->text(), item->isSelected(), i == LbF4vInputFiles->currentRow()});
    }
    std::stable_sort(rows.begin(), rows.end(), [](const TRow& a, const TRow& b) {
        return NaturalLess(a.Text.toStdString(), b.Text.toStdString());
    });
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        LbF4vInputFiles->item(i)->setText(rows[i].Text);
        if (rows[i].Current) LbF4vInputFiles->setCurrentRow(i, QItemSelectionModel::NoUpdate);
    }
    for (int i = 0; i < static_cast<int>(rows.size()); ++i)
        LbF4vInputFiles->item(i)->setSelected(rows[i].Selected);
    CheckDuplicates();
}

void TXForm::SbSetOutFileNameClick() {
    const std::string name = Dialogs().SaveFile();
    if (!name.empty()) EtF4vOutput->setText(QString::fromStdString(name));
}

void TXForm::SbAutoSetClick() {
    if (LbF4vInputFiles->count() == 0) {
        Dialogs().Tell(Tr("请先增加源文件组"), nkError);
        return;
    }
    const std::string first = LbF4vInputFiles->item(0)->text().toStdString();
    const size_t slash = first.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : first.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? first : first.substr(slash + 1);
    const size_t dot = name.rfind('.');
    const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    EtF4vOutput->setText(QString::fromStdString(folder + base + "-joined" + ext));
}

void TXForm::CkFastJoinClick() {
    if (CkFastJoin->isChecked()) Dialogs().Tell(Tr(kFastJoinNote), nkInformation);
}

void TXForm::EnableControls(bool enabled) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{EtF4vOutput, SbSetOutFileName, SbAutoSet, LbF4vInputFiles,
                                         BtAdd, BtRemove, BtClear, BtUp, BtDown})
        w->setEnabled(enabled);
    BtJoin->setText(enabled ? Q("合　并") : Q("停　止"));
    FJoinTag = enabled ? 0 : 1;
    BtJoin->setProperty("Tag", FJoinTag);
}

void TXForm::FFEncoderProgress(TCustomEncoder*, PProgressInfo info) {
    // An unknown total leaves the label as it is.
    const std::string text = info ? ProgressText(*info) : "";
    if (!text.empty()) SetStateText(text);
}

bool TXForm::ConfirmFastMerge(const std::vector<std::string>& files, TJoinSettings& settings) {
    std::vector<TSourceFacts> facts;
    std::string error;
    // A file that cannot be opened is reported by the merge itself.
    if (!SurveyFiles(files, facts, error)) return true;
    const std::vector<std::string> lines = SourceDifferences(facts);
    if (lines.empty()) return true;
    std::string text = TrF("以下源文件的编码与第一个源文件（{1}）不同：\r\n", {files.front()});
    for (const std::string& line : lines) text += line + "\r\n";
    text += Tr("\r\n是否仍然快速合并？");
    if (!Dialogs().AskYesNo(text)) return false;
    // Sources the first one's encoding can be given are re-encoded to it,
    // the others copied: a merge that plays, still mostly a copy.
    const TSmartPlan plan = PlanSmartMerge(facts, settings.Container);
    settings.SmartJoin = plan.Problem.empty() && plan.ReencodeCount() > 0;
    return true;
}

void TXForm::BtJoinClick() {
    if (FJoinTag == 1) {
        // The merge thread stops the encoder; the end arrives as MergeEnded.
        FStopAsked = true;
        return;
    }
    if (FMerging) return;
    std::vector<std::string> files = StringsToArray();
    // The name in full, as it is written: the user sees where the file goes.
    const std::string output =
        files.empty() ? EtF4vOutput->text().toStdString()
                      : ResolveOutputName(EtF4vOutput->text().toStdString(), files.front());
    if (output != EtF4vOutput->text().toStdString())
        EtF4vOutput->setText(QString::fromStdString(output));
    TJoinSettings& settings = FRunSettings;
    settings = TJoinSettings{};
    settings.Container = ContainerFor(output);
    settings.FastJoin = CkFastJoin->isChecked();
    settings.DeleteSources = CbAutoDel->isChecked();
    if (settings.FastJoin && !output.empty() && !files.empty() &&
        !ConfirmFastMerge(files, settings))
        return;
    FMerging = true;
    FStopAsked = false;
    FMergeThreadDone = false;
    FResult = jrError;
    FFailure.clear();
    FSourcesDeleted = false;
    FMergeThread = std::thread(&TXForm::RunMerge, this, std::move(files), output);
}

void TXForm::RunMerge(std::vector<std::string> files, std::string output) {
    NameThisThread("tw-merge");
    const size_t listed = files.size();
    bool running = false, stopping = false;
    try {
        FResult = MergeWithChecks(*FUser, FFEncoder, files, output, FRunSettings, [&] {
            // The merge runs from here on: the merging state (a click on the
            // Join button now stops it).
            if (!running) {
                running = true;
                if (!FGoing) RunOnMainThread([this] { EnableControls(false); });
            }
            if (FStopAsked && !stopping) {
                stopping = true;
                FFEncoder.Stop(true);
            }
        });
    } catch (const std::exception& e) {
        FFailure = e.what();
    } catch (...) {
        // Nothing may leave the thread; a failure is never told as nothing.
        FFailure = "FatalException: unknown exception";
    }
    FSourcesDeleted = listed > 0 && files.empty();
    FMergeThreadDone = true;
    WakeMainThread();
    QMetaObject::invokeMethod(
        this, [this] { MergeEnded(); }, Qt::QueuedConnection);
}

void TXForm::MergeEnded() {
    if (!FMergeThread.joinable()) return;
    FMergeThread.join();
    if (FResult == jrDone && FSourcesDeleted) LbF4vInputFiles->clear();
    EnableControls(true);
    SetStateText("");
    FMerging = false;
    // As the application's default handler would, once the window is idle.
    if (!FFailure.empty()) Dialogs().Tell(FFailure, nkError);
    if (FCloseAfterMerge) {
        FCloseAfterMerge = false;
        close();
    }
}

void TXForm::closeEvent(QCloseEvent* event) {
    if (!FMerging) {
        event->accept();
        return;
    }
    event->ignore();
    // Asked once; the window closes when the merge has ended.
    if (FCloseAfterMerge) return;
    if (!Dialogs().AskYesNo(Tr("正在合并，是否停止合并并退出？"))) return;
    FCloseAfterMerge = true;
    // MergeEnded closes the window; the encoder lives until then.
    FStopAsked = true;
}

std::vector<std::string> TXForm::DroppedFiles(const QDropEvent* event) const {
    std::vector<std::string> files;
    const QMimeData* mime = event->mimeData();
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isFile()) files.push_back(path.toStdString());
    }
    return files;
}

void TXForm::dragEnterEvent(QDragEnterEvent* event) { dragMoveEvent(event); }

void TXForm::dragMoveEvent(QDragMoveEvent* event) {
    // Only files, only as copies, and not while a merge reads the list.
    if (!FMerging && (event->possibleActions() & Qt::CopyAction) && !DroppedFiles(event).empty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TXForm::dropEvent(QDropEvent* event) {
    if (FMerging || !(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return;
    }
    const std::vector<std::string> files = DroppedFiles(event);
    if (files.empty()) {
        event->ignore();
        return;
    }
    AppendFiles(files);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

}  // namespace tw
