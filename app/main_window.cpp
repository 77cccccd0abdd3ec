#include "app/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/import_menu.h"
#include "app/trend_dialog.h"
#include "audit/audit.h"
#include "platform/platform.h"
#include "report/parser.h"
#include "results_db/archive.h"
#include "viewer/results_viewer.h"
#include "viewer/results_window.h"

namespace krv {

namespace {

template <typename W>
W* named(W* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QPushButton* button(const char* name, const char* caption, const char* tip = nullptr) {
    auto* b = named(new QPushButton(QString::fromLatin1(caption)), name);
    if (tip) b->setToolTip(QString::fromLatin1(tip));
    b->setMinimumHeight(32);
    return b;
}

QLabel* label(const char* name, const char* caption, const char* tip = nullptr) {
    auto* l = named(new QLabel(QString::fromLatin1(caption)), name);
    if (tip) l->setToolTip(QString::fromLatin1(tip));
    return l;
}

}  // namespace

void setButtonColour(QPushButton* b, const QColor& colour) {
    QPalette pal = b->palette();
    pal.setColor(QPalette::Button, colour);
    b->setPalette(pal);
    b->setAutoFillBackground(true);
    // The style's shading would lighten the colour; the lab knows these buttons by it.
    b->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 1px solid #606060;"
                                    " border-radius: 2px; padding: 4px 8px; }"
                                    " QPushButton:pressed { border: 2px inset #404040; }")
                         .arg(colour.name()));
}

MainWindow::MainWindow(WindowState& state, const SettingsFiles& files, db::Engine& engine,
                       Dialogs& dialogs, ProgramLauncher& launcher)
    : state_(state),
      files_(files),
      engine_(engine),
      dialogs_(dialogs),
      launcher_(launcher),
      endProgram_([] { QCoreApplication::exit(0); }) {
    // The form's designed name: whatever finds the main window finds it by this.
    setObjectName(QStringLiteral("ParseIt"));
    setWindowTitle(QStringLiteral("KDP Korvane Archiver 020514"));

    auto* top = new QHBoxLayout;
    top->addWidget(buildModes());
    top->addWidget(buildStats(), 1);
    auto* frameReport =
        named(new QGroupBox(QStringLiteral("Path and file name for Krv Results Text File Report")),
              "FrameReport");
    rpath_ = named(new QLineEdit, "Rpath");
    (new QVBoxLayout(frameReport))->addWidget(rpath_);
    auto* frameKpath = named(
        new QGroupBox(QStringLiteral("Path and file name for Results DataBase")), "FrameKpath");
    apath_ = named(new QLineEdit, "Apath");
    (new QVBoxLayout(frameKpath))->addWidget(apath_);

    currentFile_ = label("CurrentFile", "null");
    currentFile_->setAutoFillBackground(true);
    currentFile_->setBackgroundRole(QPalette::Window);
    currentFile_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* idRow = new QHBoxLayout;
    idRow->addWidget(label("Label4", "ID:"));
    idRow->addWidget(currentFile_, 1);

    auto* root = new QVBoxLayout(this);
    root->addLayout(top);
    root->addWidget(frameReport);
    root->addWidget(frameKpath);
    root->addLayout(idRow);
    root->addLayout(buildActions());
    addTrendChartMenu(this, root, [this] {
        pullPaths();
        openTrendChart(this, state_.apathText, engine_, dialogs_);
    });
    addImportMenu(this, dialogs_, [this]() -> WindowState& {
        pullPaths();
        return state_;
    });
    resize(620, minimumSizeHint().height());

    rpath_->setText(QString::fromStdString(state_.rpathText));
    apath_->setText(QString::fromStdString(state_.apathText));
    showState();
}

QGroupBox* MainWindow::buildModes() {
    auto* frame1 = named(new QGroupBox(QStringLiteral("Select Append Mode")), "Frame1");
    auto* modes = new QVBoxLayout(frame1);
    const char* captions[4] = {"APPEND ACTIVITY", "NET COUNTS", "GROSS COUNTS", "BKG COUNTS"};
    for (int i = 0; i < 4; ++i) {
        const QString name = QStringLiteral("Option1(%1)").arg(i + 1);
        option1_[i] = new QRadioButton(QString::fromLatin1(captions[i]));
        option1_[i]->setObjectName(name);
        modes->addWidget(option1_[i]);
        connect(option1_[i], &QRadioButton::clicked, this, &MainWindow::option1Clicked);
    }
    option1_[0]->setChecked(true);
    return frame1;
}

