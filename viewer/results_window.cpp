#include "viewer/results_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "results_db/schema.h"
#include "viewer/background_export.h"
#include "viewer/results_model.h"

namespace krv {

namespace {

constexpr double kTwipsPerInch = 1440.0;
// The grid's columns and the stored widths are matched by position, 0 to 99.
constexpr int kWidthSlots = 100;
constexpr double kMaxStoredWidth = 32767;

}  // namespace

// The window's design, in twips.
struct DesignRect {
    int left, top, width, height;
};

namespace {

constexpr int kDesignWidth = 5040;
constexpr int kDesignHeight = 3330;
constexpr DesignRect kSampleR{240, 0, 2295, 375};
constexpr DesignRect kCommand1{240, 480, 2295, 375};
constexpr DesignRect kDbGridR{360, 960, 4215, 2175};
constexpr DesignRect kLabel1{3000, 120, 975, 255};
constexpr DesignRect kTotalLabel{4080, 120, 615, 255};
constexpr DesignRect kLabel2{2760, 360, 1215, 255};
constexpr DesignRect kCurrentRecord{4080, 360, 615, 255};
constexpr DesignRect kLabel4{2880, 600, 1095, 255};
constexpr DesignRect kFieldCount{4080, 600, 615, 255};
constexpr int kNavButtonWidth = 300;
// The point size the design's label and row heights were drawn for.
constexpr int kDesignPointSize = 8;
constexpr qreal kSmallestPointSize = 6;

// Automatic column width: wide enough for the header and, for text, up to this many
// characters of the value; a wider value is the user's to widen.
constexpr int kAutoWidthMaxChars = 20;
constexpr int kAutoWidthNumberChars = 6;

// An export that ends sooner than this never shows its progress dialog.
constexpr int kExportProgressDelayMs = 500;
constexpr int kExportProgressSteps = 1000;

// The file dialog's choices, in the order shown.
struct ExportChoice {
    exports::Format format;
    const char* filter;
};
constexpr ExportChoice kExportChoices[] = {
    {exports::Format::Csv, "Table as CSV (*.csv)"},
    {exports::Format::Xlsx, "Excel workbook (*.xlsx)"},
    {exports::Format::Long, "Long form, one row per value (*.csv)"},
    {exports::Format::Lims2d, "LIMS two-dimensional import (*.csv)"},
};

// The design's captions were measured in a narrower font than most systems have; a caption
// that would be clipped is drawn a little smaller instead, so every control keeps its place.
void fitCaption(QWidget& w, const QString& text, int room) {
    QFont f = w.font();
    while (QFontMetrics(f).horizontalAdvance(text) > room && f.pointSizeF() > kSmallestPointSize) {
        f.setPointSizeF(f.pointSizeF() - 0.5);
    }
    w.setFont(f);
}

}  // namespace

ResultsWindow::ResultsWindow(WindowState& state, Dialogs& dialogs, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window), state_(state), dialogs_(dialogs), engine_(db::makeEngine()) {
    setObjectName("formViewR");
    setWindowTitle("Edit Results.MDB");
    setAttribute(Qt::WA_DeleteOnClose);
    QFont designFont = font();
    designFont.setPointSize(kDesignPointSize);
    setFont(designFont);
    buildDesign();
    load();
}

// The database is released with the model, a child of this window. A running export is
// stopped and waited for while the window is still whole.
ResultsWindow::~ResultsWindow() { delete export_.data(); }

int ResultsWindow::twipsToPixelsX(double twips) const {
    return static_cast<int>(std::lround(twips * logicalDpiX() / kTwipsPerInch));
}
int ResultsWindow::twipsToPixelsY(double twips) const {
    return static_cast<int>(std::lround(twips * logicalDpiY() / kTwipsPerInch));
}
double ResultsWindow::pixelsToTwipsX(int pixels) const {
    return pixels * kTwipsPerInch / logicalDpiX();
}
double ResultsWindow::pixelsToTwipsY(int pixels) const {
    return pixels * kTwipsPerInch / logicalDpiY();
}

void ResultsWindow::place(QWidget* w, const DesignRect& r) {
    w->setGeometry(twipsToPixelsX(r.left), twipsToPixelsY(r.top), twipsToPixelsX(r.width),
                   twipsToPixelsY(r.height));
}

QLabel* ResultsWindow::label(const char* name, const char* text, const DesignRect& r,
                             Qt::Alignment align) {
    auto* l = new QLabel(QString::fromLatin1(text), this);
    l->setObjectName(QString::fromLatin1(name));
    l->setAlignment(align | Qt::AlignVCenter);
    place(l, r);
    fitCaption(*l, l->text(), l->width());
    return l;
}

void ResultsWindow::buildDesign() {
    buildNavigator();
    buildDeleteButton();
    buildCounters();
    buildGrid();
    resize(twipsToPixelsX(kDesignWidth), twipsToPixelsY(kDesignHeight));
}

// The record navigator: first, previous, caption, next, last.
void ResultsWindow::buildNavigator() {
    sampleR_ = new QFrame(this);
    sampleR_->setObjectName("SampleR");
    sampleR_->setFrameShape(QFrame::Panel);
    sampleR_->setFrameShadow(QFrame::Sunken);
    place(sampleR_, kSampleR);
    auto* nav = new QHBoxLayout(sampleR_);
    nav->setContentsMargins(1, 1, 1, 1);
    nav->setSpacing(0);
    const auto navButton = [&](const char* name, const char* tip) {
        auto* b = new QToolButton(sampleR_);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(QString::fromLatin1(tip));
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedWidth(twipsToPixelsX(kNavButtonWidth));
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        return b;
    };
    QToolButton* first = navButton("first", "First record");
    first->setIcon(style()->standardIcon(QStyle::SP_MediaSkipBackward));
    QToolButton* previous = navButton("previous", "Previous record");
    previous->setArrowType(Qt::LeftArrow);
    QToolButton* next = navButton("next", "Next record");
    next->setArrowType(Qt::RightArrow);
    QToolButton* last = navButton("last", "Last record");
    last->setIcon(style()->standardIcon(QStyle::SP_MediaSkipForward));
    auto* caption = new QLabel("Results.MDB", sampleR_);
    caption->setObjectName("SampleRCaption");
    caption->setAlignment(Qt::AlignCenter);
    caption->setAutoFillBackground(true);
    caption->setBackgroundRole(QPalette::Base);
    nav->addWidget(first);
    nav->addWidget(previous);
    nav->addWidget(caption, 1);
    nav->addWidget(next);
    nav->addWidget(last);
    fitCaption(
        *caption, caption->text(),
        twipsToPixelsX(kSampleR.width - 4 * kNavButtonWidth) - 2 * sampleR_->frameWidth() - 2);
    connect(first, &QToolButton::clicked, this, [this] { moveToRow(0); });
    connect(last, &QToolButton::clicked, this, [this] { moveToRow(model_->rowCount() - 1); });
    connect(previous, &QToolButton::clicked, this,
            [this] { moveToRow(std::max(0, grid_->currentIndex().row() - 1)); });
    connect(next, &QToolButton::clicked, this, [this] {
        moveToRow(std::min(model_->rowCount() - 1, grid_->currentIndex().row() + 1));
    });
}

void ResultsWindow::buildDeleteButton() {
    command1_ = new QPushButton("Delete last record", this);
    command1_->setObjectName("Command1");
    QPalette red = command1_->palette();
    red.setColor(QPalette::Button, QColor(255, 0, 0));
    command1_->setPalette(red);
    command1_->setAutoFillBackground(true);
    // Drawn flat, like the main window's coloured buttons: the style's shading would turn
    // the pure red pink.
    command1_->setStyleSheet(
        "QPushButton { background-color: #ff0000; border: 1px solid #606060;"
        " border-radius: 2px; padding: 2px 8px; }"
        " QPushButton:pressed { border: 2px inset #404040; }");
    place(command1_, kCommand1);
    fitCaption(*command1_, command1_->text(), command1_->width() - 18);
    connect(command1_, &QPushButton::clicked, this, &ResultsWindow::command1Click);
}

void ResultsWindow::buildCounters() {
    // The three counter captions read as one group: all in the size the tightest needs.
    const std::array captions{label("Label1", "# Records:", kLabel1, Qt::AlignRight),
                              label("Label2", "Current Record:", kLabel2, Qt::AlignRight),
                              label("Label4", "# Fields:", kLabel4, Qt::AlignRight)};
    QFont captionFont = font();
    for (QLabel* c : captions)
        if (c->font().pointSizeF() < captionFont.pointSizeF()) captionFont = c->font();
    for (QLabel* c : captions) c->setFont(captionFont);
    totalLabel_ = label("TotalLable", "0", kTotalLabel, Qt::AlignLeft);
    currentRecord_ = label("CurrentRecord", "null", kCurrentRecord, Qt::AlignLeft);
    fieldCount_ = label("FieldCount", "0", kFieldCount, Qt::AlignLeft);
}

void ResultsWindow::buildGrid() {
    model_ = new ResultsModel(this);
    grid_ = new QTableView(this);
    grid_->setObjectName("DBGridR");
    grid_->setModel(model_);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setWordWrap(false);
    // Texts are stored blank-padded to their width; eliding would put "..." after every one.
    grid_->setTextElideMode(Qt::ElideNone);
    // Every row the same height, one line of text: the view then never measures rows,
    // whatever the table's length.
    const int rowHeight = grid_->fontMetrics().height() + 4;
    grid_->verticalHeader()->setMinimumSectionSize(rowHeight);
    grid_->verticalHeader()->setDefaultSectionSize(rowHeight);
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->verticalHeader()->setVisible(true);
    grid_->horizontalHeader()->setVisible(true);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid_->horizontalHeader()->setMinimumSectionSize(1);
    grid_->horizontalHeader()->setStretchLastSection(false);
    place(grid_, kDbGridR);

    // Reached from the grid's context menu (and its shortcut), so the designed controls
    // keep their places.
    exportAction_ = new QAction(QString::fromUtf8("Export…"), this);
    exportAction_->setObjectName("Export");
    exportAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    exportAction_->setShortcutContext(Qt::WindowShortcut);
    grid_->addAction(exportAction_);
    grid_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(exportAction_, &QAction::triggered, this, &ResultsWindow::exportCommand);

    connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { rowColChange(current); });
    // Queued: a message box opened while the grid is still closing its editor would take
    // the focus from the editor, which then commits the same refused value a second time.
    connect(
        model_, &ResultsModel::editRefused, this,
        [this](const QString& reason) {
            if (!state_.blindFlag) dialogs_.message(reason.toStdString(), kAppTitle);
        },
        Qt::QueuedConnection);
}

