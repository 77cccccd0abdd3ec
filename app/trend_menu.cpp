#include <QAction>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>

#include "app/trend_dialog.h"

namespace krv {

void addTrendChartMenu(QWidget* window, QLayout* root, std::function<void()> open) {
    auto* bar = qobject_cast<QMenuBar*>(root->menuBar());
    if (!bar) {
        bar = new QMenuBar(window);
        root->setMenuBar(bar);
    }
    QMenu* menu = bar->addMenu(QStringLiteral("&Quality control"));
    menu->setObjectName(QStringLiteral("QualityMenu"));
    QAction* action = menu->addAction(QStringLiteral("Trend chart…"));
    action->setObjectName(QStringLiteral("TrendChartAction"));
    QObject::connect(action, &QAction::triggered, window, std::move(open));
}

}  // namespace krv