QGroupBox* MainWindow::buildStats() {
    auto* stats = named(new QGroupBox(QStringLiteral("Stats")), "Stats");
    auto* statsGrid = new QGridLayout(stats);
    const char* recTip = "Number of records in the Results database";
    const char* fieldTip = "Number of fields in the Results database";
    const char* isoTip = "Number of isotopes found in the analysis report";
    numbRec_ = label("NumbRec", "null", recTip);
    numFields_ = label("NumFields", "null", fieldTip);
    numbIso_ = label("NumbIso", "null", isoTip);
    statsGrid->addWidget(label("Label5", "Number of Records:", recTip), 0, 0, Qt::AlignRight);
    statsGrid->addWidget(numbRec_, 0, 1);
    statsGrid->addWidget(label("Label2", "Number of Fields:", fieldTip), 1, 0, Qt::AlignRight);
    statsGrid->addWidget(numFields_, 1, 1);
    statsGrid->addWidget(label("Label1", "Number of  Isotopes:", isoTip), 2, 0, Qt::AlignRight);
    statsGrid->addWidget(numbIso_, 2, 1);
    statsGrid->setColumnStretch(1, 1);
    return stats;
}

QGridLayout* MainWindow::buildActions() {
    auto* readKrv = button("ReadKrvFile", "Read Krv Results Text file",
                           "Read the report file from KrvGold RAPID SCAN or ROI DIRECTED anaylsys");
    appendIt_ = button("AppendIT", "Append Results Database",
                       "Add a new record with the current data to the Results database");
    auto* createDb =
        button("CreateDb", "Reset Results DataBase",
               "Delete the present database and create a new one. All saved data will be lost.");
    auto* viewR = button("ViewR", "Edit Results DataBase");
    auto* command1 = button("Command1", "View Results.TXT");
    auto* closeForm = button("CloseForm", "Exit", "Exit Program");
    setButtonColour(readKrv, QColor(0, 255, 0));
    setButtonColour(closeForm, QColor(0, 255, 0));
    setButtonColour(appendIt_, QColor(255, 255, 0));
    setButtonColour(createDb, QColor(255, 0, 0));

    connect(readKrv, &QPushButton::clicked, this, &MainWindow::readKrvFileClicked);
    connect(appendIt_, &QPushButton::clicked, this, &MainWindow::appendItClicked);
    connect(createDb, &QPushButton::clicked, this, &MainWindow::createDbClicked);
    connect(viewR, &QPushButton::clicked, this, &MainWindow::viewRClicked);
    connect(command1, &QPushButton::clicked, this, &MainWindow::command1Clicked);
    connect(closeForm, &QPushButton::clicked, this, &MainWindow::closeFormClicked);

    auto* actions = new QGridLayout;
    actions->addWidget(readKrv, 0, 0);
    actions->addWidget(appendIt_, 0, 1);
    actions->addWidget(createDb, 0, 2);
    actions->addWidget(viewR, 1, 0);
    actions->addWidget(command1, 1, 1);
    actions->addWidget(closeForm, 1, 2);
    return actions;
}

// The viewer is a child window and goes with the main window.
MainWindow::~MainWindow() = default;

void MainWindow::pullPaths() {
    state_.rpathText = rpath_->text().toStdString();
    state_.apathText = apath_->text().toStdString();
}

void MainWindow::showState() {
    currentFile_->setText(QString::fromStdString(state_.currentFileCaption));
    numbIso_->setText(QString::fromStdString(state_.numbIsoCaption));
    numFields_->setText(QString::fromStdString(state_.numFieldsCaption));
    numbRec_->setText(QString::fromStdString(state_.numbRecCaption));
    setButtonColour(appendIt_, state_.appendItRed ? QColor(255, 0, 0) : QColor(255, 255, 0));
}

void MainWindow::option1Clicked() {
    for (int i = 0; i < 4; ++i) {
        if (option1_[i]->isChecked()) state_.appendMode = static_cast<std::int16_t>(i);
    }
}

void MainWindow::readKrvFileClicked() {
    pullPaths();
    readKrvFile(state_, dialogs_);
    showState();
}

void MainWindow::appendItClicked() {
    pullPaths();
    appendIt(state_, dialogs_, engine_, platform::systemDecimalSeparator(),
             audit::noteMissingValues);
    showState();
}

void MainWindow::createDbClicked() {
    pullPaths();
    createDb(state_, dialogs_, engine_, audit::startTrailWithReset);
    showState();
}

void MainWindow::viewRClicked() {
    pullPaths();
    openResultsViewer(viewer_, state_, dialogs_, this);
}

void MainWindow::command1Clicked() {
    pullPaths();
    viewReport(state_, dialogs_, launcher_);
}

void MainWindow::unloadSave() {
    if (saved_) return;
    saved_ = true;
    pullPaths();
    saveSettings(files_, state_);
}

void MainWindow::closeFormClicked() {
    // Ends the program at once: a viewer still open does not get to store its widths.
    unloadSave();
    endProgram_();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    unloadSave();
    event->accept();
    // A viewer still open keeps the program going until the user is done with it; the
    // widths it stores on closing then stay in memory only.
    if (viewer_ && viewer_->isVisible()) {
        connect(viewer_.data(), &QObject::destroyed, this, [this] { endProgram_(); });
    } else {
        endProgram_();
    }
}

}  // namespace krv