void ResultsWindow::load() {
    ErrorTrap trap;
    gridTop_ = static_cast<std::int16_t>(std::lround(pixelsToTwipsY(grid_->y())));
    // The path as typed: blanks around it make the binding fail, and the viewer opens
    // empty without a message of its own.
    Status opened;
    std::unique_ptr<db::Database> database = engine_->openDatabase(state_.apathText, opened);
    trap.record(opened);
    if (database) trap.record(model_->bind(std::move(database), kTableName));
    if (trap.failed()) return;

    if (model_->recordCount() > 0)
        showCount(totalLabel_, static_cast<long long>(model_->recordCount()));
    showCount(fieldCount_, static_cast<long long>(model_->fields().size()));
    giveAutomaticWidths();
}

void ResultsWindow::giveAutomaticWidths() {
    QHeaderView* header = grid_->horizontalHeader();
    const int charWidth = grid_->fontMetrics().averageCharWidth();
    const int cellMargin = 2 * (grid_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 1;
    const std::vector<db::FieldInfo>& fields = model_->fields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const int chars = fields[i].type == db::FieldType::Int16
                              ? kAutoWidthNumberChars
                              : std::min(fields[i].size, kAutoWidthMaxChars);
        const int column = static_cast<int>(i);
        header->resizeSection(
            column, std::max(header->sectionSizeHint(column), chars * charWidth + cellMargin));
    }
}

