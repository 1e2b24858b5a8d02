#include "app/GroupDeviceTree.h"

#include "device/DeviceUnit.h"
#include "model/GroupUnit.h"
#include "model/GroupsUnit.h"
#include "ui/LiveStateView.h"

#include <QDragMoveEvent>
#include <QDropEvent>

TTreeStateImages::TTreeStateImages(QObject* parent) : QIdentityProxyModel(parent) {}

QVariant TTreeStateImages::data(const QModelIndex& index, int role) const {
    if (role == Qt::DecorationRole) {
        const QVariant state = QIdentityProxyModel::data(index, TDevice::LiveStateRole);
        if (!state.isValid()) // a group node
            return QVariant();
        return LiveStateIcon(TLiveState(state.toInt()));
    }
    if (role == Qt::ToolTipRole) {
        if (const TDevice* device = TGroups::NodeDevice(TGroupDeviceTree::NodeObject(index)))
            return LiveStateText(*device);
        return QVariant();
    }
    return QIdentityProxyModel::data(index, role);
}

TGroupDeviceTree::TGroupDeviceTree(QWidget* parent) : QTreeView(parent) {
    setHeaderHidden(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIndentation(19);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    viewport()->setBackgroundRole(QPalette::Button);
}

QObject* TGroupDeviceTree::NodeObject(const QModelIndex& index) {
    if (!index.isValid())
        return nullptr;
    return index.data(TGroups::NodeObjectRole).value<QObject*>();
}

QObject* TGroupDeviceTree::SelectedObject() const {
    if (!selectionModel())
        return nullptr;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? nullptr : NodeObject(selected.first());
}

QObject* TGroupDeviceTree::ObjectAt(const QPoint& viewportPos) const {
    return NodeObject(indexAt(viewportPos));
}

bool TGroupDeviceTree::SelectionIsDevice() const {
    return TGroups::NodeDevice(SelectedObject()) != nullptr;
}

void TGroupDeviceTree::dragEnterEvent(QDragEnterEvent* event) {
    if (event->source() == this && SelectionIsDevice())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TGroupDeviceTree::dragMoveEvent(QDragMoveEvent* event) {
    // Accepted exactly when a device node is being dragged, whatever lies under the mouse.
    if (event->source() == this && SelectionIsDevice())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TGroupDeviceTree::dropEvent(QDropEvent* event) {
    // The model moves the node itself; the view must not.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    TDevice* device = TGroups::NodeDevice(SelectedObject());
    QObject* target = ObjectAt(event->position().toPoint());
    if (device && target)
        emit DeviceDropped(device, target);
}
