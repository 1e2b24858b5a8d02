#include "ui/MuteFrameUnit.h"

#include "device/DeviceUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "ui/CellGrid.h"
#include "ui/LiveStateView.h"

#include <QPainter>
#include <QTimer>

#include <utility>

namespace {
enum TMuteColumn { colName = 0, colChA = 1, colChB = 2, colGroup = 3, colGlobal = 4, colCount = 5 };

const QColor kMutedColour(128, 0, 0);
const QColor kOpenColour(0, 128, 0);
// The hatching and the word stay this far inside a cell, whose edge always shows the flag's
// colour.
constexpr int kCellInset = 2;
constexpr int kIconSize = 16;

QChar FlagLetter(bool on) {
    return on ? QLatin1Char('M') : QLatin1Char('U');
}

enum TFlagBit { flagChA = 1, flagChB = 2, flagGroup = 4, flagGlobal = 8 };
const std::pair<int, int> kFlagColumns[] = {
    {colChA, flagChA}, {colChB, flagChB}, {colGroup, flagGroup}, {colGlobal, flagGlobal}};

// Whether `current` differs from `kept`. Either way `kept` then shares the data of `current`,
// so that the next comparison of an unchanged text compares pointers only.
bool TextChanged(QString& kept, const QString& current) {
    if (kept.constData() == current.constData() && kept.size() == current.size())
        return false;
    const bool changed = kept != current;
    kept = current;
    return changed;
}
} // namespace

TMuteFrame::TMuteFrame(QWidget* owner)
    : QWidget(owner), MuteGrid(new TCellGrid(this)), Timer1(new QTimer(this)) {
    MuteGrid->setObjectName(QStringLiteral("MuteGrid"));
    MuteGrid->SetColCount(colCount);
    MuteGrid->SetColWidth(64);
    MuteGrid->SetRowHeight(24);
    MuteGrid->SetGridLineWidth(1);
    MuteGrid->move(0, 0);
    MuteGrid->OnDrawCell = [this](QPainter& painter, int col, int row, const QRect& rect) {
        return MuteGridDrawCell(painter, col, row, rect);
    };
    connect(MuteGrid, &TCellGrid::DblClick, this, &TMuteFrame::MuteGridDblClick);
    RefreshGrid();

    connect(Timer1, &QTimer::timeout, this, &TMuteFrame::Timer1Timer);
    Timer1->start(RefreshIntervalMs);
}

void TMuteFrame::SetRegistry(TGroups* registry) {
    FRegistry = registry;
    RefreshGrid();
}

TGroups* TMuteFrame::Registry() const {
    return FRegistry;
}

void TMuteFrame::Timer1Timer() {
    RefreshGrid();
}

void TMuteFrame::SetFlagCell(int col, int row, bool on, const QString& groupName) {
    QString text;
    text.reserve(groupName.size() + 1);
    text.append(FlagLetter(on)).append(groupName);
    MuteGrid->SetCell(col, row, text);
}

void TMuteFrame::RefreshGrid() {
    static const QString kHeaders[colCount] = {QString(), QStringLiteral("Ch A"), QStringLiteral("Ch B"),
                                               QStringLiteral("Group"), QStringLiteral("Global")};
    for (int col = colChA; col < colCount; ++col)
        MuteGrid->SetCell(col, 0, kHeaders[col]);

    // Null once the registry shown is gone, until the next one is set.
    const TGroups* registry = FRegistry;
    int devices = 0;
    if (registry)
        for (const TGroup* group : registry->Groups())
            devices += group->DeviceCount();
    MuteGrid->SetRowCount(devices + 1);
    FRows.resize(size_t(devices) + 1);

    QRect heldArea;
    if (registry) {
        const int globalFlag = registry->Mute() ? flagGlobal : 0;
        int row = 1;
        for (int g = 0; g < registry->GroupCount(); ++g) {
            const TGroup* group = registry->Group(g);
            const QString& groupName = group->ShortName();
            const int groupFlag = (group->Mute() ? flagGroup : 0) | globalFlag;
            for (const TDevice* device : group->Devices()) {
                const int flags =
                    groupFlag | (device->Mute_CHA() ? flagChA : 0) | (device->Mute_CHB() ? flagChB : 0);
                TRowSource& source = FRows[size_t(row)];
                // A channel with its own flag open is still muted while its group or the global
                // mute holds it.
                const int held = (groupFlag != 0) ? (~flags & (flagChA | flagChB)) : 0;
                if (held != source.Held) {
                    // Gathered into one area: a global mute changes every row at once.
                    heldArea |= MuteGrid->CellRect(colChA, row) | MuteGrid->CellRect(colChB, row);
                    source.Held = held;
                }
                const int state = int(device->LastLiveState());
                if (state != source.State) {
                    source.State = state;
                    MuteGrid->UpdateCell(colName, row);
                }
                const bool fresh = source.Flags < 0;
                const int changed = flags ^ source.Flags;
                const bool groupMoved = g != source.Group;
                const bool nameChanged = TextChanged(source.Name, device->ShortName()) || fresh;
                const bool groupNameChanged = TextChanged(source.GroupName, groupName) || fresh;
                if (changed != 0 || groupMoved || nameChanged || groupNameChanged) {
                    source.Group = g;
                    source.Flags = flags;
                    if (nameChanged)
                        MuteGrid->SetCell(colName, row, source.Name);
                    for (const auto& [col, bit] : kFlagColumns)
                        if (groupNameChanged || (changed & bit))
                            SetFlagCell(col, row, flags & bit, groupName);
                    // The join with the neighbours depends on the group, not only on the text.
                    if (groupMoved)
                        MuteGrid->UpdateCell(colGroup, row);
                }
                ++row;
            }
        }
    }

    if (!heldArea.isEmpty())
        MuteGrid->UpdateArea(heldArea);
    MuteGrid->SetFixedCols(1);
    // Refused while the header is the only row; it then stays an ordinary row without colours.
    MuteGrid->SetFixedRows(1);
}