// The design's value labels hold six digits; a longer number widens its label to the
// right, where nothing else stands, rather than losing its last digits.
void ResultsWindow::showCount(QLabel* label, long long count) {
    const QString text = QString::number(count);
    label->setText(text);
    const int needed = label->fontMetrics().horizontalAdvance(text) + 2 * label->margin() + 2;
    label->resize(std::max(twipsToPixelsX(kTotalLabel.width), needed), label->height());
}

bool ResultsWindow::setColumnWidthTwips(int column, double twips) {
    if (column < 0 || column >= model_->columnCount()) return false;
    QHeaderView* header = grid_->horizontalHeader();
    header->resizeSection(column, std::max(1, twipsToPixelsX(twips)));
    if (column < kWidthSlots)
        givenWidths_[static_cast<std::size_t>(column)] = {twips, header->sectionSize(column)};
    return true;
}

void ResultsWindow::layoutGrid() {
    // The outer size, frame and caption bar included.
    const QRect outer = frameGeometry();
    const double w = pixelsToTwipsX(outer.width());
    const double h = pixelsToTwipsY(outer.height());
    const float width = static_cast<float>(w * 0.98);
    double height = h - (2 * pixelsToTwipsY(sampleR_->height()) + gridTop_);
    // A window lower than the band above the grid, or minimised, gets an empty grid.
    if (height < 0) height = 0;
    const int widthPx = twipsToPixelsX(width);
    const double left = (w - pixelsToTwipsX(widthPx)) / 2;
    grid_->setGeometry(twipsToPixelsX(left), twipsToPixelsY(gridTop_), widthPx,
                       twipsToPixelsY(height));
}

void ResultsWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutGrid();
}

// The frame (part of the outer size) becomes known only after the window manager has
// placed the window, which it reports as a move.
void ResultsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    layoutGrid();
}

void ResultsWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    layoutGrid();
}

void ResultsWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) layoutGrid();
}

void ResultsWindow::rowColChange(const QModelIndex& current) {
    const int position = current.isValid() ? current.row() : -1;
    showCount(currentRecord_, position + 1);
}

void ResultsWindow::unload() {
    const QHeaderView* header = grid_->horizontalHeader();
    for (int i = 0; i < kWidthSlots && i < model_->columnCount(); ++i) {
        const GivenWidth& given = givenWidths_[static_cast<std::size_t>(i)];
        const int pixels = header->sectionSize(i);
        const double twips = pixels == given.pixels ? given.twips : pixelsToTwipsX(pixels);
        if (twips > kMaxStoredWidth) break;
        // Halves go to the even neighbour (the default rounding mode).
        state_.columnWidth[static_cast<std::size_t>(i)] =
            static_cast<std::int16_t>(std::nearbyint(twips));
    }
}

void ResultsWindow::closeEvent(QCloseEvent* event) {
    // A running export stops at its next chunk and leaves no file.
    if (export_) export_->cancel();
    unload();
    event->accept();
}

void ResultsWindow::command1Click() {
    if (!dialogs_.askYesNo("Delete the last record, are you SURE ?", "")) return;
    if (!model_->isBound()) return;
    const int column = std::max(0, grid_->currentIndex().column());
    // An empty table has nothing to delete; that is not worth a message.
    model_->deleteLastRecord();
    model_->refresh();
    grid_->scrollToTop();
    if (model_->rowCount() > 0 && column < model_->columnCount())
        grid_->setCurrentIndex(model_->index(0, column));
}

