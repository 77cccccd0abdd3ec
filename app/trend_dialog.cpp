#include "app/trend_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <fstream>

#include "charts/trend_chart.h"
#include "platform/platform.h"
#include "report/text.h"
#include "results_db/schema.h"

namespace krv {

namespace {

std::int64_t secondsOf(const QDate& d) { return qc::secondsOfDate(d.year(), d.month(), d.day()); }

}  // namespace

TrendDialog::TrendDialog(std::string path, db::Engine& engine, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), engine_(engine), dialogs_(dialogs) {
    setObjectName(QStringLiteral("TrendChart"));
    setWindowTitle(QStringLiteral("Trend chart - %1").arg(QString::fromStdString(path_)));
    setSizeGripEnabled(true);

    auto* top = new QHBoxLayout;
    top->addLayout(buildQueryForm(), 1);
    top->addLayout(buildButtons());
    panel_ = new TrendChartPanel;
    auto* root = new QVBoxLayout(this);
    root->addLayout(top);
    root->addWidget(panel_, 1);
    resize(1100, 760);

    if (const Status st = halfLives_.addLabFile(); !st.ok())
        dialogs_.message(st.description, kAppTitle);
}

QFormLayout* TrendDialog::buildQueryForm() {
    column_ = new QComboBox;
    column_->setEditable(true);
    column_->setMinimumContentsLength(16);
    matchOn_ = new QComboBox;
    matchOn_->addItems({QStringLiteral("ID Text"), QStringLiteral("File Name")});
    pattern_ = new QLineEdit(QStringLiteral("CHECK*"));
    pattern_->setToolTip(QStringLiteral("* matches any text, ? any one character"));
    QGridLayout* baseline = buildBaseline();
    QHBoxLayout* dates = buildDateReading();

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Column:"), column_);
    auto* filter = new QHBoxLayout;
    filter->addWidget(matchOn_);
    filter->addWidget(pattern_, 1);
    form->addRow(QStringLiteral("Records whose"), filter);
    form->addRow(QStringLiteral("Baseline:"), baseline);
    form->addRow(QStringLiteral("Decay correction:"), decay_);
    form->addRow(QStringLiteral("Dates:"), dates);
    form->addRow(QString(), r4sWithinRun_);

    column_->setObjectName(QStringLiteral("TrendColumn"));
    matchOn_->setObjectName(QStringLiteral("TrendMatchOn"));
    pattern_->setObjectName(QStringLiteral("TrendPattern"));
    decay_->setObjectName(QStringLiteral("TrendDecay"));
    return form;
}

QGridLayout* TrendDialog::buildBaseline() {
    byCount_ = new QRadioButton(QStringLiteral("First"));
    byCount_->setChecked(true);
    auto* byDates = new QRadioButton(QStringLiteral("Counted from"));
    baselineCount_ = new QSpinBox;
    baselineCount_->setRange(2, 100000);
    baselineCount_->setValue(20);
    from_ = new QDateEdit(QDate::currentDate().addYears(-1));
    to_ = new QDateEdit(QDate::currentDate());
    for (QDateEdit* d : {from_, to_}) {
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setCalendarPopup(true);
    }
    auto* baseline = new QGridLayout;
    baseline->addWidget(byCount_, 0, 0);
    baseline->addWidget(baselineCount_, 0, 1);
    baseline->addWidget(new QLabel(QStringLiteral("points")), 0, 2);
    baseline->addWidget(byDates, 1, 0);
    baseline->addWidget(from_, 1, 1);
    baseline->addWidget(new QLabel(QStringLiteral("to")), 1, 2);
    baseline->addWidget(to_, 1, 3);
    baseline->setColumnStretch(4, 1);
    return baseline;
}

// Decay correction, how dates are read, and the R-4s rule.
QHBoxLayout* TrendDialog::buildDateReading() {
    decay_ = new QComboBox;
    decay_->addItems(
        {QStringLiteral("Activities only"), QStringLiteral("On"), QStringLiteral("Off")});
    dayFirst_ = new QCheckBox(QStringLiteral("Day before month"));
    pivot_ = new QSpinBox;
    pivot_->setRange(0, 100);
    pivot_->setValue(30);
    pivot_->setToolTip(QStringLiteral("Two-digit years below this are 20yy, the others 19yy"));
    r4sWithinRun_ = new QCheckBox(QStringLiteral("R-4s within a run only"));
    auto* dates = new QHBoxLayout;
    dates->addWidget(dayFirst_);
    dates->addWidget(new QLabel(QStringLiteral("2-digit years 20yy below")));
    dates->addWidget(pivot_);
    dates->addStretch(1);
    return dates;
}

QVBoxLayout* TrendDialog::buildButtons() {
    auto* draw = new QPushButton(QStringLiteral("Draw"));
    draw->setDefault(true);
    auto* saveChart = new QPushButton(QStringLiteral("Save chart…"));
    auto* savePoints = new QPushButton(QStringLiteral("Save points…"));
    auto* close = new QPushButton(QStringLiteral("Close"));
    draw->setObjectName(QStringLiteral("Draw"));
    saveChart->setObjectName(QStringLiteral("SaveChart"));
    savePoints->setObjectName(QStringLiteral("SavePoints"));
    connect(draw, &QPushButton::clicked, this, &TrendDialog::drawClicked);
    connect(saveChart, &QPushButton::clicked, this, &TrendDialog::saveChartClicked);
    connect(savePoints, &QPushButton::clicked, this, &TrendDialog::savePointsClicked);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {draw, saveChart, savePoints, close}) buttons->addWidget(b);
    buttons->addStretch(1);
    return buttons;
}