bool TMuteFrame::MuteGridDrawCell(QPainter& painter, int col, int row, const QRect& rect) {
    if (row == 0)
        return false;
    if (col == colName) {
        MuteGrid->DrawPlainCell(painter, col, row, rect);
        if (size_t(row) < FRows.size() && FRows[size_t(row)].State >= 0) {
            const QRect icon(rect.right() - kIconSize, rect.top() + (rect.height() - kIconSize) / 2,
                             kIconSize, kIconSize);
            LiveStateIcon(TLiveState(FRows[size_t(row)].State)).paint(&painter, icon);
        }
        return true;
    }
    const QString& text = MuteGrid->Cell(col, row);
    const bool on = text.startsWith(QLatin1Char('M'));
    const QColor& fill = on ? kMutedColour : kOpenColour;
    const int line = MuteGrid->GridLineWidth();
    const bool lastRow = row + 1 >= MuteGrid->RowCount();
    // The line below a cell takes its colour where the cell below belongs to the same block:
    // the same group in the same state, or anywhere in the one global column.
    bool joinBelow = false;
    if (col == colGroup && !lastRow)
        joinBelow = text == MuteGrid->Cell(col, row + 1) && size_t(row + 1) < FRows.size() &&
                    FRows[size_t(row)].Group == FRows[size_t(row + 1)].Group;
    else if (col == colGlobal && !lastRow)
        joinBelow = true;
    if (joinBelow && line > 0)
        painter.fillRect(QRect(rect.left(), rect.bottom() + 1, rect.width(), line), fill);
    const int bit = col == colChA ? flagChA : col == colChB ? flagChB : 0;
    const bool held = !on && size_t(row) < FRows.size() && (FRows[size_t(row)].Held & bit);
    painter.drawPixmap(rect.topLeft(), CellPicture(held ? 2 : on ? 1 : 0, rect.size()));
    return true;
}

const QPixmap& TMuteFrame::CellPicture(int kind, const QSize& size) {
    QPixmap& picture = FCellPictures[size_t(kind)];
    const qreal ratio = MuteGrid->devicePixelRatioF();
    if (picture.deviceIndependentSize().toSize() == size && picture.devicePixelRatio() == ratio)
        return picture;
    picture = QPixmap(size * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(kind == 1 ? kMutedColour : kOpenColour);
    QPainter painter(&picture);
    const QRect inner = QRect(QPoint(0, 0), size).adjusted(kCellInset, kCellInset, -kCellInset, -kCellInset);
    if (kind == 2)
        painter.fillRect(inner, QBrush(kMutedColour, Qt::BDiagPattern));
    // Not by colour alone: the word says it too.
    static const QString kWords[3] = {QStringLiteral("open"), QStringLiteral("MUTE"), QStringLiteral("held")};
    painter.setFont(MuteGrid->font());
    painter.setPen(Qt::white);
    painter.drawText(inner, Qt::AlignCenter | Qt::TextSingleLine, kWords[kind]);
    return picture;
}

void TMuteFrame::MuteGridDblClick() {
    const int col = MuteGrid->Col();
    const int row = MuteGrid->Row();
    TGroups* registry = FRegistry;
    if (!registry || row < 1)
        return;
    // Nothing is sent from here: each device's next reconciliation compares the flags with
    // what its amplifier reports.
    int first = 1;
    for (TGroup* group : registry->Groups()) {
        const int index = row - first;
        first += group->DeviceCount();
        if (index >= group->DeviceCount())
            continue;
        TDevice* device = group->Device(index);
        switch (col) {
        case colChA:
            device->SetMute_CHA(!device->Mute_CHA());
            break;
        case colChB:
            device->SetMute_CHB(!device->Mute_CHB());
            break;
        case colGroup:
            group->SetMute(!group->Mute());
            break;
        case colGlobal:
            registry->SetMute(!registry->Mute());
            break;
        default:
            break;
        }
        return;
    }
}