void ResultsWindow::moveToRow(int row) {
    if (row < 0 || row >= model_->rowCount() || model_->columnCount() == 0) return;
    const int column = std::max(0, grid_->currentIndex().column());
    const QModelIndex target = model_->index(row, column);
    grid_->setCurrentIndex(target);
    grid_->scrollTo(target);
}

void ResultsWindow::exportCommand() {
    if (export_) return;
    QStringList filters;
    for (const ExportChoice& c : kExportChoices) filters << QString::fromLatin1(c.filter);
    QString chosen = filters.first();
    const QString folder =
        QFileInfo(QString::fromStdString(state_.apathText).trimmed()).absolutePath();
    QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Export"), folder,
                                                filters.join(QStringLiteral(";;")), &chosen);
    if (file.isEmpty()) return;
    const ExportChoice& choice = kExportChoices[std::max<qsizetype>(0, filters.indexOf(chosen))];
    const QString suffix = QString::fromLatin1(exports::formatSuffix(choice.format));
    if (QFileInfo(file).suffix().isEmpty()) file += suffix;
    exportTo(file.toStdString(), choice.format);
}

bool ResultsWindow::exportTo(const std::string& target, exports::Format format) {
    if (export_) return false;
    exports::Options options;
    options.format = format;
    options.table = kTableName;
    std::copy_n(state_.columnWidth.begin(), kWidthSlots, options.widthsTwips.begin());
    export_ = new BackgroundExport(state_.apathText, options, target, this);
    exportAction_->setEnabled(false);

    exportProgress_ = new QProgressDialog(
        QStringLiteral("Exporting to %1").arg(QFileInfo(QString::fromStdString(target)).fileName()),
        QStringLiteral("Cancel"), 0, kExportProgressSteps, this);
    exportProgress_->setWindowTitle(QString::fromLatin1(kAppTitle));
    // Not modal: the grid stays usable while the file is written.
    exportProgress_->setWindowModality(Qt::NonModal);
    exportProgress_->setMinimumDuration(kExportProgressDelayMs);
    exportProgress_->setAutoClose(false);
    exportProgress_->setAutoReset(false);
    exportProgress_->setValue(0);
    connect(exportProgress_, &QProgressDialog::canceled, export_, &BackgroundExport::cancel);
    connect(export_, &BackgroundExport::progressed, exportProgress_,
            [bar = exportProgress_](qint64 done, qint64 total) {
                if (total > 0) bar->setValue(static_cast<int>(done * kExportProgressSteps / total));
            });
    connect(export_, &BackgroundExport::finished, this, &ResultsWindow::exportFinished);
    export_->start();
    return true;
}

namespace {

// A written export that does not carry everything exactly as stored says so, as krvtool's
// "not exported as stored" lines do; a long list is cut so the box stays on the screen.
std::string exportNotesMessage(const std::string& target, const std::string& notes) {
    constexpr int kShown = 15;
    std::string shown;
    int lines = 0;
    for (std::size_t at = 0; at < notes.size();) {
        const std::size_t end = notes.find('\n', at);
        if (lines++ < kShown) shown += notes.substr(at, end - at) + "\n";
        at = end == std::string::npos ? notes.size() : end + 1;
    }
    if (lines > kShown) shown += "... and " + std::to_string(lines - kShown) + " more\n";
    shown.pop_back();
    return "Exported to " + target + ", but not everything as stored:\n" + shown;
}

}  // namespace

void ResultsWindow::exportFinished(int number, const QString& description, const QString& notes) {
    const std::string target = export_ ? export_->target() : std::string();
    if (export_) export_->deleteLater();
    export_ = nullptr;
    if (exportProgress_) exportProgress_->deleteLater();
    exportProgress_ = nullptr;
    exportAction_->setEnabled(true);
    if (number != 0 && number != exports::kCancelled)
        dialogs_.message("Could not export to " + target + ": " + description.toStdString(),
                         kAppTitle);
    else if (number == 0 && !notes.isEmpty())
        dialogs_.message(exportNotesMessage(target, notes.toStdString()), kAppTitle);
}

}  // namespace krv