std::unique_ptr<db::Database> TrendDialog::openStore() {
    Status st;
    auto database = engine_.openDatabase(std::string(text::trim(path_)), st);
    if (!database) {
        dialogs_.message("Invalid path or file name [ " + path_ + " ] <" + st.description + ">",
                         kAppTitle);
    }
    return database;
}

bool TrendDialog::loadColumns() {
    auto database = openStore();
    if (!database) return false;
    std::vector<db::FieldInfo> fields;
    const Status st = database->fields(kTableName, fields);
    database->close();
    if (!st.ok()) {
        dialogs_.message(st.description, kAppTitle);
        return false;
    }
    const QString current = column_->currentText();
    column_->clear();
    for (const db::FieldInfo& f : fields)
        if (!isFixedField(f.name)) column_->addItem(QString::fromStdString(f.name));
    if (!current.isEmpty()) column_->setCurrentText(current);
    return true;
}

qc::TrendQuery TrendDialog::query() const {
    qc::TrendQuery query;
    query.column = column_->currentText().toStdString();
    query.pattern = pattern_->text().toStdString();
    query.matchOn = matchOn_->currentIndex() == 0 ? qc::MatchOn::IdText : qc::MatchOn::FileName;
    if (byCount_->isChecked()) {
        query.baselineCount = static_cast<std::size_t>(baselineCount_->value());
    } else {
        query.baselineFrom = secondsOf(from_->date());
        query.baselineTo = secondsOf(to_->date()) + 86399;
    }
    const qc::Correction corrections[] = {qc::Correction::Auto, qc::Correction::On,
                                          qc::Correction::Off};
    query.correction = corrections[decay_->currentIndex()];
    query.dates.dayFirst = dayFirst_->isChecked();
    query.dates.twoDigitYearPivot = pivot_->value();
    query.rules.range4sAcrossPoints = !r4sWithinRun_->isChecked();
    return query;
}

void TrendDialog::drawClicked() {
    auto database = openStore();
    if (!database) return;
    const qc::TrendQuery q = query();
    const Status st = qc::buildTrend(*database, q, halfLives_, trend_);
    database->close();
    // Whatever could be read is drawn; the message says why limits or points are missing.
    panel_->showTrend(trend_, QString::fromStdString(q.column + ", " + q.pattern));
    if (!st.ok()) dialogs_.message(st.description, kAppTitle);
}

void TrendDialog::saveChartClicked() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save chart"), QString(),
        QStringLiteral("PNG image (*.png);;SVG drawing (*.svg);;PDF document (*.pdf)"));
    if (path.isEmpty()) return;
    QString error;
    if (!panel_->saveImage(path, panel_->size(), error))
        dialogs_.message(error.toStdString(), kAppTitle);
}

void TrendDialog::savePointsClicked() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save points"), QString(), QStringLiteral("CSV file (*.csv)"));
    if (path.isEmpty()) return;
    std::ofstream out(platform::toPath(path.toStdString()), std::ios::binary | std::ios::trunc);
    out << qc::pointsCsv(trend_);
    if (!out.flush()) dialogs_.message("cannot write " + path.toStdString(), kAppTitle);
}

TrendDialog* openTrendChart(QWidget* parent, const std::string& path, db::Engine& engine,
                            Dialogs& dialogs) {
    auto* dialog = new TrendDialog(path, engine, dialogs, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (!dialog->loadColumns()) {
        delete dialog;
        return nullptr;
    }
    dialog->show();
    return dialog;
}

}  // namespace krv
