#include "ui/MuteFormUnit.h"

#include "ui/AlignTools.h"
#include "ui/CellGrid.h"
#include "ui/MuteFrameUnit.h"

#include <QEvent>
#include <QScreen>
#include <QTimer>

TMuteForm::TMuteForm(QWidget* parent) : QWidget(parent, Qt::Window), Timer1(new QTimer(this)) {
    setWindowTitle(QStringLiteral("Mute"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    resize(183, 164);
    FormCreate();
    connect(Timer1, &QTimer::timeout, this, &TMuteForm::Timer1Timer);
    Timer1->start(FitIntervalMs);
}

void TMuteForm::FormCreate() {
    MuteFrame = new TMuteFrame(this);
    MuteFrame->setObjectName(QStringLiteral("MuteFrame"));
    MuteFrame->setGeometry(rect());
    // A new or vanished row shows at once, not only on the next fitting tick.
    connect(MuteFrame->MuteGrid, &TCellGrid::RowCountChanged, this, &TMuteForm::FitToGrid);
    FitToGrid();
}

void TMuteForm::SetRegistry(TGroups* registry) {
    MuteFrame->SetRegistry(registry);
}

void TMuteForm::setVisible(bool visible) {
    if (visible && !isVisible())
        FormShow();
    QWidget::setVisible(visible);
}

void TMuteForm::FormShow() {
    MakeTopmost(*this);
    // Widgets paint through a back buffer already: the twenty rebuilds a second never flicker.
    if (!FCentred) {
        FCentred = true;
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
}

void TMuteForm::FormActivate() {
    FitToGrid();
}

void TMuteForm::Timer1Timer() {
    FitToGrid();
}

bool TMuteForm::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QWidget::event(event);
}

void TMuteForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The frame fills the window; the size of the grid in it is set by the fitting alone.
    MuteFrame->setGeometry(rect());
}

QSize TMuteForm::MaxClientSize() const {
    const QScreen* screen = this->screen();
    if (!screen)
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const QSize decoration = frameGeometry().size() - size();
    return (screen->availableGeometry().size() - decoration).expandedTo(QSize(1, 1));
}

void TMuteForm::FitToGrid() {
    TCellGrid& grid = *MuteFrame->MuteGrid;
    FitGridToCells(grid, MaxClientSize());
    if (size() != grid.size())
        resize(grid.size());
}
